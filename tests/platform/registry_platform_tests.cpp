#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

typedef std::vector<std::string> Names;

// Each test owns HKLM\SOFTWARE\BurrowlensTest\<suite.test>, opened with full
// access in `key`.
class RegistryPlatformTest : public testing::Test {
  protected:
    void SetUp() override
    {
        path = TestKeyPath();
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, path);
        CreateRegistryKey(HKEY_LOCAL_MACHINE, path);
        ASSERT_EQ(ERROR_SUCCESS,
                  RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &key));
    }
    void TearDown() override
    {
        RegCloseKey(key);
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, path);
    }

    std::string Below(const char* leaf) const
    {
        return path + "\\" + leaf;
    }
    void SetText(const char* name, const char* data, DWORD size)
    {
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data), size));
    }
    HKEY Open(const char* leaf, REGSAM access = KEY_READ)
    {
        HKEY opened = NULL;
        EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(key, leaf, 0, access, &opened)) << leaf;
        return opened;
    }

    std::string path;
    HKEY key = NULL;
};

static Names SubkeyNames(HKEY key)
{
    Names names;
    char name[MAX_PATH];
    for (DWORD index = 0; RegEnumKeyA(key, index, name, sizeof name) == ERROR_SUCCESS; ++index)
        names.push_back(name);
    return names;
}

static Names ValueNames(HKEY key)
{
    Names names;
    char name[MAX_PATH];
    DWORD size = sizeof name;
    for (DWORD index = 0;
         RegEnumValueA(key, index, name, &size, NULL, NULL, NULL, NULL) == ERROR_SUCCESS; ++index) {
        names.push_back(name);
        size = sizeof name;
    }
    return names;
}

// Wine sorts by the lower-case name: '[' and '_' come before the letters.
TEST_F(RegistryPlatformTest, EnumeratesSubkeysAndValuesSortedByLowerCaseName)
{
    for (const char* name : {"Zed", "b0", "[", "abcdefgh", "B-1", "_x", "a"})
        CreateRegistryKey(HKEY_LOCAL_MACHINE, Below(name));
    for (const char* name : {"val", "Dw", "", "averyvery", "_u", "B"})
        SetText(name, "x", 2);

    EXPECT_EQ((Names{"[", "_x", "a", "abcdefgh", "B-1", "b0", "Zed"}), SubkeyNames(key));
    EXPECT_EQ((Names{"", "_u", "averyvery", "B", "Dw", "val"}), ValueNames(key));
    char name[MAX_PATH];
    DWORD size = sizeof name;
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyA(key, 7, name, sizeof name));
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumValueA(key, 6, name, &size, NULL, NULL, NULL, NULL));
}

TEST_F(RegistryPlatformTest, EnumKeyNeedsRoomForTheTerminator)
{
    CreateRegistryKey(HKEY_LOCAL_MACHINE, Below("abcdefgh"));
    const struct {
        DWORD size;
        LONG status;
        const char* name;
    } cases[] = {
        {8, ERROR_MORE_DATA, "untouched"},
        {9, ERROR_SUCCESS, "abcdefgh"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        char name[16] = "untouched";

        EXPECT_EQ(c.status, RegEnumKeyA(key, 0, name, c.size));
        EXPECT_STREQ(c.name, name);
    }
}

TEST_F(RegistryPlatformTest, EnumValueWithDataTooLongLeavesTheNameAndTellsTheSize)
{
    SetText("name", "0123456789", 11);
    char name[16] = "untouched";
    DWORD nameSize = sizeof name, type = 0, dataSize = 4;
    BYTE data[4] = {'#', '#', '#', '#'};

    EXPECT_EQ(ERROR_MORE_DATA,
              RegEnumValueA(key, 0, name, &nameSize, NULL, &type, data, &dataSize));

    EXPECT_STREQ("untouched", name);
    EXPECT_EQ(sizeof name, nameSize);
    EXPECT_EQ(11u, dataSize);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ('#', data[0]);
}

TEST_F(RegistryPlatformTest, EnumValueWithNameTooLongCopiesWhatFits)
{
    SetText("averyveryverylongname", "x", 2);
    char name[16] = "untouched";
    DWORD nameSize = 8, dataSize = 16;
    BYTE data[16];

    EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueA(key, 0, name, &nameSize, NULL, NULL, data, &dataSize));

    EXPECT_STREQ("averyve", name);
    EXPECT_EQ(8u, nameSize);
    EXPECT_EQ(2u, dataSize);
}

TEST_F(RegistryPlatformTest, EnumValueReportsNameTypeAndSize)
{
    DWORD number = 7;
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Count", 0, REG_DWORD,
                                            reinterpret_cast<const BYTE*>(&number), sizeof number));
    char name[16];
    DWORD nameSize = sizeof name, type = 0, dataSize = 0;

    EXPECT_EQ(ERROR_SUCCESS, RegEnumValueA(key, 0, name, &nameSize, NULL, &type, NULL, &dataSize));

    EXPECT_STREQ("Count", name);
    EXPECT_EQ(5u, nameSize);
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(4u, dataSize);
}

// The count given to RegSetValueExA may leave out the terminator; NT then
// stores it anyway when it follows the data. A string stored without one
// gets one on the way out only if the buffer has room for it.
TEST_F(RegistryPlatformTest, QueryValueAnswersSizesAndStoredBytes)
{
    SetText("", "default", 8);
    SetText("counted", "hello", 5);
    SetText("unterminated", "hello!!!", 5);
    const struct {
        const char* name;
        DWORD size;
        bool withData;
        LONG status;
        DWORD sizeAfter;
        const char* data;
        int line;
    } cases[] = {
        {NULL, 16, true, ERROR_SUCCESS, 8, "default", __LINE__},
        {"", 16, true, ERROR_SUCCESS, 8, "default", __LINE__},
        {"", 3, true, ERROR_MORE_DATA, 8, "#", __LINE__},
        {"", 3, false, ERROR_SUCCESS, 8, NULL, __LINE__},
        {"COUNTED", 16, true, ERROR_SUCCESS, 6, "hello", __LINE__},
        {"unterminated", 16, true, ERROR_SUCCESS, 5, "hello", __LINE__},
        {"unterminated", 5, true, ERROR_SUCCESS, 5, "hello#", __LINE__},
        {"missing", 3, true, ERROR_FILE_NOT_FOUND, 3, "#", __LINE__},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case at line " << c.line);
        char data[16];
        memset(data, '#', sizeof data);
        data[c.withData && c.data ? strlen(c.data) : 1] = '\0';
        DWORD size = c.size;

        EXPECT_EQ(c.status,
                  RegQueryValueExA(key, c.name, NULL, NULL,
                                   c.withData ? reinterpret_cast<BYTE*>(data) : NULL, &size));
        EXPECT_EQ(c.sizeAfter, size);
        if (c.data) {
            EXPECT_STREQ(c.data, data);
        }
    }
}

TEST_F(RegistryPlatformTest, OpenFollowsPathRules)
{
    CreateRegistryKey(HKEY_LOCAL_MACHINE, Below("Child\\Grand"));
    const struct {
        const char* subKey;
        LONG status;
    } cases[] = {
        {"Child", ERROR_SUCCESS},
        {"Child\\", ERROR_SUCCESS},
        {"child\\GRAND", ERROR_SUCCESS},
        {"Child\\\\Grand", ERROR_SUCCESS},
        {"\\Child", ERROR_BAD_PATHNAME},
        {"Missing", ERROR_FILE_NOT_FOUND},
        {"Child\\Missing\\", ERROR_FILE_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.subKey);
        HKEY opened = NULL;

        EXPECT_EQ(c.status, RegOpenKeyExA(key, c.subKey, 0, KEY_READ, &opened));
        if (c.status == ERROR_SUCCESS) {
            EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(opened));
        }
    }
}

TEST_F(RegistryPlatformTest, OpeningNoSubkeyGivesANewHandleToTheSameKey)
{
    CreateRegistryKey(HKEY_LOCAL_MACHINE, Below("Child"));
    for (const char* subKey : {"", static_cast<const char*>(NULL)}) {
        SCOPED_TRACE(subKey ? "empty" : "NULL");
        HKEY same = NULL;

        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(key, subKey, 0, KEY_READ, &same));

        EXPECT_NE(key, same);
        EXPECT_EQ(Names{"Child"}, SubkeyNames(same));
        EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(same));
    }
}

TEST_F(RegistryPlatformTest, CreateMakesIntermediateKeysAndTellsWhetherItWasNew)
{
    HKEY created;
    DWORD disposition = 0;

    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(key, "a\\b\\c", 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                                             &created, &disposition));
    RegCloseKey(created);
    EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, Below("a\\b")));

    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(key, "A\\B", 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                                             &created, &disposition));
    RegCloseKey(created);
    EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);
}

TEST_F(RegistryPlatformTest, DeleteKeyFollowsTheNtRules)
{
    CreateRegistryKey(HKEY_LOCAL_MACHINE, Below("Parent\\Child"));
    HKEY readOnlyParent = Open("Parent");

    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(key, "Parent"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(key, "Missing"));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegDeleteKeyA(key, NULL));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(readOnlyParent, "child"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(key, "Parent"));

    EXPECT_EQ(Names{}, SubkeyNames(key));
    RegCloseKey(readOnlyParent);
}

TEST_F(RegistryPlatformTest, HandleOfADeletedKeyAnswersKeyDeleted)
{
    CreateRegistryKey(HKEY_LOCAL_MACHINE, Below("Gone"));
    HKEY gone = Open("Gone");
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(key, "Gone"));
    char name[16];
    DWORD nameSize = sizeof name, dataSize = sizeof name;
    HKEY again;

    EXPECT_EQ(ERROR_KEY_DELETED, RegEnumKeyA(gone, 0, name, sizeof name));
    EXPECT_EQ(ERROR_KEY_DELETED, RegEnumValueA(gone, 0, name, &nameSize, NULL, NULL, NULL, NULL));
    EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExA(gone, "", NULL, NULL, NULL, &dataSize));
    EXPECT_EQ(ERROR_KEY_DELETED, RegOpenKeyExA(gone, "", 0, KEY_READ, &again));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(gone));
}

TEST_F(RegistryPlatformTest, ReadOnlyHandleCannotChangeValues)
{
    SetText("kept", "x", 2);
    HKEY readOnly = Open("");

    EXPECT_EQ(ERROR_ACCESS_DENIED,
              RegSetValueExA(readOnly, "new", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteValueA(readOnly, "kept"));

    EXPECT_EQ(Names{"kept"}, ValueNames(key));
    RegCloseKey(readOnly);
}

TEST_F(RegistryPlatformTest, DeleteValueRemovesOnlyThatValue)
{
    SetText("", "default", 8);
    SetText("other", "x", 2);

    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(key, NULL));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(key, ""));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(key, "OTHER"));

    EXPECT_EQ(Names{}, ValueNames(key));
}

TEST_F(RegistryPlatformTest, ClassesRootShowsMachineClasses)
{
    std::string classes = "SOFTWARE\\Classes\\BurrowlensTest.ClassesRoot";
    CreateRegistryKey(HKEY_LOCAL_MACHINE, classes + "\\Child");
    HKEY viaRoot = NULL;

    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, "burrowlenstest.classesroot\\child",
                                           0, KEY_READ, &viaRoot));

    RegCloseKey(viaRoot);
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, classes);
}

TEST(RegistryHandleTest, ClosingAPredefinedRootSucceedsAndLeavesItUsable)
{
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_LOCAL_MACHINE));

    HKEY software;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, NULL, 0, KEY_READ,
                                             NULL, &software, NULL));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(software));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(NULL));
}
