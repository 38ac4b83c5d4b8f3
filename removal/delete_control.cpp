#include "removal/removal.h"

#include "base/messages.h"
#include "base/text.h"
#include "details/details.h"
#include "inventory/inventory.h"

// Long enough for every question with a 259-character path in it.
typedef WCHAR MessageText[1024];

int AskQuestion(const DeleteDialogue& dialogue, DeleteQuestion question, const WCHAR* text,
                const WCHAR* caption, UINT type)
{
    if (dialogue.decide != NULL)
        return dialogue.decide(dialogue.context, question);
    return dialogue.ask(dialogue.context, text, caption, type);
}

static int Ask(const DeleteDialogue& dialogue, DeleteQuestion question, const WCHAR* format,
               const WCHAR* path, const WCHAR* caption, UINT type)
{
    MessageText text;
    FormatText(text, format, path);
    return AskQuestion(dialogue, question, text, caption, type);
}

// A notice: a box, or a line on standard error.
static void Tell(const DeleteDialogue& dialogue, const WCHAR* format, const WCHAR* path)
{
    MessageText text;
    FormatText(text, format, path);
    dialogue.ask(dialogue.context, text, TEXT_PRODUCT_NAME, MB_OK);
}

typedef HRESULT(WINAPI* UnregisterServerProc)(void);

// Started hidden, by its full path, so that nothing is searched for; the
// command line quotes the path as well, as every path under "Downloaded
// Program Files" has spaces. The process's handle, or NULL.
static HANDLE RunHidden(const WCHAR* programPath, WCHAR* commandLine)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(programPath, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                        &process))
        return NULL;
    CloseHandle(process.hThread);
    return process.hProcess;
}

// A program that unregisters a control is waited for, so that the file and
// the keys go after it, and Windows deletes no program while it runs. One
// that never ends holds the Delete up for this long, no more.
#define UNREGISTER_WAIT_MS 60000

static void RunAndWait(const WCHAR* programPath, WCHAR* commandLine)
{
    HANDLE process = RunHidden(programPath, commandLine);
    if (process == NULL)
        return;
    WaitForSingleObject(process, UNREGISTER_WAIT_MS);
    CloseHandle(process);
}

// An executable server unregisters itself when run with /UnregServer.
static void RunServerUnregistration(const WCHAR* modulePath, const WCHAR* namedPath)
{
    WCHAR command[MAX_PATH + 32];
    FormatText(command, TEXT("\"%s\" /UnregServer"), namedPath);
    RunAndWait(modulePath, command);
}

static void ReadFileHeader(const WCHAR* path, BYTE (&header)[4096], DWORD& size)
{
    size = 0;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    if (!ReadFile(file, header, sizeof header, &size, NULL))
        size = 0;
    CloseHandle(file);
}

// The 64-bit regsvr32, reached through Sysnative, loads the DLL in a 64-bit
// process.
static void UnregisterNativeControl(const ControlEntry& entry)
{
    BYTE header[4096];
    DWORD size;
    bool isDll, isExecutable;
    ReadFileHeader(entry.diskPath, header, size);
    ReadImageKind(header, size, isDll, isExecutable);
    if (isExecutable) {
        RunServerUnregistration(entry.diskPath, entry.filePath);
        return;
    }
    WCHAR windows[MAX_PATH];
    WCHAR regsvr32[MAX_PATH];
    WCHAR command[MAX_PATH * 2];
    UINT length = GetSystemWindowsDirectoryW(windows, BufferLength(windows));
    if (!isDll || length == 0 || length >= BufferLength(windows) ||
        !JoinText(regsvr32, windows, TEXT("\\Sysnative\\regsvr32.exe")) ||
        !FormatText(command, TEXT("\"%s\" /u /s \"%s\""), regsvr32, entry.filePath))
        return;
    RunAndWait(regsvr32, command);
}

// Loaded as COM loads an in-process server: the control's own folder is
// searched for its dependencies, not ours. The flag needs a full path with
// '\' separators, and the list names downloads with '/'.
BOOL UnregisterControl(const ControlEntry& entry)
{
    if (entry.view == VIEW_64 && IsWow64Machine()) {
        UnregisterNativeControl(entry);
        return TRUE;
    }
    HMODULE module = LoadLibraryExW(entry.diskPath, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == NULL)
        return TRUE;
    FARPROC entryPoint = GetProcAddress(module, "DllUnregisterServer");
    if (entryPoint != NULL)
        reinterpret_cast<UnregisterServerProc>(reinterpret_cast<void (*)(void)>(entryPoint))();
    else
        RunServerUnregistration(entry.diskPath, entry.controlPath);
    FreeLibrary(module);
    return TRUE;
}

// The usage count as GetSharedDllCount writes it: decimal, perhaps negative.
static long long ParseCount(const WCHAR* text)
{
    bool negative = *text == '-';
    if (negative)
        ++text;
    long long value = 0;
    for (; *text >= '0' && *text <= '9' && value < 0x100000000LL; ++text)
        value = value * 10 + (*text - '0');
    return negative ? -value : value;
}

bool IsSharedByOthers(const WCHAR* filePath, RegistryView view)
{
    WCHAR count[MAX_PATH];
    return GetSharedDllCount(filePath, view, count) && ParseCount(count) > 1;
}

// The questions name the file as the registry does; the file itself is
// reached by the entry's own path.
BOOL ConfirmAndDeleteFile(const DeleteDialogue& dialogue, const ControlEntry& entry,
                          bool namedElsewhere)
{
    const UINT question = MB_YESNO | MB_DEFBUTTON2;
    const WCHAR* filePath = entry.filePath;

    // Whether the file is there at all: a file that is locked or unreadable
    // still exists, and its registration must not go while it stays behind.
    WIN32_FIND_DATAW found;
    if (!FindFileEntry(entry.diskPath, found))
        return Ask(dialogue, QUESTION_REGISTRY_ENTRY, FORMAT_DELETE_REGISTRY_ENTRY, filePath,
                   TEXT_PRODUCT_NAME, question) != IDNO;
    if (Ask(dialogue, QUESTION_DELETE_FILE, FORMAT_DELETE_FILE, filePath, TEXT_PRODUCT_NAME,
            question) == IDNO)
        return FALSE;
    if ((IsSharedByOthers(entry.filePath, entry.view) || namedElsewhere) &&
        Ask(dialogue, QUESTION_SHARED_FILE, FORMAT_DELETE_SHARED_FILE, filePath, TEXT_PRODUCT_NAME,
            question) == IDNO)
        return FALSE;

    if (DeleteFileW(entry.diskPath))
        return TRUE;
    if (GetLastError() == ERROR_ACCESS_DENIED)
        Tell(dialogue, FORMAT_ACCESS_DENIED, filePath);
    return FALSE;
}

// Which file the entry names is settled before anything runs or goes: a
// second name for another entry's file makes that file shared.
static bool IsFileNamedElsewhere(const DeleteDialogue& dialogue, LRESULT index,
                                 const ControlEntry& entry)
{
    FileIdentity identity;
    IdentifyFile(entry.diskPath, identity);
    return IsNamedByOtherEntry(dialogue, index, identity);
}

// ModuleUsage that cannot be opened is reported, and the control then counts
// as not downloaded.
static bool IsDownload(const DeleteDialogue& dialogue, const ControlEntry& entry)
{
    LONG status;
    BOOL downloaded = CheckDownloadedControl(entry.controlPath, entry.view, status);
    if (status != ERROR_SUCCESS) {
        WCHAR message[80];
        FormatKeyOpenError(message, status, SITE_DOWNLOAD_CHECK);
        dialogue.ask(dialogue.context, message, TEXT_PRODUCT_NAME, MB_OK);
    }
    return downloaded;
}

// Nothing changes before the restore folder holds all that may go, and
// nothing before Delete knows it can finish. Then the control is
// unregistered before any question about its file, and the entry by which
// the list finds it goes last.
DeleteOutcome RemoveListedControl(const DeleteDialogue& dialogue, LRESULT index,
                                  const ControlEntry& entry, WCHAR (&restoreFolder)[MAX_PATH])
{
    restoreFolder[0] = 0;
    bool downloaded = IsDownload(dialogue, entry);
    if (!downloaded) {
        dialogue.beep(dialogue.context, MB_ICONHAND);
        dialogue.beep(dialogue.context, MB_ICONHAND);
        // Named as the list names it: on 64-bit Windows one path may be two entries.
        WCHAR listed[ENTRY_TEXT_SIZE];
        FormatEntryText(entry.controlPath, entry.view, listed);
        if (Ask(dialogue, QUESTION_NOT_DOWNLOADED, FORMAT_NOT_DOWNLOADED_WARNING, listed,
                TEXT_WARNING_CAPTION, MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION) == IDNO)
            return DELETE_REFUSED;
    }
    bool namedElsewhere = IsFileNamedElsewhere(dialogue, index, entry);
    RemovalPlan plan;
    PlanRemoval(dialogue, entry, downloaded, plan);
    if (dialogue.decide != NULL && plan.fileExists &&
        (IsSharedByOthers(entry.filePath, entry.view) || namedElsewhere) &&
        dialogue.decide(dialogue.context, QUESTION_SHARED_FILE) == IDNO)
        return DELETE_REFUSED;
    if (!CheckRemoval(dialogue, plan) || !SaveRestoreFolder(dialogue, plan, restoreFolder))
        return DELETE_REFUSED;

    if (!UnregisterControl(entry) || !ConfirmAndDeleteFile(dialogue, entry, namedElsewhere))
        return DELETE_FAILED;
    if (!downloaded)
        return RemoveTypeLibRegistration(entry) ? DELETE_DONE : DELETE_FAILED;
    DeleteOtherFiles(dialogue, plan);
    if (!RemoveDistributionUnit(entry) || !RemoveTypeLibRegistration(entry) ||
        !RemoveModuleUsage(entry))
        return DELETE_FAILED;
    return DELETE_DONE;
}

BOOL DeleteListedControl(const DeleteDialogue& dialogue, LRESULT index, const ControlEntry& entry)
{
    WCHAR restoreFolder[MAX_PATH];
    return RemoveListedControl(dialogue, index, entry, restoreFolder) == DELETE_DONE;
}
