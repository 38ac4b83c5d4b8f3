#include "app/app.h"
#include "app/control_ids.h"
#include "base/text.h"
#include "inventory/inventory.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <win32sim.h>

#include <string>
#include <vector>

typedef std::vector<std::string> Entries;

static const std::string kModuleUsage = Utf8(MODULE_USAGE_PATH);

static const char* const kNoControls =
    "Burrowlens reports on ActiveX\ncontrols installed on this computer.\n\n"
    "No controls have been registered for this machine.";

// The whole program, from wWinMain to its exit code, against the stand-in:
// the user is a script of actions run whenever the program waits for input.
class MainDialogTest : public testing::Test {
  protected:
    void SetUp() override
    {
        SimReset();
    }
    void TearDown() override
    {
        EXPECT_EQ(0, SimUnscriptedMessageBoxCount());
        EXPECT_EQ(0, SimStallCount());
        EXPECT_EQ(0, SimOpenKeyCount());
    }

    static void SeedEmptyKeys()
    {
        CreateRegistryKey(HKEY_LOCAL_MACHINE, kModuleUsage);
        CreateRegistryKey(HKEY_CLASSES_ROOT, "TypeLib");
    }
    static void AddDownload(const std::string& name)
    {
        CreateRegistryKey(HKEY_LOCAL_MACHINE, kModuleUsage + "\\" + name);
    }
    static void AddTypeLibFile(const std::string& libAndVersion, const char* platform,
                               const std::string& file)
    {
        SetRegistryText(HKEY_CLASSES_ROOT, "TypeLib\\" + libAndVersion + "\\0\\" + platform, "",
                        file);
    }
    // Remembers what the list shows each time the user gets control.
    void Look()
    {
        SimAddUserAction(
            [this] { seen.push_back(ListBoxItems(SimActiveDialog(), IDC_CONTROL_LIST)); });
    }
    static void Click(int id)
    {
        SimAddUserAction([id] { SimClickButton(SimActiveDialog(), id); });
    }
    static int Run()
    {
        WCHAR commandLine[] = TEXT("");
        return wWinMain(GetModuleHandleW(NULL), NULL, commandLine, 1);
    }
    static void ExpectBox(size_t index, const std::string& text, UINT type, int line)
    {
        SCOPED_TRACE(testing::Message() << "box " << index << ", called from line " << line);
        const std::vector<SimMessageBox>& boxes = SimMessageBoxes();
        ASSERT_LT(index, boxes.size());
        EXPECT_EQ(text, boxes[index].text);
        EXPECT_EQ("Burrowlens", boxes[index].caption);
        EXPECT_EQ(type, boxes[index].type);
        EXPECT_NE(static_cast<HWND>(NULL), boxes[index].owner);
    }

    std::vector<Entries> seen;
};

TEST_F(MainDialogTest, EmptyRegistryReportsNoControlsAndEnds)
{
    SeedEmptyKeys();
    SimAnswerMessageBox(IDOK);

    EXPECT_EQ(1, Run());

    ASSERT_EQ(1u, SimMessageBoxes().size());
    ExpectBox(0, kNoControls, MB_ICONERROR, __LINE__);
}

TEST_F(MainDialogTest, EveryWayOutEndsWithCodeOne)
{
    const std::function<void()> ways[] = {
        [] { SimClickButton(SimActiveDialog(), IDC_EXIT); },
        [] { SimPressEscape(SimActiveDialog()); },
        [] { SimCloseFromSystemMenu(SimActiveDialog()); },
    };
    for (const std::function<void()>& leave : ways) {
        SimReset();
        SeedEmptyKeys();
        AddDownload("C:/Windows/Downloaded Program Files/a.ocx");
        SimAddUserAction(leave);
        EXPECT_EQ(1, Run());
        EXPECT_TRUE(SimMessageBoxes().empty());
    }
}

TEST_F(MainDialogTest, FirstEntryIsSelectedAndDeleteEnabledAfterTheScan)
{
    SeedEmptyKeys();
    AddDownload("C:/Windows/OCCACHE/z.ocx");
    AddTypeLibFile("{L1}\\1.0", "win32", "C:\\Windows\\System32\\b.dll");
    bool deleteEnabled = false;
    LRESULT selected = LB_ERR;
    SimAddUserAction([&] {
        HWND dialog = SimActiveDialog();
        deleteEnabled = IsWindowEnabled(GetDlgItem(dialog, IDC_DELETE));
        selected = SendDlgItemMessageW(dialog, IDC_CONTROL_LIST, LB_GETCURSEL, 0, 0);
    });
    Look();
    Click(IDC_EXIT);

    EXPECT_EQ(1, Run());

    EXPECT_TRUE(deleteEnabled);
    EXPECT_EQ(0, selected);
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(Entries({"C:/Windows/OCCACHE/z.ocx", "c:\\windows\\system32\\b.dll"}), seen[0]);
    // The type-library walk runs under the wait cursor.
    EXPECT_EQ(std::vector<int>({32514, 32512}), SimCursorHistory());
}

TEST_F(MainDialogTest, RefreshRebuildsTheListFromScratch)
{
    SeedEmptyKeys();
    AddDownload("C:/Windows/Downloaded Program Files/a.ocx");
    Look();
    Click(IDC_REFRESH);
    Click(IDC_REFRESH);
    Look();
    SimAddUserAction([] { AddDownload("C:/Windows/Downloaded Program Files/new.ocx"); });
    Click(IDC_REFRESH);
    Look();
    Click(IDC_EXIT);

    EXPECT_EQ(1, Run());

    ASSERT_EQ(3u, seen.size());
    EXPECT_EQ(Entries({"C:/Windows/Downloaded Program Files/a.ocx"}), seen[0]);
    EXPECT_EQ(seen[0], seen[1]);
    EXPECT_EQ(Entries({"C:/Windows/Downloaded Program Files/a.ocx",
                       "C:/Windows/Downloaded Program Files/new.ocx"}),
              seen[2]);
}

// The entry asked about lies in a folder named beyond ASCII, which the
// question must show as registered.
TEST_F(MainDialogTest, RefusedDeleteLeavesTheListAndSelectionAlone)
{
    SeedEmptyKeys();
    AddDownload("C:/Windows/Downloaded Program Files/a.ocx");
    AddDownload("C:/Windows/Downloaded Program Files/Жук/b.ocx");
    SimAddUserAction([] { SimSelectListEntry(SimActiveDialog(), IDC_CONTROL_LIST, 1); });
    Look();
    Click(IDC_DELETE);
    SimAnswerMessageBox(IDNO);
    Look();
    LRESULT selected = LB_ERR;
    SimAddUserAction([&] {
        selected = SendDlgItemMessageW(SimActiveDialog(), IDC_CONTROL_LIST, LB_GETCURSEL, 0, 0);
    });
    Click(IDC_EXIT);

    EXPECT_EQ(1, Run());

    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ(Entries({"C:/Windows/Downloaded Program Files/a.ocx",
                       "C:/Windows/Downloaded Program Files/Жук/b.ocx"}),
              seen[0]);
    EXPECT_EQ(seen[0], seen[1]);
    EXPECT_EQ(1, selected);
    ASSERT_EQ(1u, SimMessageBoxes().size());
    ExpectBox(0,
              "Are you sure you want to delete\nthe registry entry for\n"
              "C:\\Windows\\Downloaded Program Files\\Жук\\b.ocx?",
              MB_YESNO | MB_DEFBUTTON2, __LINE__);
}

TEST_F(MainDialogTest, AboutBoxOpensOverTheMainDialogAndCloses)
{
    SeedEmptyKeys();
    AddDownload("C:/Windows/Downloaded Program Files/a.ocx");
    std::vector<std::string> captions;
    auto caption = [&] {
        WCHAR text[64];
        GetWindowTextW(SimActiveDialog(), text, BufferLength(text));
        captions.push_back(Utf8(text));
    };
    Click(IDC_ABOUT);
    SimAddUserAction(caption);
    Click(IDOK);
    SimAddUserAction(caption);
    Click(IDC_ABOUT);
    SimAddUserAction([] { SimPressEscape(SimActiveDialog()); });
    SimAddUserAction(caption);
    Click(IDC_EXIT);

    EXPECT_EQ(1, Run());

    EXPECT_EQ(std::vector<std::string>({"About Burrowlens", "Burrowlens", "Burrowlens"}), captions);
}

TEST_F(MainDialogTest, MissingModuleUsageIsReportedOnceAndThenPerTypeLibFile)
{
    CreateRegistryKey(HKEY_CLASSES_ROOT, "TypeLib");
    AddTypeLibFile("{L1}\\1.0", "win32", "C:\\A\\One.dll");
    AddTypeLibFile("{L1}\\1.0", "win16", "C:\\A\\Two.dll");
    for (int i = 0; i < 3; ++i)
        SimAnswerMessageBox(IDOK);
    Look();
    Click(IDC_EXIT);

    EXPECT_EQ(1, Run());

    ASSERT_EQ(3u, SimMessageBoxes().size());
    ExpectBox(0, "Error: Unable to open key, RegOpenKey = 2, Line = 446", MB_OK, __LINE__);
    ExpectBox(1, "Error: Unable to open key, RegOpenKey = 2, Line = 1906", MB_OK, __LINE__);
    ExpectBox(2, "Error: Unable to open key, RegOpenKey = 2, Line = 1906", MB_OK, __LINE__);
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(Entries({"c:\\a\\one.dll", "c:\\a\\two.dll"}), seen[0]);
}

TEST_F(MainDialogTest, DeniedModuleUsageGivesTheSecurityMessage)
{
    SeedEmptyKeys();
    AddDownload("C:/Windows/Downloaded Program Files/a.ocx");
    AddTypeLibFile("{L1}\\1.0", "win32", "C:\\A\\One.dll");
    SimDenyKeyOpen(HKEY_LOCAL_MACHINE, kModuleUsage.c_str());
    SimAnswerMessageBox(IDOK);
    SimAnswerMessageBox(IDOK);
    Look();
    Click(IDC_EXIT);

    EXPECT_EQ(1, Run());

    ASSERT_EQ(2u, SimMessageBoxes().size());
    ExpectBox(0, "Error: unable to open key due to security reasons.", MB_OK, __LINE__);
    ExpectBox(1, "Error: unable to open key due to security reasons.", MB_OK, __LINE__);
    EXPECT_EQ(Entries({"c:\\a\\one.dll"}), seen.at(0));
}

TEST_F(MainDialogTest, MissingTypeLibKeepsTheDownloadsWithoutAWaitCursor)
{
    CreateRegistryKey(HKEY_LOCAL_MACHINE, kModuleUsage);
    AddDownload("C:/Windows/OCCACHE/a.ocx");
    SimAnswerMessageBox(IDOK);
    Look();
    Click(IDC_EXIT);

    EXPECT_EQ(1, Run());

    ASSERT_EQ(1u, SimMessageBoxes().size());
    ExpectBox(0, "Error: Unable to open key, RegOpenKey = 2, Line = 730", MB_OK, __LINE__);
    EXPECT_EQ(Entries({"C:/Windows/OCCACHE/a.ocx"}), seen.at(0));
    EXPECT_TRUE(SimCursorHistory().empty());
}

TEST_F(MainDialogTest, MissingEverythingReportsEachKeyThenNoControls)
{
    for (int i = 0; i < 3; ++i)
        SimAnswerMessageBox(IDOK);

    EXPECT_EQ(1, Run());

    ASSERT_EQ(3u, SimMessageBoxes().size());
    ExpectBox(0, "Error: Unable to open key, RegOpenKey = 2, Line = 446", MB_OK, __LINE__);
    ExpectBox(1, "Error: Unable to open key, RegOpenKey = 2, Line = 730", MB_OK, __LINE__);
    ExpectBox(2, kNoControls, MB_ICONERROR, __LINE__);
}

// Moving from monitor to monitor scales every control from where the
// template put it, not from where the last move left it, so that rounding
// does not add up; the window takes the rectangle Windows suggests.
TEST_F(MainDialogTest, EachChangeOfScalePlacesTheControlsFromTheTemplate)
{
    SeedEmptyKeys();
    AddDownload("C:/Windows/Downloaded Program Files/a.ocx");
    typedef std::vector<LONG> Corners;
    std::vector<Corners> expected, found;
    Corners window;
    // Where the controls are, made larger by a scale.
    auto places = [](HWND dialog, int dpi) {
        std::vector<Corners> places;
        for (HWND child = GetWindow(dialog, GW_CHILD); child;
             child = GetWindow(child, GW_HWNDNEXT)) {
            RECT r;
            GetWindowRect(child, &r);
            MapWindowPoints(NULL, dialog, reinterpret_cast<POINT*>(&r), 2);
            places.push_back({MulDiv(r.left, dpi, 96), MulDiv(r.top, dpi, 96),
                              MulDiv(r.right, dpi, 96), MulDiv(r.bottom, dpi, 96)});
        }
        return places;
    };
    SimAddUserAction([&] {
        HWND dialog = SimActiveDialog();
        expected = places(dialog, 120);
        RECT to144{10, 20, 950, 560}, to120{30, 40, 830, 480}, now;
        SendMessageW(dialog, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&to144));
        SendMessageW(dialog, WM_DPICHANGED, MAKEWPARAM(120, 120), reinterpret_cast<LPARAM>(&to120));
        GetWindowRect(dialog, &now);
        window = {now.left, now.top, now.right, now.bottom};
        found = places(dialog, 96);
    });
    Click(IDC_EXIT);

    EXPECT_EQ(1, Run());

    EXPECT_EQ((Corners{30, 40, 830, 480}), window);
    ASSERT_GT(expected.size(), 30u);
    EXPECT_EQ(expected, found);
}
