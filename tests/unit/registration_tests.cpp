#include "details/details.h"
#include "inventory/inventory.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Identifiers of the test's own, so the machine's registrations never match.
#define CLSID_A "{B0A0A0A0-0000-4000-8000-00000000000A}"
#define CLSID_B "{B0A0A0A0-0000-4000-8000-00000000000B}"
#define LIBID_A "{B0A0A0A0-0000-4000-8000-0000000000AA}"
#define LIBID_B "{B0A0A0A0-0000-4000-8000-0000000000BB}"
#define CATID_1 "{B0A0A0A0-0000-4000-8000-0000000000C1}"
#define CATID_2 "{B0A0A0A0-0000-4000-8000-0000000000C2}"
#define CATID_3 "{B0A0A0A0-0000-4000-8000-0000000000C3}"

static const std::string kModuleUsage = MODULE_USAGE_PATH "\\";

class RegistrationTest : public testing::Test {
  protected:
    void TearDown() override
    {
        for (const char* key : {"CLSID\\" CLSID_A, "CLSID\\" CLSID_B, "TypeLib\\" LIBID_A,
                                "TypeLib\\" LIBID_B, "Component Categories\\" CATID_1,
                                "Component Categories\\" CATID_2, "Component Categories\\" CATID_3})
            DeleteRegistryTree(HKEY_CLASSES_ROOT, key);
        for (const std::string& name : moduleKeys)
            DeleteRegistryTree(HKEY_LOCAL_MACHINE, kModuleUsage + name);
        for (const std::string& name : sharedValues) {
            HKEY key;
            if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SHARED_DLLS_PATH, 0, KEY_ALL_ACCESS, &key) ==
                ERROR_SUCCESS) {
                RegDeleteValueA(key, name.c_str());
                RegCloseKey(key);
            }
        }
    }

    void AddModuleValue(const std::string& file, const char* name, const std::string& data)
    {
        SetRegistryText(HKEY_LOCAL_MACHINE, kModuleUsage + file, name, data);
        moduleKeys.push_back(file);
    }
    void AddSharedCount(const std::string& file, DWORD count)
    {
        SetRegistryDword(HKEY_LOCAL_MACHINE, SHARED_DLLS_PATH, file.c_str(), count);
        sharedValues.push_back(file);
    }

    std::vector<std::string> moduleKeys;
    std::vector<std::string> sharedValues;
};

TEST_F(RegistrationTest, ModuleClsidIsTheFirstValueNamedInBraces)
{
    AddModuleValue("C:/BlTest/OCCACHE/a.ocx", "", "default");
    AddModuleValue("C:/BlTest/OCCACHE/a.ocx", ".Owner", "x");
    AddModuleValue("C:/BlTest/OCCACHE/a.ocx", CLSID_B, "y");
    AddModuleValue("C:/BlTest/OCCACHE/a.ocx", "{Z}", "z");
    AddModuleValue("C:/BlTest/OCCACHE/none.ocx", ".Owner", "x");
    AddModuleValue("C:/BlTest/OCCACHE/big.ocx", ".Big", std::string(200, 'd'));
    AddModuleValue("C:/BlTest/OCCACHE/big.ocx", CLSID_A, "");

    char clsid[MAX_PATH] = "";
    EXPECT_TRUE(FindModuleClsid(HKEY_LOCAL_MACHINE, "C:/BlTest/OCCACHE/a.ocx", clsid));
    EXPECT_STREQ(CLSID_B, clsid);
    EXPECT_TRUE(FindModuleClsid(HKEY_LOCAL_MACHINE, "c:/bltest/occache/A.OCX", clsid));
    EXPECT_FALSE(FindModuleClsid(HKEY_LOCAL_MACHINE, "C:/BlTest/OCCACHE/none.ocx", clsid));
    // A value too big for the walk's buffer ends it before the class.
    EXPECT_FALSE(FindModuleClsid(HKEY_LOCAL_MACHINE, "C:/BlTest/OCCACHE/big.ocx", clsid));
    // Key names under ModuleUsage use '/', so the backslash form names no key.
    EXPECT_FALSE(FindModuleClsid(HKEY_LOCAL_MACHINE, "C:\\BlTest\\OCCACHE\\a.ocx", clsid));
    EXPECT_FALSE(FindModuleClsid(HKEY_LOCAL_MACHINE, "C:/BlTest/missing.ocx", clsid));
}

TEST_F(RegistrationTest, ClassTypeLibNeedsBothVersionAndTypeLib)
{
    SetRegistryText(HKEY_CLASSES_ROOT, "CLSID\\" CLSID_A "\\Version", "", "1.0");
    SetRegistryText(HKEY_CLASSES_ROOT, "CLSID\\" CLSID_A "\\TypeLib", "", LIBID_A);
    SetRegistryText(HKEY_CLASSES_ROOT, "CLSID\\" CLSID_B "\\TypeLib", "", LIBID_A);
    SetRegistryText(HKEY_CLASSES_ROOT, "TypeLib\\" LIBID_A "\\1.0", "", "Fixture Control Library");

    char libId[MAX_PATH] = "";
    char version[64] = "";
    ASSERT_TRUE(GetClsidTypeLib(CLSID_A, libId, version));
    EXPECT_STREQ(LIBID_A, libId);
    EXPECT_STREQ("1.0", version);
    char name[MAX_PATH] = "";
    ASSERT_TRUE(GetTypeLibName(libId, version, name));
    EXPECT_STREQ("Fixture Control Library", name);
    EXPECT_FALSE(GetTypeLibName(libId, "2.0", name));
    EXPECT_FALSE(GetClsidTypeLib(CLSID_B, libId, version));

    SetRegistryText(HKEY_CLASSES_ROOT, "CLSID\\" CLSID_B "\\Version", "", std::string(70, '9'));
    EXPECT_FALSE(GetClsidTypeLib(CLSID_B, libId, version));
}

TEST_F(RegistrationTest, SharedDllCountIsANumberUnderTheBackslashPath)
{
    AddSharedCount("C:\\BlTest\\zero.ocx", 0);
    AddSharedCount("C:\\BlTest\\OCCACHE\\many.ocx", 300);
    AddSharedCount("C:\\BlTest\\minus.ocx", 0xFFFFFFFF);
    SetRegistryText(HKEY_LOCAL_MACHINE, SHARED_DLLS_PATH, "C:\\BlTest\\text.ocx", "7");
    sharedValues.push_back("C:\\BlTest\\text.ocx");

    struct Case {
        const char* path;
        BOOL found;
        const char* count;
    } cases[] = {
        {"C:\\BlTest\\zero.ocx", TRUE, "0"},
        {"C:/BlTest/OCCACHE/many.ocx", TRUE, "300"},
        {"c:\\bltest\\occache\\MANY.ocx", TRUE, "300"},
        {"C:\\BlTest\\minus.ocx", TRUE, "-1"},
        {"C:\\BlTest\\text.ocx", FALSE, ""},
        {"C:\\BlTest\\missing.ocx", FALSE, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        char count[MAX_PATH] = "";
        EXPECT_EQ(c.found, GetSharedDllCount(c.path, count));
        if (c.found) {
            EXPECT_STREQ(c.count, count);
        }
    }
}

TEST_F(RegistrationTest, TypeLibForFileMatchesTheWin32PathInAnyCase)
{
    SetRegistryText(HKEY_CLASSES_ROOT, "TypeLib\\" LIBID_A "\\1.0\\0\\win16", "",
                    "C:\\BlTest\\Sixteen.dll");
    SetRegistryText(HKEY_CLASSES_ROOT, "TypeLib\\" LIBID_A "\\1.0\\9\\win32", "",
                    "C:\\BlTest\\Locale.dll");
    SetRegistryText(HKEY_CLASSES_ROOT, "TypeLib\\" LIBID_A "\\2.0\\0\\win32", "",
                    "C:\\BlTest\\Control.OCX");
    SetRegistryText(HKEY_CLASSES_ROOT, "TypeLib\\" LIBID_B "\\1.0\\0\\win32", "",
                    "C:\\BlTest\\Other.dll");

    char libId[MAX_PATH] = "";
    char version[32] = "";
    ASSERT_TRUE(FindTypeLibForFile("c:\\bltest\\control.ocx", libId, version));
    EXPECT_STREQ(LIBID_A, libId);
    EXPECT_STREQ("2.0", version);
    ASSERT_TRUE(FindTypeLibForFile("C:/BlTest/Other.dll", libId, version));
    EXPECT_STREQ(LIBID_B, libId);
    EXPECT_STREQ("1.0", version);
    EXPECT_FALSE(FindTypeLibForFile("c:\\bltest\\sixteen.dll", libId, version));
    EXPECT_FALSE(FindTypeLibForFile("c:\\bltest\\locale.dll", libId, version));
}

TEST_F(RegistrationTest, CategoriesAreShortenedAndJoined)
{
    const char* base = "CLSID\\" CLSID_A "\\Implemented Categories\\";
    for (const char* catId : {CATID_1, CATID_2, CATID_3})
        CreateRegistryKey(HKEY_CLASSES_ROOT, std::string(base) + catId);
    SetRegistryText(HKEY_CLASSES_ROOT, "Component Categories\\" CATID_1, "409",
                    "Controls that are safely scriptable");
    // CATID_2 has no English description and is left out, separator and all.
    SetRegistryText(HKEY_CLASSES_ROOT, "Component Categories\\" CATID_2, "407", "Deutsch");
    SetRegistryText(HKEY_CLASSES_ROOT, "Component Categories\\" CATID_3, "409",
                    "Controls safely initializable from persistent data");

    char categories[MAX_PATH] = "previous";
    ASSERT_TRUE(GetImplementedCategories(CLSID_A, categories));
    EXPECT_STREQ("Scriptable; Initialized from data", categories);

    SetRegistryText(HKEY_CLASSES_ROOT, "Component Categories\\" CATID_2, "409", "");
    ASSERT_TRUE(GetImplementedCategories(CLSID_A, categories));
    EXPECT_STREQ("Scriptable; ; Initialized from data", categories);

    CreateRegistryKey(HKEY_CLASSES_ROOT, "CLSID\\" CLSID_B "\\Implemented Categories\\" CATID_2);
    EXPECT_FALSE(GetImplementedCategories(CLSID_B, categories));
}

TEST_F(RegistrationTest, ClsidForTypeLibIsTheFirstClassNamingIt)
{
    SetRegistryText(HKEY_CLASSES_ROOT, "CLSID\\" CLSID_A "\\TypeLib", "", LIBID_B);
    SetRegistryText(HKEY_CLASSES_ROOT, "CLSID\\" CLSID_B "\\TypeLib", "", LIBID_B);

    char clsid[MAX_PATH] = "";
    std::string lowered = LIBID_B;
    for (char& c : lowered)
        c = static_cast<char>(tolower(c));
    ASSERT_TRUE(FindClsidForTypeLib(lowered.c_str(), clsid));
    EXPECT_STREQ(CLSID_A, clsid);
    EXPECT_FALSE(FindClsidForTypeLib(LIBID_A, clsid));
}
