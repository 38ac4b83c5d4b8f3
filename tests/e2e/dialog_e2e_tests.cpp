#include "e2e/fixture.h"

#include "app/control_ids.h"
#include "support/test_support.h"

namespace e2e {
namespace {

using MainDialogTest = ProgramTest;

const int kDetailFields[] = {
    IDC_PUBLISHER, IDC_USAGE_COUNT,  IDC_FILE_TYPE,       IDC_CATEGORIES,  IDC_LAST_CHANGE,
    IDC_VERSION,   IDC_COPYRIGHT,    IDC_INSTALLED,       IDC_LAST_ACCESS, IDC_ORIGIN,
    IDC_SIZE,      IDC_CONTROL_NAME, IDC_FILE_INFO_VALUE,
};

TEST_F(MainDialogTest, StartsWithDeleteDisabledUntilTheFirstSelectionChange)
{
    // The first message box holds the scan before it selects anything: the
    // dialog can be seen as it was created.
    RegisterTypeLibFile("{33333333-0000-0000-0000-000000000001}", "1.0", "win32",
                        "C:\\Windows\\System32\\Chart.ocx");
    ASSERT_TRUE(app.Start());
    ASSERT_NE(nullptr, app.WaitForOwnedDialog("Burrowlens"));

    EXPECT_FALSE(app.Enabled(IDC_DELETE));
    for (int id : kDetailFields)
        EXPECT_EQ("Unknown", app.Text(id)) << "field " << id;

    ASSERT_TRUE(ExpectBoxAndAnswer(KeyOpenFailedBox(446)));
    ASSERT_TRUE(ExpectBoxAndAnswer(KeyOpenFailedBox(1906)));
    ExpectListShown({"c:\\windows\\system32\\chart.ocx"});
    EXPECT_TRUE(app.Enabled(IDC_DELETE));
}

TEST_F(MainDialogTest, RefreshPressedTwiceRebuildsTheListFromTheRegistry)
{
    RegisterDownload("C:/Windows/occache/Gone.ocx");
    RegisterDownload("C:/Windows/occache/Kept.ocx");
    RegisterTypeLibFile("{33333333-0000-0000-0000-000000000002}", "1.0", "win32",
                        "C:\\Windows\\System32\\Chart.ocx");
    ASSERT_TRUE(app.Start());
    ExpectListShown({"C:/Windows/occache/Gone.ocx", "C:/Windows/occache/Kept.ocx",
                     "c:\\windows\\system32\\chart.ocx"});
    ASSERT_TRUE(app.Select(2));

    DeleteRegistryTree(HKEY_LOCAL_MACHINE,
                       std::string(kModuleUsage) + "\\C:/Windows/occache/Gone.ocx");
    RegisterDownload("C:/Windows/Downloaded Program Files/New.ocx");
    RegisterTypeLibFile("{33333333-0000-0000-0000-000000000003}", "1.0", "win16",
                        "C:\\Windows\\System\\Grid.vbx");
    app.Click(IDC_REFRESH);
    app.Click(IDC_REFRESH);

    ExpectListShown({"C:/Windows/Downloaded Program Files/New.ocx", "C:/Windows/occache/Kept.ocx",
                     "c:\\windows\\system\\grid.vbx", "c:\\windows\\system32\\chart.ocx"});
    EXPECT_TRUE(app.Enabled(IDC_DELETE));
}

// How the user ends the program; each way gives the same exit code.
struct Ending {
    const char* name;
    void (*act)(Burrowlens& app);
};

const Ending kEndings[] = {
    {"ExitButton", [](Burrowlens& app) { app.Click(IDC_EXIT); }},
    {"EscapeKey", [](Burrowlens& app) { app.PressEscape(app.Dialog()); }},
    {"SystemMenuClose", [](Burrowlens& app) { app.CloseFromSystemMenu(); }},
};

void PrintTo(const Ending& ending, std::ostream* out)
{
    *out << ending.name;
}

class EndingTest : public ProgramTest, public testing::WithParamInterface<Ending> {};

TEST_P(EndingTest, EndsWithExitCodeOne)
{
    ASSERT_TRUE(StartWithOneDownload());

    GetParam().act(app);

    ExpectExitCode(1);
}

INSTANTIATE_TEST_SUITE_P(MainDialog, EndingTest, testing::ValuesIn(kEndings),
                         [](const testing::TestParamInfo<Ending>& info) {
                             return std::string(info.param.name);
                         });

// How the user closes the About box; the main dialog carries on either way.
struct AboutClosing {
    const char* name;
    void (*act)(Burrowlens& app, HWND about);
};

const AboutClosing kAboutClosings[] = {
    {"OkButton", [](Burrowlens& app, HWND about) { app.Answer(about, IDOK); }},
    {"EscapeKey", [](Burrowlens& app, HWND about) { app.PressEscape(about); }},
};

void PrintTo(const AboutClosing& closing, std::ostream* out)
{
    *out << closing.name;
}

class AboutTest : public ProgramTest, public testing::WithParamInterface<AboutClosing> {};

TEST_P(AboutTest, OpensModallyAndClosesBackToTheMainDialog)
{
    ASSERT_TRUE(StartWithOneDownload());

    app.Click(IDC_ABOUT);
    HWND about = app.WaitForOwnedDialog("About Burrowlens");
    ASSERT_NE(nullptr, about);
    EXPECT_NE(nullptr, GetDlgItem(about, IDOK));
    EXPECT_FALSE(IsWindowEnabled(app.Dialog())) << "the About box is not modal";

    GetParam().act(app, about);

    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(about); })) << "the About box stayed open";
    EXPECT_TRUE(IsWindowEnabled(app.Dialog()));
    ExpectListShown({"C:/Windows/occache/Chart.ocx"});
    app.Click(IDC_EXIT);
    ExpectExitCode(1);
}

INSTANTIATE_TEST_SUITE_P(MainDialog, AboutTest, testing::ValuesIn(kAboutClosings),
                         [](const testing::TestParamInfo<AboutClosing>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
} // namespace e2e
