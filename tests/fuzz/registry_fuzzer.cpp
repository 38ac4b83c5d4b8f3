// libFuzzer entry: one input is one machine and one session of the whole
// program against the stand-in, from wWinMain to Exit. After every step no
// key and no file handle stays open; after every Delete the registry lost
// only lines of the selected control's own registration and gained none,
// no file went but the one the entry names, under whatever name, and those
// of its download that the restore folder saved, and a Delete that changed
// anything left one finished restore folder whose removed.reg holds every
// line it took; at the end every message box had an answer and every modal
// loop ended. Before the session, a report changed nothing, and its index
// and folder listing answered every entry as the walks and searches for that
// entry do.

#include "fuzz.h"

#include "app/app.h"
#include "app/control_ids.h"
#include "details/details.h"
#include "inventory/inventory.h"
#include "support/reg_file.h"
#include "unit/registry_snapshot.h"

#include <win32sim.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace {

// Each step may raise this many message boxes and no more: the Delete
// questions are at most four, and a refresh without the usage key reports
// it once for each of at most 64 seeded entries.
const size_t kAnswersPerStep = 100;

[[noreturn]] void Fail(const char* what, const std::string& detail)
{
    fprintf(stderr, "registry_fuzzer: %s\n%s\n", what, detail.c_str());
    abort();
}

std::string Lines(const RegistrySnapshot& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += "  " + line + "\n";
    return text;
}

struct Session {
    const FuzzMachine& machine;
    size_t answersGiven = 0;
};

void TopUpAnswers(Session& session)
{
    const std::vector<int>& answers = session.machine.answers;
    while (session.answersGiven < SimMessageBoxes().size() + kAnswersPerStep) {
        SimAnswerMessageBox(answers.empty() ? IDYES
                                            : answers[session.answersGiven % answers.size()]);
        ++session.answersGiven;
    }
}

void ExpectNothingOpen(const char* when)
{
    if (SimOpenKeyCount() != 0)
        Fail("a registry key stays open", when);
    if (SimOpenHandleCount() != 0)
        Fail("a file, search or process handle stays open", when);
}

WideText SelectedEntry(HWND dialog)
{
    HWND list = GetDlgItem(dialog, IDC_CONTROL_LIST);
    LRESULT index = SendMessageW(list, LB_GETCURSEL, 0, 0);
    LRESULT length = index < 0 ? LB_ERR : SendMessageW(list, LB_GETTEXTLEN, index, 0);
    if (length < 0)
        return WideText();
    WideText text(static_cast<size_t>(length) + 1, 0);
    SendMessageW(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(&text[0]));
    text.resize(static_cast<size_t>(length));
    return text;
}

std::string Shown(const WideText& text)
{
    return SnapshotText(text.data(), text.size());
}

bool Exists(const std::string& windowsPath)
{
    std::error_code ignored;
    return std::filesystem::exists(SimHostPath(windowsPath.c_str()), ignored);
}

// Which file a path names, as the file system tells: the same question the
// program asks, but of the stand-in's own resolution of names.
struct FileKey {
    bool opened;
    DWORD volume, indexHigh, indexLow;
    bool operator==(const FileKey&) const = default;
};

FileKey KeyOfFile(const WideText& path)
{
    FileKey key = {};
    HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return key;
    BY_HANDLE_FILE_INFORMATION information;
    if (GetFileInformationByHandle(file, &information))
        key = {true, information.dwVolumeSerialNumber, information.nFileIndexHigh,
               information.nFileIndexLow};
    CloseHandle(file);
    return key;
}

WideText WidePath(const std::string& utf8)
{
    int length = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, NULL, 0);
    WideText wide(static_cast<size_t>(length), 0);
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], length);
    wide.resize(wide.find(WCHAR(0)));
    return wide;
}

bool StartsWith(const std::string& text, const char* start)
{
    return text.compare(0, strlen(start), start) == 0;
}

long long HostSize(const std::filesystem::path& hostPath)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(hostPath, error))
        return -1;
    auto size = std::filesystem::file_size(hostPath, error);
    return error ? -1 : static_cast<long long>(size);
}

// The size of the file a Windows path names, -1 for none or a folder. Asked
// of the stand-in in UTF-16: the entry may hold what UTF-8 cannot carry.
long long FileSize(const WideText& path)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return -1;
    FindClose(search);
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return -1;
    return static_cast<long long>(found.nFileSizeHigh) << 32 | found.nFileSizeLow;
}

// What a Delete did against its restore folder: it changed nothing unless it
// finished one folder, whose removed.reg holds every line it took and whose
// files\1 holds the entry's file; when the folder failed, the Delete said so
// and changed nothing.
struct DeleteTrace {
    std::vector<std::string> folders;
    size_t boxes, unregistrations, processes;
    long long fileSize;
};

DeleteTrace TraceBefore(const WideText& entryFile)
{
    return {RestoreFolders(), SimMessageBoxes().size(), SimUnregisterServerCalls().size(),
            SimProcessCommands().size(), FileSize(entryFile)};
}

// Answers the folder the Delete finished, or an empty path.
std::string CheckRestoreFolder(const WideText& entry, RegistryView view, const WideText& entryFile,
                               const DeleteTrace& was, const RegistrySnapshot& removed)
{
    std::vector<std::string> finished;
    for (const std::string& folder : RestoreFolders()) {
        bool unfinished =
            std::filesystem::path(folder).filename().string().rfind("unfinished ", 0) == 0;
        if (!unfinished &&
            std::find(was.folders.begin(), was.folders.end(), folder) == was.folders.end())
            finished.push_back(folder);
    }
    bool failed = false;
    for (size_t i = was.boxes; i < SimMessageBoxes().size(); ++i)
        failed = failed || StartsWith(SimMessageBoxes()[i].text, "Nothing was deleted");
    bool changed = !removed.empty() || (was.fileSize >= 0 && FileSize(entryFile) < 0) ||
                   SimUnregisterServerCalls().size() != was.unregistrations ||
                   SimProcessCommands().size() != was.processes;
    if (finished.size() > 1 || (failed && !finished.empty()))
        Fail("one Delete left more than one outcome of its restore folder", Shown(entry));
    if (changed && finished.empty())
        Fail("Delete changed something without a finished restore folder", Shown(entry));
    if (finished.empty())
        return std::string();
    RegFile file = ReadRegFile(finished[0] + "/removed.reg");
    if (!file.ok)
        Fail("removed.reg does not read as regedit reads it", Shown(entry) + "\n" + file.error);
    RegistrySnapshot missing =
        Difference(FoldedNames(removed), FoldedNames(RegFileLines(file, view)));
    if (!missing.empty())
        Fail("removed.reg lacks what the Delete took", Shown(entry) + "\n" + Lines(missing));
    std::vector<long long> copies;
    std::error_code error;
    for (const auto& copy : std::filesystem::directory_iterator(finished[0] + "/files/1", error))
        copies.push_back(HostSize(copy.path()));
    if (was.fileSize >= 0 && copies != std::vector<long long>{was.fileSize})
        Fail("the restore folder holds no copy of the control's file", Shown(entry));
    return finished[0];
}

// Whether the restore folder holds a copy of one of the download's other
// files, which the Delete may take when the user lets it.
bool IsSavedOtherFile(const std::string& folder, const std::filesystem::path& host, long long size)
{
    std::error_code error;
    for (const auto& saved : std::filesystem::directory_iterator(folder + "/files", error)) {
        if (saved.path().filename() == "1")
            continue;
        std::filesystem::path copy = saved.path() / host.filename();
        if (HostSize(copy) == size)
            return true;
    }
    return false;
}

void CheckedDelete(HWND dialog, const FuzzMachine& machine)
{
    // A click on the disabled button changes nothing: no need to look.
    if (!IsWindowEnabled(GetDlgItem(dialog, IDC_DELETE))) {
        SimClickButton(dialog, IDC_DELETE);
        return;
    }
    WideText entry = SelectedEntry(dialog);
    // The entry as the program settles it, its view and its file among it.
    ControlEntry control = {};
    LRESULT index;
    bool listed = GetSelectedControl(dialog, index, control);
    WideText entryFile = listed ? control.diskPath : TEXT("");
    FileKey entryKey = KeyOfFile(entryFile);
    std::vector<std::pair<std::string, long long>> filesBefore;
    for (const std::string& file : machine.files) {
        if (Exists(file) && !(entryKey.opened && KeyOfFile(WidePath(file)) == entryKey))
            filesBefore.push_back({file, HostSize(SimHostPath(file.c_str()))});
    }
    RegistrySnapshot before = TakeFuzzSnapshot();
    RegistrySnapshot own = listed ? OwnRegistration(before, control) : RegistrySnapshot();
    DeleteTrace was = TraceBefore(entryFile);

    SimClickButton(dialog, IDC_DELETE);

    RegistrySnapshot after = TakeFuzzSnapshot();
    RegistrySnapshot added = Difference(after, before);
    if (!added.empty())
        Fail("Delete added to the registry", Lines(added));
    RegistrySnapshot removed = Difference(before, after);
    RegistrySnapshot foreign = Difference(removed, own);
    if (!foreign.empty())
        Fail("Delete took what is not the selected control's",
             Shown(entry) + "\n" + Lines(foreign));
    RegistrySnapshot otherView = OtherViewLibraryLines(removed, control.view);
    if (!otherView.empty())
        Fail("Delete took a type library's key of the other view",
             Shown(entry) + "\n" + Lines(otherView));
    std::string folder = CheckRestoreFolder(entry, control.view, entryFile, was, removed);
    for (const auto& [file, size] : filesBefore) {
        if (!Exists(file) &&
            (folder.empty() || !IsSavedOtherFile(folder, SimHostPath(file.c_str()), size)))
            Fail("Delete took another file without saving it", Shown(entry) + "\n" + file);
    }
}

void RunStep(Session& session, const Step& step)
{
    ExpectNothingOpen("between steps");
    TopUpAnswers(session);
    HWND dialog = SimActiveDialog();
    switch (step.kind) {
    case STEP_REFRESH:
        SimClickButton(dialog, IDC_REFRESH);
        break;
    case STEP_SELECT_CONTROL: {
        LRESULT count = SendDlgItemMessageW(dialog, IDC_CONTROL_LIST, LB_GETCOUNT, 0, 0);
        if (count > 0)
            SimSelectListEntry(dialog, IDC_CONTROL_LIST, step.index % static_cast<int>(count));
        break;
    }
    case STEP_SELECT_FILE_INFO_ROW:
        SimSelectListEntry(dialog, IDC_FILE_INFO_LIST, step.index % 16);
        break;
    case STEP_DELETE:
        CheckedDelete(dialog, session.machine);
        break;
    default:
        if (step.index % 3 == 0)
            SimClickButton(dialog, IDC_EXIT);
        else if (step.index % 3 == 1)
            SimPressEscape(dialog);
        else
            SimCloseFromSystemMenu(dialog);
        break;
    }
}

void AddEntry(void* context, const WCHAR* entry, RegistryView view)
{
    ControlEntry control = {};
    if (MakeControlEntry(entry, view, control))
        static_cast<std::vector<ControlEntry>*>(context)->push_back(control);
}

// Every field as it would be shown, the version strings among them.
std::vector<WideText> Shown(const ControlDetails& details)
{
    std::vector<WideText> shown;
    for (int field = 0; field < DETAIL_FIELD_COUNT; ++field)
        shown.push_back(details.known[field] ? DetailText(details, static_cast<DetailField>(field))
                                             : TEXT("(unknown)"));
    for (const auto& row : details.versions)
        shown.push_back(details.hasVersions ? row.value : TEXT("(none)"));
    return shown;
}

// The report changes nothing, and its index of the type libraries and the
// classes answers every entry as the walks for that entry do, faults and all.
void CheckReport()
{
    RegistrySnapshot before = TakeFuzzSnapshot();
    int status = WriteControlReport(TEXT("C:\\fuzz-report.csv"), NULL);
    if (status != EXIT_REPORT_WRITTEN && status != EXIT_KEYS_UNREADABLE)
        Fail("the report was not written", std::to_string(status));
    if (TakeFuzzSnapshot() != before)
        Fail("the report changed the registry", "");
    DeleteFileW(TEXT("C:\\fuzz-report.csv"));
    ExpectNothingOpen("after the report");

    std::vector<ControlEntry> entries;
    ScanControlList(ScanSink{AddEntry, NULL, NULL, &entries, NULL, NULL});
    RegistrationIndex index;
    if (ReadRegistrationIndex(index) != ERROR_SUCCESS)
        Fail("no memory for the report's index", "");
    FolderListing listing;
    InitFolderListing(listing);
    for (const ControlEntry& entry : entries) {
        ControlDetails indexed = {}, walked = {};
        ReadRegistrationDetails(entry, indexed, &index);
        ReadRegistrationDetails(entry, walked, NULL);
        if (Shown(indexed) != Shown(walked))
            Fail("the report's index answers otherwise than the walks",
                 Shown(WideText(entry.controlPath)));
        ControlDetails listed = {}, searched = {};
        ReadFileDetails(entry, VersionStringTable, GetProcessHeap(), listed, &listing);
        std::vector<WideText> fromListing = Shown(listed);
        ReadFileDetails(entry, VersionStringTable, GetProcessHeap(), searched, NULL);
        if (fromListing != Shown(searched))
            Fail("the report's folder listing finds otherwise than a search",
                 Shown(WideText(entry.controlPath)));
    }
    FreeFolderListing(listing);
    FreeRegistrationIndex(index);
    ExpectNothingOpen("after the report's index");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SimReset();
    FuzzMachine machine = BuildMachine(data, size, BURROWLENS_FIXTURE_DIR);
    CheckReport();
    Session session{machine};
    TopUpAnswers(session);
    for (const Step& step : machine.steps)
        SimAddUserAction([&session, step] { RunStep(session, step); });
    SimAddUserAction([] {
        ExpectNothingOpen("before Exit");
        SimClickButton(SimActiveDialog(), IDC_EXIT);
    });

    WCHAR commandLine[] = TEXT("");
    wWinMain(GetModuleHandleW(NULL), NULL, commandLine, 1);

    ExpectNothingOpen("at the end");
    if (SimUnscriptedMessageBoxCount() != 0) {
        std::string boxes;
        for (const SimMessageBox& box : SimMessageBoxes())
            boxes += (box.scripted ? "  answered: " : "  unanswered: ") + box.text + "\n";
        Fail("a message box had no answer", boxes);
    }
    if (SimStallCount() != 0)
        Fail("a modal loop waited for input that never came", "");
    if (SimLoadedModuleCount() != 0)
        Fail("a control stays loaded", "");
    // What the session allocated goes with it, so that libFuzzer's leak
    // check sees a leak only where the program has one.
    SimReset();
    return 0;
}
