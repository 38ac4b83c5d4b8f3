// libFuzzer entry: one input is one machine and one session of the whole
// program against the stand-in, from wWinMain to Exit. After every step no
// key and no file handle stays open; after every Delete the registry lost
// only lines of the selected control's own registration and gained none,
// and no file went but the one the entry names, under whatever name; at the
// end every message box had an answer and every modal loop ended.

#include "fuzz.h"

#include "app/control_ids.h"
#include "unit/registry_snapshot.h"

#include <win32sim.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
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

void CheckedDelete(HWND dialog, const FuzzMachine& machine)
{
    // A click on the disabled button changes nothing: no need to look.
    if (!IsWindowEnabled(GetDlgItem(dialog, IDC_DELETE))) {
        SimClickButton(dialog, IDC_DELETE);
        return;
    }
    WideText entry = SelectedEntry(dialog);
    WideText entryFile = entry;
    std::replace(entryFile.begin(), entryFile.end(), WCHAR('/'), WCHAR('\\'));
    FileKey entryKey = KeyOfFile(entryFile);
    std::vector<std::string> filesBefore;
    for (const std::string& file : machine.files) {
        if (Exists(file) && !(entryKey.opened && KeyOfFile(WidePath(file)) == entryKey))
            filesBefore.push_back(file);
    }
    RegistrySnapshot before = TakeFuzzSnapshot();
    RegistrySnapshot own = OwnRegistration(before, entry);

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
    for (const std::string& file : filesBefore) {
        if (!Exists(file))
            Fail("Delete took another file", Shown(entry) + "\n" + file);
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SimReset();
    FuzzMachine machine = BuildMachine(data, size, BURROWLENS_FIXTURE_DIR);
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
