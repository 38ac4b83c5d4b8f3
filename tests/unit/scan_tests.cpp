#include "app/control_ids.h"
#include "app/text.h"
#include "inventory/inventory.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

typedef std::vector<std::string> Entries;

// Both passes pointed at keys of the test's own, so the machine's
// registrations stay out of the list; only the download check reads the
// machine's ModuleUsage key, where the test registers names of its own.
class ScanTest : public testing::Test {
  protected:
    void SetUp() override
    {
        root = TestKeyPath();
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, root);
        CreateRegistryKey(HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH);
    }
    void TearDown() override
    {
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, root);
        for (const std::string& name : registered)
            DeleteRegistryTree(HKEY_LOCAL_MACHINE, std::string(MODULE_USAGE_PATH "\\") + name);
    }

    void RegisterDownload(const std::string& name)
    {
        CreateRegistryKey(HKEY_LOCAL_MACHINE, std::string(MODULE_USAGE_PATH "\\") + name);
        registered.push_back(name);
    }
    void AddModuleUsage(const std::string& name)
    {
        CreateRegistryKey(HKEY_LOCAL_MACHINE, root + "\\ModuleUsage\\" + name);
    }
    void AddTypeLib(const std::string& libAndVersion, const char* platform, const std::string& file,
                    DWORD type = REG_SZ)
    {
        SetRegistryText(HKEY_LOCAL_MACHINE,
                        root + "\\TypeLib\\" + libAndVersion + "\\0\\" + platform, "", file, type);
    }

    Entries ScanDownloads(BOOL* answer = NULL)
    {
        Entries entries;
        WithMainDialog([&](HWND dialog) {
            char path[MAX_PATH];
            CopyText(path, root.c_str());
            BOOL result = AddDownloadedControls(dialog, HKEY_LOCAL_MACHINE, path, "ModuleUsage");
            if (answer != NULL)
                *answer = result;
            entries = ListBoxItems(dialog, IDC_CONTROL_LIST);
        });
        return entries;
    }
    Entries ScanTypeLibs()
    {
        Entries entries;
        WithMainDialog([&](HWND dialog) {
            char path[MAX_PATH];
            CopyText(path, (root + "\\").c_str());
            AddTypeLibControls(dialog, HKEY_LOCAL_MACHINE, path, "TypeLib");
            entries = ListBoxItems(dialog, IDC_CONTROL_LIST);
        });
        return entries;
    }

    std::string root;
    std::vector<std::string> registered;
};

TEST_F(ScanTest, DownloadsAreListedAsStoredAndSorted)
{
    AddModuleUsage("C:/Windows/Downloaded Program Files/a.ocx");
    AddModuleUsage("c:/windows/DOWNLOADED PROGRAM FILES/B.ocx");
    AddModuleUsage("C:/WINDOWS/OCCACHE/y.ocx");
    AddModuleUsage("C:/Windows/Downloaded Program Files Extra/d.ocx");
    AddModuleUsage("C:/Windows/occache");
    AddModuleUsage("C:/Windows/System32/c.dll");
    AddModuleUsage("C:\\Windows\\OCCACHE\\backslashes.ocx");

    BOOL answer = FALSE;
    Entries entries = ScanDownloads(&answer);

    EXPECT_TRUE(answer);
    Entries expected = {
        "C:/Windows/Downloaded Program Files Extra/d.ocx",
        "C:/Windows/Downloaded Program Files/a.ocx",
        "c:/windows/DOWNLOADED PROGRAM FILES/B.ocx",
        "C:/WINDOWS/OCCACHE/y.ocx",
    };
    EXPECT_EQ(expected, entries);
}

TEST_F(ScanTest, EmptyModuleUsageAddsNothing)
{
    CreateRegistryKey(HKEY_LOCAL_MACHINE, root + "\\ModuleUsage");
    BOOL answer = FALSE;
    EXPECT_EQ(Entries(), ScanDownloads(&answer));
    EXPECT_TRUE(answer);
}

TEST_F(ScanTest, TypeLibFilesAreLoweredAndListedPerRegistration)
{
    ASSERT_TRUE(SetEnvironmentVariableA("BURROWLENS_TEST_DIR", "C:\\Expanded"));
    AddTypeLib("{11111111-0000-0000-0000-000000000001}\\1.0", "win32",
               "C:\\Windows\\System32\\A.DLL");
    AddTypeLib("{11111111-0000-0000-0000-000000000001}\\1.0", "win16",
               "C:\\Windows\\System\\A16.DLL");
    AddTypeLib("{11111111-0000-0000-0000-000000000001}\\2.0", "win32",
               "C:\\Windows\\System32\\A.DLL");
    AddTypeLib("{11111111-0000-0000-0000-000000000002}\\1.0", "win32",
               "%BURROWLENS_TEST_DIR%\\X.OCX", REG_EXPAND_SZ);
    AddTypeLib("{11111111-0000-0000-0000-000000000003}\\1.0", "win32", "");
    AddTypeLib("{11111111-0000-0000-0000-000000000004}\\1.0", "win32",
               "C:\\Windows\\OCCACHE\\Unregistered.ocx");
    RegisterDownload("C:/Windows/OCCACHE/registered.ocx");
    AddTypeLib("{11111111-0000-0000-0000-000000000005}\\1.0", "win32",
               "c:\\windows\\occache\\REGISTERED.OCX");
    // Only the locale 0 is read.
    SetRegistryText(HKEY_LOCAL_MACHINE,
                    root + "\\TypeLib\\{11111111-0000-0000-0000-000000000006}\\1.0\\9\\win32", "",
                    "c:\\other locale.dll");

    Entries expected = {
        "",
        "c:\\expanded\\x.ocx",
        "c:\\windows\\occache\\unregistered.ocx",
        "c:\\windows\\system\\a16.dll",
        "c:\\windows\\system32\\a.dll",
        "c:\\windows\\system32\\a.dll",
    };
    EXPECT_EQ(expected, ScanTypeLibs());
}

TEST_F(ScanTest, TypeLibVersionWalkEndsAtAnOverlongName)
{
    const std::string lib = "{22222222-0000-0000-0000-000000000001}\\";
    AddTypeLib(lib + "1.0", "win32", "c:\\first.dll");
    AddTypeLib(lib + std::string(79, 'a'), "win32", "c:\\fits.dll");
    AddTypeLib(lib + std::string(80, 'b'), "win32", "c:\\too long.dll");
    AddTypeLib(lib + "c.0", "win32", "c:\\after.dll");
    // A number where a path belongs is passed over.
    SetRegistryDword(HKEY_LOCAL_MACHINE, root + "\\TypeLib\\" + lib + "1.0\\0\\win16", "", 42);

    Entries expected = {"c:\\first.dll", "c:\\fits.dll"};
    EXPECT_EQ(expected, ScanTypeLibs());
}

// The type-library pass checks its paths against the names read once; every
// answer must be the one a walk of ModuleUsage per path gives.
TEST_F(ScanTest, TheNamesReadOnceAnswerAsTheWalkPerPath)
{
    const std::string longName = "C:/occache/" + std::string(240, 'n') + ".ocx";
    for (const char* name : {
             "C:/Windows/Downloaded Program Files/Chart.ocx",
             "c:/windows/OCCACHE/grid.OCX",
             "C:/Windows/System32/plain.dll",
             "C:/Windows/occache/\xC4rger.ocx",
             "C:/Windows/Downloaded Program Files Extra/more.ocx",
         })
        RegisterDownload(name);
    // Under Wine a path of more than 260 characters cannot be passed to the
    // A functions, so the longest name goes in below ModuleUsage opened.
    HKEY moduleUsage, created;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH, 0, KEY_ALL_ACCESS,
                                           &moduleUsage));
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(moduleUsage, longName.c_str(), 0, NULL, 0,
                                             KEY_ALL_ACCESS, NULL, &created, NULL));
    RegCloseKey(created);
    std::string longPath = longName;
    for (char& c : longPath)
        c = c == '/' ? '\\' : c;

    struct Case {
        std::string path;
        BOOL downloaded;
    } cases[] = {
        {"C:\\Windows\\Downloaded Program Files\\Chart.ocx", TRUE},
        {"c:\\windows\\downloaded program files\\chart.ocx", TRUE},
        {"C:/Windows/Downloaded Program Files/Chart.ocx", TRUE},
        {"C:\\WINDOWS/downloaded program files\\CHART.OCX", TRUE},
        {"c:\\windows\\occache\\grid.ocx", TRUE},
        {"c:\\windows\\downloaded program files extra\\more.ocx", TRUE},
        {longPath, TRUE},
        // Registered, but outside any download cache.
        {"c:\\windows\\system32\\plain.dll", FALSE},
        // Only 'A' to 'Z' fold: the registered name has a capital A-umlaut.
        {"c:\\windows\\occache\\\xE4rger.ocx", FALSE},
        {"c:\\windows\\occache\\\xC4rger.ocx", TRUE},
        {"c:\\windows\\occache\\grid.ocx.bak", FALSE},
        {"c:\\windows\\occache\\grid.oc", FALSE},
        {"c:\\windows\\occache\\", FALSE},
        {"", FALSE},
    };

    ModuleUsageIndex index;
    ASSERT_EQ(ERROR_SUCCESS, ReadModuleUsageIndex(index));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(c.downloaded, IsDownloadedControl(NULL, c.path.c_str()));
        EXPECT_EQ(c.downloaded, IsIndexedDownload(index, c.path.c_str()));
    }
    FreeModuleUsageIndex(index);
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(moduleUsage, longName.c_str()));
    RegCloseKey(moduleUsage);
}
