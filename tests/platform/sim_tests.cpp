#include "app/control_ids.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <win32sim.h>

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
        EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root, path, 0, KEY_READ, &key));
        char name[MAX_PATH];
        DWORD index = 0;
        while ((*endStatus = RegEnumKeyA(key, index++, name, sizeof name)) == ERROR_SUCCESS)
            names.push_back(name);
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
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Denied\\", 0, KEY_READ, &key));
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Denied\\Child", 0, KEY_READ, &key));
    RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &key));
    RegCloseKey(key);
}

TEST_F(SimTest, ClassesRootFaultsReachTheMachineClasses)
{
    CreateRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\CLSID");
    SimDenyKeyOpen(HKEY_CLASSES_ROOT, "CLSID");
    HKEY key;

    EXPECT_EQ(ERROR_ACCESS_DENIED,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\CLSID", 0, KEY_READ, &key));
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
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Walk", 0, KEY_READ, &key));
    char name[16];
    DWORD size = sizeof name;

    EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyA(key, 0, name, sizeof name));
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyA(key, 1, name, sizeof name));
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyA(key, 1, name, sizeof name));
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueA(key, 1, name, &size, NULL, NULL, NULL, NULL));
    EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyA(key, 2, name, sizeof name));
    RegCloseKey(key);
}

TEST_F(SimTest, ActionBeforeAnEnumerationRunsOnceAndCanChangeTheWalk)
{
    for (const char* name : {"a", "b", "c"})
        CreateRegistryKey(HKEY_LOCAL_MACHINE, std::string("SOFTWARE\\Walk\\") + name);
    int runs = 0;
    SimBeforeEnumAt(HKEY_LOCAL_MACHINE, "SOFTWARE\\Walk", 1, [&] {
        ++runs;
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Walk\\b");
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
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "", 0, KEY_READ, &first));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(first, NULL, 0, KEY_READ, &second));
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
    return DialogBoxParamA(GetModuleHandleA(NULL), IDD_MAIN, NULL, Logging, 0);
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
        PostMessageA(SimActiveDialog(), WM_APP, 1, 0);
        PostMessageA(SimActiveDialog(), WM_APP, 2, 0);
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
        SendDlgItemMessageA(dialog, IDC_CONTROL_LIST, LB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>("entry"));
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
        SetDlgItemTextA(seen, IDC_VERSION, "1.0");
        SendDlgItemMessageA(seen, IDC_CONTROL_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("x"));
        PostMessageA(seen, WM_APP, 3, 0);
        EndDialog(seen, 4);
    });

    EXPECT_EQ(4, RunMain());

    EXPECT_FALSE(IsWindow(seen));
    EXPECT_EQ("1.0", SimWindowText(seen, IDC_VERSION));
    EXPECT_EQ(Names{"x"}, SimListItems(seen, IDC_CONTROL_LIST));
    EXPECT_EQ(Names{}, g_log);
}

TEST_F(SimDialogTest, OwnerOfANestedDialogTakesNoClicks)
{
    HWND outer = NULL;
    SimAddUserAction([&] {
        outer = SimActiveDialog();
        SimAddUserAction([&] {
            SimClickButton(outer, IDC_REFRESH);
            PostMessageA(outer, WM_APP, 1, 0);
            SimAddUserAction([] { SimPressEscape(SimActiveDialog()); });
        });
        DialogBoxParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_ABOUT), outer, Logging, 0);
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
        PostMessageA(dialog, WM_APP, 1, 0);
        g_log.push_back("answer " +
                        std::to_string(MessageBoxA(dialog, "Sure?", "Burrowlens", MB_YESNO)));
        g_log.push_back("answer " + std::to_string(MessageBoxA(dialog, "Again?", NULL, MB_OK)));
        EndDialog(dialog, 0);
    });

    RunMain();

    EXPECT_EQ((Names{"app 1", "answer 6", "answer 0"}), g_log);
    ASSERT_EQ(2u, SimMessageBoxes().size());
    const SimMessageBox& first = SimMessageBoxes()[0];
    EXPECT_EQ("Sure?", first.text);
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
        for (const char* text : {"lost", "kept"}) {
            g_log.push_back(std::to_string(SendDlgItemMessageA(
                dialog, IDC_CONTROL_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text))));
        }
        EndDialog(dialog, 0);
    });

    RunMain();

    EXPECT_EQ((Names{"-2", "0"}), g_log);
}

TEST_F(SimTest, RecordsCursorsBeepsAndIcons)
{
    SetCursor(LoadCursorA(NULL, IDC_WAIT));
    SetCursor(LoadCursorA(NULL, IDC_ARROW));
    MessageBeep(MB_ICONHAND);
    DrawIcon(NULL, 0, 0, LoadIconA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDI_PROGRAM)));

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
