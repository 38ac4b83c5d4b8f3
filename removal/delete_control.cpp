#include "removal/removal.h"

#include "app/control_ids.h"
#include "app/messages.h"
#include "app/text.h"
#include "details/details.h"
#include "inventory/inventory.h"

#include <cstdlib>

// Long enough for every question with a 259-character path in it.
typedef char MessageText[1024];

static int Ask(HWND window, const char* format, const char* path, const char* caption, UINT type)
{
    MessageText text;
    FormatText(text, format, path);
    return MessageBoxA(window, text, caption, type);
}

typedef HRESULT(WINAPI* UnregisterServerProc)(void);

// Loaded as COM loads an in-process server: the control's own folder is
// searched for its dependencies, not ours. The flag needs a full path with
// '\' separators, and the list names downloads with '/'.
BOOL UnregisterControl(const char* controlPath)
{
    char modulePath[MAX_PATH];
    CopyText(modulePath, controlPath);
    ConvertSlashes(modulePath);
    HMODULE module = LoadLibraryExA(modulePath, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == NULL)
        return TRUE;
    FARPROC entry = GetProcAddress(module, "DllUnregisterServer");
    if (entry != NULL) {
        reinterpret_cast<UnregisterServerProc>(reinterpret_cast<void (*)(void)>(entry))();
    } else {
        // Quoted: every path under "Downloaded Program Files" has spaces, and
        // unquoted Windows would start C:\Windows\Downloaded.exe if it exists.
        char command[MAX_PATH + 32];
        FormatText(command, "\"%s\" /UnregServer", controlPath);
        WinExec(command, SW_HIDE);
    }
    FreeLibrary(module);
    return TRUE;
}

static bool IsSharedByOthers(const char* controlPath)
{
    char count[MAX_PATH];
    return GetSharedDllCount(controlPath, count) && strtol(count, NULL, 10) > 1;
}

BOOL ConfirmAndDeleteFile(HWND window, const char* controlPath)
{
    const UINT question = MB_YESNO | MB_DEFBUTTON2;
    char filePath[MAX_PATH];
    CopyText(filePath, controlPath);
    ConvertSlashes(filePath);

    // Whether the file is there at all: a file that is locked or unreadable
    // still exists, and its registration must not go while it stays behind.
    WIN32_FIND_DATAA found;
    if (!FindFileEntry(filePath, found))
        return Ask(window, FORMAT_DELETE_REGISTRY_ENTRY, filePath, TEXT_PRODUCT_NAME, question) !=
               IDNO;
    if (Ask(window, FORMAT_DELETE_FILE, filePath, TEXT_PRODUCT_NAME, question) == IDNO)
        return FALSE;
    if (IsSharedByOthers(controlPath) &&
        Ask(window, FORMAT_DELETE_SHARED_FILE, filePath, TEXT_PRODUCT_NAME, question) == IDNO)
        return FALSE;

    if (DeleteFileA(filePath))
        return TRUE;
    if (GetLastError() == ERROR_ACCESS_DENIED)
        Ask(window, FORMAT_ACCESS_DENIED, filePath, TEXT_PRODUCT_NAME, MB_OK);
    return FALSE;
}

BOOL DeleteSelectedControl(HWND window)
{
    LRESULT index;
    char controlPath[MAX_PATH];
    if (!GetSelectedControl(window, index, controlPath))
        return FALSE;

    if (!IsDownloadedControl(window, controlPath)) {
        MessageBeep(MB_ICONHAND);
        MessageBeep(MB_ICONHAND);
        if (Ask(window, FORMAT_NOT_DOWNLOADED_WARNING, controlPath, TEXT_WARNING_CAPTION,
                MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION) == IDNO)
            return FALSE;
        if (!UnregisterControl(controlPath) || !ConfirmAndDeleteFile(window, controlPath) ||
            !RemoveTypeLibRegistration(controlPath))
            return FALSE;
    } else {
        // A download is unregistered before any question about its file.
        if (!UnregisterControl(controlPath) || !ConfirmAndDeleteFile(window, controlPath) ||
            !RemoveDistributionUnit(controlPath) || !RemoveModuleUsage(controlPath) ||
            !RemoveTypeLibRegistration(controlPath))
            return FALSE;
    }
    SendDlgItemMessageA(window, IDC_CONTROL_LIST, LB_DELETESTRING, index, 0);
    return TRUE;
}
