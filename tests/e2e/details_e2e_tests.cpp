#include "e2e/fixture.h"

#include "app/control_ids.h"
#include "support/test_support.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace e2e {
namespace {

const std::vector<std::string> kRowNames = {
    "ProductName",  "ProductVersion", "OriginalFilename", "FileDescription",
    "FileVersion",  "CompanyName",    "LegalCopyright",   "LegalTrademarks",
    "InternalName", "PrivateBuild",   "SpecialBuild",     "Comments",
};
const int kCompanyRow = 5;
const int kCopyrightRow = 6;
const int kCommentsRow = 11;

const std::string kFullClass = "{E2E00000-0000-4000-8000-0000000000C1}";
const std::string kLongFirstClass = "{E2E00000-0000-4000-8000-0000000000C2}";
const std::string kLongSecondClass = "{E2E00000-0000-4000-8000-0000000000C3}";
const std::string kMissingClass = "{E2E00000-0000-4000-8000-0000000000C4}";
const std::string kFullLib = "{E2E00000-0000-4000-8000-0000000000A1}";
const std::string kLongLib = "{E2E00000-0000-4000-8000-0000000000A2}";
const std::string kMissingLib = "{E2E00000-0000-4000-8000-0000000000A3}";
const std::string kNoVersionLib = "{E2E00000-0000-4000-8000-0000000000A4}";
const std::string kPartialLib = "{E2E00000-0000-4000-8000-0000000000A5}";
const std::string kShelfLib = "{E2E00000-0000-4000-8000-0000000000A6}";
// The descriptions are those Windows gives the two safety categories; the
// program goes by the text, so the test's own GUIDs serve.
const std::string kScriptableCategory = "{E2E00000-0000-4000-8000-0000000000D1}";
const std::string kInitializableCategory = "{E2E00000-0000-4000-8000-0000000000D2}";
const std::string kGadgetCategory = "{E2E00000-0000-4000-8000-0000000000D3}";

// Reading a file refreshes an access time that lies before the file's last
// status change (Linux's relatime, under Wine), and the copy has only just
// been made; an access time in the future stays as set.
const FileTimes kAnsiTimes = {Utc(2001, 7, 4, 2, 30, 15), Utc(2000, 1, 1, 0, 0, 1),
                              Utc(2035, 1, 2, 3, 4, 5)};
const FileTimes kFullTimes = {Utc(1999, 3, 7, 4, 5, 9), Utc(1998, 6, 1, 12, 0, 0),
                              Utc(2034, 11, 30, 1, 0, 0)};
const FileTimes kLongTimes = {Utc(2011, 1, 1, 0, 30, 0), Utc(2010, 5, 6, 7, 8, 9),
                              Utc(2036, 2, 29, 23, 0, 0)};
const FileTimes kNoVersionTimes = {Utc(2020, 2, 29, 12, 0, 0), Utc(2019, 1, 1, 1, 1, 1),
                                   Utc(2033, 12, 31, 12, 0, 0)};
const FileTimes kPartialTimes = {Utc(1998, 10, 25, 6, 59, 59), Utc(1997, 2, 3, 4, 5, 6),
                                 Utc(2032, 7, 1, 4, 59, 0)};
const FileTimes kShelfTimes = {Utc(2005, 5, 5, 5, 5, 5), Utc(2004, 4, 4, 4, 4, 4),
                               Utc(2033, 3, 3, 3, 3, 3)};
const FileTimes kUntranslatedTimes = {Utc(2002, 8, 9, 10, 11, 12), Utc(2002, 8, 9, 10, 11, 12),
                                      Utc(2030, 9, 10, 11, 12, 13)};

// The program converts with the offset in force now, whatever the season of
// the time it shows.
LONG MinutesEastOfUtcNow()
{
    TIME_ZONE_INFORMATION zone;
    switch (GetTimeZoneInformation(&zone)) {
    case TIME_ZONE_ID_DAYLIGHT:
        return -(zone.Bias + zone.DaylightBias);
    case TIME_ZONE_ID_STANDARD:
        return -(zone.Bias + zone.StandardBias);
    default:
        return -zone.Bias;
    }
}

// MM/DD/YY HH:MM:SS in local time, or the date alone.
std::string LocalText(const SYSTEMTIME& utc, bool dateOnly = false)
{
    FILETIME fileTime;
    SystemTimeToFileTime(&utc, &fileTime);
    ULARGE_INTEGER ticks;
    ticks.LowPart = fileTime.dwLowDateTime;
    ticks.HighPart = fileTime.dwHighDateTime;
    ticks.QuadPart +=
        static_cast<ULONGLONG>(static_cast<LONGLONG>(MinutesEastOfUtcNow()) * 60 * 10000000);
    fileTime.dwLowDateTime = ticks.LowPart;
    fileTime.dwHighDateTime = ticks.HighPart;
    SYSTEMTIME local;
    FileTimeToSystemTime(&fileTime, &local);
    char text[32];
    snprintf(text, sizeof text, "%02u/%02u/%02u %02u:%02u:%02u", local.wMonth, local.wDay,
             local.wYear % 100u, local.wHour, local.wMinute, local.wSecond);
    return std::string(text, dateOnly ? 8 : 17);
}

std::string FixtureSize(const char* name)
{
    return std::to_string(HostFileSize(FixtureHostPath(name)));
}

std::string Repeated(const std::string& sentence, int times)
{
    std::string text = sentence;
    for (int i = 1; i < times; ++i)
        text += " " + sentence;
    return text;
}

const std::vector<std::string> kFullRows = {
    "Fixture Full Product",
    "5.1 product",
    "full.ocx",
    "Fixture control with every string",
    "5.1.2600.0 (fixture build)",
    "Fixture Works",
    "Copyright (C) Fixture Works",
    "Fixture is not a trademark",
    "fullfix",
    "private 1",
    "special 2",
    "Comments of the full fixture",
};

// What the user reads about one control. The publisher and copyright fields
// repeat rows of the file information list.
struct ControlView {
    std::string entry; // as the list shows it
    std::string name;
    std::string origin;
    std::string categories;
    std::string usage;
    std::string type;
    std::string version;
    std::string size;
    const FileTimes* times; // null when the file is not there
    // The value behind each row of the file information list; none when the
    // file has no version data.
    std::vector<std::string> rows;
    int shownRow; // the row selected when the control comes up
};

class DetailsTest : public ProgramTest {
  protected:
    void SetUp() override
    {
        ProgramTest::SetUp();
        ForgetTestRegistrations();
        ExpectZoneReachedWindows();
    }
    void TearDown() override
    {
        ForgetTestRegistrations();
    }

    // Without this a run meant for another zone could quietly run in UTC.
    static void ExpectZoneReachedWindows()
    {
        char zone[32] = "";
        GetEnvironmentVariableA("TZ", zone, sizeof zone);
        if (std::string(zone) == "UTC0") {
            ASSERT_EQ(0, MinutesEastOfUtcNow());
        } else if (std::string(zone) == "EST5EDT") {
            LONG offset = MinutesEastOfUtcNow();
            ASSERT_TRUE(offset == -300 || offset == -240) << offset;
        }
    }

    void ExpectShown(const ControlView& expected, Where where = Where::current())
    {
        testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()),
                                   expected.entry);
        bool haveRows = !expected.rows.empty();
        const std::string unknown = "Unknown";
        const FileTimes* times = expected.times;
        // Under Wine the creation time reads back as the last write time.
        const SYSTEMTIME* created = nullptr;
        if (times != nullptr)
            created = RunningUnderWine() ? &times->written : &times->created;
        const struct {
            const char* field;
            int id;
            std::string text;
        } fields[] = {
            {"control name", IDC_CONTROL_NAME, expected.name},
            {"origin", IDC_ORIGIN, expected.origin},
            {"categories", IDC_CATEGORIES, expected.categories},
            {"usage count", IDC_USAGE_COUNT, expected.usage},
            {"publisher", IDC_PUBLISHER, haveRows ? expected.rows[kCompanyRow] : unknown},
            {"copyright", IDC_COPYRIGHT, haveRows ? expected.rows[kCopyrightRow] : unknown},
            {"version", IDC_VERSION, expected.version},
            {"file type", IDC_FILE_TYPE, expected.type},
            {"last change", IDC_LAST_CHANGE, times ? LocalText(times->written) : unknown},
            {"installed", IDC_INSTALLED, times ? LocalText(*created) : unknown},
            {"last access", IDC_LAST_ACCESS, times ? LocalText(times->accessed, true) : unknown},
            {"size", IDC_SIZE, expected.size},
            {"file information", IDC_FILE_INFO_VALUE,
             haveRows ? expected.rows[static_cast<size_t>(expected.shownRow)] : unknown},
        };
        for (const auto& field : fields)
            EXPECT_EQ(field.text, app.Text(field.id)) << field.field;
        EXPECT_EQ(haveRows ? kRowNames : std::vector<std::string>{},
                  app.ListItems(IDC_FILE_INFO_LIST));
        if (haveRows) {
            EXPECT_EQ(expected.shownRow, app.SelectedRow(IDC_FILE_INFO_LIST));
        }
    }

    // Clicks through the file information list from the top; the last row
    // stays selected.
    void ExpectEveryRow(const ControlView& expected, Where where = Where::current())
    {
        testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()),
                                   expected.entry);
        for (size_t row = 0; row < expected.rows.size(); ++row) {
            ASSERT_TRUE(app.SelectRow(IDC_FILE_INFO_LIST, static_cast<int>(row)));
            EXPECT_EQ(expected.rows[row], app.Text(IDC_FILE_INFO_VALUE)) << kRowNames[row];
        }
    }

    PlacedFiles files;
};

TEST_F(DetailsTest, EachControlInTurnShowsItsRegistrationAndItsFile)
{
    // Two downloads: one whose entry names its class, one whose entry names none.
    files.Copy("ansi.dll", InDownloadFolder("ansi.dll"), kAnsiTimes);
    RegisterDownload(ListedDownload("ansi.dll"));

    files.Copy("full.ocx", InDownloadFolder("full.ocx"), kFullTimes);
    RegisterDownloadedClass(ListedDownload("full.ocx"), kFullClass);
    RegisterClassLibrary(kFullClass, kFullLib, "1.0");
    NameTypeLib(kFullLib, "1.0", "Fixture Full Control Library");
    // The scan lists the file once, as a download.
    RegisterTypeLibFile(kFullLib, "1.0", "win32", InDownloadFolder("full.ocx"));
    AddImplementedCategory(kFullClass, kScriptableCategory, "Controls that are safely scriptable");
    AddImplementedCategory(kFullClass, kInitializableCategory,
                           "Controls safely initializable from persistent data");
    AddImplementedCategory(kFullClass, kGadgetCategory, "Fixture Gadgets");
    SetUsageCount(InDownloadFolder("full.ocx"), 300);

    // Installed controls, found through their type libraries.
    files.Copy("long.ocx", InInstallFolder("long.ocx"), kLongTimes);
    RegisterTypeLibFile(kLongLib, "2.1", "win32", InInstallFolder("LONG.OCX"));
    NameTypeLib(kLongLib, "2.1", "Long Texts Library");
    // Of two classes from the library, the first one's categories count.
    RegisterClassLibrary(kLongFirstClass, kLongLib, "2.1");
    AddImplementedCategory(kLongFirstClass, kScriptableCategory,
                           "Controls that are safely scriptable");
    RegisterClassLibrary(kLongSecondClass, kLongLib, "2.1");
    AddImplementedCategory(kLongSecondClass, kGadgetCategory, "Fixture Gadgets");
    SetUsageCount(InInstallFolder("long.ocx"), 0);

    RegisterTypeLibFile(kMissingLib, "1.0", "win32", InInstallFolder("missing.ocx"));
    NameTypeLib(kMissingLib, "1.0", "Missing Library");
    RegisterClassLibrary(kMissingClass, kMissingLib, "1.0");
    AddImplementedCategory(kMissingClass, kGadgetCategory, "Fixture Gadgets");

    files.Copy("noversion.dll", InInstallFolder("noversion.dll"), kNoVersionTimes);
    RegisterTypeLibFile(kNoVersionLib, "1.0", "win32", InInstallFolder("noversion.dll"));
    NameTypeLib(kNoVersionLib, "1.0", "No Version Library");

    files.Copy("partial.exe", InInstallFolder("partial.exe"), kPartialTimes);
    RegisterTypeLibFile(kPartialLib, "3.0", "win32", InInstallFolder("partial.exe"));
    NameTypeLib(kPartialLib, "3.0", "Partial Server Library");

    // A folder where the library says the control is.
    files.Folder(InInstallFolder("shelf.ocx"), kShelfTimes);
    RegisterTypeLibFile(kShelfLib, "1.0", "win32", InInstallFolder("shelf.ocx"));
    NameTypeLib(kShelfLib, "1.0", "Shelf Library");

    const std::string unknown = "Unknown";
    const std::vector<std::string> noRows;
    const std::vector<std::string> unknownRows(kRowNames.size(), unknown);
    std::vector<std::string> ansiRows = unknownRows;
    ansiRows[0] = "Fixture Ansi";
    ansiRows[4] = "1.2.3.4";
    ansiRows[5] = "Ansi Company";
    ansiRows[6] = "(c) Ansi Company";
    ansiRows[11] = "Read from the 04E4 block";
    std::vector<std::string> longRows = unknownRows;
    longRows[0] = "Long Texts";
    longRows[6] = Repeated("Copyright (C) 1999-2026 Long Text Fixture Incorporated.", 6);
    longRows[11] = Repeated("These comments run on for a long while so that the field that "
                            "shows them has to wrap and clip.",
                            4);
    std::vector<std::string> partialRows = unknownRows;
    partialRows[0] = "Partial";
    partialRows[3] = "Only some strings";

    // In the order of the list. Each control's rows are clicked through from
    // the top, so the next control with version data comes up on the last row.
    const std::vector<ControlView> views = {
        {ListedDownload("ansi.dll"), unknown, unknown, unknown, unknown, "Application Extension",
         "1.2.3.4", FixtureSize("ansi.dll"), &kAnsiTimes, ansiRows, 0},
        {ListedDownload("full.ocx"), "Fixture Full Control Library", "Download from Net",
         "Scriptable; Initialized from data; Fixture Gadgets", "300", "ActiveX Control",
         "5.1.2600.0", FixtureSize("full.ocx"), &kFullTimes, kFullRows, kCommentsRow},
        {"c:\\controls\\long.ocx", "Long Texts Library", "Not Downloaded", "Scriptable", "0",
         "ActiveX Control", "65535.65534.3.0", FixtureSize("long.ocx"), &kLongTimes, longRows,
         kCommentsRow},
        {"c:\\controls\\missing.ocx", "File is not in registered location", "Not Downloaded",
         "Fixture Gadgets", unknown, "ActiveX Control", unknown, unknown, nullptr, noRows, 0},
        {"c:\\controls\\noversion.dll", "No Version Library", "Not Downloaded", unknown, unknown,
         "Application Extension", unknown, FixtureSize("noversion.dll"), &kNoVersionTimes, noRows,
         0},
        // After a file without version data the list starts again at the top.
        {"c:\\controls\\partial.exe", "Partial Server Library", "Not Downloaded", unknown, unknown,
         "Application", "2.0.0.4", FixtureSize("partial.exe"), &kPartialTimes, partialRows, 0},
        {"c:\\controls\\shelf.ocx", "Shelf Library", "Not Downloaded", unknown, unknown, "Folder",
         unknown, "0", &kShelfTimes, noRows, 0},
    };
    std::vector<std::string> entries;
    for (const ControlView& view : views)
        entries.push_back(view.entry);

    ASSERT_TRUE(app.Start());
    ExpectListShown(entries);

    for (size_t i = 0; i < views.size(); ++i) {
        // The first entry is shown without a click.
        if (i > 0) {
            ASSERT_TRUE(app.Select(static_cast<int>(i)));
        }
        ExpectShown(views[i]);
        ExpectEveryRow(views[i]);
    }
}

TEST_F(DetailsTest, FileWithoutTranslationIsReadInTheBlockOfTheFileShownBefore)
{
    files.Copy("untranslated.dll", InDownloadFolder("untranslated.dll"), kUntranslatedTimes);
    RegisterDownload(ListedDownload("untranslated.dll"));
    files.Copy("full.ocx", InInstallFolder("full.ocx"), kFullTimes);
    RegisterTypeLibFile(kFullLib, "1.0", "win32", InInstallFolder("full.ocx"));

    ASSERT_TRUE(app.Start());
    ExpectListShown({ListedDownload("untranslated.dll"), "c:\\controls\\full.ocx"});

    // The first file of the process is read in the block the program starts with.
    EXPECT_EQ("Untranslated in 04E0", app.Text(IDC_FILE_INFO_VALUE));
    EXPECT_EQ("Block 04E0", app.Text(IDC_PUBLISHER));
    EXPECT_EQ("7.0.0.1", app.Text(IDC_VERSION));

    ASSERT_TRUE(app.Select(1));
    EXPECT_EQ("Fixture Full Product", app.Text(IDC_FILE_INFO_VALUE));
    ASSERT_TRUE(app.Select(0));

    EXPECT_EQ("Untranslated in 04b0", app.Text(IDC_FILE_INFO_VALUE));
    EXPECT_EQ("Block 04b0", app.Text(IDC_PUBLISHER));
    EXPECT_EQ("7.0.0.1", app.Text(IDC_VERSION));
}

// Folder names outside the ANSI code page, which its best-fit mapping would
// turn into other paths ('Ω' into 'O') or into '?'.
const char* const kOtherScripts[] = {"Жук", "Ωmega", "東京"};

TEST_F(DetailsTest, ControlsInFoldersOfOtherScriptsShowAllThatAsciiOnesShow)
{
    std::vector<ControlView> views;
    views.push_back({"c:\\controls\\full.ocx", "Fixture Full Control Library", "Not Downloaded",
                     "Unknown", "Unknown", "ActiveX Control", "5.1.2600.0", FixtureSize("full.ocx"),
                     &kFullTimes, kFullRows, 0});
    files.Copy("full.ocx", InInstallFolder("full.ocx"), kFullTimes);
    RegisterTypeLibFile(kFullLib, "1.0", "win32", InInstallFolder("full.ocx"));
    NameTypeLib(kFullLib, "1.0", "Fixture Full Control Library");
    int next = 0;
    for (const char* folder : kOtherScripts) {
        // A download, listed as the browser registered it, and an installed
        // control lower-cased for 'A' to 'Z' alone.
        const std::string name = std::string(folder) + "\\full.ocx";
        files.Copy("full.ocx", InDownloadFolder(name.c_str()), kFullTimes);
        const std::string listed = std::string(kListedDownloadFolder) + "/" + folder + "/full.ocx";
        RegisterDownload(listed);
        views.push_back({listed, "Unknown", "Unknown", "Unknown", "Unknown", "ActiveX Control",
                         "5.1.2600.0", FixtureSize("full.ocx"), &kFullTimes, kFullRows, 0});

        files.Copy("full.ocx", InInstallFolder(name.c_str()), kFullTimes);
        char libid[64];
        snprintf(libid, sizeof libid, "{E2E00000-0000-4000-8000-0000000000F%d}", next++);
        RegisterTypeLibFile(libid, "1.0", "win32", InInstallFolder(name.c_str()));
        NameTypeLib(libid, "1.0", std::string(folder) + " Library");
        views.push_back({"c:\\controls\\" + std::string(folder) + "\\full.ocx",
                         std::string(folder) + " Library", "Not Downloaded", "Unknown", "Unknown",
                         "ActiveX Control", "5.1.2600.0", FixtureSize("full.ocx"), &kFullTimes,
                         kFullRows, 0});
    }

    ASSERT_TRUE(app.Start());
    ASSERT_TRUE(app.Settle());
    const std::vector<std::string> shown = app.ControlList();
    ASSERT_EQ(views.size(), shown.size());
    for (ControlView& view : views) {
        auto found = std::find(shown.begin(), shown.end(), view.entry);
        ASSERT_NE(shown.end(), found) << view.entry;
        ASSERT_TRUE(app.Select(static_cast<int>(found - shown.begin())));
        // The row the user was reading stays selected from one control to the next.
        view.shownRow = app.SelectedRow(IDC_FILE_INFO_LIST);
        ExpectShown(view);
        ExpectEveryRow(view);
    }
}

} // namespace
} // namespace e2e
