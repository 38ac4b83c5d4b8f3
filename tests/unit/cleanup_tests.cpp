#include "details/details.h"
#include "inventory/inventory.h"
#include "removal/removal.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>

#define CLSID_X "{C1EA0000-0000-4000-8000-00000000000A}"
#define CLSID_SIBLING "{C1EA0000-0000-4000-8000-00000000000B}"
#define LIBID_X "{C1EA0000-0000-4000-8000-0000000000AA}"
#define LIBID_SIBLING "{C1EA0000-0000-4000-8000-0000000000BB}"

static const std::string kModuleUsage = MODULE_USAGE_PATH "\\";
static const std::string kUnits = DISTRIBUTION_UNITS_PATH "\\";
static const char* const kFile = "C:/BlTest/Downloaded Program Files/x.ocx";
static const char* const kFilePath = "C:\\BlTest\\Downloaded Program Files\\x.ocx";
static const char* const kSiblingPath = "C:\\BlTest\\Downloaded Program Files\\sibling.ocx";

static bool SharedValueExists(const char* name)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SHARED_DLLS_PATH, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    bool found = RegQueryValueExA(key, name, NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
    RegCloseKey(key);
    return found;
}

static void DeleteSharedValue(const char* name)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SHARED_DLLS_PATH, 0, KEY_SET_VALUE, &key) ==
        ERROR_SUCCESS) {
        RegDeleteValueA(key, name);
        RegCloseKey(key);
    }
}

// One downloaded control and a sibling registered the same way; whatever is
// removed for the control, the sibling must keep all of its own.
class CleanupTest : public testing::Test {
  protected:
    void SetUp() override
    {
        TearDown();
        Register(kFile, kFilePath, CLSID_X, LIBID_X);
        Register("C:/BlTest/Downloaded Program Files/sibling.ocx", kSiblingPath, CLSID_SIBLING,
                 LIBID_SIBLING);
    }
    void TearDown() override
    {
        for (const char* clsid : {CLSID_X, CLSID_SIBLING}) {
            DeleteRegistryTree(HKEY_CLASSES_ROOT, std::string("CLSID\\") + clsid);
            DeleteRegistryTree(HKEY_LOCAL_MACHINE, kUnits + clsid);
        }
        for (const char* libId : {LIBID_X, LIBID_SIBLING})
            DeleteRegistryTree(HKEY_CLASSES_ROOT, std::string("TypeLib\\") + libId);
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, kModuleUsage + kFile);
        DeleteRegistryTree(HKEY_LOCAL_MACHINE,
                           kModuleUsage + "C:/BlTest/Downloaded Program Files/sibling.ocx");
        DeleteSharedValue(kFilePath);
        DeleteSharedValue(kSiblingPath);
    }

    static void Register(const std::string& name, const char* filePath, const char* clsid,
                         const char* libId)
    {
        SetRegistryText(HKEY_LOCAL_MACHINE, kModuleUsage + name, clsid, "");
        SetRegistryText(HKEY_LOCAL_MACHINE, kModuleUsage + name, ".Owner", "Unknown Owner");
        SetRegistryText(HKEY_CLASSES_ROOT, std::string("CLSID\\") + clsid + "\\InprocServer32", "",
                        filePath);
        SetRegistryText(HKEY_CLASSES_ROOT, std::string("CLSID\\") + clsid + "\\TypeLib", "", libId);
        SetRegistryText(HKEY_LOCAL_MACHINE, kUnits + clsid + "\\Contains\\Files", filePath, "");
        SetRegistryText(HKEY_CLASSES_ROOT, std::string("TypeLib\\") + libId + "\\1.0", "", "Lib");
        SetRegistryText(HKEY_CLASSES_ROOT, std::string("TypeLib\\") + libId + "\\1.0\\0\\win32", "",
                        filePath);
        SetRegistryText(HKEY_CLASSES_ROOT, std::string("TypeLib\\") + libId + "\\1.0\\FLAGS", "",
                        "0");
        SetRegistryText(HKEY_CLASSES_ROOT, std::string("TypeLib\\") + libId + "\\1.0\\HELPDIR", "",
                        "C:\\");
        SetRegistryText(HKEY_CLASSES_ROOT, std::string("TypeLib\\") + libId + "\\2.0\\0\\win16", "",
                        filePath);
        SetRegistryDword(HKEY_LOCAL_MACHINE, SHARED_DLLS_PATH, filePath, 1);
    }

    static void ExpectSiblingIntact()
    {
        EXPECT_TRUE(
            RegistryKeyExists(HKEY_CLASSES_ROOT, "CLSID\\" CLSID_SIBLING "\\InprocServer32"));
        EXPECT_TRUE(
            RegistryKeyExists(HKEY_LOCAL_MACHINE, kUnits + CLSID_SIBLING + "\\Contains\\Files"));
        EXPECT_TRUE(
            RegistryKeyExists(HKEY_CLASSES_ROOT, "TypeLib\\" LIBID_SIBLING "\\1.0\\0\\win32"));
        EXPECT_TRUE(
            RegistryKeyExists(HKEY_CLASSES_ROOT, "TypeLib\\" LIBID_SIBLING "\\2.0\\0\\win16"));
        EXPECT_TRUE(RegistryKeyExists(
            HKEY_LOCAL_MACHINE, kModuleUsage + "C:/BlTest/Downloaded Program Files/sibling.ocx"));
        EXPECT_TRUE(SharedValueExists(kSiblingPath));
        EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, "TypeLib"));
        EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, "CLSID"));
        EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH));
        EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, DISTRIBUTION_UNITS_PATH));
    }
};

TEST_F(CleanupTest, DownloadRegistrationGoesWithItsSubtrees)
{
    ASSERT_TRUE(RemoveDistributionUnit(kFile));

    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, "CLSID\\" CLSID_X));
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kUnits + CLSID_X));
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kModuleUsage + kFile));
    ExpectSiblingIntact();

    ASSERT_TRUE(RemoveModuleUsage(kFile));
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kModuleUsage + kFile));
    EXPECT_FALSE(SharedValueExists(kFilePath));
    ExpectSiblingIntact();
}

TEST_F(CleanupTest, TypeLibTreeGoesAndTheUsageCountStays)
{
    ASSERT_TRUE(RemoveTypeLibRegistration(kFile));

    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, "TypeLib\\" LIBID_X));
    EXPECT_TRUE(SharedValueExists(kFilePath));
    ExpectSiblingIntact();
}

TEST_F(CleanupTest, WithoutATypeLibTheUsageCountGoesInstead)
{
    DeleteRegistryTree(HKEY_CLASSES_ROOT, "TypeLib\\" LIBID_X);

    ASSERT_TRUE(RemoveModuleUsage(kFile));
    EXPECT_FALSE(SharedValueExists(kFilePath));
    // The second removal of the same value finds it gone and is content.
    ASSERT_TRUE(RemoveTypeLibRegistration(kFile));
    EXPECT_FALSE(SharedValueExists(kFilePath));
    ExpectSiblingIntact();
}

TEST_F(CleanupTest, NoClassNoRemoval)
{
    SetUp();
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, kModuleUsage + kFile);
    SetRegistryText(HKEY_LOCAL_MACHINE, kModuleUsage + kFile, ".Owner", "x");

    EXPECT_FALSE(RemoveDistributionUnit(kFile));
    EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, "CLSID\\" CLSID_X));
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kUnits + CLSID_X));
    EXPECT_TRUE(RemoveSharedDllValue(""));
}

TEST_F(CleanupTest, KeyTreeLosesEveryLevelButItsTop)
{
    std::string top = TestKeyPath();
    for (const char* leaf : {"a\\1\\x", "a\\1\\y", "a\\2", "b", "c\\deep\\deeper\\deepest"})
        SetRegistryText(HKEY_LOCAL_MACHINE, top + "\\" + leaf, "v", "data");

    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, top.c_str(), 0, KEY_READ, &key));
    DeleteKeyTree(key);
    char name[MAX_PATH];
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyA(key, 0, name, sizeof name));
    RegCloseKey(key);
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, top));
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, top);
}
