#include "app/app.h"
#include "app/control_ids.h"
#include "base/messages.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifndef _WIN32
#include <cstdio>
#include <win32sim.h>
#endif

typedef std::vector<std::string> Row;

#define LIBID_A "{B0A0A0A0-0000-4000-8000-0000000001AA}"
#define LIBID_B "{B0A0A0A0-0000-4000-8000-0000000001BB}"
#define LIBID_C "{B0A0A0A0-0000-4000-8000-0000000001CC}"
#define CLSID_A "{B0A0A0A0-0000-4000-8000-00000000010A}"

static const char kReportPath[] = "C:\\burrowlens-report-test.csv";
static const char kDownload[] = "C:/Windows/Downloaded Program Files/BlReport.ocx";
static const char kFormula[] = "=cmd|' /C calc'!A0";
static const char kDefusedFormula[] = "'=cmd|' /C calc'!A0";
static const char kQuoted[] = "Name, with \"quotes\"\r\nand a second line";

static std::string ReadBytes(const std::string& path)
{
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return "(no file)";
    std::string bytes;
    char buffer[4096];
    DWORD got;
    while (ReadFile(file, buffer, sizeof buffer, &got, NULL) && got > 0)
        bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}

// RFC 4180 as a reader that knows nothing of the writer takes it.
static std::vector<Row> ParseCsv(const std::string& bytes)
{
    std::vector<Row> rows;
    Row row;
    std::string field;
    bool quoted = false;
    for (size_t i = 0; i < bytes.size(); ++i) {
        char c = bytes[i];
        if (quoted) {
            if (c != '"')
                field += c;
            else if (i + 1 < bytes.size() && bytes[i + 1] == '"')
                field += bytes[++i];
            else
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            row.push_back(field);
            field.clear();
        } else if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            row.push_back(field);
            rows.push_back(row);
            row.clear();
            field.clear();
            ++i;
        } else {
            field += c;
        }
    }
    EXPECT_TRUE(field.empty() && row.empty()) << "the last record has no CRLF";
    return rows;
}

static std::string CsvField(const std::string& text)
{
    DeleteFileW(Wide(kReportPath).c_str());
    OutputFile out;
    EXPECT_TRUE(CreateOutputFile(out, Wide(kReportPath).c_str()));
    WriteCsvField(out, Wide(text).c_str(), true);
    EXPECT_EQ(0u, CloseOutputFile(out));
    std::string bytes = ReadBytes(kReportPath);
    DeleteFileW(Wide(kReportPath).c_str());
    return bytes;
}

TEST(ReportCsv, FieldsAreQuotedAndKeptFromBeingFormulas)
{
    struct Case {
        const char* text;
        const char* field;
    } cases[] = {
        {"", ""},
        {"Plain text", "Plain text"},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"\"", "\"\"\"\""},
        {"two\nlines", "\"two\nlines\""},
        {"cr\ronly", "\"cr\ronly\""},
        {kFormula, "'=cmd|' /C calc'!A0"},
        {"=1+1", "'=1+1"},
        {"+33 1 23", "'+33 1 23"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"-2+3", "'-2+3"},
        {"-", "'-"},
        {"\tindented", "'\tindented"},
        {"\rback", "\"'\rback\""},
        {"=\"a\",b", "\"'=\"\"a\"\",b\""},
        {"-1", "-1"},
        {"+7", "+7"},
        {"-12.5", "-12.5"},
        {"12", "12"},
        {"-1.", "'-1."},
        {"- 1", "'- 1"},
        {"5.1.2600.0", "5.1.2600.0"},
        {"a=b", "a=b"},
        {" =x", " =x"},
        {"Жук Ωmega 東京 😀", "Жук Ωmega 東京 😀"},
        {"\"Ω\",😀", "\"\"\"Ω\"\",😀\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.field, CsvField(c.text));
    }
}

// A report, and the registrations it is checked against: a download that
// its type library names like a formula, the fixture with full version data
// named by a formula, another named by text that needs quoting, a missing
// file whose path needs quoting, and files whose names probe the order of a
// sorted list box, one of them named twice.
class ReportTest : public testing::Test {
  protected:
    void SetUp() override
    {
#ifndef _WIN32
        SimReset();
#endif
        CreateDirectoryW(TEXT("C:\\Windows"), NULL);
        CreateDirectoryW(TEXT("C:\\Windows\\Downloaded Program Files"), NULL);
        HANDLE file = CreateFileW(Wide(kDownload).c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, NULL);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        CloseHandle(file);
        SetRegistryText(HKEY_LOCAL_MACHINE, ModuleUsage(), CLSID_A, "");
        SetRegistryText(HKEY_CLASSES_ROOT, "CLSID\\" CLSID_A "\\Version", "", "1.0");
        SetRegistryText(HKEY_CLASSES_ROOT, "CLSID\\" CLSID_A "\\TypeLib", "", LIBID_C);
        SetRegistryText(HKEY_CLASSES_ROOT, "TypeLib\\" LIBID_C "\\1.0", "", "@SUM(1+1)*cmd|x");
        SetRegistryDword(HKEY_LOCAL_MACHINE, Utf8(SHARED_DLLS_PATH),
                         "C:\\Windows\\Downloaded Program Files\\BlReport.ocx", 3);

        SetRegistryText(HKEY_CLASSES_ROOT, "TypeLib\\" LIBID_A "\\1.0", "", kFormula);
        SetRegistryText(HKEY_CLASSES_ROOT, "TypeLib\\" LIBID_A "\\1.0\\0\\win32", "",
                        FixturePath("full.ocx"));
        SetRegistryText(HKEY_CLASSES_ROOT, "TypeLib\\" LIBID_A "\\2.0", "", kQuoted);
        SetRegistryText(HKEY_CLASSES_ROOT, "TypeLib\\" LIBID_A "\\2.0\\0\\win32", "",
                        FixturePath("ansi.dll"));
        SetRegistryText(HKEY_CLASSES_ROOT, "TypeLib\\" LIBID_A "\\3.0\\0\\win32", "",
                        "C:\\BlReport\\Missing, \"Really\".dll");
        const char* probes[] = {"_u.dll",  "b.dll", "B2.dll", "a-b.dll",  "ab.dll",
                                "a b.dll", "é.dll", "e.dll",  "Ωmega.dll"};
        int version = 1;
        for (const char* probe : probes)
            SetRegistryText(HKEY_CLASSES_ROOT,
                            "TypeLib\\" LIBID_B "\\" + std::to_string(version++) + ".0\\0\\win32",
                            "", std::string("C:\\BlReport\\") + probe);
        SetRegistryText(HKEY_CLASSES_ROOT, "TypeLib\\" LIBID_B "\\99.0\\0\\win16", "",
                        "C:\\BlReport\\b.dll");
        SetRegistryDword(HKEY_LOCAL_MACHINE, Utf8(SHARED_DLLS_PATH), "C:\\BlReport\\b.dll",
                         0xFFFFFFFF);
    }
    void TearDown() override
    {
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, ModuleUsage());
        for (const char* key :
             {"CLSID\\" CLSID_A, "TypeLib\\" LIBID_A, "TypeLib\\" LIBID_B, "TypeLib\\" LIBID_C})
            DeleteRegistryTree(HKEY_CLASSES_ROOT, key);
        HKEY shared;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SHARED_DLLS_PATH, 0, KEY_ALL_ACCESS, &shared) ==
            ERROR_SUCCESS) {
            RegDeleteValueW(shared, TEXT("C:\\Windows\\Downloaded Program Files\\BlReport.ocx"));
            RegDeleteValueW(shared, TEXT("C:\\BlReport\\b.dll"));
            RegCloseKey(shared);
        }
        DeleteFileW(Wide(kReportPath).c_str());
        DeleteFileW(Wide(kDownload).c_str());
    }
    static std::string ModuleUsage()
    {
        return Utf8(MODULE_USAGE_PATH) + "\\" + kDownload;
    }
    static std::vector<Row> Report(int expectedStatus = EXIT_REPORT_WRITTEN)
    {
        EXPECT_EQ(expectedStatus, WriteControlReport(Wide(kReportPath).c_str(), NULL));
        std::string bytes = ReadBytes(kReportPath);
        EXPECT_EQ(0u, bytes.rfind("\xEF\xBB\xBF", 0)) << "no byte-order mark";
        return ParseCsv(bytes.size() >= 3 ? bytes.substr(3) : bytes);
    }
};

// The apostrophe a field gets when a spreadsheet would read it as a formula.
static std::string Defused(const std::string& text)
{
    bool number = !text.empty() && text.find_first_not_of("+-0123456789.") == std::string::npos &&
                  text.find_first_of("0123456789") != std::string::npos;
    if (!text.empty() && std::string("=+-@\t\r").find(text[0]) != std::string::npos && !number)
        return "'" + text;
    return text;
}

static std::string LowerAscii(const std::string& text)
{
    std::string lowered;
    for (char c : text)
        lowered += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return lowered;
}

static bool IsOurs(const std::string& entry)
{
    std::string lowered = LowerAscii(entry);
    for (const char* name : {"blreport", "full.ocx", "ansi.dll"})
        if (lowered.find(name) != std::string::npos)
            return true;
    return false;
}

TEST_F(ReportTest, RowsFollowTheListAndShowWhatTheDialogShows)
{
    static const int kFields[] = {
        IDC_CONTROL_NAME, IDC_PUBLISHER, IDC_USAGE_COUNT, IDC_FILE_TYPE,
        IDC_ORIGIN,       IDC_INSTALLED, IDC_LAST_CHANGE, IDC_LAST_ACCESS,
        IDC_VERSION,      IDC_COPYRIGHT, IDC_SIZE,        IDC_CATEGORIES,
    };
    std::vector<Row> rows = Report();
    ASSERT_FALSE(rows.empty());
    Row header = rows.front();
    rows.erase(rows.begin());
    EXPECT_EQ(Row({"Control File",    "Control",      "Publisher",      "Usage Count",
                   "File Type",       "Origin",       "Installed",      "Last Change",
                   "Last Access",     "Version",      "Copyright",      "Size",
                   "Categories",      "ProductName",  "ProductVersion", "OriginalFilename",
                   "FileDescription", "FileVersion",  "CompanyName",    "LegalCopyright",
                   "LegalTrademarks", "InternalName", "PrivateBuild",   "SpecialBuild",
                   "Comments",        "Bits"}),
              header);

    int ours = 0;
    WithMainDialog([&](HWND dialog) {
        RefreshControlList(dialog);
        std::vector<std::string> entries = ListBoxItems(dialog, IDC_CONTROL_LIST);
        ASSERT_EQ(entries.size(), rows.size());
        for (size_t i = 0; i < rows.size(); ++i) {
            SCOPED_TRACE(entries[i]);
            ASSERT_EQ(26u, rows[i].size());
            EXPECT_EQ(Defused(entries[i]), rows[i][0]) << "row " << i;
            EXPECT_EQ("32", rows[i][25]) << "a Windows without WOW64 has one view";
            if (!IsOurs(entries[i]))
                continue;
            ++ours;
            SendDlgItemMessageW(dialog, IDC_CONTROL_LIST, LB_SETCURSEL, i, 0);
            ShowControlDetails(dialog, VersionStringTable, GetProcessHeap());
            for (size_t field = 0; field < std::size(kFields); ++field)
                EXPECT_EQ(Defused(DialogItemText(dialog, kFields[field])), rows[i][field + 1])
                    << "column " << header[field + 1];
            std::vector<std::string> versionRows = ListBoxItems(dialog, IDC_FILE_INFO_LIST);
            LRESULT selected = SendDlgItemMessageW(dialog, IDC_FILE_INFO_LIST, LB_GETCURSEL, 0, 0);
            if (versionRows.empty())
                EXPECT_EQ(Row(12, ""), Row(rows[i].begin() + 13, rows[i].end() - 1));
            else
                EXPECT_EQ(Defused(DialogItemText(dialog, IDC_FILE_INFO_VALUE)),
                          rows[i][13 + selected]);
        }
    });
    // The download, two fixtures, the missing file, and nine probes with b.dll twice.
    EXPECT_EQ(14, ours);

    auto row = [&](const std::string& entry) {
        for (const Row& r : rows)
            if (r[0] == entry)
                return r;
        ADD_FAILURE() << entry << " is not in the report";
        return Row(26);
    };
    EXPECT_EQ("'@SUM(1+1)*cmd|x", row(kDownload)[1]);
    EXPECT_EQ("3", row(kDownload)[3]);
    EXPECT_EQ("-1", row("c:\\blreport\\b.dll")[3]);
    EXPECT_EQ(kDefusedFormula, row(LowerAscii(FixturePath("full.ocx")))[1]);
    EXPECT_EQ(kQuoted, row(LowerAscii(FixturePath("ansi.dll")))[1]);
    EXPECT_EQ("File is not in registered location",
              row("c:\\blreport\\missing, \"really\".dll")[1]);
}

#ifndef _WIN32

TEST_F(ReportTest, ReportCutShortByAFullDiskIsNotLeftBehind)
{
    for (long long room : {0LL, 100LL, 2000LL}) {
        SCOPED_TRACE(room);
        SimFailWritesAfter(room, ERROR_DISK_FULL);
        EXPECT_EQ(EXIT_REPORT_UNWRITABLE, WriteControlReport(Wide(kReportPath).c_str(), NULL));
        SimFailWritesAfter(-1, 0);
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(Wide(kReportPath).c_str()));
        EXPECT_EQ(0, SimOpenHandleCount());
    }
}

// No walk of the type libraries or the classes per entry: twice the
// classes cost the report one more walk of them, not one more per entry.
TEST_F(ReportTest, ClassesAndTypeLibrariesAreReadOncePerReport)
{
    auto seedClasses = [](int from, int to) {
        for (int i = from; i < to; ++i)
            SetRegistryText(HKEY_CLASSES_ROOT,
                            "CLSID\\{B0A0A0A0-0000-4000-8000-" + std::to_string(100000000000 + i) +
                                "}\\TypeLib",
                            "",
                            "{B0A0A0A0-0000-4000-8000-" + std::to_string(200000000000 + i) + "}");
    };
    auto reportCalls = [] {
        long before = SimRegistryCallCount();
        EXPECT_EQ(EXIT_REPORT_WRITTEN, WriteControlReport(Wide(kReportPath).c_str(), NULL));
        return SimRegistryCallCount() - before;
    };
    seedClasses(0, 200);
    long few = reportCalls();
    seedClasses(200, 400);
    long many = reportCalls();
    EXPECT_LT(many - few, 200 * 10) << few << " calls with 200 classes, " << many << " with 400";
}

// What a spreadsheet's own reader makes of the hostile rows: the texts the
// dialog shows, an apostrophe in front of those that look like formulas.
TEST_F(ReportTest, PythonsCsvReaderReadsBackTheSameText)
{
    std::vector<Row> rows = Report();
    std::string script = SimHostPath("C:\\read.py");
    std::ofstream(script) << "import csv, sys\n"
                             "with open(sys.argv[1], newline='', encoding='utf-8-sig') as f:\n"
                             "    for row in csv.reader(f):\n"
                             "        print(' '.join(field.encode().hex() or '-' for field in "
                             "row))\n";
    std::string command = "python3 '" + script + "' '" + SimHostPath(kReportPath) + "'";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(nullptr, pipe);
    std::string output;
    char buffer[4096];
    while (size_t got = fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, got);
    ASSERT_EQ(0, pclose(pipe)) << output;

    std::vector<Row> read;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        std::string line = output.substr(start, end - start);
        Row row;
        for (size_t at = 0; at <= line.size();) {
            size_t space = line.find(' ', at);
            std::string hex = line.substr(at, space == std::string::npos ? space : space - at);
            std::string text;
            for (size_t i = 0; hex != "-" && i + 1 < hex.size(); i += 2)
                text += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
            row.push_back(text);
            at = space == std::string::npos ? line.size() + 1 : space + 1;
        }
        read.push_back(row);
        start = end + 1;
    }
    EXPECT_EQ(rows, read);
    bool sawFormula = false, sawQuoted = false;
    for (const Row& row : read) {
        sawFormula |= row.size() > 1 && row[1] == kDefusedFormula;
        sawQuoted |= row.size() > 1 && row[1] == kQuoted;
    }
    EXPECT_TRUE(sawFormula && sawQuoted);
}

#endif
