#include "app/app.h"
#include "base/text.h"
#include "inventory/inventory.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

static const WCHAR kUntouched = '#';
static const WCHAR kSentinel = 0x5A5A;

class QueryRegistryValueTest : public testing::Test {
  protected:
    void SetUp() override
    {
        path = TestKeyPath();
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, path);
        ClearOutput();
        for (WCHAR& c : guarded.sentinel)
            c = kSentinel;
    }
    void TearDown() override
    {
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, path);
        EXPECT_TRUE(SentinelsUntouched());
    }

    BOOL Query(const char* subKey, const char* valueName, DWORD* type = NULL)
    {
        WideText full = Wide(path + subKey);
        return QueryRegistryValue(HKEY_LOCAL_MACHINE, full.c_str(), VIEW_32,
                                  Wide(valueName).c_str(), guarded.output, type);
    }
    void ClearOutput()
    {
        for (WCHAR& c : guarded.output)
            c = kUntouched;
    }
    bool OutputUntouched() const
    {
        for (WCHAR c : guarded.output) {
            if (c != kUntouched)
                return false;
        }
        return true;
    }
    bool SentinelsUntouched() const
    {
        for (WCHAR c : guarded.sentinel) {
            if (c != kSentinel)
                return false;
        }
        return true;
    }
    WideText Output() const
    {
        return WideText(guarded.output);
    }

    std::string path;
    struct {
        WCHAR output[MAX_PATH];
        WCHAR sentinel[8];
    } guarded;
};

TEST_F(QueryRegistryValueTest, ReadsTextOfEitherTypeAndTheDefaultValue)
{
    SetRegistryText(HKEY_LOCAL_MACHINE, path, "", "");
    SetRegistryText(HKEY_LOCAL_MACHINE, path + "\\0\\win32", "", "C:\\Windows\\a.ocx");
    SetRegistryText(HKEY_LOCAL_MACHINE, path, "Named", "value");

    DWORD type = 0;
    ASSERT_TRUE(Query("", "", &type));
    EXPECT_EQ("", Utf8(guarded.output));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    ASSERT_TRUE(Query("\\0\\win32", ""));
    EXPECT_EQ("C:\\Windows\\a.ocx", Utf8(guarded.output));
    ASSERT_TRUE(Query("\\0\\win32\\", ""));
    EXPECT_EQ("C:\\Windows\\a.ocx", Utf8(guarded.output));
    ASSERT_TRUE(Query("", "named"));
    EXPECT_EQ("value", Utf8(guarded.output));
}

// Nothing may pass through the ANSI code page, whose best fit would read
// "Ωmega" as "Omega" and "Жук" as "?uk".
TEST_F(QueryRegistryValueTest, TextBeyondTheAnsiCodePageComesBackExactly)
{
    ASSERT_TRUE(SetEnvironmentVariableW(TEXT("BURROWLENS_TEST_DIR"), Wide("C:\\Жук").c_str()));
    struct Case {
        const char* subKey;
        const char* name;
        const char* stored;
        DWORD type;
        const char* expected;
    } cases[] = {
        {"", "", "C:\\Program Files\\Ωmega\\Omega.dll", REG_SZ, NULL},
        {"", "Omega", "C:\\Program Files\\Omega\\Omega.dll", REG_SZ, NULL},
        {"", "Ωmega", "C:\\Program Files\\Ωmega\\Ωmega.dll", REG_SZ, NULL},
        {"", "Жук", "C:\\Windows\\Downloaded Program Files\\Жук\\ЖУК.ocx", REG_SZ, NULL},
        {"", "控件", "C:\\程序文件\\控件.ocx", REG_SZ, NULL},
        {"", "\U0001F600", "C:\\Faces\\\U0001F600\\\U00010400.dll", REG_SZ, NULL},
        {"", "expanded", "%BURROWLENS_TEST_DIR%\\Ωmega.ocx", REG_EXPAND_SZ, "C:\\Жук\\Ωmega.ocx"},
        {"\\Ωmega\\0\\win32", "", "C:\\Ωmega\\κλειδί.dll", REG_SZ, NULL},
    };
    for (const Case& c : cases)
        SetRegistryText(HKEY_LOCAL_MACHINE, path + c.subKey, c.name, c.stored, c.type);

    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.subKey) + " / " + c.name);
        ClearOutput();
        DWORD type = REG_NONE;
        ASSERT_TRUE(Query(c.subKey, c.name, &type));
        EXPECT_EQ(Wide(c.expected != NULL ? c.expected : c.stored), Output());
        EXPECT_EQ(c.type, type);
    }
}

TEST_F(QueryRegistryValueTest, ExpandsEnvironmentReferences)
{
    ASSERT_TRUE(SetEnvironmentVariableW(TEXT("BURROWLENS_TEST_DIR"), TEXT("C:\\Test Dir")));
    SetRegistryText(HKEY_LOCAL_MACHINE, path, "", "%BURROWLENS_TEST_DIR%\\x.ocx", REG_EXPAND_SZ);
    SetRegistryText(HKEY_LOCAL_MACHINE, path, "unknown", "%NO_SUCH_VARIABLE_HERE%\\x",
                    REG_EXPAND_SZ);

    DWORD type = 0;
    ASSERT_TRUE(Query("", "", &type));
    EXPECT_EQ("C:\\Test Dir\\x.ocx", Utf8(guarded.output));
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), type);
    ASSERT_TRUE(Query("", "unknown"));
    EXPECT_EQ("%NO_SUCH_VARIABLE_HERE%\\x", Utf8(guarded.output));
}

TEST_F(QueryRegistryValueTest, ExpansionTooLongForTheBufferKeepsTheStoredText)
{
    ASSERT_TRUE(SetEnvironmentVariableW(TEXT("BURROWLENS_TEST_LONG"), WideText(200, 'L').c_str()));
    std::string stored = "%BURROWLENS_TEST_LONG%\\%BURROWLENS_TEST_LONG%";
    SetRegistryText(HKEY_LOCAL_MACHINE, path, "", stored, REG_EXPAND_SZ);

    ASSERT_TRUE(Query("", ""));
    EXPECT_EQ(stored, Utf8(guarded.output));
}

TEST_F(QueryRegistryValueTest, StoresANumberInTheFirstFourBytes)
{
    SetRegistryDword(HKEY_LOCAL_MACHINE, path, "", 300);
    DWORD type = 0;
    ASSERT_TRUE(Query("", "", &type));
    DWORD number;
    memcpy(&number, guarded.output, sizeof number);
    EXPECT_EQ(300u, number);
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
}

TEST_F(QueryRegistryValueTest, AbsentValuesLeaveTheOutputUntouched)
{
    static const WCHAR multi[] = TEXT("a\0b\0");
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
    EXPECT_EQ(std::string(259, 'y'), Utf8(guarded.output));
}

// Text stored without its terminator, or ending in half a character. The
// registry adds a terminator on the way out when the buffer has room for it;
// the rest is up to QueryRegistryValue, which must stay inside its buffer.
// On the way in the registry counts a NUL that directly follows the data, so
// each text goes on past the size given unless the case wants that NUL.
TEST_F(QueryRegistryValueTest, UnterminatedAndOddSizedTextStaysInTheBuffer)
{
    const DWORD full = MAX_PATH * sizeof(WCHAR);
    struct Case {
        const char* name;
        DWORD type;
        WideText data;
        DWORD size;
        bool found;
        WideText expected;
    } cases[] = {
        {"short", REG_SZ, Wide("abcX"), 6, true, Wide("abc")},
        {"odd", REG_SZ, Wide("ΩmegaX"), 9, true, Wide("Ωmeg")},
        {"longest", REG_EXPAND_SZ, WideText(MAX_PATH, 'z'), full - 2, true,
         WideText(MAX_PATH - 1, 'z')},
        {"fills", REG_SZ, WideText(MAX_PATH + 1, 'f'), full, true, WideText(MAX_PATH - 1, 'f')},
        {"fills expand", REG_EXPAND_SZ, WideText(MAX_PATH + 1, 'e'), full, true,
         WideText(MAX_PATH - 1, 'e')},
        {"fills odd", REG_SZ, WideText(MAX_PATH + 1, 0x0416), full - 1, true,
         WideText(MAX_PATH - 1, 0x0416)},
        {"over by half", REG_SZ, WideText(MAX_PATH + 2, 'g'), full + 1, false, WideText()},
        // The NUL after the data is counted, and then there is no room for it.
        {"terminated", REG_SZ, WideText(MAX_PATH, 'h'), full, false, WideText()},
    };
    for (const Case& c : cases)
        SetRegistryBytes(HKEY_LOCAL_MACHINE, path, c.name, c.type, c.data.data(), c.size);

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClearOutput();
        EXPECT_EQ(c.found, Query("", c.name) != FALSE);
        if (c.found)
            EXPECT_EQ(c.expected, Output());
        else
            EXPECT_TRUE(OutputUntouched());
        EXPECT_TRUE(SentinelsUntouched());
    }
}

TEST_F(QueryRegistryValueTest, PathAndOutputMayShareTheBuffer)
{
    SetRegistryText(HKEY_LOCAL_MACHINE, path + "\\inner", "", "found");
    WCHAR buffer[MAX_PATH];
    CopyText(buffer, Wide(path + "\\inner").c_str());
    ASSERT_TRUE(QueryRegistryValue(HKEY_LOCAL_MACHINE, buffer, VIEW_32, TEXT(""), buffer));
    EXPECT_EQ("found", Utf8(buffer));
}

// Downloads are recognised by the registered name, in either separator form.
class IsDownloadedControlTest : public testing::Test {
  protected:
    void SetUp() override
    {
        for (const char* name : names)
            CreateRegistryKey(HKEY_LOCAL_MACHINE, Utf8(MODULE_USAGE_PATH) + "\\" + name);
    }
    void TearDown() override
    {
        for (const char* name : names)
            DeleteRegistryTree(HKEY_LOCAL_MACHINE, Utf8(MODULE_USAGE_PATH) + "\\" + name);
    }

    const char* names[5] = {
        "C:/BlTest/Downloaded Program Files/Ax.ocx",
        "C:/BlTest/OCCACHE/b.ocx",
        "C:/BlTest/system32/c.dll",
        "C:/BlTest/occache",
        "C:/BlTest/Downloaded Program Files/Жук/Ωmega.ocx",
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
        {"C:\\BLTEST\\DOWNLOADED PROGRAM FILES\\Жук\\Ωmega.OCX", TRUE},
        // Only 'A' to 'Z' fold, and nothing is best-fitted.
        {"c:\\bltest\\downloaded program files\\жук\\Ωmega.ocx", FALSE},
        {"c:\\bltest\\downloaded program files\\Жук\\ωmega.ocx", FALSE},
        {"c:\\bltest\\downloaded program files\\Жук\\Omega.ocx", FALSE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(c.downloaded, IsDownloadedControl(NULL, Wide(c.path).c_str(), VIEW_32));
    }
}
