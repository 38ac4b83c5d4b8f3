#include "app/control_ids.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <win32sim.h>

#include <filesystem>
#include <fstream>
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
