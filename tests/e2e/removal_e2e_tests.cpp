#include "e2e/fixture.h"

#include "app/control_ids.h"
#include "support/test_support.h"

#include <algorithm>
#include <fstream>
#include <optional>
#include <sstream>

namespace e2e {
namespace {

const std::string kControlClass = "{E2E00000-0000-4000-8000-0000000000E1}";
const std::string kControlLib = "{E2E00000-0000-4000-8000-0000000000E2}";
const std::string kSiblingClass = "{E2E00000-0000-4000-8000-0000000000B1}";
const std::string kSiblingLib = "{E2E00000-0000-4000-8000-0000000000B2}";
const std::string kOtherClass = "{E2E00000-0000-4000-8000-0000000000B3}";
const std::string kOtherLib = "{E2E00000-0000-4000-8000-0000000000B4}";

const FileTimes kTimes = {Utc(2003, 4, 5, 6, 7, 8), Utc(2003, 4, 5, 6, 7, 8),
                          Utc(2031, 1, 2, 3, 4, 5)};

const Control kDownload = DownloadedControl("unreg.ocx", kControlClass, kControlLib);
const Control kInstalled =
    InstalledControl("Unreg.ocx", "c:\\controls\\unreg.ocx", kControlClass, kControlLib);
// Registered beside the control, without files; a deletion must leave them be.
const Control kSibling = DownloadedControl("sibling.ocx", kSiblingClass, kSiblingLib);
const Control kOther =
    InstalledControl("Other.ocx", "c:\\controls\\other.ocx", kOtherClass, kOtherLib);
// Folders of scripts outside the ANSI code page, which best-fits them onto
// other paths or '?'; the list shows them as they are.
const Control kDownloadInOtherScripts = {
    true,
    std::string(kDownloadFolder) + "\\Жук Ωmega 東京\\unreg.ocx",
    std::string(kListedDownloadFolder) + "/Жук Ωmega 東京/unreg.ocx",
    std::string(kDownloadFolder) + "\\Жук Ωmega 東京\\unreg.ocx",
    kControlClass,
    kControlLib};
const Control kInstalledInOtherScripts =
    InstalledControl("Жук Ωmega 東京\\Unreg.ocx", "c:\\controls\\Жук Ωmega 東京\\unreg.ocx",
                     kControlClass, kControlLib);

enum class Cleanup {
    None,
    // The class, distribution unit, usage entry, usage count and type library.
    Download,
    // The type library alone; the usage count goes only when there is none.
    TypeLib,
};

// A 64-bit Wine prefix keeps a copy of HKCR\TypeLib for 32-bit programs and
// follows every change a 64-bit program makes to the original; Windows shares
// the one key between both views. The copy of a library has to be exactly
// the library's own lines, so that its removal is checked as strictly as the
// original's.
const std::string kHkcrTypeLib = "HKCR\\TypeLib\\";
const std::string kMirroredTypeLib = "HKLM\\SOFTWARE\\Wow6432Node\\Classes\\TypeLib\\";

RegistrySnapshot TypeLibLines(const RegistrySnapshot& before, const std::string& libid)
{
    RegistrySnapshot lines = SubtreeLines(before, kHkcrTypeLib + libid);
    if (sizeof(void*) == 4 || !RunningUnderWine())
        return lines;
    RegistrySnapshot expectedCopy;
    for (const std::string& line : lines)
        expectedCopy.insert(kMirroredTypeLib + line.substr(kHkcrTypeLib.size()));
    RegistrySnapshot copy = SubtreeLines(before, kMirroredTypeLib + libid);
    EXPECT_EQ(expectedCopy, copy) << "Wine's 32-bit copy of the type library";
    lines.insert(copy.begin(), copy.end());
    return lines;
}

RegistrySnapshot RemovedLines(Cleanup cleanup, const Control& control,
                              const RegistrySnapshot& before)
{
    const std::string hklm = "HKLM\\";
    std::vector<RegistrySnapshot> parts;
    if (cleanup != Cleanup::None)
        parts.push_back(TypeLibLines(before, control.libid));
    if (cleanup == Cleanup::Download) {
        parts.push_back(SubtreeLines(before, "HKCR\\CLSID\\" + control.clsid));
        parts.push_back(SubtreeLines(before, hklm + kDistributionUnits + "\\" + control.clsid));
        parts.push_back(SubtreeLines(before, hklm + kModuleUsage + "\\" + control.listed));
        parts.push_back(ValueLines(before, hklm + kSharedDlls, control.file));
    }
    RegistrySnapshot all;
    for (const RegistrySnapshot& part : parts) {
        EXPECT_FALSE(part.empty()) << "the registration was not there to begin with";
        all.insert(part.begin(), part.end());
    }
    return all;
}

enum class FileState { Present, Missing, ReadOnly, HeldOpen };

// What the Delete command did besides cleaning up the registry.
enum Effects { kNoEffect = 0, kUnregistered = 1, kFileDeleted = 2 };

struct Removal {
    const char* name;
    const Control* control;
    FileState file;
    DWORD usageCount;
    std::vector<Exchange> dialogue;
    int effects;
    // Anything but None ends with the list read again from the registry.
    Cleanup cleanup;
};

void PrintTo(const Removal& removal, std::ostream* out)
{
    *out << removal.name;
}

const Removal kRemovals[] = {
    // A download is unregistered before any question.
    {"DownloadAnsweredYes", &kDownload, FileState::Present, 1, Dialogue(Yes(Box::DeleteFile)),
     kUnregistered | kFileDeleted, Cleanup::Download},
    {"DownloadAnsweredNo", &kDownload, FileState::Present, 1, Dialogue(No(Box::DeleteFile)),
     kUnregistered, Cleanup::None},
    {"InstalledWarningAnsweredNo", &kInstalled, FileState::Present, 1, Dialogue(No(Box::Warning)),
     kNoEffect, Cleanup::None},
    {"InstalledWarningAnsweredYes", &kInstalled, FileState::Present, 1,
     Dialogue(Yes(Box::Warning), Yes(Box::DeleteFile)), kUnregistered | kFileDeleted,
     Cleanup::TypeLib},
    {"MissingDownloadAnsweredYes", &kDownload, FileState::Missing, 1,
     Dialogue(Yes(Box::RegistryEntry)), kNoEffect, Cleanup::Download},
    {"MissingInstalledAnsweredNo", &kInstalled, FileState::Missing, 1,
     Dialogue(Yes(Box::Warning), No(Box::RegistryEntry)), kNoEffect, Cleanup::None},
    {"SharedDownloadAnsweredYesTwice", &kDownload, FileState::Present, 2,
     Dialogue(Yes(Box::DeleteFile), Yes(Box::SharedFile)), kUnregistered | kFileDeleted,
     Cleanup::Download},
    {"SharedDownloadKeptAtTheSecondQuestion", &kDownload, FileState::Present, 2,
     Dialogue(Yes(Box::DeleteFile), No(Box::SharedFile)), kUnregistered, Cleanup::None},
    // A file that cannot be deleted, read-only or held without delete
    // sharing, stops the Delete before anything changes.
    {"ReadOnlyDownload", &kDownload, FileState::ReadOnly, 1, Dialogue(Ok(Box::AccessDenied)),
     kNoEffect, Cleanup::None},
    {"DownloadHeldOpenElsewhere", &kDownload, FileState::HeldOpen, 1, Dialogue(Ok(Box::HeldFile)),
     kNoEffect, Cleanup::None},
    {"DownloadInOtherScriptsAnsweredYes", &kDownloadInOtherScripts, FileState::Present, 1,
     Dialogue(Yes(Box::DeleteFile)), kUnregistered | kFileDeleted, Cleanup::Download},
    {"InstalledInOtherScriptsAnsweredYes", &kInstalledInOtherScripts, FileState::Present, 1,
     Dialogue(Yes(Box::Warning), Yes(Box::DeleteFile)), kUnregistered | kFileDeleted,
     Cleanup::TypeLib},
};

// The file open in this process with no sharing at all, as another program
// may hold it.
class FileHold {
  public:
    explicit FileHold(const std::string& path)
        : handle_(
              CreateFileW(Wide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr))
    {
    }
    FileHold(const FileHold&) = delete;
    FileHold& operator=(const FileHold&) = delete;
    ~FileHold()
    {
        if (Holding())
            CloseHandle(handle_);
    }
    bool Holding() const
    {
        return handle_ != INVALID_HANDLE_VALUE;
    }

  private:
    HANDLE handle_;
};

class RemovalTest : public ProgramTest {
  protected:
    void SetUp() override
    {
        ProgramTest::SetUp();
        ForgetTestRegistrations();
        Register(kSibling, 1);
        Register(kOther, 3);
    }
    void TearDown() override
    {
        ForgetTestRegistrations();
    }

    // Starts the program with the control selected. A download registered
    // after that shows up only in a list read again from the registry.
    void StartWithSelected(const Control& control, Where where = Where::current())
    {
        testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()), "start");
        ASSERT_TRUE(app.Start());
        ASSERT_TRUE(app.Settle());
        listBefore = app.ControlList();
        auto found = std::find(listBefore.begin(), listBefore.end(), control.listed);
        ASSERT_NE(listBefore.end(), found) << control.listed;
        selected = static_cast<int>(found - listBefore.begin());
        ASSERT_TRUE(app.Select(selected));
        RegisterDownload(ListedDownload("late.ocx"));
    }

    // No box is open and the program waits for the user again.
    void ExpectIdle(Where where = Where::current())
    {
        testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()), "idle");
        ASSERT_TRUE(app.Settle());
        EXPECT_EQ(0u, app.OwnedDialogs().size()) << "a box is still open";
    }

    void ExpectListKept(Where where = Where::current())
    {
        testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()), "list");
        EXPECT_EQ(listBefore, app.ControlList());
        EXPECT_EQ(selected, app.Selection());
    }

    PlacedFiles files;
    std::vector<std::string> listBefore;
    int selected = -1;
};

class DeleteTest : public RemovalTest, public testing::WithParamInterface<Removal> {};

TEST_P(DeleteTest, GoesAsFarAsTheAnswersAllow)
{
    const Removal& removal = GetParam();
    const Control& control = *removal.control;
    Register(control, removal.usageCount);
    if (removal.file != FileState::Missing)
        files.Copy("unregister.ocx", control.file, kTimes);
    if (removal.file == FileState::ReadOnly) {
        ASSERT_TRUE(SetFileAttributesW(Wide(control.file).c_str(), FILE_ATTRIBUTE_READONLY));
    }
    const std::string marker = control.file + ".unregistered";
    files.Expect(marker);
    StartWithSelected(control);
    std::optional<FileHold> hold;
    if (removal.file == FileState::HeldOpen) {
        hold.emplace(control.file);
        ASSERT_TRUE(hold->Holding()) << GetLastError();
    }
    RegistrySnapshot before = Snapshot();

    app.Click(IDC_DELETE);
    for (const Exchange& exchange : removal.dialogue)
        ASSERT_TRUE(Converse(exchange, control));
    ExpectIdle();
    hold.reset();

    RegistrySnapshot after = Snapshot();
    EXPECT_EQ(RemovedLines(removal.cleanup, control, before), Difference(before, after));
    EXPECT_EQ(RegistrySnapshot(), Difference(after, before)) << "the Delete command added these";
    EXPECT_EQ((removal.effects & kUnregistered) != 0, FileExists(marker)) << "unregistered";
    EXPECT_EQ(removal.file != FileState::Missing && (removal.effects & kFileDeleted) == 0,
              FileExists(control.file))
        << "file kept";
    if (removal.cleanup == Cleanup::None) {
        ExpectListKept();
    } else {
        ExpectListShown({ListedDownload("late.ocx"), kSibling.listed, kOther.listed});
    }
}

INSTANTIATE_TEST_SUITE_P(Removal, DeleteTest, testing::ValuesIn(kRemovals),
                         [](const testing::TestParamInfo<Removal>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(RemovalTest, ServerWithoutAnUnregisterEntryIsStartedByItsQuotedPath)
{
    const Control server = DownloadedControl("server.exe", kControlClass, kControlLib);
    Register(server, 1);
    files.Copy("server.exe", server.file, kTimes);
    // What Windows would start for the path without its quotes.
    const std::string decoy = "C:\\windows\\Downloaded.exe";
    files.Copy("server.exe", decoy, kTimes);
    const std::string record = server.file + ".cmdline";
    files.Expect(record);
    files.Expect(decoy + ".cmdline");
    StartWithSelected(server);
    RegistrySnapshot before = Snapshot();

    app.Click(IDC_DELETE);
    // The server runs on its own while the question is up; the answer keeps
    // the file, which a running server would hold anyway.
    ASSERT_TRUE(Converse({Box::DeleteFile, IDNO}, server));
    ExpectIdle();

    // The server writes its record in one go and closes it.
    std::string commandLine;
    EXPECT_TRUE(WaitUntil([&] {
        commandLine = ReadWhole(record);
        return !commandLine.empty();
    })) << "the server did not run";
    EXPECT_EQ("\"" + server.listed + "\" /UnregServer", commandLine);
    EXPECT_FALSE(FileExists(decoy + ".cmdline")) << "the unquoted path was run";
    EXPECT_EQ(RegistrySnapshot(), Difference(before, Snapshot()));
    EXPECT_TRUE(FileExists(server.file));
    ExpectListKept();
}

// A control in a folder with a long name, so that it has an 8.3 name too,
// and a registration whose path the ANSI code page best-fits onto its file.
const std::string kOmegaClass = "{E2E00000-0000-4000-8000-0000000000E3}";
const std::string kOmegaLib = "{E2E00000-0000-4000-8000-0000000000E4}";
const std::string kSecondLib = "{E2E00000-0000-4000-8000-0000000000E5}";
const Control kOmega = InstalledControl(
    "Omega Works\\Omega.ocx", "c:\\controls\\omega works\\omega.ocx", kOmegaClass, kOmegaLib);

// A second type library registered for a file, under the given path.
Control SecondRegistration(const std::string& path)
{
    std::string listed = path;
    for (char& c : listed) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    std::string asked = listed;
    std::replace(asked.begin(), asked.end(), '/', '\\');
    RegisterTypeLibFile(kSecondLib, "1.0", "win32", path);
    NameTypeLib(kSecondLib, "1.0", "Second Registration");
    return {false, path, listed, asked, "", kSecondLib};
}

TEST_F(RemovalTest, LookAlikeRegistrationNeverReachesTheFileItResembles)
{
    Register(kOmega, 1);
    files.Copy("unregister.ocx", kOmega.file, kTimes);
    files.Expect(kOmega.file + ".unregistered");
    const Control lookAlike = SecondRegistration(InInstallFolder("Ωmega Works\\Omega.ocx"));
    StartWithSelected(lookAlike);
    EXPECT_NE(listBefore.end(), std::find(listBefore.begin(), listBefore.end(), kOmega.listed));
    EXPECT_EQ("File is not in registered location", app.Text(IDC_CONTROL_NAME));
    EXPECT_EQ("Unknown", app.Text(IDC_SIZE));
    EXPECT_EQ("Unknown", app.Text(IDC_VERSION));
    RegistrySnapshot before = Snapshot();

    app.Click(IDC_DELETE);
    ASSERT_TRUE(Converse(Yes(Box::Warning), lookAlike));
    ASSERT_TRUE(Converse(Yes(Box::RegistryEntry), lookAlike));
    ExpectIdle();

    EXPECT_EQ(TypeLibLines(before, lookAlike.libid), Difference(before, Snapshot()));
    EXPECT_FALSE(FileExists(kOmega.file + ".unregistered")) << "the other control was unregistered";
    EXPECT_TRUE(FileExists(kOmega.file));
}

// Other names Windows gives the same file.
enum class Alias { TrailingDot, ShortName, OtherCase, ForwardSlashes };

struct AliasCase {
    const char* name;
    Alias alias;
};

void PrintTo(const AliasCase& aliasCase, std::ostream* out)
{
    *out << aliasCase.name;
}

std::string AliasOf(const std::string& path, Alias alias)
{
    std::string named = path;
    switch (alias) {
    case Alias::TrailingDot:
        named += ".";
        break;
    case Alias::ShortName: {
        WCHAR shortName[MAX_PATH];
        DWORD length = GetShortPathNameW(Wide(path).c_str(), shortName, MAX_PATH);
        if (length != 0 && length < MAX_PATH)
            named = Utf8(shortName);
        break;
    }
    case Alias::OtherCase:
        for (char& c : named)
            c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        break;
    case Alias::ForwardSlashes:
        std::replace(named.begin(), named.end(), '\\', '/');
        break;
    }
    return named;
}

class SecondNameTest : public RemovalTest, public testing::WithParamInterface<AliasCase> {};

// However the second registration names the file, another entry of the list
// names it too: it is shared, and the shared-file question guards it.
TEST_P(SecondNameTest, FileNamedByAnotherEntryIsAskedAboutAsShared)
{
    Register(kOmega, 1);
    files.Copy("unregister.ocx", kOmega.file, kTimes);
    files.Expect(kOmega.file + ".unregistered");
    const std::string alias = AliasOf(kOmega.file, GetParam().alias);
    ASSERT_NE(kOmega.file, alias) << "Windows knows no such name for the file";
    const Control second = SecondRegistration(alias);
    StartWithSelected(second);
    RegistrySnapshot before = Snapshot();

    app.Click(IDC_DELETE);
    ASSERT_TRUE(Converse(Yes(Box::Warning), second));
    ASSERT_TRUE(Converse(Yes(Box::DeleteFile), second));
    ASSERT_TRUE(Converse(No(Box::SharedFile), second));
    ExpectIdle();

    EXPECT_TRUE(FileExists(kOmega.file)) << "the file was deleted";
    EXPECT_EQ(RegistrySnapshot(), Difference(before, Snapshot()));
    ExpectListKept();
}

const AliasCase kAliases[] = {
    {"TrailingDot", Alias::TrailingDot},
    {"ShortName", Alias::ShortName},
    {"OtherCase", Alias::OtherCase},
    {"ForwardSlashes", Alias::ForwardSlashes},
};

INSTANTIATE_TEST_SUITE_P(Names, SecondNameTest, testing::ValuesIn(kAliases),
                         [](const testing::TestParamInfo<AliasCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
} // namespace e2e
