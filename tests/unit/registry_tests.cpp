#include "app/text.h"
#include "inventory/inventory.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

class QueryRegistryValueTest : public testing::Test {
  protected:
    void SetUp() override
    {
        path = TestKeyPath();
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, path);
        memset(output, '#', sizeof output);
    }
    void TearDown() override
    {
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, path);
    }

    BOOL Query(const char* subKey, const char* valueName, DWORD* type = NULL)
    {
        std::string full = path + subKey;
        return QueryRegistryValue(HKEY_LOCAL_MACHINE, full.c_str(), valueName, output, type);
    }
    bool OutputUntouched() const
    {
        for (char c : output) {
            if (c != '#')
                return false;
        }
        return true;
    }

    std::string path;
    char output[MAX_PATH];
};

TEST_F(QueryRegistryValueTest, ReadsTextOfEitherTypeAndTheDefaultValue)
{
    SetRegistryText(HKEY_LOCAL_MACHINE, path, "", "");
    SetRegistryText(HKEY_LOCAL_MACHINE, path + "\\0\\win32", "", "C:\\Windows\\a.ocx");
    SetRegistryText(HKEY_LOCAL_MACHINE, path, "Named", "value");

    DWORD type = 0;
    ASSERT_TRUE(Query("", "", &type));
    EXPECT_STREQ("", output);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    ASSERT_TRUE(Query("\\0\\win32", ""));
    EXPECT_STREQ("C:\\Windows\\a.ocx", output);
    ASSERT_TRUE(Query("\\0\\win32\\", ""));
    EXPECT_STREQ("C:\\Windows\\a.ocx", output);
    ASSERT_TRUE(Query("", "named"));
    EXPECT_STREQ("value", output);
}

TEST_F(QueryRegistryValueTest, ExpandsEnvironmentReferences)
{
    ASSERT_TRUE(SetEnvironmentVariableA("BURROWLENS_TEST_DIR", "C:\\Test Dir"));
    SetRegistryText(HKEY_LOCAL_MACHINE, path, "", "%BURROWLENS_TEST_DIR%\\x.ocx", REG_EXPAND_SZ);
    SetRegistryText(HKEY_LOCAL_MACHINE, path, "unknown", "%NO_SUCH_VARIABLE_HERE%\\x",
                    REG_EXPAND_SZ);

    DWORD type = 0;
    ASSERT_TRUE(Query("", "", &type));
    EXPECT_STREQ("C:\\Test Dir\\x.ocx", output);
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), type);
    ASSERT_TRUE(Query("", "unknown"));
    EXPECT_STREQ("%NO_SUCH_VARIABLE_HERE%\\x", output);
}

TEST_F(QueryRegistryValueTest, ExpansionTooLongForTheBufferKeepsTheStoredText)
{
    ASSERT_TRUE(SetEnvironmentVariableA("BURROWLENS_TEST_LONG", std::string(200, 'L').c_str()));
    std::string stored = "%BURROWLENS_TEST_LONG%\\%BURROWLENS_TEST_LONG%";
    SetRegistryText(HKEY_LOCAL_MACHINE, path, "", stored, REG_EXPAND_SZ);

    ASSERT_TRUE(Query("", ""));
    EXPECT_EQ(stored, output);
}

TEST_F(QueryRegistryValueTest, StoresANumberInTheFirstFourBytes)
{
    SetRegistryDword(HKEY_LOCAL_MACHINE, path, "", 300);
    DWORD type = 0;
    ASSERT_TRUE(Query("", "", &type));
    DWORD number;
    memcpy(&number, output, sizeof number);
    EXPECT_EQ(300u, number);
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
}

TEST_F(QueryRegistryValueTest, AbsentValuesLeaveTheOutputUntouched)
{
    static const char multi[] = "a\0b\0";
    SetRegistryBytes(HKEY_LOCAL_MACHINE, path, "multi", REG_MULTI_SZ, multi, sizeof multi);
    SetRegistryBytes(HKEY_LOCAL_MACHINE, path, "binary", REG_BINARY, "abc", 3);
    SetRegistryText(HKEY_LOCAL_MACHINE, path, "long", std::string(299, 'x'));
    SetRegistryText(HKEY_LOCAL_MACHINE, path, "fits", std::string(259, 'y'));

    const char* absent[] = {"multi", "binary", "long", "missing"};
    for (const char* name : absent) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(Query("", name));
        EXPECT_TRUE(OutputUntouched());
    }
    EXPECT_FALSE(Query("\\no such key", ""));
    EXPECT_TRUE(OutputUntouched());
    ASSERT_TRUE(Query("", "fits"));
    EXPECT_EQ(std::string(259, 'y'), output);
}

// The registry hands back such text with a terminator added when there is
// room for it; without room the value does not fit and counts as absent.
TEST_F(QueryRegistryValueTest, TextWithoutTerminatorEndsWithItsData)
{
    SetRegistryBytes(HKEY_LOCAL_MACHINE, path, "short", REG_SZ, "abc", 3);
    std::string longest(MAX_PATH - 1, 'z');
    SetRegistryBytes(HKEY_LOCAL_MACHINE, path, "longest", REG_EXPAND_SZ, longest.data(),
                     MAX_PATH - 1);
    std::string full(MAX_PATH, 'f');
    SetRegistryBytes(HKEY_LOCAL_MACHINE, path, "full", REG_SZ, full.data(), MAX_PATH);

    ASSERT_TRUE(Query("", "short"));
    EXPECT_STREQ("abc", output);
    ASSERT_TRUE(Query("", "longest"));
    EXPECT_EQ(longest, output);
    memset(output, '#', sizeof output);
    EXPECT_FALSE(Query("", "full"));
    EXPECT_TRUE(OutputUntouched());
}

TEST_F(QueryRegistryValueTest, PathAndOutputMayShareTheBuffer)
{
    SetRegistryText(HKEY_LOCAL_MACHINE, path + "\\inner", "", "found");
    char buffer[MAX_PATH];
    CopyText(buffer, (path + "\\inner").c_str());
    ASSERT_TRUE(QueryRegistryValue(HKEY_LOCAL_MACHINE, buffer, "", buffer));
    EXPECT_STREQ("found", buffer);
}

// Downloads are recognised by the registered name, in either separator form.
class IsDownloadedControlTest : public testing::Test {
  protected:
    void SetUp() override
    {
        for (const char* name : names)
            CreateRegistryKey(HKEY_LOCAL_MACHINE, std::string(MODULE_USAGE_PATH "\\") + name);
    }
    void TearDown() override
    {
        for (const char* name : names)
            DeleteRegistryTree(HKEY_LOCAL_MACHINE, std::string(MODULE_USAGE_PATH "\\") + name);
    }

    const char* names[4] = {
        "C:/BlTest/Downloaded Program Files/Ax.ocx",
        "C:/BlTest/OCCACHE/b.ocx",
        "C:/BlTest/system32/c.dll",
        "C:/BlTest/occache",
    };
};

TEST_F(IsDownloadedControlTest, NeedsRegistrationAndADownloadFolder)
{
    struct Case {
        const char* path;
        BOOL downloaded;
    } cases[] = {
        {"c:\\bltest\\downloaded program files\\ax.ocx", TRUE},
        {"C:/BlTest/Downloaded Program Files/Ax.ocx", TRUE},
        {"C:\\BLTEST\\OCCACHE\\B.OCX", TRUE},
        {"c:\\bltest\\system32\\c.dll", FALSE},
        {"c:\\bltest\\occache", FALSE},
        {"c:\\bltest\\occache\\unregistered.ocx", FALSE},
        {"", FALSE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(c.downloaded, IsDownloadedControl(NULL, c.path));
    }
}
