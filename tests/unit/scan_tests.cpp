#include "app/app.h"
#include "app/control_ids.h"
#include "base/text.h"
#include "inventory/inventory.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

typedef std::vector<std::string> Entries;

static const std::string kModuleUsage = Utf8(MODULE_USAGE_PATH);

// The list box orders text beyond ASCII by the system's collation, which
// differs between Windows, Wine and the stand-in; where that is not what a
// test is about, it compares the entries in byte order.
static Entries Sorted(Entries entries)
{
    std::sort(entries.begin(), entries.end());
    return entries;
}

// Both passes pointed at keys of the test's own, so the machine's
// registrations stay out of the list; only the download check reads the
// machine's ModuleUsage key, where the test registers names of its own.
class ScanTest : public testing::Test {
  protected:
    void SetUp() override
    {
        root = TestKeyPath();
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, root);
        CreateRegistryKey(HKEY_LOCAL_MACHINE, kModuleUsage);
    }
    void TearDown() override
    {
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, root);
        for (const std::string& name : registered)
            DeleteRegistryTree(HKEY_LOCAL_MACHINE, kModuleUsage + "\\" + name);
    }

    void RegisterDownload(const std::string& name)
    {
        CreateRegistryKey(HKEY_LOCAL_MACHINE, kModuleUsage + "\\" + name);
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
            WCHAR path[MAX_PATH];
            CopyText(path, Wide(root).c_str());
            BOOL result = AddDownloadedControls(dialog, HKEY_LOCAL_MACHINE, path,
                                                TEXT("ModuleUsage"), VIEW_32);
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
            WCHAR path[MAX_PATH];
            CopyText(path, Wide(root + "\\").c_str());
            AddTypeLibControls(dialog, HKEY_LOCAL_MACHINE, path, TEXT("TypeLib"));
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

// A download's name is shown exactly as registered: the ANSI code page would
// turn "Жук" into "?uk", a name no file has.
TEST_F(ScanTest, DownloadNamesBeyondAsciiAreListedAsStored)
{
    AddModuleUsage("C:/Windows/Downloaded Program Files/Жук/ctl.ocx");
    AddModuleUsage("C:/Windows/Downloaded Program Files/Ωmega/Omega.ocx");
    AddModuleUsage("C:/Windows/OCCACHE/控件/Grid.ocx");
    AddModuleUsage("C:/Windows/Downloaded Program Files/\U0001F600.ocx");
    AddModuleUsage("C:/Документы/OCCACHE/Ёлка.ocx");
    AddModuleUsage("C:/Программы/Жук/ctl.ocx");
    // Fullwidth look-alikes of the folder names are other folders.
    AddModuleUsage("C:/Windows/\uFF2FCCACHE/look-alike.ocx");
    AddModuleUsage("C:/Windows/occache\uFF0Flook-alike.ocx");

    BOOL answer = FALSE;
    Entries entries = ScanDownloads(&answer);

    EXPECT_TRUE(answer);
    Entries expected = {
        "C:/Windows/Downloaded Program Files/Жук/ctl.ocx",
        "C:/Windows/Downloaded Program Files/Ωmega/Omega.ocx",
        "C:/Windows/OCCACHE/控件/Grid.ocx",
        "C:/Windows/Downloaded Program Files/\U0001F600.ocx",
        "C:/Документы/OCCACHE/Ёлка.ocx",
    };
    EXPECT_EQ(Sorted(expected), Sorted(entries));
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
    ASSERT_TRUE(SetEnvironmentVariableW(TEXT("BURROWLENS_TEST_DIR"), TEXT("C:\\Expanded")));
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

// Only 'A' to 'Z' are lowered; every other character stays, so a folder
// whose name differs from another's by a Greek letter is a file of its own
// and not best-fitted onto the Latin one.
TEST_F(ScanTest, TypeLibFilesBeyondAsciiAreListedAsTheirOwnText)
{
    // Greek capitals that look like Latin ones.
    ASSERT_TRUE(SetEnvironmentVariableW(TEXT("BURROWLENS_TEST_DIR"), Wide("C:\\ΩΜΕΓΑ").c_str()));
    AddTypeLib("{33333333-0000-0000-0000-000000000001}\\1.0", "win32",
               "C:\\Program Files\\Ωmega\\Omega.dll");
    AddTypeLib("{33333333-0000-0000-0000-000000000002}\\1.0", "win32",
               "C:\\Program Files\\Omega\\Omega.dll");
    AddTypeLib("{33333333-0000-0000-0000-000000000003}\\1.0", "win32",
               "C:\\Программы\\ЖУК\\Жук.OCX");
    AddTypeLib("{33333333-0000-0000-0000-000000000003}\\1.0", "win16", "C:\\程序\\控件.DLL");
    AddTypeLib("{33333333-0000-0000-0000-000000000004}\\1.0", "win32",
               "C:\\Faces\\\U0001F600\\\U00010400X.DLL");
    AddTypeLib("{33333333-0000-0000-0000-000000000005}\\1.0", "win32",
               "%BURROWLENS_TEST_DIR%\\\uFF21.OCX", REG_EXPAND_SZ);

    Entries expected = {
        "c:\\program files\\Ωmega\\omega.dll",
        "c:\\program files\\omega\\omega.dll",
        "c:\\Программы\\ЖУК\\Жук.ocx",
        "c:\\程序\\控件.dll",
        "c:\\faces\\\U0001F600\\\U00010400x.dll",
        "c:\\ΩΜΕΓΑ\\\uFF21.ocx",
    };
    EXPECT_EQ(Sorted(expected), Sorted(ScanTypeLibs()));
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

// A file in a download cache is a download when ModuleUsage names it, in
// whatever script its folders are named; the type-library pass leaves it to
// the download pass. Only 'A' to 'Z' fold in that comparison.
TEST_F(ScanTest, TypeLibFilesInADownloadCacheBeyondAsciiAreLeftToTheDownloads)
{
    RegisterDownload("C:/Windows/Downloaded Program Files/Жук/ctl.ocx");
    RegisterDownload("C:/Windows/OCCACHE/控件/Grid.ocx");
    RegisterDownload("C:/Windows/Downloaded Program Files/Ωmega/\U0001F600.ocx");
    AddTypeLib("{44444444-0000-0000-0000-000000000001}\\1.0", "win32",
               "C:\\Windows\\Downloaded Program Files\\Жук\\CTL.OCX");
    AddTypeLib("{44444444-0000-0000-0000-000000000002}\\1.0", "win32",
               "c:\\windows\\occache\\控件\\grid.ocx");
    AddTypeLib("{44444444-0000-0000-0000-000000000003}\\1.0", "win32",
               "C:\\WINDOWS\\Downloaded Program Files\\Ωmega\\\U0001F600.OCX");
    AddTypeLib("{44444444-0000-0000-0000-000000000004}\\1.0", "win32",
               "C:\\Windows\\Downloaded Program Files\\жук\\ctl.ocx");
    AddTypeLib("{44444444-0000-0000-0000-000000000005}\\1.0", "win32",
               "C:\\Windows\\Downloaded Program Files\\Omega\\\U0001F600.ocx");

    Entries expected = {
        "c:\\windows\\downloaded program files\\жук\\ctl.ocx",
        "c:\\windows\\downloaded program files\\omega\\\U0001F600.ocx",
    };
    EXPECT_EQ(Sorted(expected), Sorted(ScanTypeLibs()));
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
             "C:/Windows/occache/Ärger.ocx",
             "C:/Windows/Downloaded Program Files Extra/more.ocx",
             "C:/Windows/Downloaded Program Files/Жук/ctl.ocx",
             "C:/Windows/OCCACHE/控件/Grid.ocx",
             "C:/Windows/occache/\U0001F600.ocx",
             "C:/Windows/occache/\uFFFD.ocx",
         })
        RegisterDownload(name);
    // The longest name's whole path is longer than MAX_PATH, which not every
    // registry call takes, so the name goes in below ModuleUsage opened.
    HKEY moduleUsage, created;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH, 0, KEY_ALL_ACCESS,
                                           &moduleUsage));
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(moduleUsage, Wide(longName).c_str(), 0, NULL, 0,
                                             KEY_ALL_ACCESS, NULL, &created, NULL));
    RegCloseKey(created);
    std::string longPath = longName;
    std::replace(longPath.begin(), longPath.end(), '/', '\\');

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
        {"c:\\windows\\occache\\ärger.ocx", FALSE},
        {"c:\\windows\\occache\\Ärger.ocx", TRUE},
        {"c:\\windows\\occache\\grid.ocx.bak", FALSE},
        {"c:\\windows\\occache\\grid.oc", FALSE},
        {"c:\\windows\\occache\\", FALSE},
        {"", FALSE},
        {"C:\\WINDOWS\\DOWNLOADED PROGRAM FILES\\Жук\\CTL.OCX", TRUE},
        {"c:\\windows\\downloaded program files\\жук\\ctl.ocx", FALSE},
        {"c:\\windows\\downloaded program files\\?uk\\ctl.ocx", FALSE},
        {"c:\\windows\\occache\\控件\\grid.ocx", TRUE},
        // Code-unit order puts a surrogate pair before U+FFFD; the names
        // read once must still be found by their own order.
        {"C:\\Windows\\OCCACHE\\\U0001F600.OCX", TRUE},
        {"c:\\windows\\occache\\\uFFFD.ocx", TRUE},
        {"c:\\windows\\occache\\\U0001F601.ocx", FALSE},
    };

    ModuleUsageIndex index;
    ASSERT_EQ(ERROR_SUCCESS, ReadModuleUsageIndex(index, VIEW_32));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        WideText path = Wide(c.path);
        EXPECT_EQ(c.downloaded, IsDownloadedControl(NULL, path.c_str(), VIEW_32));
        EXPECT_EQ(c.downloaded, IsIndexedDownload(index, path.c_str()));
    }
    FreeModuleUsageIndex(index);
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(moduleUsage, Wide(longName).c_str()));
    RegCloseKey(moduleUsage);
}
