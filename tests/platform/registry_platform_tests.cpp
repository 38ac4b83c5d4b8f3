#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
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
                  RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(path).c_str(), 0, KEY_ALL_ACCESS, &key));
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
    void SetValue(const char* name, DWORD type, const void* data, DWORD size)
    {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, Wide(name).c_str(), 0, type,
                                                static_cast<const BYTE*>(data), size))
            << name;
    }
    // The byte count is the caller's: it may leave out the NUL, or more.
    void SetText(const char* name, const WCHAR* text, DWORD size)
    {
        SetValue(name, REG_SZ, text, size);
    }
    HKEY Open(const char* leaf, REGSAM access = KEY_READ)
    {
        HKEY opened = NULL;
        EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(key, Wide(leaf).c_str(), 0, access, &opened))
            << leaf;
        return opened;
    }

    std::string path;
    HKEY key = NULL;
};

static Names SubkeyNames(HKEY key)
{
    Names names;
    WCHAR name[MAX_PATH];
    for (DWORD index = 0; RegEnumKeyW(key, index, name, MAX_PATH) == ERROR_SUCCESS; ++index)
        names.push_back(Utf8(name));
    return names;
}

static Names ValueNames(HKEY key)
{
    Names names;
    WCHAR name[MAX_PATH];
    DWORD size = MAX_PATH;
    for (DWORD index = 0;
         RegEnumValueW(key, index, name, &size, NULL, NULL, NULL, NULL) == ERROR_SUCCESS; ++index) {
        names.push_back(Utf8(name));
        size = MAX_PATH;
    }
    return names;
}

// What a buffer holds after a call: '|' stands for a NUL, '#' for the
// sentinel the test filled it with.
static WideText Shown(const char* text)
{
    WideText shown = Wide(text);
    for (WCHAR& c : shown) {
        if (c == '|')
            c = 0;
    }
    return shown;
}

static void FillSentinel(WCHAR* buffer, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        buffer[i] = '#';
}

// Wine sorts by the lower-case name: '[' and '_' come before the letters,
// and beyond ASCII the code units decide once case is folded.
TEST_F(RegistryPlatformTest, EnumeratesSubkeysAndValuesSortedByLowerCaseName)
{
    for (const char* name : {"Zed", "b0", "[", "abcdefgh", "B-1", "_x", "a", "жUK2", "été", "Жuk"})
        CreateRegistryKey(HKEY_LOCAL_MACHINE, Below(name));
    for (const char* name : {"val", "Ωmega", "Dw", "", "averyvery", "_u", "B"})
        SetText(name, TEXT("x"), 4);

    EXPECT_EQ((Names{"[", "_x", "a", "abcdefgh", "B-1", "b0", "Zed", "été", "Жuk", "жUK2"}),
              SubkeyNames(key));
    EXPECT_EQ((Names{"", "_u", "averyvery", "B", "Dw", "val", "Ωmega"}), ValueNames(key));
    WCHAR name[MAX_PATH];
    DWORD size = MAX_PATH;
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyW(key, 10, name, MAX_PATH));
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumValueW(key, 7, name, &size, NULL, NULL, NULL, NULL));
}

// Sizes count UTF-16 code units: a character beyond the BMP takes two.
TEST_F(RegistryPlatformTest, EnumKeyNeedsRoomForTheTerminator)
{
    for (const char* name : {"abcdefgh", "ab\U0010FFFF", "Жук"})
        CreateRegistryKey(HKEY_LOCAL_MACHINE, Below(name));
    const struct {
        DWORD index;
        DWORD size;
        LONG status;
        const char* name;
    } cases[] = {
        {0, 8, ERROR_MORE_DATA, "untouched"}, {0, 9, ERROR_SUCCESS, "abcdefgh"},
        {1, 4, ERROR_MORE_DATA, "untouched"}, {1, 5, ERROR_SUCCESS, "ab\U0010FFFF"},
        {2, 3, ERROR_MORE_DATA, "untouched"}, {2, 4, ERROR_SUCCESS, "Жук"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "index " << c.index << " into " << c.size);
        WCHAR name[16];
        FillSentinel(name, 16);
        WideText untouched = Wide("untouched");
        std::copy(untouched.c_str(), untouched.c_str() + untouched.size() + 1, name);

        EXPECT_EQ(c.status, RegEnumKeyW(key, c.index, name, c.size));

        EXPECT_EQ(Wide(c.name), WideText(name));
        EXPECT_EQ('#', name[15]);
    }
}

// Wine's RegEnumValueW looks at the name before the data: a name that does
// not fit leaves the buffer and its size alone; data that does not fit
// still has the name copied. Either way the data size needed comes back.
TEST_F(RegistryPlatformTest, EnumValueCopiesTheNameBeforeLookingAtTheData)
{
    WCHAR stored[] = TEXT("0123456789");
    SetText("longname", stored, sizeof stored);
    const struct {
        DWORD nameSize;
        DWORD dataSize;
        LONG status;
        const char* name;
        DWORD nameSizeAfter;
        const char* data;
        int line;
    } cases[] = {
        {8, 32, ERROR_MORE_DATA, "untouched", 8, "#", __LINE__},
        {9, 4, ERROR_MORE_DATA, "longname", 8, "#", __LINE__},
        {9, 22, ERROR_SUCCESS, "longname", 8, "0123456789|#", __LINE__},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case at line " << c.line);
        WCHAR name[16] = TEXT("untouched");
        WCHAR data[16];
        FillSentinel(data, 16);
        DWORD nameSize = c.nameSize, dataSize = c.dataSize, type = REG_NONE;

        EXPECT_EQ(c.status, RegEnumValueW(key, 0, name, &nameSize, NULL, &type,
                                          reinterpret_cast<BYTE*>(data), &dataSize));

        EXPECT_EQ(c.name, Utf8(name));
        EXPECT_EQ(c.nameSizeAfter, nameSize);
        EXPECT_EQ(22u, dataSize);
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
        WideText shown = Shown(c.data);
        EXPECT_EQ(shown, WideText(data, shown.size()));
    }
}

// The ANSI form, as Wine has it, the other way round: the data first, and a
// name too long is copied as far as it goes. Its sizes are ANSI bytes.
TEST_F(RegistryPlatformTest, EnumValueAnsiLooksAtTheDataFirstAndCountsAnsiBytes)
{
    SetText("longname", Wide("0123456789").c_str(), 22);
    const struct {
        DWORD nameSize;
        DWORD dataSize;
        LONG status;
        const char* name;
        DWORD nameSizeAfter;
        const char* data;
        int line;
    } cases[] = {
        {16, 4, ERROR_MORE_DATA, "untouched", 16, "####", __LINE__},
        {5, 16, ERROR_MORE_DATA, "long", 5, "0123456789", __LINE__},
        {9, 11, ERROR_SUCCESS, "longname", 8, "0123456789", __LINE__},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case at line " << c.line);
        char name[16] = "untouched";
        char data[16];
        memset(data, '#', sizeof data);
        data[strlen(c.data)] = '\0';
        DWORD nameSize = c.nameSize, dataSize = c.dataSize, type = REG_NONE;

        EXPECT_EQ(c.status, RegEnumValueA(key, 0, name, &nameSize, NULL, &type,
                                          reinterpret_cast<BYTE*>(data), &dataSize));

        EXPECT_STREQ(c.name, name);
        EXPECT_EQ(c.nameSizeAfter, nameSize);
        EXPECT_EQ(11u, dataSize);
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
        EXPECT_STREQ(c.data, data);
    }
}

TEST_F(RegistryPlatformTest, EnumValueReportsNameTypeAndSize)
{
    DWORD number = 7;
    SetValue("Zähler", REG_DWORD, &number, sizeof number);
    WCHAR name[16];
    DWORD nameSize = 16, type = 0, dataSize = 0;

    EXPECT_EQ(ERROR_SUCCESS, RegEnumValueW(key, 0, name, &nameSize, NULL, &type, NULL, &dataSize));

    EXPECT_EQ("Zähler", Utf8(name));
    EXPECT_EQ(6u, nameSize);
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(4u, dataSize);
}

// The count given to RegSetValueExW may leave out the terminator; NT then
// stores it anyway when it follows the data. A string stored without one
// gets one on the way out only if the buffer has room for a whole WCHAR.
TEST_F(RegistryPlatformTest, QueryValueAnswersSizesAndStoredBytes)
{
    SetText("", TEXT("default"), 16);
    SetText("counted", TEXT("hello"), 10);
    SetText("unterminated", TEXT("hello!!!"), 10);
    const struct {
        const char* name;
        DWORD size;
        bool withData;
        LONG status;
        DWORD sizeAfter;
        const char* data;
        int line;
    } cases[] = {
        {NULL, 32, true, ERROR_SUCCESS, 16, "default|#", __LINE__},
        {"", 32, true, ERROR_SUCCESS, 16, "default|#", __LINE__},
        {"", 6, true, ERROR_MORE_DATA, 16, "#", __LINE__},
        {"", 6, false, ERROR_SUCCESS, 16, "#", __LINE__},
        {"COUNTED", 32, true, ERROR_SUCCESS, 12, "hello|#", __LINE__},
        {"unterminated", 32, true, ERROR_SUCCESS, 10, "hello|#", __LINE__},
        {"unterminated", 12, true, ERROR_SUCCESS, 10, "hello|#", __LINE__},
        {"unterminated", 11, true, ERROR_SUCCESS, 10, "hello#", __LINE__},
        {"unterminated", 10, true, ERROR_SUCCESS, 10, "hello#", __LINE__},
        {"missing", 6, true, ERROR_FILE_NOT_FOUND, 6, "#", __LINE__},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case at line " << c.line);
        WCHAR data[16];
        FillSentinel(data, 16);
        DWORD size = c.size;
        WideText name = c.name ? Wide(c.name) : WideText();

        EXPECT_EQ(c.status,
                  RegQueryValueExW(key, c.name ? name.c_str() : NULL, NULL, NULL,
                                   c.withData ? reinterpret_cast<BYTE*>(data) : NULL, &size));

        EXPECT_EQ(c.sizeAfter, size);
        WideText shown = Shown(c.data);
        EXPECT_EQ(shown, WideText(data, shown.size()));
    }
}

// A hostile REG_SZ of odd length: its last WCHAR is taken to be its last two
// bytes, and the NUL added after it lands at the odd offset.
TEST_F(RegistryPlatformTest, QueryValueOfOddLengthText)
{
    const BYTE stored[] = {'a', 0, 'b', 1, 1, 0};
    SetValue("odd", REG_SZ, stored, 3);
    const struct {
        DWORD size;
        BYTE data[8];
    } cases[] = {
        {8, {'a', 0, 'b', 0, 0, '#', '#', '#'}},
        {4, {'a', 0, 'b', '#', '#', '#', '#', '#'}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        BYTE data[8];
        memset(data, '#', sizeof data);
        DWORD size = c.size;

        EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, TEXT("odd"), NULL, NULL, data, &size));

        EXPECT_EQ(3u, size);
        EXPECT_EQ(0, memcmp(c.data, data, sizeof data));
    }
}

// The ANSI forms convert through the Western code page: what it has keeps
// its byte, what it lacks ('Ж') reads as '?', and sizes are ANSI bytes.
TEST_F(RegistryPlatformTest, AnsiFormsConvertThroughTheCodePage)
{
    WideText cafe = Wide("café"), bug = Wide("Ж1");
    SetText("café", cafe.c_str(), 10);
    SetText("bug", bug.c_str(), 6);
    CreateRegistryKey(HKEY_LOCAL_MACHINE, Below("été"));
    CreateRegistryKey(HKEY_LOCAL_MACHINE, Below("Ж1"));
    const struct {
        const char* name;
        const char* text;
    } queries[] = {{"caf\xe9", "caf\xe9"}, {"BUG", "?1"}};
    for (const auto& q : queries) {
        SCOPED_TRACE(q.text);
        char data[16];
        DWORD size = sizeof data, type = REG_NONE;

        EXPECT_EQ(ERROR_SUCCESS,
                  RegQueryValueExA(key, q.name, NULL, &type, reinterpret_cast<BYTE*>(data), &size));

        EXPECT_STREQ(q.text, data);
        EXPECT_EQ(strlen(q.text) + 1, size);
    }
    char name[8];
    EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyA(key, 1, name, sizeof name));
    EXPECT_STREQ("?1", name);
    HKEY opened;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(key, "\xc9T\xc9", 0, KEY_READ, &opened));
    RegCloseKey(opened);

    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "fromAnsi", 0, REG_SZ,
                                            reinterpret_cast<const BYTE*>("d\xe9j\xe0"), 5));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "multi", 0, REG_MULTI_SZ,
                                            reinterpret_cast<const BYTE*>("a\0b\0"), 5));
    WCHAR data[16];
    DWORD size = sizeof data;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, TEXT("FROMANSI"), NULL, NULL,
                                              reinterpret_cast<BYTE*>(data), &size));
    EXPECT_EQ("déjà", Utf8(data));
    EXPECT_EQ(10u, size);
    FillSentinel(data, 16);
    size = sizeof data;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, TEXT("multi"), NULL, NULL,
                                              reinterpret_cast<BYTE*>(data), &size));
    EXPECT_EQ(10u, size);
    EXPECT_EQ(Shown("a|b||#"), WideText(data, 6));
}

TEST_F(RegistryPlatformTest, OpenFollowsPathRules)
{
    CreateRegistryKey(HKEY_LOCAL_MACHINE, Below("Child\\Grand"));
    CreateRegistryKey(HKEY_LOCAL_MACHINE, Below("Жук\\été"));
    const struct {
        const char* subKey;
        LONG status;
    } cases[] = {
        {"Child", ERROR_SUCCESS},
        {"Child\\", ERROR_SUCCESS},
        {"child\\GRAND", ERROR_SUCCESS},
        {"Child\\\\Grand", ERROR_SUCCESS},
        {"жУК\\ÉTÉ", ERROR_SUCCESS},
        {"\\Child", ERROR_BAD_PATHNAME},
        {"Child/Grand", ERROR_FILE_NOT_FOUND},
        {"Жук\\ete", ERROR_FILE_NOT_FOUND},
        {"Missing", ERROR_FILE_NOT_FOUND},
        {"Child\\Missing\\", ERROR_FILE_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.subKey);
        HKEY opened = NULL;

        EXPECT_EQ(c.status, RegOpenKeyExW(key, Wide(c.subKey).c_str(), 0, KEY_READ, &opened));
        if (c.status == ERROR_SUCCESS) {
            EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(opened));
        }
    }
}

TEST_F(RegistryPlatformTest, OpeningNoSubkeyGivesANewHandleToTheSameKey)
{
    CreateRegistryKey(HKEY_LOCAL_MACHINE, Below("Child"));
    for (const WCHAR* subKey : {TEXT(""), static_cast<const WCHAR*>(NULL)}) {
        SCOPED_TRACE(subKey ? "empty" : "NULL");
        HKEY same = NULL;

        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(key, subKey, 0, KEY_READ, &same));

        EXPECT_NE(key, same);
        EXPECT_EQ(Names{"Child"}, SubkeyNames(same));
        EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(same));
    }
}

TEST_F(RegistryPlatformTest, CreateMakesIntermediateKeysAndTellsWhetherItWasNew)
{
    HKEY created;
    DWORD disposition = 0;

    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(key, Wide("a\\Ωb\\c").c_str(), 0, NULL, 0,
                                             KEY_ALL_ACCESS, NULL, &created, &disposition));
    RegCloseKey(created);
    EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, Below("a\\Ωb")));

    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(key, Wide("A\\ωB").c_str(), 0, NULL, 0, KEY_ALL_ACCESS,
                                             NULL, &created, &disposition));
    RegCloseKey(created);
    EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);
}

TEST_F(RegistryPlatformTest, DeleteKeyFollowsTheNtRules)
{
    CreateRegistryKey(HKEY_LOCAL_MACHINE, Below("Parent\\Чайлд"));
    HKEY readOnlyParent = Open("Parent");

    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyW(key, TEXT("Parent")));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyW(key, TEXT("Missing")));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegDeleteKeyW(key, NULL));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(readOnlyParent, Wide("чАЙЛД").c_str()));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(key, TEXT("Parent")));

    EXPECT_EQ(Names{}, SubkeyNames(key));
    RegCloseKey(readOnlyParent);
}

TEST_F(RegistryPlatformTest, HandleOfADeletedKeyAnswersKeyDeleted)
{
    CreateRegistryKey(HKEY_LOCAL_MACHINE, Below("Gone"));
    HKEY gone = Open("Gone");
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyW(key, TEXT("Gone")));
    WCHAR name[16];
    DWORD nameSize = 16, dataSize = sizeof name;
    HKEY again;

    EXPECT_EQ(ERROR_KEY_DELETED, RegEnumKeyW(gone, 0, name, 16));
    EXPECT_EQ(ERROR_KEY_DELETED, RegEnumValueW(gone, 0, name, &nameSize, NULL, NULL, NULL, NULL));
    EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExW(gone, TEXT(""), NULL, NULL, NULL, &dataSize));
    EXPECT_EQ(ERROR_KEY_DELETED, RegOpenKeyExW(gone, TEXT(""), 0, KEY_READ, &again));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(gone));
}

TEST_F(RegistryPlatformTest, ReadOnlyHandleCannotChangeValues)
{
    SetText("kept", TEXT("x"), 4);
    HKEY readOnly = Open("");

    EXPECT_EQ(ERROR_ACCESS_DENIED, RegSetValueExW(readOnly, TEXT("new"), 0, REG_SZ,
                                                  reinterpret_cast<const BYTE*>(TEXT("x")), 4));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteValueW(readOnly, TEXT("kept")));

    EXPECT_EQ(Names{"kept"}, ValueNames(key));
    RegCloseKey(readOnly);
}

TEST_F(RegistryPlatformTest, DeleteValueRemovesOnlyThatValue)
{
    SetText("", TEXT("default"), 16);
    SetText("Ωmega", TEXT("x"), 4);
    SetText("other", TEXT("x"), 4);

    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueW(key, NULL));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueW(key, TEXT("")));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueW(key, TEXT("OTHER")));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueW(key, TEXT("Omega")));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueW(key, Wide("ωMEGA").c_str()));

    EXPECT_EQ(Names{}, ValueNames(key));
}

// Name lengths are UTF-16 code units without the NUL (the default value's
// name is empty); the data size is the largest value's, in bytes. Every
// out-parameter may be left out.
TEST_F(RegistryPlatformTest, QueryInfoKeyCountsAndMeasuresWhatIsBelow)
{
    for (const char* name : {"a", "Жук", "abcdefghij", "ab\U0010FFFF"})
        CreateRegistryKey(HKEY_LOCAL_MACHINE, Below(name));
    CreateRegistryKey(HKEY_LOCAL_MACHINE, Below("abcdefghij\\deeper and longer"));
    const BYTE blob[40] = {};
    SetText("", TEXT("default"), 16);
    SetValue("name12345", REG_BINARY, blob, sizeof blob);
    SetText("Ωmega", TEXT("x"), 4);
    const struct {
        const char* leaf;
        DWORD subKeys, maxSubKey, values, maxValueName, maxData;
        int line;
    } cases[] = {
        {"", 4, 10, 3, 9, 40, __LINE__},
        {"a", 0, 0, 0, 0, 0, __LINE__},
        {"abcdefghij", 1, 17, 0, 0, 0, __LINE__},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case at line " << c.line);
        HKEY queried = Open(c.leaf);
        DWORD subKeys = 0xDEAD, maxSubKey = 0xDEAD, values = 0xDEAD, maxValueName = 0xDEAD,
              maxData = 0xDEAD;

        EXPECT_EQ(ERROR_SUCCESS,
                  RegQueryInfoKeyW(queried, NULL, NULL, NULL, &subKeys, &maxSubKey, NULL, &values,
                                   &maxValueName, &maxData, NULL, NULL));

        EXPECT_EQ(c.subKeys, subKeys);
        EXPECT_EQ(c.maxSubKey, maxSubKey);
        EXPECT_EQ(c.values, values);
        EXPECT_EQ(c.maxValueName, maxValueName);
        EXPECT_EQ(c.maxData, maxData);
        EXPECT_EQ(ERROR_SUCCESS, RegQueryInfoKeyW(queried, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
                                                  NULL, NULL, NULL, NULL));
        RegCloseKey(queried);
    }
}

TEST_F(RegistryPlatformTest, ClassesRootShowsMachineClasses)
{
    std::string classes = "SOFTWARE\\Classes\\BurrowlensTest.ClassesRoot";
    CreateRegistryKey(HKEY_LOCAL_MACHINE, classes + "\\Child");
    HKEY viaRoot = NULL;

    EXPECT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_CLASSES_ROOT, TEXT("burrowlenstest.classesroot\\child"), 0,
                            KEY_READ, &viaRoot));

    RegCloseKey(viaRoot);
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, classes);
}

TEST(RegistryHandleTest, ClosingAPredefinedRootSucceedsAndLeavesItUsable)
{
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_LOCAL_MACHINE));

    HKEY software;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, TEXT("SOFTWARE"), 0, NULL, 0,
                                             KEY_READ, NULL, &software, NULL));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(software));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(NULL));
}
