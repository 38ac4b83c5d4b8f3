#include "app/app.h"
#include "app/control_ids.h"
#include "inventory/inventory.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <win32sim.h>

#include <string>
#include <vector>

typedef std::vector<std::string> Entries;

static const std::string kModuleUsage = Utf8(MODULE_USAGE_PATH);

// A whole refresh on a registry of the test's making: how it draws the list,
// what it costs in registry calls, and what it does when memory runs out.
class RefreshTest : public testing::Test {
  protected:
    void SetUp() override
    {
        SimReset();
    }
    void TearDown() override
    {
        EXPECT_EQ(0, SimOpenKeyCount());
        EXPECT_EQ(0, SimUnscriptedMessageBoxCount());
    }

    // T type libraries, the first tenth naming files in a download cache
    // that M ModuleUsage names (the first of them) register, and the rest
    // of the M names downloads that no type library names.
    static void SeedRegistry(int typeLibs, int downloads)
    {
        CreateRegistryKey(HKEY_LOCAL_MACHINE, kModuleUsage);
        CreateRegistryKey(HKEY_CLASSES_ROOT, "TypeLib");
        for (int i = 0; i < downloads; ++i)
            CreateRegistryKey(HKEY_LOCAL_MACHINE,
                              kModuleUsage + "\\C:/Windows/Downloaded Program Files/Control" +
                                  std::to_string(i) + ".ocx");
        for (int i = 0; i < typeLibs; ++i) {
            std::string file = i < typeLibs / 10 ? "c:\\windows\\downloaded program files\\control"
                                                 : "c:\\windows\\system32\\library";
            SetRegistryText(HKEY_CLASSES_ROOT,
                            "TypeLib\\{" + std::to_string(100000 + i) + "}\\1.0\\0\\win32", "",
                            file + std::to_string(i) + ".ocx");
        }
    }

    static Entries Refresh()
    {
        Entries entries;
        WithMainDialog([&](HWND dialog) {
            RefreshControlList(dialog);
            entries = ListBoxItems(dialog, IDC_CONTROL_LIST);
        });
        return entries;
    }

    // What happened to the control list and which message boxes came up, a
    // run of inserts written once.
    static std::vector<std::string> ListDrawing()
    {
        std::vector<std::string> events;
        for (const std::string& event : SimRedrawHistory()) {
            if (event.rfind("103 ", 0) != 0 && event != "0 MessageBoxW")
                continue;
            if (event == "103 LB_ADDSTRING" && !events.empty() && events.back() == event)
                continue;
            events.push_back(event);
        }
        return events;
    }
};

TEST_F(RefreshTest, TheListIsFilledWithItsDrawingOffAndInvalidatedOnce)
{
    SeedRegistry(30, 10);

    Entries entries = Refresh();

    EXPECT_EQ(37u, entries.size());
    std::vector<std::string> expected = {
        "103 WM_SETREDRAW 0", "103 LB_RESETCONTENT", "103 LB_ADDSTRING",
        "103 WM_SETREDRAW 1", "103 InvalidateRect",
    };
    EXPECT_EQ(expected, ListDrawing());
}

// While a box is up the list is drawn as far as it is filled; the inserts
// after it go on with drawing off.
TEST_F(RefreshTest, KeyOpenBoxesShowOverADrawnList)
{
    CreateRegistryKey(HKEY_CLASSES_ROOT, "TypeLib");
    SetRegistryText(HKEY_CLASSES_ROOT, "TypeLib\\{L1}\\1.0\\0\\win32", "", "C:\\A\\One.dll");
    SetRegistryText(HKEY_CLASSES_ROOT, "TypeLib\\{L1}\\1.0\\0\\win16", "", "C:\\A\\Two.dll");
    for (int i = 0; i < 3; ++i)
        SimAnswerMessageBox(IDOK);

    EXPECT_EQ(Entries({"c:\\a\\one.dll", "c:\\a\\two.dll"}), Refresh());

    std::vector<std::string> box = {"103 WM_SETREDRAW 1", "103 InvalidateRect", "0 MessageBoxW",
                                    "103 WM_SETREDRAW 0"};
    std::vector<std::string> expected = {"103 WM_SETREDRAW 0", "103 LB_RESETCONTENT"};
    expected.insert(expected.end(), box.begin(), box.end()); // site 446
    expected.insert(expected.end(), box.begin(), box.end()); // site 1906, first path
    expected.push_back("103 LB_ADDSTRING");
    expected.insert(expected.end(), box.begin(), box.end()); // site 1906, second path
    expected.insert(expected.end(),
                    {"103 LB_ADDSTRING", "103 WM_SETREDRAW 1", "103 InvalidateRect"});
    EXPECT_EQ(expected, ListDrawing());
    ASSERT_EQ(3u, SimMessageBoxes().size());
    EXPECT_EQ("Error: Unable to open key, RegOpenKey = 2, Line = 1906", SimMessageBoxes()[2].text);
}

// With drawing off the list keeps the scroll bar it had, so the item width
// after each insert can be the old list's. The extent the user ends up with
// must be what the list's final width gives, whichever way the bar changed.
TEST_F(RefreshTest, TheExtentFollowsTheWidthOfTheRebuiltList)
{
    struct Case {
        int before, after;
    } cases[] = {{0, 40}, {40, 2}, {40, 40}, {2, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.before << " entries, then " << c.after);
        SimReset();
        SeedRegistry(c.before, 0);
        WithMainDialog([&](HWND dialog) {
            RefreshControlList(dialog);
            DeleteRegistryTree(HKEY_CLASSES_ROOT, "TypeLib");
            SeedRegistry(c.after, 0);
            RefreshControlList(dialog);

            RECT item;
            ASSERT_NE(LB_ERR, SendDlgItemMessageW(dialog, IDC_CONTROL_LIST, LB_GETITEMRECT, 0,
                                                  reinterpret_cast<LPARAM>(&item)));
            RECT client;
            GetClientRect(GetDlgItem(dialog, IDC_CONTROL_LIST), &client);
            EXPECT_EQ(client.right, item.right - item.left);
            EXPECT_EQ(item.right - item.left + 40,
                      SendDlgItemMessageW(dialog, IDC_CONTROL_LIST, LB_GETHORIZONTALEXTENT, 0, 0));
        });
    }
}

// The cost of a refresh has to grow with the registry, not with the product
// of its type libraries and its downloads. Four times the registry may cost
// at most four times the calls.
TEST_F(RefreshTest, RegistryCallsGrowLinearlyWithTypeLibsAndDownloads)
{
    long calls[2];
    const int sizes[2] = {100, 400};
    for (int i = 0; i < 2; ++i) {
        SimReset();
        SeedRegistry(sizes[i], sizes[i]);
        WithMainDialog([&](HWND dialog) {
            long before = SimRegistryCallCount();
            RefreshControlList(dialog);
            calls[i] = SimRegistryCallCount() - before;
            EXPECT_EQ(static_cast<LRESULT>(sizes[i] * 19 / 10),
                      SendDlgItemMessageW(dialog, IDC_CONTROL_LIST, LB_GETCOUNT, 0, 0));
        });
    }
    EXPECT_LE(calls[1], 4 * calls[0]) << "T = M = " << sizes[0] << ": " << calls[0]
                                      << " calls; T = M = " << sizes[1] << ": " << calls[1];
}

// Without memory for the names, each path is checked by a walk of its own,
// with the same answers.
TEST_F(RefreshTest, EveryFailedAllocationGivesTheSameList)
{
    SeedRegistry(300, 30);
    // Names that the list leaves out, enough for a second block of text and
    // for the array to grow three times.
    for (int i = 0; i < 1500; ++i)
        CreateRegistryKey(HKEY_LOCAL_MACHINE, kModuleUsage +
                                                  "\\C:/Windows/System32/shared/library" +
                                                  std::to_string(i) + ".dll");
    Entries expected = Refresh();
    ASSERT_EQ(300u, expected.size());
    for (int succeeding = 0; succeeding < 7; ++succeeding) {
        SCOPED_TRACE(testing::Message() << "allocation " << succeeding << " fails");
        SimFailHeapAlloc(succeeding);
        EXPECT_EQ(expected, Refresh());
        EXPECT_TRUE(SimMessageBoxes().empty());
    }
}

// A message box runs its own message loop, which handles whatever was queued
// behind the refresh, such as a second click on Refresh. The list must not
// end up with the rest of the first refresh on top of the second.
TEST_F(RefreshTest, ARefreshAskedForDuringABoxRunsAfterTheOneShowingIt)
{
    CreateRegistryKey(HKEY_CLASSES_ROOT, "TypeLib");
    SetRegistryText(HKEY_CLASSES_ROOT, "TypeLib\\{L1}\\1.0\\0\\win32", "", "C:\\A\\One.dll");
    SetRegistryText(HKEY_CLASSES_ROOT, "TypeLib\\{L2}\\1.0\\0\\win32", "", "C:\\A\\Two.dll");
    for (int i = 0; i < 9; ++i)
        SimAnswerMessageBox(IDOK);
    SimAddUserAction([] {
        SimClickButton(SimActiveDialog(), IDC_REFRESH);
        SimClickButton(SimActiveDialog(), IDC_REFRESH);
    });
    Entries seen;
    SimAddUserAction([&] { seen = ListBoxItems(SimActiveDialog(), IDC_CONTROL_LIST); });
    SimAddUserAction([] { SimClickButton(SimActiveDialog(), IDC_EXIT); });

    WCHAR commandLine[] = TEXT("");
    EXPECT_EQ(1, wWinMain(GetModuleHandleW(NULL), NULL, commandLine, 1));

    EXPECT_EQ(Entries({"c:\\a\\one.dll", "c:\\a\\two.dll"}), seen);
    // Three refreshes, each with one box for ModuleUsage and one per path.
    EXPECT_EQ(9u, SimMessageBoxes().size());
    EXPECT_EQ(0, SimStallCount());
}
