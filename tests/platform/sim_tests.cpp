#include "app/control_ids.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <shlobj.h>
#include <win32sim.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

typedef std::vector<std::string> Names;

// The stand-in's own test controls: faults, the scripted user, message boxes
// and what it records.
class SimTest : public testing::Test {
  protected:
    void SetUp() override
    {
        SimReset();
    }

    static Names WalkSubkeys(HKEY root, const char* path, LONG* endStatus)
    {
        Names names;
        HKEY key;
        EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(root, Wide(path).c_str(), 0, KEY_READ, &key));
        WCHAR name[MAX_PATH];
        DWORD index = 0;
        while ((*endStatus = RegEnumKeyW(key, index++, name, MAX_PATH)) == ERROR_SUCCESS)
            names.push_back(Utf8(name));
        RegCloseKey(key);
        return names;
    }
};

TEST_F(SimTest, DeniedOpenHitsExactlyThatKey)
{
    CreateRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Denied\\Child");
    SimDenyKeyOpen(HKEY_LOCAL_MACHINE, "software\\DENIED");
    HKEY key;

    EXPECT_EQ(ERROR_ACCESS_DENIED,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("SOFTWARE\\Denied\\"), 0, KEY_READ, &key));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("SOFTWARE\\Denied\\Child"), 0,
                                           KEY_READ, &key));
    RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("SOFTWARE"), 0, KEY_READ, &key));
    RegCloseKey(key);
}

// Fault paths are UTF-8 and name keys as the registry does, folding case
// beyond ASCII too; the ANSI forms meet the same faults.
TEST_F(SimTest, FaultsNameKeysWithoutRegardToCaseInAnyScript)
{
    CreateRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Жук\\a");
    CreateRegistryKey(HKEY_CLASSES_ROOT, "CAFÉ");
    SimFailEnumAt(HKEY_LOCAL_MACHINE, "software\\жУК", 0, ERROR_ACCESS_DENIED);
    SimDenyKeyOpen(HKEY_CLASSES_ROOT, "café");
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide("SOFTWARE\\Жук").c_str(), 0, KEY_READ, &key));
    WCHAR name[8];
    char ansiName[8];
    DWORD size = 8;

    EXPECT_EQ(ERROR_ACCESS_DENIED, RegEnumKeyW(key, 0, name, 8));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegEnumKeyA(key, 0, ansiName, 8));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegEnumValueA(key, 0, ansiName, &size, NULL, NULL, NULL, NULL));
    RegCloseKey(key);
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide("SOFTWARE\\Classes\\Café").c_str(), 0,
                            KEY_READ, &key));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExA(HKEY_CLASSES_ROOT, "caf\xc9", 0, KEY_READ, &key));
    EXPECT_EQ(0, SimOpenKeyCount());
}

TEST_F(SimTest, ClassesRootFaultsReachTheMachineClasses)
{
    CreateRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\CLSID");
    SimDenyKeyOpen(HKEY_CLASSES_ROOT, "CLSID");
    HKEY key;

    EXPECT_EQ(
        ERROR_ACCESS_DENIED,
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("SOFTWARE\\Classes\\CLSID"), 0, KEY_READ, &key));
}

TEST_F(SimTest, FailedEnumerationAnswersAtThatIndexOnly)
{
    for (const char* name : {"a", "b", "c"}) {
        CreateRegistryKey(HKEY_LOCAL_MACHINE, std::string("SOFTWARE\\Walk\\") + name);
        SetRegistryText(HKEY_LOCAL_MACHINE, "SOFTWARE\\Walk", name, "x");
    }
    SimFailEnumAt(HKEY_LOCAL_MACHINE, "SOFTWARE\\Walk", 1, ERROR_MORE_DATA);
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("SOFTWARE\\Walk"), 0, KEY_READ, &key));
    WCHAR name[16];
    DWORD size = 16;

    EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyW(key, 0, name, 16));
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyW(key, 1, name, 16));
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyW(key, 1, name, 16));
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueW(key, 1, name, &size, NULL, NULL, NULL, NULL));
    EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyW(key, 2, name, 16));
    RegCloseKey(key);
}

TEST_F(SimTest, ActionBeforeAnEnumerationRunsOnceAndCanChangeTheWalk)
{
    for (const char* name : {"a", "b", "c"})
        CreateRegistryKey(HKEY_LOCAL_MACHINE, std::string("SOFTWARE\\Walk\\") + name);
    int runs = 0;
    SimBeforeEnumAt(HKEY_LOCAL_MACHINE, "SOFTWARE\\Walk", 1, [&] {
        ++runs;
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, TEXT("SOFTWARE\\Walk\\b"));
    });
    LONG end;

    EXPECT_EQ((Names{"a", "c"}), WalkSubkeys(HKEY_LOCAL_MACHINE, "SOFTWARE\\Walk", &end));
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, end);
    EXPECT_EQ((Names{"a", "c"}), WalkSubkeys(HKEY_LOCAL_MACHINE, "SOFTWARE\\Walk", &end));
    EXPECT_EQ(1, runs);
}

TEST_F(SimTest, ActionCanDeleteTheKeyBeingWalked)
{
    CreateRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Walk\\a");
    CreateRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Walk\\b");
    SimBeforeEnumAt(HKEY_LOCAL_MACHINE, "SOFTWARE\\Walk", 1,
                    [] { DeleteRegistryTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Walk"); });
    LONG end;

    EXPECT_EQ(Names{"a"}, WalkSubkeys(HKEY_LOCAL_MACHINE, "SOFTWARE\\Walk", &end));
    EXPECT_EQ(ERROR_KEY_DELETED, end);
}

TEST_F(SimTest, OpenKeyCountLeavesOutPredefinedRoots)
{
    HKEY first, second;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT(""), 0, KEY_READ, &first));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(first, NULL, 0, KEY_READ, &second));
    RegCloseKey(HKEY_CLASSES_ROOT);

    EXPECT_EQ(2, SimOpenKeyCount());
    RegCloseKey(first);
    EXPECT_EQ(1, SimOpenKeyCount());
    RegCloseKey(second);
    EXPECT_EQ(0, SimOpenKeyCount());
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(second));
}

// A dialog procedure that logs what reaches it and leaves the rest to the
// default processing. The list's focus notifications are logged on request.
static std::vector<std::string> g_log;
static bool g_logFocus;

static INT_PTR CALLBACK Logging(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    bool focus = HIWORD(wParam) == LBN_SETFOCUS || HIWORD(wParam) == LBN_KILLFOCUS;
    if (message == WM_COMMAND && LOWORD(wParam) == IDC_CONTROL_LIST && focus && !g_logFocus)
        return TRUE;
    if (message == WM_COMMAND) {
        HWND from = reinterpret_cast<HWND>(lParam);
        g_log.push_back(
            "command " + std::to_string(LOWORD(wParam)) + "/" + std::to_string(HIWORD(wParam)) +
            (from && from == GetDlgItem(dialog, LOWORD(wParam)) ? " from control" : ""));
        if (LOWORD(wParam) == IDCANCEL)
            EndDialog(dialog, 99);
        return TRUE;
    }
    if (message == WM_APP) {
        g_log.push_back("app " + std::to_string(wParam));
        return TRUE;
    }
    return message == WM_INITDIALOG;
}

static INT_PTR RunMain()
{
    return DialogBoxParamW(GetModuleHandleW(NULL), IDD_MAIN, NULL, Logging, 0);
}

class SimDialogTest : public SimTest {
  protected:
    void SetUp() override
    {
        SimTest::SetUp();
        g_log.clear();
        g_logFocus = false;
    }
};

TEST_F(SimDialogTest, IdleLoopWithoutActionsStallsAndEndsWithMinusOne)
{
    EXPECT_EQ(-1, RunMain());

    EXPECT_EQ(1, SimStallCount());
    EXPECT_EQ(nullptr, SimActiveDialog());
}

TEST_F(SimDialogTest, PostedMessagesGoBeforeTheNextUserAction)
{
    SimAddUserAction([] {
        PostMessageW(SimActiveDialog(), WM_APP, 1, 0);
        PostMessageW(SimActiveDialog(), WM_APP, 2, 0);
    });
    SimAddUserAction([] { SimPressEscape(SimActiveDialog()); });

    EXPECT_EQ(99, RunMain());

    EXPECT_EQ((Names{"app 1", "app 2", "command 2/0 from control"}), g_log);
    EXPECT_EQ(0, SimStallCount());
}

// Clicks move the focus as a mouse does: to the button, to the list.
TEST_F(SimDialogTest, UserActionsReachOnlyEnabledControls)
{
    g_logFocus = true;
    SimAddUserAction([] {
        HWND dialog = SimActiveDialog();
        SimClickButton(dialog, IDC_DELETE);
        SimClickButton(dialog, IDC_REFRESH);
        SendDlgItemMessageW(dialog, IDC_CONTROL_LIST, LB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(TEXT("entry")));
        SimSelectListEntry(dialog, IDC_CONTROL_LIST, 1);
        SimSelectListEntry(dialog, IDC_CONTROL_LIST, 0);
        SimCloseFromSystemMenu(dialog);
    });

    EXPECT_EQ(99, RunMain());

    EXPECT_EQ((Names{"command 103/4 from control", "command 103/5 from control",
                     "command 5/0 from control", "command 103/4 from control",
                     "command 103/1 from control", "command 2/0 from control",
                     "command 103/5 from control"}),
              g_log);
}

TEST_F(SimDialogTest, EndedDialogKeepsItsContentsForTheTest)
{
    HWND seen = NULL;
    SimAddUserAction([&] {
        seen = SimActiveDialog();
        SetDlgItemTextW(seen, IDC_VERSION, Wide("1.0 Ωmega").c_str());
        SendDlgItemMessageW(seen, IDC_CONTROL_LIST, LB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(Wide("Жук").c_str()));
        PostMessageW(seen, WM_APP, 3, 0);
        EndDialog(seen, 4);
    });

    EXPECT_EQ(4, RunMain());

    EXPECT_FALSE(IsWindow(seen));
    EXPECT_EQ("1.0 Ωmega", SimWindowText(seen, IDC_VERSION));
    EXPECT_EQ(Names{"Жук"}, SimListItems(seen, IDC_CONTROL_LIST));
    EXPECT_EQ(Names{}, g_log);
}

TEST_F(SimDialogTest, OwnerOfANestedDialogTakesNoClicks)
{
    HWND outer = NULL;
    SimAddUserAction([&] {
        outer = SimActiveDialog();
        SimAddUserAction([&] {
            SimClickButton(outer, IDC_REFRESH);
            PostMessageW(outer, WM_APP, 1, 0);
            SimAddUserAction([] { SimPressEscape(SimActiveDialog()); });
        });
        DialogBoxParamW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDD_ABOUT), outer, Logging, 0);
        g_log.push_back(SimActiveDialog() == outer ? "back" : "lost");
        SimPressEscape(outer);
    });

    EXPECT_EQ(99, RunMain());

    EXPECT_EQ((Names{"app 1", "command 2/0", "back", "command 2/0 from control"}), g_log);
}

TEST_F(SimDialogTest, MessageBoxDispatchesPostedMessagesThenTakesTheScriptedAnswer)
{
    SimAnswerMessageBox(IDYES);
    SimAddUserAction([] {
        HWND dialog = SimActiveDialog();
        PostMessageW(dialog, WM_APP, 1, 0);
        g_log.push_back("answer " + std::to_string(MessageBoxW(dialog, Wide("Sure? Ωmega").c_str(),
                                                               TEXT("Burrowlens"), MB_YESNO)));
        g_log.push_back("answer " +
                        std::to_string(MessageBoxW(dialog, TEXT("Again?"), NULL, MB_OK)));
        EndDialog(dialog, 0);
    });

    RunMain();

    EXPECT_EQ((Names{"app 1", "answer 6", "answer 0"}), g_log);
    ASSERT_EQ(2u, SimMessageBoxes().size());
    const SimMessageBox& first = SimMessageBoxes()[0];
    EXPECT_EQ("Sure? Ωmega", first.text);
    EXPECT_EQ("Burrowlens", first.caption);
    EXPECT_EQ(static_cast<UINT>(MB_YESNO), first.type);
    EXPECT_TRUE(first.scripted);
    EXPECT_EQ("Error", SimMessageBoxes()[1].caption);
    EXPECT_FALSE(SimMessageBoxes()[1].scripted);
    EXPECT_EQ(1, SimUnscriptedMessageBoxCount());
}

TEST_F(SimDialogTest, FailingAddsAddNothing)
{
    SimAddUserAction([] {
        HWND dialog = SimActiveDialog();
        SimFailListAdds(1);
        for (const WCHAR* text : {TEXT("lost"), TEXT("kept")}) {
            g_log.push_back(std::to_string(SendDlgItemMessageW(
                dialog, IDC_CONTROL_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text))));
        }
        EndDialog(dialog, 0);
    });

    RunMain();

    EXPECT_EQ((Names{"-2", "0"}), g_log);
}

TEST_F(SimTest, RecordsCursorsBeepsAndIcons)
{
    SetCursor(LoadCursorW(NULL, IDC_WAIT));
    SetCursor(LoadCursorW(NULL, IDC_ARROW));
    MessageBeep(MB_ICONHAND);
    DrawIcon(NULL, 0, 0, LoadIconW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDI_PROGRAM)));

    EXPECT_EQ((std::vector<int>{32514, 32512}), SimCursorHistory());
    EXPECT_EQ(std::vector<UINT>{static_cast<UINT>(MB_ICONHAND)}, SimBeepHistory());
    EXPECT_EQ(1, SimDrawIconCount());

    SimReset();

    EXPECT_TRUE(SimCursorHistory().empty());
    EXPECT_TRUE(SimBeepHistory().empty());
    EXPECT_EQ(0, SimDrawIconCount());
}

TEST_F(SimTest, ResetEmptiesTheRegistryAndForgetsFaults)
{
    CreateRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept");
    SimDenyKeyOpen(HKEY_LOCAL_MACHINE, "SOFTWARE");

    SimReset();

    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept"));
    CreateRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE");
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE"));
}

// Places a file on C:, whose host folder the stand-in owns.
static void PlaceFile(const char* windowsPath)
{
    std::filesystem::path host = SimHostPath(windowsPath);
    std::filesystem::create_directories(host.parent_path());
    std::ofstream(host) << "x";
}

static HANDLE OpenAttributes(const char* windowsPath)
{
    return CreateFileW(Wide(windowsPath).c_str(), FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, NULL);
}

// Only the stand-in answers 8.3 names of the PREFIX~N form (Wine makes up
// others), so this is where they meet the file index. U+0441 is the Cyrillic
// letter that looks like 'c': another name, another file.
TEST_F(SimTest, EveryNameOfAFileGivesItsIndexAndHostPath)
{
    PlaceFile("C:\\Program Files\\Жук\\c.ocx");
    PlaceFile("C:\\Program Files\\Жук\\\u0441.ocx");
    HANDLE file = OpenAttributes("C:\\Program Files\\Жук\\c.ocx");
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    BY_HANDLE_FILE_INFORMATION expected;
    ASSERT_TRUE(GetFileInformationByHandle(file, &expected));
    CloseHandle(file);
    const struct {
        const char* path;
        bool same;
    } cases[] = {
        {"C:\\PROGRA~1\\жук\\C.OCX", true},
        {"c:/progra~1/ЖУК/c.ocx. .", true},
        {"C:\\Program Files\\Жук\\\u0441.ocx", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        BY_HANDLE_FILE_INFORMATION information;

        HANDLE other = OpenAttributes(c.path);

        ASSERT_NE(INVALID_HANDLE_VALUE, other);
        ASSERT_TRUE(GetFileInformationByHandle(other, &information));
        CloseHandle(other);
        EXPECT_EQ(c.same, information.nFileIndexLow == expected.nFileIndexLow &&
                              information.nFileIndexHigh == expected.nFileIndexHigh);
        EXPECT_EQ(c.same, SimHostPath(c.path) == SimHostPath("C:\\Program Files\\Жук\\c.ocx"));
    }
    SetLastError(0);
    EXPECT_EQ(INVALID_HANDLE_VALUE, OpenAttributes("C:\\PROGRA~2\\Жук\\c.ocx"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
}

// Files, searches and started processes hold handles until they are closed,
// each by its own function, or until the reset.
TEST_F(SimTest, OpenHandlesAreCountedUntilClosed)
{
    PlaceFile("C:\\Жук\\srv.exe");
    HANDLE file = OpenAttributes("C:\\Жук\\srv.exe");
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(Wide("C:\\Жук\\srv.exe").c_str(), &found);
    WideText command = Wide("\"C:\\Жук\\srv.exe\" /UnregServer");
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(
        CreateProcessW(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process));

    EXPECT_EQ(4, SimOpenHandleCount());
    EXPECT_EQ(std::vector<std::string>{"\"C:\\Жук\\srv.exe\" /UnregServer"}, SimProcessCommands());
    EXPECT_FALSE(CloseHandle(search));
    EXPECT_TRUE(FindClose(search));
    EXPECT_TRUE(CloseHandle(process.hThread));
    EXPECT_TRUE(CloseHandle(process.hProcess));
    EXPECT_EQ(1, SimOpenHandleCount());
    EXPECT_FALSE(CloseHandle(process.hProcess));

    SimReset();

    EXPECT_EQ(0, SimOpenHandleCount());
    EXPECT_FALSE(CloseHandle(file));
}

static DWORD ErrorOf(BOOL done)
{
    return done ? ERROR_SUCCESS : GetLastError();
}

// Closes what opened, to tell only whether it did.
static DWORD CloseOrError(HANDLE file)
{
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    CloseHandle(file);
    return ERROR_SUCCESS;
}

static FILETIME Time(unsigned long long ticks)
{
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// A power cut needs something of each kind to change: registry keys and
// values below SOFTWARE\Cut, and C:\cut with a file open for writing.
class PowerCutTest : public SimTest {
  protected:
    void Arrange()
    {
        SimReset();
        SetRegistryText(HKEY_LOCAL_MACHINE, "SOFTWARE\\Cut\\Key", "v", "x");
        CreateRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Cut\\Key\\Leaf");
        ASSERT_TRUE(CreateDirectoryW(TEXT("C:\\cut"), NULL));
        ASSERT_TRUE(CreateDirectoryW(TEXT("C:\\cut\\empty"), NULL));
        writer = CreateFileW(TEXT("C:\\cut\\file.txt"), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                             CREATE_NEW, 0, NULL);
        ASSERT_NE(INVALID_HANDLE_VALUE, writer);
    }

    // Everything a change could alter, one sorted line each.
    static Names Snapshot()
    {
        Names lines;
        std::function<void(const std::string&)> walk = [&](const std::string& path) {
            HKEY key;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(path).c_str(), 0, KEY_READ, &key) != 0)
                return;
            lines.push_back(path);
            WCHAR name[MAX_PATH];
            BYTE data[64];
            DWORD nameSize = MAX_PATH, dataSize = sizeof data;
            for (DWORD i = 0; RegEnumValueW(key, i, name, &nameSize, NULL, NULL, data, &dataSize) ==
                              ERROR_SUCCESS;
                 ++i, nameSize = MAX_PATH, dataSize = sizeof data)
                lines.push_back(path + " " + Utf8(name) + "=" + std::string(data, data + dataSize));
            Names children;
            for (DWORD i = 0; RegEnumKeyW(key, i, name, MAX_PATH) == ERROR_SUCCESS; ++i)
                children.push_back(Utf8(name));
            RegCloseKey(key);
            for (const std::string& child : children)
                walk(path + "\\" + child);
        };
        walk("SOFTWARE\\Cut");
        std::filesystem::path root = SimHostPath("C:\\cut");
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
            std::string path = "C:\\cut\\" + entry.path().lexically_relative(root).string();
            std::replace(path.begin(), path.end(), '/', '\\');
            WIN32_FIND_DATAW found;
            FindClose(FindFirstFileW(Wide(path).c_str(), &found));
            lines.push_back(path + " " + std::to_string(found.dwFileAttributes) + " " +
                            std::to_string(found.nFileSizeLow) + " " +
                            std::to_string(found.ftLastWriteTime.dwLowDateTime));
        }
        std::sort(lines.begin(), lines.end());
        return lines;
    }

    static LONG WithKey(const std::function<LONG(HKEY)>& change)
    {
        HKEY key;
        LONG status =
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("SOFTWARE\\Cut\\Key"), 0, KEY_ALL_ACCESS, &key);
        if (status == ERROR_SUCCESS) {
            status = change(key);
            RegCloseKey(key);
        }
        return status;
    }

    HANDLE writer = INVALID_HANDLE_VALUE;
};

// With the power off a change call fails and leaves everything, the count
// included, as it was; with the power back the same call goes through.
TEST_F(PowerCutTest, EveryKindOfChangeFailsWithoutChangingAnything)
{
    const FILETIME written = Time(0x1e22fa2cdf69b44);
    const struct {
        const char* name;
        std::function<DWORD(HANDLE)> change;
    } cases[] = {
        {"RegCreateKeyExW",
         [](HANDLE) -> DWORD {
             HKEY key;
             LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, TEXT("SOFTWARE\\Cut\\New\\Deep"), 0,
                                           NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL);
             if (status == ERROR_SUCCESS)
                 RegCloseKey(key);
             return static_cast<DWORD>(status);
         }},
        {"RegSetValueExW",
         [](HANDLE) -> DWORD {
             return WithKey([](HKEY key) {
                 return RegSetValueExW(key, TEXT("v"), 0, REG_SZ,
                                       reinterpret_cast<const BYTE*>(TEXT("y")), 4);
             });
         }},
        {"RegDeleteValueW",
         [](HANDLE) -> DWORD {
             return WithKey([](HKEY key) { return RegDeleteValueW(key, TEXT("v")); });
         }},
        {"RegDeleteKeyW",
         [](HANDLE) -> DWORD {
             return RegDeleteKeyW(HKEY_LOCAL_MACHINE, TEXT("SOFTWARE\\Cut\\Key\\Leaf"));
         }},
        {"CreateFileW CREATE_NEW",
         [](HANDLE) {
             return CloseOrError(CreateFileW(TEXT("C:\\cut\\new.txt"), GENERIC_WRITE, 0, NULL,
                                             CREATE_NEW, 0, NULL));
         }},
        {"CreateFileW CREATE_ALWAYS",
         [](HANDLE) {
             return CloseOrError(CreateFileW(TEXT("C:\\cut\\file.txt"), GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                             CREATE_ALWAYS, 0, NULL));
         }},
        {"WriteFile",
         [](HANDLE writer) {
             DWORD done;
             return ErrorOf(WriteFile(writer, "abc", 3, &done, NULL));
         }},
        {"SetFileTime",
         [&](HANDLE writer) { return ErrorOf(SetFileTime(writer, NULL, NULL, &written)); }},
        {"SetFileAttributesW",
         [](HANDLE) {
             return ErrorOf(SetFileAttributesW(TEXT("C:\\cut\\file.txt"), FILE_ATTRIBUTE_HIDDEN));
         }},
        {"DeleteFileW", [](HANDLE) { return ErrorOf(DeleteFileW(TEXT("C:\\cut\\file.txt"))); }},
        {"MoveFileW",
         [](HANDLE) { return ErrorOf(MoveFileW(TEXT("C:\\cut\\empty"), TEXT("C:\\cut\\moved"))); }},
        {"CreateDirectoryW",
         [](HANDLE) { return ErrorOf(CreateDirectoryW(TEXT("C:\\cut\\new"), NULL)); }},
        {"RemoveDirectoryW",
         [](HANDLE) { return ErrorOf(RemoveDirectoryW(TEXT("C:\\cut\\empty"))); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Arrange();
        DWORD done;
        // Something for CREATE_ALWAYS to empty, not counted by the change itself.
        ASSERT_TRUE(WriteFile(writer, "abc", 3, &done, NULL));
        const long changes = SimChangeCount();
        const Names before = Snapshot();
        SimCutAfterChanges(0);

        EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), c.change(writer));

        EXPECT_EQ(before, Snapshot());
        EXPECT_EQ(changes, SimChangeCount());
        SimCutAfterChanges(-1);
        EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), c.change(writer));
        EXPECT_NE(before, Snapshot());
        EXPECT_EQ(changes + 1, SimChangeCount());
    }
}

// Failing rather than pretending: a loop that deletes the first subkey until
// none is left stops when the power goes, and the registry still reads.
TEST_F(SimTest, PowerCutLetsTheGivenChangesThroughThenStopsUntilTheReset)
{
    for (const char* name : {"a", "b", "c"})
        CreateRegistryKey(HKEY_LOCAL_MACHINE, std::string("SOFTWARE\\Walk\\") + name);
    const long changes = SimChangeCount();
    SimCutAfterChanges(2);
    HKEY walk;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("SOFTWARE\\Walk"), 0, KEY_ALL_ACCESS, &walk));
    WCHAR name[16];
    LONG status;
    int deleted = 0;

    while ((status = RegEnumKeyW(walk, 0, name, 16)) == ERROR_SUCCESS &&
           RegDeleteKeyW(walk, name) == ERROR_SUCCESS)
        ++deleted;

    RegCloseKey(walk);
    EXPECT_EQ(2, deleted);
    EXPECT_EQ(ERROR_SUCCESS, status);
    EXPECT_EQ(Names{"c"}, WalkSubkeys(HKEY_LOCAL_MACHINE, "SOFTWARE\\Walk", &status));
    EXPECT_EQ(changes + 2, SimChangeCount());
    SimReset();
    EXPECT_EQ(0, SimChangeCount());
    CreateRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Walk");
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Walk"));
}

TEST_F(SimTest, FullDiskWritesWhatFitsThenFails)
{
    HANDLE file = CreateFileW(TEXT("C:\\full.bin"), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    SimFailWritesAfter(5, ERROR_DISK_FULL);
    const long changes = SimChangeCount();
    const struct {
        const char* bytes;
        bool succeeds;
        DWORD written;
    } writes[] = {{"abc", true, 3}, {"defg", false, 2}, {"", true, 0}, {"h", false, 0}};
    for (const auto& w : writes) {
        SCOPED_TRACE(w.bytes);
        DWORD written = 0xDEAD;
        SetLastError(0);

        EXPECT_EQ(w.succeeds, WriteFile(file, w.bytes, static_cast<DWORD>(strlen(w.bytes)),
                                        &written, NULL) != FALSE);

        EXPECT_EQ(w.written, written);
        EXPECT_EQ(w.succeeds ? 0u : static_cast<DWORD>(ERROR_DISK_FULL), GetLastError());
    }
    EXPECT_EQ(changes + 2, SimChangeCount());
    SimFailWritesAfter(-1, 0);
    DWORD written;
    EXPECT_TRUE(WriteFile(file, "ij", 2, &written, NULL));
    CloseHandle(file);
    std::ifstream host(SimHostPath("C:\\full.bin"));
    EXPECT_EQ("abcdeij", std::string(std::istreambuf_iterator<char>(host), {}));
}

// The folder may not exist yet when it is denied; a name that merely starts
// like it is another folder.
TEST_F(SimTest, DeniedFolderTakesNothingNewBelowIt)
{
    SimDenyFileCreate("C:\\Locked");
    ASSERT_TRUE(CreateDirectoryW(TEXT("C:\\locked"), NULL));
    PlaceFile("C:\\Locked\\old.txt");
    PlaceFile("C:\\outside.txt");
    const struct {
        const char* name;
        std::function<DWORD()> create;
        DWORD error;
    } cases[] = {
        {"file",
         [] {
             return CloseOrError(CreateFileW(TEXT("C:\\LOCKED\\a.txt"), GENERIC_WRITE, 0, NULL,
                                             CREATE_NEW, 0, NULL));
         },
         ERROR_ACCESS_DENIED},
        {"folder", [] { return ErrorOf(CreateDirectoryW(TEXT("C:\\Locked\\sub"), NULL)); },
         ERROR_ACCESS_DENIED},
        {"move in",
         [] { return ErrorOf(MoveFileW(TEXT("C:\\outside.txt"), TEXT("C:\\Locked\\in.txt"))); },
         ERROR_ACCESS_DENIED},
        {"existing file",
         [] {
             return CloseOrError(CreateFileW(TEXT("C:\\Locked\\old.txt"), GENERIC_READ, 0, NULL,
                                             OPEN_EXISTING, 0, NULL));
         },
         ERROR_SUCCESS},
        {"sibling", [] { return ErrorOf(CreateDirectoryW(TEXT("C:\\Locked2"), NULL)); },
         ERROR_SUCCESS},
        {"below sibling",
         [] {
             return CloseOrError(CreateFileW(TEXT("C:\\Locked2\\a.txt"), GENERIC_WRITE, 0, NULL,
                                             CREATE_NEW, 0, NULL));
         },
         ERROR_SUCCESS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);

        EXPECT_EQ(c.error, c.create());
    }
}

// 2026-01-02 is a Friday; a set time rolls over the year as a clock does.
TEST_F(SimTest, ClockMovesOnASecondAtEveryCall)
{
    SYSTEMTIME millennium = {1999, 12, 5, 31, 23, 59, 59, 999};
    const struct {
        bool set;
        SYSTEMTIME expected;
    } calls[] = {
        {false, {2026, 1, 5, 2, 3, 4, 5, 678}},
        {false, {2026, 1, 5, 2, 3, 4, 6, 678}},
        {true, millennium},
        {false, {2000, 1, 6, 1, 0, 0, 0, 999}},
    };
    for (const auto& call : calls) {
        SCOPED_TRACE(testing::Message() << call.expected.wYear << "-" << call.expected.wSecond);
        if (call.set)
            SimSetSystemTime(millennium);
        SYSTEMTIME now;
        memset(&now, 0xFF, sizeof now);

        GetSystemTime(&now);

        EXPECT_EQ(0, memcmp(&call.expected, &now, sizeof now));
    }
}

// Short names count the long names of their folder that share the stem, in
// upper-case order, as the path calls resolve them; beyond ~9 the stem
// shortens. What 8.3 cannot hold becomes '_'.
TEST_F(SimTest, ShortNamesResolveBackToTheirFile)
{
    for (const char* name : {"Long Name Two.txt", "Long Name One.txt", "Long Name.html", "c.ocx"})
        PlaceFile((std::string("C:\\Program Files\\Жук и.ж\\") + name).c_str());
    for (int i = 0; i < 10; ++i)
        PlaceFile(("C:\\reports\\Report " + std::to_string(i) + ".text").c_str());
    const struct {
        const char* path;
        const char* shortPath;
    } cases[] = {
        {"C:\\Program Files\\Жук и.ж\\Long Name One.txt", "C:\\PROGRA~1\\____~1._\\LONGNA~1.TXT"},
        {"c:/program files/жук и.ж/long name two.txt", "c:\\PROGRA~1\\____~1._\\LONGNA~2.TXT"},
        {"C:\\Program Files\\Жук и.ж\\Long Name.html", "C:\\PROGRA~1\\____~1._\\LONGNA~1.HTM"},
        {"C:\\PROGRA~1\\Жук и.ж\\c.ocx", "C:\\PROGRA~1\\____~1._\\c.ocx"},
        {"C:\\reports\\Report 9.text", "C:\\reports\\REPOR~10.TEX"},
        {"C:\\reports\\", "C:\\reports\\"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        WCHAR shortPath[MAX_PATH];

        DWORD length = GetShortPathNameW(Wide(c.path).c_str(), shortPath, MAX_PATH);

        EXPECT_EQ(c.shortPath, Utf8(shortPath));
        EXPECT_EQ(strlen(c.shortPath), length);
        EXPECT_EQ(SimHostPath(c.path), SimHostPath(c.shortPath));
    }
    WIN32_FIND_DATAW found;
    FindClose(FindFirstFileW(TEXT("C:\\reports\\Report 0.text"), &found));
    EXPECT_EQ("REPORT~1.TEX", Utf8(found.cAlternateFileName));
}

// Marks, times and attributes belong to the file wherever it goes (read-only
// still refuses writing there, as on Windows), and not to a new file that
// takes its old name. Windows refuses to move what is open.
TEST_F(SimTest, MovedFilesKeepTheirMarksAndOpenOnesStay)
{
    PlaceFile("C:\\from\\a.ocx");
    FILETIME created = Time(0x1e22fa2cdf69b44), written = Time(0x1e3660fc5421fc4);
    SimSetFileTimes("C:\\from\\a.ocx", created, written, written);
    SimSetFileInUse("C:\\from\\a.ocx", true);
    ASSERT_TRUE(SetFileAttributesW(TEXT("C:\\from\\a.ocx"),
                                   FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    HANDLE below =
        CreateFileW(TEXT("C:\\from\\a.ocx"), FILE_READ_ATTRIBUTES, 0, NULL, OPEN_EXISTING, 0, NULL);

    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION),
              ErrorOf(MoveFileW(TEXT("C:\\from\\a.ocx"), TEXT("C:\\from\\b.ocx"))));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED),
              ErrorOf(MoveFileW(TEXT("C:\\from"), TEXT("C:\\to"))));
    CloseHandle(below);
    ASSERT_TRUE(MoveFileW(TEXT("C:\\FROM"), TEXT("C:\\to")));

    WIN32_FIND_DATAW found;
    FindClose(FindFirstFileW(TEXT("C:\\to\\a.ocx"), &found));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
              found.dwFileAttributes);
    EXPECT_EQ(0, memcmp(&created, &found.ftCreationTime, sizeof created));
    EXPECT_EQ(0, memcmp(&written, &found.ftLastWriteTime, sizeof written));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION),
              ErrorOf(MoveFileW(TEXT("C:\\to\\a.ocx"), TEXT("C:\\to\\b.ocx"))));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED),
              CloseOrError(CreateFileW(TEXT("C:\\to\\a.ocx"), GENERIC_WRITE, FILE_SHARE_READ, NULL,
                                       OPEN_EXISTING, 0, NULL)));
    PlaceFile("C:\\from\\a.ocx");
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE),
              GetFileAttributesW(TEXT("C:\\from\\a.ocx")));
    EXPECT_TRUE(DeleteFileW(TEXT("C:\\from\\a.ocx")));
}

// The profile is made on demand and its making is no change of the program's.
TEST_F(SimTest, LocalAppDataIsMadeWhenAskedForAndCanFail)
{
    const struct {
        int folder;
        HRESULT failure;
        HRESULT result;
        const char* path;
    } cases[] = {
        {CSIDL_LOCAL_APPDATA, 0, E_FAIL, ""},
        {CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, 0, S_OK,
         "C:\\users\\Burrowlens Tester\\AppData\\Local"},
        {CSIDL_LOCAL_APPDATA, 0, S_OK, "C:\\users\\Burrowlens Tester\\AppData\\Local"},
        {CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, static_cast<HRESULT>(0x80070005),
         static_cast<HRESULT>(0x80070005), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.folder << " " << c.failure);
        SimFailFolderPath(c.failure);
        WCHAR path[MAX_PATH];
        path[0] = '#';

        EXPECT_EQ(c.result, SHGetFolderPathW(NULL, c.folder, NULL, SHGFP_TYPE_CURRENT, path));

        EXPECT_EQ(c.path, Utf8(path));
    }
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY),
              GetFileAttributesW(TEXT("C:\\users\\Burrowlens Tester\\AppData\\Local")));
    EXPECT_EQ(0, SimChangeCount());
}
