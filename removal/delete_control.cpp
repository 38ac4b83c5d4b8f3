#include "removal/removal.h"

#include "base/messages.h"
#include "base/text.h"
#include "details/details.h"
#include "inventory/inventory.h"

// Long enough for every question with a 259-character path in it.
typedef WCHAR MessageText[1024];

static int Ask(const DeleteDialogue& dialogue, const WCHAR* format, const WCHAR* path,
               const WCHAR* caption, UINT type)
{
    MessageText text;
    FormatText(text, format, path);
    return dialogue.ask(dialogue.context, text, caption, type);
}

typedef HRESULT(WINAPI* UnregisterServerProc)(void);

// An executable server unregisters itself when run with /UnregServer. Its
// full path is named as the program to run, so nothing is searched for; the
// command line quotes it as well, as every path under "Downloaded Program
// Files" has spaces.
static void RunServerUnregistration(const WCHAR* modulePath, const WCHAR* controlPath)
{
    WCHAR command[MAX_PATH + 32];
    FormatText(command, TEXT("\"%s\" /UnregServer"), controlPath);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(modulePath, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

// Loaded as COM loads an in-process server: the control's own folder is
// searched for its dependencies, not ours. The flag needs a full path with
// '\' separators, and the list names downloads with '/'.
BOOL UnregisterControl(const WCHAR* controlPath)
{
    WCHAR modulePath[MAX_PATH];
    CopyText(modulePath, controlPath);
    ConvertSlashes(modulePath);
    HMODULE module = LoadLibraryExW(modulePath, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == NULL)
        return TRUE;
    FARPROC entry = GetProcAddress(module, "DllUnregisterServer");
    if (entry != NULL)
        reinterpret_cast<UnregisterServerProc>(reinterpret_cast<void (*)(void)>(entry))();
    else
        RunServerUnregistration(modulePath, controlPath);
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

bool IsSharedByOthers(const WCHAR* controlPath)
{
    WCHAR count[MAX_PATH];
    return GetSharedDllCount(controlPath, count) && ParseCount(count) > 1;
}

BOOL ConfirmAndDeleteFile(const DeleteDialogue& dialogue, const WCHAR* controlPath,
                          bool namedElsewhere)
{
    const UINT question = MB_YESNO | MB_DEFBUTTON2;
    WCHAR filePath[MAX_PATH];
    CopyText(filePath, controlPath);
    ConvertSlashes(filePath);

    // Whether the file is there at all: a file that is locked or unreadable
    // still exists, and its registration must not go while it stays behind.
    WIN32_FIND_DATAW found;
    if (!FindFileEntry(filePath, found))
        return Ask(dialogue, FORMAT_DELETE_REGISTRY_ENTRY, filePath, TEXT_PRODUCT_NAME, question) !=
               IDNO;
    if (Ask(dialogue, FORMAT_DELETE_FILE, filePath, TEXT_PRODUCT_NAME, question) == IDNO)
        return FALSE;
    if ((IsSharedByOthers(controlPath) || namedElsewhere) &&
        Ask(dialogue, FORMAT_DELETE_SHARED_FILE, filePath, TEXT_PRODUCT_NAME, question) == IDNO)
        return FALSE;

    if (DeleteFileW(filePath))
        return TRUE;
    if (GetLastError() == ERROR_ACCESS_DENIED)
        Ask(dialogue, FORMAT_ACCESS_DENIED, filePath, TEXT_PRODUCT_NAME, MB_OK);
    return FALSE;
}

// Which file the entry names is settled before anything runs or goes: a
// second name for another entry's file makes that file shared.
static bool IsFileNamedElsewhere(const DeleteDialogue& dialogue, LRESULT index,
                                 const WCHAR* controlPath)
{
    WCHAR filePath[MAX_PATH];
    CopyText(filePath, controlPath);
    ConvertSlashes(filePath);
    FileIdentity identity;
    IdentifyFile(filePath, identity);
    return IsNamedByOtherEntry(dialogue, index, identity);
}

// ModuleUsage that cannot be opened is reported, and the control then counts
// as not downloaded.
static bool IsDownload(const DeleteDialogue& dialogue, const WCHAR* controlPath)
{
    LONG status;
    BOOL downloaded = CheckDownloadedControl(controlPath, status);
    if (status != ERROR_SUCCESS) {
        WCHAR message[80];
        FormatKeyOpenError(message, status, SITE_DOWNLOAD_CHECK);
        dialogue.ask(dialogue.context, message, TEXT_PRODUCT_NAME, MB_OK);
    }
    return downloaded;
}

// Nothing changes before the restore folder holds all that may go. Then the
// control is unregistered before any question about its file, and the entry
// by which the list finds it goes last.
BOOL DeleteListedControl(const DeleteDialogue& dialogue, LRESULT index, const WCHAR* controlPath)
{
    bool downloaded = IsDownload(dialogue, controlPath);
    if (!downloaded) {
        dialogue.beep(dialogue.context, MB_ICONHAND);
        dialogue.beep(dialogue.context, MB_ICONHAND);
        if (Ask(dialogue, FORMAT_NOT_DOWNLOADED_WARNING, controlPath, TEXT_WARNING_CAPTION,
                MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION) == IDNO)
            return FALSE;
    }
    bool namedElsewhere = IsFileNamedElsewhere(dialogue, index, controlPath);
    RemovalPlan plan;
    PlanRemoval(dialogue, controlPath, downloaded, plan);
    if (!SaveRestoreFolder(dialogue, plan))
        return FALSE;

    if (!UnregisterControl(controlPath) ||
        !ConfirmAndDeleteFile(dialogue, controlPath, namedElsewhere))
        return FALSE;
    if (!downloaded) {
        if (!RemoveTypeLibRegistration(controlPath))
            return FALSE;
    } else {
        DeleteOtherFiles(dialogue, plan);
        if (!RemoveDistributionUnit(controlPath) || !RemoveTypeLibRegistration(controlPath) ||
            !RemoveModuleUsage(controlPath))
            return FALSE;
    }
    return TRUE;
}
