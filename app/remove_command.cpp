#include "app/app.h"

#include "base/messages.h"
#include "base/text.h"
#include "inventory/inventory.h"
#include "removal/removal.h"

// What the command line asks: the entry, the view when it says one, and its
// answers to the questions of a Delete, No unless a switch says Yes.
struct RemoveRequest {
    const WCHAR* entry;
    int bits; // 0 when not given
    bool force;
    bool shared;
    bool files;
};

// The control list as a refresh finds it, each entry settled once.
struct ScannedList {
    HANDLE heap;
    ControlEntry* entries;
    size_t count;
    size_t capacity;
    bool incomplete;
    HANDLE errors;
};

struct Unattended {
    const RemoveRequest* request;
    ScannedList* list;
    WCHAR listed[ENTRY_TEXT_SIZE];
};

static void Say(HANDLE output, const WCHAR* format, const WCHAR* text)
{
    WCHAR line[1024];
    FormatText(line, format, text);
    if (output != NULL)
        PrintError(output, line);
}

static void AddScanned(void* context, const WCHAR* controlPath, RegistryView view)
{
    ScannedList& list = *static_cast<ScannedList*>(context);
    if (!MakeRoomForOneMore(list.heap, list.entries, list.count, list.capacity)) {
        if (list.errors != NULL && !list.incomplete)
            PrintError(list.errors, TEXT_REPORT_NO_MEMORY);
        list.incomplete = true;
        return;
    }
    if (MakeControlEntry(controlPath, view, list.entries[list.count]))
        ++list.count;
}

static void ScanKeyOpenFailed(void* context, LONG status, int site)
{
    ScannedList& list = *static_cast<ScannedList*>(context);
    WCHAR message[80];
    FormatKeyOpenError(message, status, site);
    if (list.errors != NULL)
        PrintError(list.errors, message);
    list.incomplete = true;
}

// Letter case aside, text for text: folding only changes case, so no two
// names that Windows tells apart can meet.
static bool SameText(const WCHAR* first, const WCHAR* second)
{
    WCHAR a[ENTRY_TEXT_SIZE];
    WCHAR b[ENTRY_TEXT_SIZE];
    if (!CopyText(a, first) || !CopyText(b, second))
        return false;
    CharUpperBuffW(a, static_cast<DWORD>(TextLength(a)));
    CharUpperBuffW(b, static_cast<DWORD>(TextLength(b)));
    return CompareText(a, b) == 0;
}

// The entry's text as the list shows it, or its path without the mark.
static bool Names(const ControlEntry& entry, const WCHAR* wanted)
{
    WCHAR listed[ENTRY_TEXT_SIZE];
    FormatEntryText(entry.controlPath, entry.view, listed);
    return SameText(listed, wanted) || SameText(entry.controlPath, wanted);
}

// The index of the one entry named, or -1; an entry of each view is two.
static LRESULT FindNamedEntry(const ScannedList& list, const RemoveRequest& request,
                              bool& ambiguous)
{
    LRESULT found = -1;
    ambiguous = false;
    for (size_t i = 0; i < list.count; ++i) {
        const ControlEntry& entry = list.entries[i];
        if ((request.bits != 0 && entry.view != request.bits) || !Names(entry, request.entry))
            continue;
        if (found < 0)
            found = static_cast<LRESULT>(i);
        else if (list.entries[found].view != entry.view)
            ambiguous = true;
    }
    return found;
}

static int Decide(void* context, DeleteQuestion question)
{
    Unattended& run = *static_cast<Unattended*>(context);
    const RemoveRequest& request = *run.request;
    switch (question) {
    case QUESTION_NOT_DOWNLOADED:
        if (!request.force)
            Say(run.list->errors, FORMAT_REMOVE_NEEDS_FORCE, run.listed);
        return request.force ? IDYES : IDNO;
    case QUESTION_SHARED_FILE:
        if (!request.shared)
            Say(run.list->errors, FORMAT_REMOVE_NEEDS_SHARED, run.listed);
        return request.shared ? IDYES : IDNO;
    case QUESTION_OTHER_FILES:
        return request.files ? IDYES : IDNO;
    default:
        return IDYES;
    }
}

// What the dialog would show in a box goes to standard error.
static int Notify(void* context, const WCHAR* text, const WCHAR*, UINT)
{
    Unattended& run = *static_cast<Unattended*>(context);
    if (run.list->errors != NULL)
        PrintError(run.list->errors, text);
    return IDOK;
}

static void Quiet(void*, UINT) {}

static LRESULT CountScanned(void* context)
{
    return static_cast<LRESULT>(static_cast<Unattended*>(context)->list->count);
}

static bool ReadScanned(void* context, LRESULT index, ControlEntry& entry)
{
    entry = static_cast<Unattended*>(context)->list->entries[index];
    return true;
}

static int RemoveEntry(const RemoveRequest& request, HANDLE errors)
{
    ScannedList list = {GetProcessHeap(), NULL, 0, 0, false, errors};
    ScanControlList(ScanSink{AddScanned, ScanKeyOpenFailed, NULL, &list, NULL, NULL});
    bool ambiguous;
    LRESULT index = FindNamedEntry(list, request, ambiguous);
    int status;
    if (index < 0 || ambiguous) {
        Say(errors, ambiguous ? FORMAT_REMOVE_AMBIGUOUS : FORMAT_REMOVE_NO_ENTRY, request.entry);
        status = index < 0 && list.incomplete ? EXIT_KEYS_UNREADABLE : EXIT_NO_SUCH_ENTRY;
    } else {
        Unattended run = {&request, &list, {}};
        const ControlEntry& entry = list.entries[index];
        FormatEntryText(entry.controlPath, entry.view, run.listed);
        DeleteDialogue dialogue = {Notify, Quiet, CountScanned, ReadScanned, &run, Decide};
        WCHAR folder[MAX_PATH];
        DeleteOutcome outcome = RemoveListedControl(dialogue, index, entry, folder);
        if (outcome == DELETE_FAILED)
            Say(errors, FORMAT_REMOVE_UNFINISHED, folder);
        if (outcome != DELETE_REFUSED) {
            HANDLE output = OpenOutput(STD_OUTPUT_HANDLE);
            if (output != NULL)
                PrintError(output, folder);
        }
        status = outcome == DELETE_DONE      ? EXIT_REMOVED
                 : outcome == DELETE_REFUSED ? EXIT_REFUSED
                                             : EXIT_STOPPED_PARTWAY;
    }
    if (list.entries != NULL)
        HeapFree(list.heap, 0, list.entries);
    return status;
}

// /remove ENTRY [/bits 32|64] [/force] [/shared] [/files], the switches in
// any order and each once.
int RunRemoveCommand(int argc, WCHAR** argv, HANDLE errors)
{
    RemoveRequest request = {argc > 1 ? argv[1] : NULL, 0, false, false, false};
    if (request.entry == NULL || IsEmptyText(request.entry))
        return EXIT_BAD_ARGUMENTS;
    for (int i = 2; i < argc; ++i) {
        const WCHAR* argument = argv[i];
        bool* flag = IsSwitch(argument, TEXT("force"))    ? &request.force
                     : IsSwitch(argument, TEXT("shared")) ? &request.shared
                     : IsSwitch(argument, TEXT("files"))  ? &request.files
                                                          : NULL;
        if (flag != NULL && !*flag) {
            *flag = true;
        } else if (IsSwitch(argument, TEXT("bits")) && request.bits == 0 && i + 1 < argc &&
                   (CompareText(argv[i + 1], TEXT("32")) == 0 ||
                    CompareText(argv[i + 1], TEXT("64")) == 0)) {
            request.bits = argv[++i][0] == '3' ? VIEW_32 : VIEW_64;
        } else {
            return EXIT_BAD_ARGUMENTS;
        }
    }
    return RemoveEntry(request, errors);
}
