#include "e2e/fixture.h"

#include "app/control_ids.h"
#include "support/test_support.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace e2e {
namespace {

const std::vector<std::string> kHeader = {
    "Control File",    "Control",      "Publisher",      "Usage Count",
    "File Type",       "Origin",       "Installed",      "Last Change",
    "Last Access",     "Version",      "Copyright",      "Size",
    "Categories",      "ProductName",  "ProductVersion", "OriginalFilename",
    "FileDescription", "FileVersion",  "CompanyName",    "LegalCopyright",
    "LegalTrademarks", "InternalName", "PrivateBuild",   "SpecialBuild",
    "Comments",        "Bits",
};
// The fields behind columns 2 to 13; the version strings follow them.
const int kFieldIds[] = {
    IDC_CONTROL_NAME, IDC_PUBLISHER,   IDC_USAGE_COUNT, IDC_FILE_TYPE, IDC_ORIGIN, IDC_INSTALLED,
    IDC_LAST_CHANGE,  IDC_LAST_ACCESS, IDC_VERSION,     IDC_COPYRIGHT, IDC_SIZE,   IDC_CATEGORIES,
};
const size_t kFirstVersionColumn = 1 + std::size(kFieldIds);
const size_t kBitsColumn = kFirstVersionColumn + 12;

using Record = std::vector<std::string>;

bool IsPlainNumber(const std::string& text)
{
    size_t at = text.empty() || (text[0] != '+' && text[0] != '-') ? 0 : 1;
    auto digits = [&] {
        size_t start = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9')
            ++at;
        return at > start;
    };
    if (!digits())
        return false;
    if (at < text.size() && text[at] == '.') {
        ++at;
        if (!digits())
            return false;
    }
    return at == text.size();
}

// A spreadsheet runs a cell that starts so as a formula; the report puts an
// apostrophe in front, which the spreadsheet shows as nothing.
std::string AsWritten(const std::string& text)
{
    if (!text.empty() && std::strchr("=+-@\t\r", text[0]) != nullptr && !IsPlainNumber(text))
        return "'" + text;
    return text;
}

bool NeedsQuotes(const std::string& field)
{
    return field.find_first_of(",\"\r\n") != std::string::npos;
}

// RFC 4180 as the report writes it, and nothing looser: a byte order mark,
// CRLF after every record, quotes around exactly the fields that need them.
bool ParseCsv(const std::string& bytes, std::vector<Record>& records, std::string& error)
{
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") != 0) {
        error = "the file does not start with a UTF-8 byte order mark";
        return false;
    }
    Record record;
    size_t at = 3;
    while (at < bytes.size()) {
        std::string field;
        if (bytes[at] == '"') {
            for (++at;; ++at) {
                if (at >= bytes.size()) {
                    error = "a quoted field runs to the end of the file";
                    return false;
                }
                if (bytes[at] == '"' && bytes.compare(at, 2, "\"\"") != 0)
                    break;
                if (bytes[at] == '"')
                    ++at;
                field += bytes[at];
            }
            ++at;
            if (!NeedsQuotes(field)) {
                error = "a field that needs no quotes is quoted: " + field;
                return false;
            }
        } else {
            size_t end = bytes.find_first_of(",\"\r\n", at);
            end = end == std::string::npos ? bytes.size() : end;
            field = bytes.substr(at, end - at);
            at = end;
        }
        record.push_back(field);
        if (at < bytes.size() && bytes[at] == ',') {
            ++at;
        } else if (bytes.compare(at, 2, "\r\n") == 0) {
            at += 2;
            records.push_back(record);
            record.clear();
        } else {
            error = "record " + std::to_string(records.size() + 1) + ", field " +
                    std::to_string(record.size()) + " (\"" + field + "\") is followed by " +
                    (at < bytes.size() ? "byte " + std::to_string(static_cast<BYTE>(bytes[at]))
                                       : std::string("the end of the file without CRLF"));
            return false;
        }
    }
    if (!record.empty()) {
        error = "the file ends after a comma";
        return false;
    }
    return true;
}

// The header and the rows of a report, each of 26 fields.
std::vector<Record> ReadReport(const std::string& path, Where where = Where::current())
{
    std::vector<Record> records;
    std::string error;
    if (!FileExists(path)) {
        ADD_FAILURE_AT(where.file_name(), where.line()) << "no report at " << path;
    } else if (!ParseCsv(ReadWhole(path), records, error)) {
        ADD_FAILURE_AT(where.file_name(), where.line()) << path << ": " << error;
        records.clear();
    } else if (records.empty() || records[0] != kHeader) {
        ADD_FAILURE_AT(where.file_name(), where.line())
            << "the report does not start with the header: "
            << testing::PrintToString(records.empty() ? Record{} : records[0]);
        records.clear();
    }
    for (const Record& record : records)
        if (record.size() != kHeader.size()) {
            ADD_FAILURE_AT(where.file_name(), where.line())
                << "a row of " << record.size() << " fields: " << testing::PrintToString(record);
            records.clear();
            break;
        }
    return records;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end;
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

bool MentionsReport(const std::string& text)
{
    std::string lowered = LowerCase(text);
    return lowered.find("report") != std::string::npos;
}

std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

// Runs /report into the file as a user would, expecting success.
void Report(const std::string& path, Where where = Where::current())
{
    testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()), "report");
    Outcome run = RunProgram("/report " + Quoted(path), ErrorOutput::File, where);
    EXPECT_EQ(0u, run.code) << run.errors;
    EXPECT_EQ(std::vector<std::string>{}, run.windows);
}

// The whole registry as regedit exports it, one key a string, without the
// keys that Wine's own services rewrite by themselves while a prefix is in
// use: the network cards (written once, some seconds after the prefix is
// made), the count of service starts, and the device interfaces (their
// "Linked" values go when a service host restarts).
std::vector<std::string> ExportRegistry(const std::string& path, Where where = Where::current())
{
    WCHAR windows[MAX_PATH] = L"";
    GetWindowsDirectoryW(windows, MAX_PATH);
    WideText program = Wide(Utf8(windows) + "\\regedit.exe");
    WideText line = Wide("regedit.exe /E " + Quoted(path));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::vector<std::string> keys;
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        ADD_FAILURE_AT(where.file_name(), where.line())
            << "cannot start regedit: error " << GetLastError();
        return keys;
    }
    DWORD code = 1;
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, 99);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::string bytes = ReadWhole(path);
    DeleteFileW(Wide(path).c_str());
    // UTF-16 with a byte order mark.
    if (code != 0 || bytes.size() < 2 || bytes.compare(0, 2, "\xFF\xFE") != 0) {
        ADD_FAILURE_AT(where.file_name(), where.line())
            << "regedit /E ended with " << code << " and wrote " << bytes.size() << " bytes";
        return keys;
    }
    WideText wide(reinterpret_cast<const WCHAR*>(bytes.data() + 2), (bytes.size() - 2) / 2);
    std::string text = Utf8(wide);
    const char* const kRewritten[] = {
        "[hkey_local_machine\\software\\microsoft\\windows nt\\currentversion\\networkcards",
        "[hkey_local_machine\\software\\wow6432node\\microsoft\\windows "
        "nt\\currentversion\\networkcards",
        "[hkey_local_machine\\system\\currentcontrolset\\control\\servicecurrent]",
        "[hkey_local_machine\\system\\currentcontrolset\\control\\deviceclasses\\",
    };
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n\r\n", start);
        end = end == std::string::npos ? text.size() : end + 4;
        std::string key = text.substr(start, end - start);
        std::string lowered = LowerCase(key);
        if (std::none_of(std::begin(kRewritten), std::end(kRewritten),
                         [&](const char* prefix) { return lowered.rfind(prefix, 0) == 0; }))
            keys.push_back(key);
        start = end;
    }
    return keys;
}

const std::string kReportClass = "{E2E00000-0000-4000-8000-0000000005C1}";
const std::string kFormulaClass = "{E2E00000-0000-4000-8000-0000000005C2}";
const std::string kReportLib = "{E2E00000-0000-4000-8000-0000000005A1}";
const std::string kLongLib = "{E2E00000-0000-4000-8000-0000000005A2}";
const std::string kNoVersionLib = "{E2E00000-0000-4000-8000-0000000005A3}";
const std::string kPartialLib = "{E2E00000-0000-4000-8000-0000000005A4}";
const std::string kShelfLib = "{E2E00000-0000-4000-8000-0000000005A5}";
const std::string kFormulaLib = "{E2E00000-0000-4000-8000-0000000005A6}";
const std::string kCommaLib = "{E2E00000-0000-4000-8000-0000000005A7}";
const std::string kOtherScriptLib = "{E2E00000-0000-4000-8000-0000000005A8}";
const std::string kStrayLib = "{E2E00000-0000-4000-8000-0000000005A9}";
const std::string kFormulaCategory = "{E2E00000-0000-4000-8000-0000000005D1}";

// Access times in the future: reading a file rewrites an older one under
// Wine, and the report and the dialog both read every file.
const FileTimes kTimes = {Utc(2001, 7, 4, 2, 30, 15), Utc(2000, 1, 1, 0, 0, 1),
                          Utc(2035, 1, 2, 3, 4, 5)};

// Every kind of entry the details know, and texts that a spreadsheet would
// run as formulas or that CSV has to quote: in the entries, the registry
// and the version strings. Answers the number of entries listed.
size_t SeedControls(PlacedFiles& files)
{
    // Downloads; the one without a translation of its own is read in the
    // block of the file before it, so the rows must follow the list.
    files.Copy("ansi.dll", InDownloadFolder("ansi.dll"), kTimes);
    RegisterDownload(ListedDownload("ansi.dll"));
    files.Copy("full.ocx", InDownloadFolder("full.ocx"), kTimes);
    Register(DownloadedControl("full.ocx", kReportClass, kReportLib), 300);
    files.Copy("untranslated.dll", InDownloadFolder("untranslated.dll"), kTimes);
    RegisterDownload(ListedDownload("untranslated.dll"));
    RegisterDownload(ListedDownload("say \"two\"\nlines.ocx"));

    files.Copy("long.ocx", InInstallFolder("long.ocx"), kTimes);
    RegisterTypeLibFile(kLongLib, "2.1", "win32", InInstallFolder("LONG.OCX"));
    NameTypeLib(kLongLib, "2.1", "Long Texts Library");
    files.Copy("noversion.dll", InInstallFolder("noversion.dll"), kTimes);
    RegisterTypeLibFile(kNoVersionLib, "1.0", "win32", InInstallFolder("noversion.dll"));
    NameTypeLib(kNoVersionLib, "1.0", "No Version Library");
    files.Copy("partial.exe", InInstallFolder("partial.exe"), kTimes);
    RegisterTypeLibFile(kPartialLib, "3.0", "win32", InInstallFolder("partial.exe"));
    NameTypeLib(kPartialLib, "3.0", "Partial Server Library");
    files.Folder(InInstallFolder("shelf.ocx"), kTimes);
    RegisterTypeLibFile(kShelfLib, "1.0", "win32", InInstallFolder("shelf.ocx"));
    NameTypeLib(kShelfLib, "1.0", "Shelf Library");
    files.Copy("full.ocx", InInstallFolder("Жук\\full.ocx"), kTimes);
    RegisterTypeLibFile(kOtherScriptLib, "1.0", "win32", InInstallFolder("Жук\\full.ocx"));
    NameTypeLib(kOtherScriptLib, "1.0", "Жук Library");

    files.Copy("hostile.ocx", InInstallFolder("hostile.ocx"), kTimes);
    RegisterTypeLibFile(kFormulaLib, "1.0", "win32", InInstallFolder("hostile.ocx"));
    NameTypeLib(kFormulaLib, "1.0", "=cmd|' /C calc'!A0");
    RegisterClassLibrary(kFormulaClass, kFormulaLib, "1.0");
    AddImplementedCategory(kFormulaClass, kFormulaCategory, "@SUM(1+1)");
    // Shown as "-5": a plain number, which keeps its sign.
    SetUsageCount(InInstallFolder("hostile.ocx"), static_cast<DWORD>(-5));
    files.Copy("full.ocx", InInstallFolder("a,b.ocx"), kTimes);
    RegisterTypeLibFile(kCommaLib, "1.0", "win32", InInstallFolder("a,b.ocx"));
    NameTypeLib(kCommaLib, "1.0", "Say \"hi\",\r\nthen go");
    // Type libraries may name anything at all.
    const char* const kStrays[] = {"-12.5", "+1,5", "\tc:\\tab.ocx", "\rc:\\return.ocx",
                                   "@c:\\at.ocx"};
    int version = 1;
    for (const char* stray : kStrays)
        RegisterTypeLibFile(kStrayLib, std::to_string(version++) + ".0", "win32", stray);
    return 4 + 7 + std::size(kStrays);
}

class ReportTest : public ProgramTest {
  protected:
    void SetUp() override
    {
        ProgramTest::SetUp();
        ForgetTestRegistrations();
        files.Expect(reportPath);
    }
    void TearDown() override
    {
        ForgetTestRegistrations();
    }

    // The entry is shown: the row holds its text and what its fields and
    // each row of its file information list show, as the report writes them.
    void ExpectRowShown(const std::string& entry, const Record& row, Where where = Where::current())
    {
        testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()), entry);
        EXPECT_EQ(AsWritten(entry), row[0]) << kHeader[0];
        for (size_t field = 0; field < std::size(kFieldIds); ++field)
            EXPECT_EQ(AsWritten(app.Text(kFieldIds[field])), row[1 + field]) << kHeader[1 + field];
        const std::vector<std::string> names = app.ListItems(IDC_FILE_INFO_LIST);
        const bool marked = entry.size() > 9 && entry.substr(entry.size() - 9) == " (64-bit)";
        EXPECT_EQ(marked ? "64" : "32", row[kBitsColumn]) << kHeader[kBitsColumn];
        const std::vector<std::string> versionColumns(kHeader.begin() + kFirstVersionColumn,
                                                      kHeader.begin() + kBitsColumn);
        if (names.empty()) {
            EXPECT_EQ(std::vector<std::string>(versionColumns.size()),
                      Record(row.begin() + kFirstVersionColumn, row.begin() + kBitsColumn));
            return;
        }
        ASSERT_EQ(versionColumns, names);
        for (size_t version = 0; version < names.size(); ++version) {
            ASSERT_TRUE(app.SelectRow(IDC_FILE_INFO_LIST, static_cast<int>(version)));
            EXPECT_EQ(AsWritten(app.Text(IDC_FILE_INFO_VALUE)), row[kFirstVersionColumn + version])
                << names[version];
        }
    }

    // Writes the report and checks each row against what the dialog shows
    // for its entry; answers the entries and the rows.
    std::vector<std::string> ExpectRowsShown(std::vector<Record>& rows,
                                             Where where = Where::current())
    {
        testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()), "rows");
        Report(reportPath);
        rows = ReadReport(reportPath);
        if (!rows.empty())
            rows.erase(rows.begin());
        EXPECT_TRUE(app.Start());
        EXPECT_TRUE(app.Settle());
        const std::vector<std::string> entries = app.ControlList();
        EXPECT_EQ(entries.size(), rows.size());
        // The dialog shows the first entry without a click, and reads each
        // file in the order of the list, as the report does.
        for (size_t i = 0; i < entries.size() && i < rows.size(); ++i) {
            if (i > 0 && !app.Select(static_cast<int>(i)))
                break;
            ExpectRowShown(entries[i], rows[i]);
        }
        return entries;
    }

    const std::string reportPath = TempPath("burrowlens report.csv");
    PlacedFiles files;
};

TEST_F(ReportTest, EachRowIsWhatTheDialogShowsForItsEntry)
{
    size_t seeded = SeedControls(files);
    std::vector<Record> rows;
    EXPECT_EQ(seeded, ExpectRowsShown(rows).size());
}

// On 64-bit Windows both views have their rows, each read as the dialog
// reads it: the namesakes in SysWOW64 and System32 each from its own file,
// and the view in the last column.
TEST_F(ReportTest, OnWow64EachViewHasItsRows)
{
    if (!RunningUnderWow64())
        GTEST_SKIP() << "only for the 32-bit program on 64-bit Windows (a 64-bit Wine prefix)";
    std::vector<std::string> expected;
    for (const Wow64Control& one : RegisterWow64Controls(files, kTimes))
        expected.push_back(one.control.listed);
    std::vector<Record> rows;
    std::vector<std::string> entries = ExpectRowsShown(rows);
    std::map<std::string, std::string> versions;
    for (const Record& row : rows)
        versions[row[0]] = row[1 + 8];
    EXPECT_EQ("5.1.2600.0", versions["c:\\windows\\system32\\e2e narrow.ocx"]);
    EXPECT_EQ("1.2.3.4", versions["c:\\windows\\system32\\e2e narrow.ocx (64-bit)"]);
    std::sort(entries.begin(), entries.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, entries);
}

TEST_F(ReportTest, ChangesNothingInTheRegistry)
{
    SeedControls(files);
    const std::vector<std::string> before = ExportRegistry(TempPath("before report.reg"));
    Report(reportPath);
    const std::vector<std::string> after = ExportRegistry(TempPath("after report.reg"));
    ASSERT_FALSE(before.empty());
    auto differs = std::mismatch(before.begin(), before.end(), after.begin(), after.end());
    EXPECT_TRUE(differs.first == before.end() && differs.second == after.end())
        << "before:\n"
        << (differs.first == before.end() ? "(nothing)" : *differs.first) << "\nafter:\n"
        << (differs.second == after.end() ? "(nothing)" : *differs.second);
}

enum class Usage { None, OnStderr, InBox };

void RegisterThreeControls(std::unique_ptr<DeniedKey>&)
{
    CreateRegistryKey(HKEY_LOCAL_MACHINE, kModuleUsage);
    RegisterTypeLibFile("{33333333-0000-0000-0000-000000000001}", "1.0", "win32",
                        "C:\\Windows\\System32\\Chart.ocx");
    RegisterTypeLibFile("{33333333-0000-0000-0000-000000000001}", "1.0", "win16",
                        "C:\\Windows\\System\\Chart.vbx");
    RegisterTypeLibFile("{33333333-0000-0000-0000-000000000002}", "2.0", "win32",
                        "C:\\Program Files\\Grid\\GRID32.OCX");
}

const std::vector<std::string> kThreeControls = {
    "c:\\program files\\grid\\grid32.ocx",
    "c:\\windows\\system\\chart.vbx",
    "c:\\windows\\system32\\chart.ocx",
};

// One command line, what it finds in the registry, and all that it leaves.
struct Invocation {
    const char* name;
    std::string arguments; // FILE stands for a path that can be written
    ErrorOutput output = ErrorOutput::File;
    void (*seed)(std::unique_ptr<DeniedKey>& denied) = RegisterThreeControls;
    DWORD code = 0;
    Usage usage = Usage::None;
    // With exit status 3: the texts of the boxes that the dialog shows, a line each.
    std::vector<std::string> errorLines = {};
    // The first column of the rows; without any, no file is written.
    std::vector<std::string> entries = {};
};

void PrintTo(const Invocation& invocation, std::ostream* out)
{
    *out << invocation.name;
}

const Invocation kInvocations[] = {
    {.name = "DashSwitch", .arguments = "-report FILE", .entries = kThreeControls},
    {.name = "CapitalSwitch",
     .arguments = "/REPORT FILE",
     .output = ErrorOutput::Pipe,
     .entries = kThreeControls},
    {.name = "UnknownSwitch",
     .arguments = "/bogus",
     .output = ErrorOutput::Pipe,
     .code = 2,
     .usage = Usage::OnStderr},
    {.name = "NoFile", .arguments = "/report", .code = 2, .usage = Usage::OnStderr},
    {.name = "SecondFile",
     .arguments = "/report FILE FILE",
     .output = ErrorOutput::Pipe,
     .code = 2,
     .usage = Usage::OnStderr},
    {.name = "NoConsoleAndNoStderr",
     .arguments = "/bogus",
     .output = ErrorOutput::None,
     .code = 2,
     .usage = Usage::InBox},
    {.name = "FolderMissing", .arguments = "/report C:\\Controls\\missing\\report.csv", .code = 1},
    {.name = "ModuleUsageDenied",
     .arguments = "/report FILE",
     .seed =
         [](std::unique_ptr<DeniedKey>& denied) {
             RegisterThreeControls(denied);
             RegisterDownload("C:/Windows/occache/Hidden.ocx");
             denied = std::make_unique<DeniedKey>(HKEY_LOCAL_MACHINE, kModuleUsage);
         },
     .code = 3,
     // The scan's own open, then the download check of each type library file.
     .errorLines = std::vector<std::string>(4, AccessDeniedBox().text),
     .entries = kThreeControls},
    {.name = "TypeLibMissing",
     .arguments = "/report FILE",
     .output = ErrorOutput::Pipe,
     .seed =
         [](std::unique_ptr<DeniedKey>&) {
             RegisterDownload("C:/Windows/occache/Chart.ocx");
             RegisterDownload("C:/Windows/Downloaded Program Files/Grid.ocx");
         },
     .code = 3,
     .errorLines = {KeyOpenFailedBox(730).text},
     .entries = {"C:/Windows/Downloaded Program Files/Grid.ocx", "C:/Windows/occache/Chart.ocx"}},
};

class InvocationTest : public ReportTest, public testing::WithParamInterface<Invocation> {
  protected:
    std::unique_ptr<DeniedKey> denied;
};

TEST_P(InvocationTest, EndsWithItsStatusAndWritesWhatItCould)
{
    const Invocation& invocation = GetParam();
    // A program started without a standard error borrows its caller's
    // console, and the box is for when there is none: under ctest there is
    // none, in a terminal there is.
    DWORD attached = 0;
    if (invocation.usage == Usage::InBox && GetConsoleProcessList(&attached, 1) != 0)
        GTEST_SKIP() << "this test has a console, which the program would borrow";
    invocation.seed(denied);
    std::string arguments = invocation.arguments;
    for (size_t at; (at = arguments.find("FILE")) != std::string::npos;)
        arguments.replace(at, 4, Quoted(reportPath));

    Outcome run = RunProgram(arguments, invocation.output);

    EXPECT_EQ(invocation.code, run.code) << run.errors;
    if (invocation.usage == Usage::InBox) {
        ASSERT_EQ(1u, run.windows.size()) << testing::PrintToString(run.windows);
        EXPECT_EQ(0u, run.windows[0].rfind("Burrowlens: ", 0)) << run.windows[0];
        EXPECT_TRUE(MentionsReport(run.windows[0])) << run.windows[0];
    } else {
        EXPECT_EQ(std::vector<std::string>{}, run.windows);
    }
    if (invocation.usage == Usage::OnStderr) {
        EXPECT_TRUE(MentionsReport(run.errors)) << "standard error: " << run.errors;
    }
    if (invocation.code == 3) {
        EXPECT_EQ(invocation.errorLines, Lines(run.errors));
    }
    if (invocation.entries.empty()) {
        EXPECT_FALSE(FileExists(reportPath));
        return;
    }
    std::vector<std::string> written;
    for (const Record& row : ReadReport(reportPath))
        written.push_back(row[0]);
    ASSERT_FALSE(written.empty());
    written.erase(written.begin());
    EXPECT_EQ(invocation.entries, written);
}

INSTANTIATE_TEST_SUITE_P(Report, InvocationTest, testing::ValuesIn(kInvocations),
                         [](const testing::TestParamInfo<Invocation>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
} // namespace e2e
