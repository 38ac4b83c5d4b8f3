// libFuzzer entry: one input is one machine and one session of the whole
// program against the stand-in, from WinMain to Exit. After every step no
// key stays open; after every Delete the registry lost only lines of the
// selected control's own registration and gained none, and no file but the
// control's went; at the end every message box had an answer and every
// modal loop ended.

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

void ExpectNoOpenKeys(const char* when)
{
    if (SimOpenKeyCount() != 0)
        Fail("a registry key stays open", when);
}

std::string SelectedEntry(HWND dialog)
{
    HWND list = GetDlgItem(dialog, IDC_CONTROL_LIST);
    LRESULT index = SendMessageA(list, LB_GETCURSEL, 0, 0);
    if (index < 0)
        return std::string();
    char text[1024] = {};
    if (SendMessageA(list, LB_GETTEXTLEN, index, 0) >= static_cast<LRESULT>(sizeof text))
        return std::string();
    SendMessageA(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text));
    return text;
}

bool Exists(const std::string& windowsPath)
{
    std::error_code ignored;
    return std::filesystem::exists(SimHostPath(windowsPath.c_str()), ignored);
}

void CheckedDelete(HWND dialog, const FuzzMachine& machine)
{
    std::string entry = SelectedEntry(dialog);
    std::vector<std::string> filesBefore;
    for (const std::string& file : machine.files) {
        if (Exists(file))
            filesBefore.push_back(file);
    }
    RegistrySnapshot before = TakeFuzzSnapshot();

    SimClickButton(dialog, IDC_DELETE);

    RegistrySnapshot after = TakeFuzzSnapshot();
    RegistrySnapshot added = Difference(after, before);
    if (!added.empty())
        Fail("Delete added to the registry", Lines(added));
    RegistrySnapshot removed = Difference(before, after);
    RegistrySnapshot foreign = Difference(removed, OwnRegistration(before, entry));
    if (!foreign.empty())
        Fail("Delete took what is not the selected control's", entry + "\n" + Lines(foreign));
    std::string entryFile = entry;
    std::replace(entryFile.begin(), entryFile.end(), '/', '\\');
    for (const std::string& file : filesBefore) {
        if (LowerCase(file) != LowerCase(entryFile) && !Exists(file))
            Fail("Delete took another file", entry + "\n" + file);
    }
}

void RunStep(Session& session, const Step& step)
{
    ExpectNoOpenKeys("between steps");
    TopUpAnswers(session);
    HWND dialog = SimActiveDialog();
    switch (step.kind) {
    case STEP_REFRESH:
        SimClickButton(dialog, IDC_REFRESH);
        break;
    case STEP_SELECT_CONTROL: {
        LRESULT count = SendDlgItemMessageA(dialog, IDC_CONTROL_LIST, LB_GETCOUNT, 0, 0);
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
        ExpectNoOpenKeys("before Exit");
        SimClickButton(SimActiveDialog(), IDC_EXIT);
    });

    char commandLine[] = "";
    WinMain(GetModuleHandleA(NULL), NULL, commandLine, 1);

    ExpectNoOpenKeys("at the end");
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
    return 0;
}
