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

static const std::string kModuleUsagePath = Utf8(MODULE_USAGE_PATH);
static const std::string kUnitsPath = Utf8(DISTRIBUTION_UNITS_PATH);
static const std::string kSharedDllsPath = Utf8(SHARED_DLLS_PATH);
static const std::string kModuleUsage = kModuleUsagePath + "\\";
static const std::string kUnits = kUnitsPath + "\\";
// The control's folder looks like its sibling's: through the ANSI code page
// 'Ω' becomes 'O', and the control's path would name the sibling's keys.
static const char* const kFile = "C:/BlTest/Downloaded Program Files/Ωmega/x.ocx";
static const char* const kFilePath = "C:\\BlTest\\Downloaded Program Files\\Ωmega\\x.ocx";
static const char* const kSibling = "C:/BlTest/Downloaded Program Files/Omega/x.ocx";
static const char* const kSiblingPath = "C:\\BlTest\\Downloaded Program Files\\Omega\\x.ocx";

static bool SharedValueExists(const char* name)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SHARED_DLLS_PATH, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    bool found = RegQueryValueExW(key, Wide(name).c_str(), NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
    RegCloseKey(key);
    return found;
}

static void DeleteSharedValue(const char* name)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SHARED_DLLS_PATH, 0, KEY_SET_VALUE, &key) ==
        ERROR_SUCCESS) {
        RegDeleteValueW(key, Wide(name).c_str());
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
        Register(kSibling, kSiblingPath, CLSID_SIBLING, LIBID_SIBLING);
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
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, kModuleUsage + kSibling);
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
        SetRegistryDword(HKEY_LOCAL_MACHINE, kSharedDllsPath, filePath, 1);
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
        EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kModuleUsage + kSibling));
        EXPECT_TRUE(SharedValueExists(kSiblingPath));
        EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, "TypeLib"));
        EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, "CLSID"));
        EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kModuleUsagePath));
        EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kUnitsPath));
    }
};

TEST_F(CleanupTest, DownloadRegistrationGoesWithItsSubtrees)
{
    ASSERT_TRUE(RemoveDistributionUnit(EntryOf(kFile)));

    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, "CLSID\\" CLSID_X));
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kUnits + CLSID_X));
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kModuleUsage + kFile));
    ExpectSiblingIntact();

    ASSERT_TRUE(RemoveModuleUsage(EntryOf(kFile)));
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kModuleUsage + kFile));
    EXPECT_FALSE(SharedValueExists(kFilePath));
    ExpectSiblingIntact();
}

TEST_F(CleanupTest, TypeLibTreeGoesAndTheUsageCountStays)
{
    ASSERT_TRUE(RemoveTypeLibRegistration(EntryOf(kFile)));

    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, "TypeLib\\" LIBID_X));
    EXPECT_TRUE(SharedValueExists(kFilePath));
    ExpectSiblingIntact();
}

TEST_F(CleanupTest, WithoutATypeLibTheUsageCountGoesInstead)
{
    DeleteRegistryTree(HKEY_CLASSES_ROOT, "TypeLib\\" LIBID_X);

    ASSERT_TRUE(RemoveModuleUsage(EntryOf(kFile)));
    EXPECT_FALSE(SharedValueExists(kFilePath));
    // The second removal of the same value finds it gone and is content.
    ASSERT_TRUE(RemoveTypeLibRegistration(EntryOf(kFile)));
    EXPECT_FALSE(SharedValueExists(kFilePath));
    ExpectSiblingIntact();
}

TEST_F(CleanupTest, NoClassNoRemoval)
{
    SetUp();
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, kModuleUsage + kFile);
    SetRegistryText(HKEY_LOCAL_MACHINE, kModuleUsage + kFile, ".Owner", "x");

    EXPECT_FALSE(RemoveDistributionUnit(EntryOf(kFile)));
    EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, "CLSID\\" CLSID_X));
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kUnits + CLSID_X));
    EXPECT_TRUE(RemoveSharedDllValue(TEXT(""), VIEW_32));
}

TEST_F(CleanupTest, KeyTreeLosesEveryLevelButItsTop)
{
    std::string top = TestKeyPath();
    for (const char* leaf :
         {"a\\1\\x", "a\\1\\y", "a\\2", "b", "c\\deep\\deeper\\deepest", "Ωmega\\東京\\Жук"})
        SetRegistryText(HKEY_LOCAL_MACHINE, top + "\\" + leaf, "v", "data");

    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(top).c_str(), 0, KEY_READ, &key));
    DeleteKeyTree(key, VIEW_32);
    WCHAR name[MAX_PATH];
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyW(key, 0, name, MAX_PATH));
    RegCloseKey(key);
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, top));
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, top);
}
