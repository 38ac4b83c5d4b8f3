#include "inventory/inventory.h"

#include "app/control_ids.h"
#include "app/messages.h"
#include "app/text.h"

#define TYPELIB_VERSION_NAME_SIZE 80

// The extent follows the entry just added, not the widest one: the list's
// item rectangle has the width of its client area.
static void AddControlEntry(HWND window, const WCHAR* entry)
{
    LRESULT index = SendDlgItemMessageW(window, IDC_CONTROL_LIST, LB_ADDSTRING, 0,
                                        reinterpret_cast<LPARAM>(entry));
    if (index < 0)
        return; // nothing was added, so there is no rectangle to measure
    RECT item;
    if (SendDlgItemMessageW(window, IDC_CONTROL_LIST, LB_GETITEMRECT, static_cast<WPARAM>(index),
                            reinterpret_cast<LPARAM>(&item)) == LB_ERR)
        return;
    SendDlgItemMessageW(window, IDC_CONTROL_LIST, LB_SETHORIZONTALEXTENT,
                        static_cast<WPARAM>(item.right - item.left + 40), 0);
}

// A list box that draws itself after every insert takes most of a refresh
// under Wine, so the list is rebuilt with its drawing off. The flag lets a
// message box in the middle of the rebuild show over a list that draws.
static bool listRedrawOff = false;

static void SuspendListRedraw(HWND window)
{
    SendDlgItemMessageW(window, IDC_CONTROL_LIST, WM_SETREDRAW, FALSE, 0);
    listRedrawOff = true;
}

// With its drawing off the list leaves its scroll bars alone, so the item
// width measured after each insert may still be that of the old list.
// Measured again once the bars are right, the extent is what adding each
// entry with drawing on would have left.
static void ResumeListRedraw(HWND window)
{
    SendDlgItemMessageW(window, IDC_CONTROL_LIST, WM_SETREDRAW, TRUE, 0);
    listRedrawOff = false;
    RECT item;
    if (SendDlgItemMessageW(window, IDC_CONTROL_LIST, LB_GETCOUNT, 0, 0) > 0 &&
        SendDlgItemMessageW(window, IDC_CONTROL_LIST, LB_GETITEMRECT, 0,
                            reinterpret_cast<LPARAM>(&item)) != LB_ERR)
        SendDlgItemMessageW(window, IDC_CONTROL_LIST, LB_SETHORIZONTALEXTENT,
                            static_cast<WPARAM>(item.right - item.left + 40), 0);
    InvalidateRect(GetDlgItem(window, IDC_CONTROL_LIST), NULL, TRUE);
}

// A message box in the middle of a rebuild shows over a list that draws;
// the rebuild goes on with its drawing off again once the box is closed.
static bool DrawListForBox(HWND window)
{
    bool suspended = listRedrawOff;
    if (suspended)
        ResumeListRedraw(window);
    return suspended;
}

static void UndrawListAfterBox(HWND window, bool suspended)
{
    if (suspended)
        SuspendListRedraw(window);
}

static void ReportScanKeyOpenError(HWND window, LONG status, int site)
{
    bool suspended = DrawListForBox(window);
    ReportKeyOpenError(window, status, site);
    UndrawListAfterBox(window, suspended);
}

// A message box shown during a rebuild handles what was queued behind it, a
// second click on Refresh among them. Run inside the box, that refresh would
// fill the list, and this one would then add the rest of its own entries on
// top; it runs once this one is done instead.
static bool refreshRunning = false;
static bool refreshAskedAgain = false;

LRESULT RefreshControlList(HWND window)
{
    if (refreshRunning) {
        refreshAskedAgain = true;
        return 0;
    }
    refreshRunning = true;
    SuspendListRedraw(window);
    SendDlgItemMessageW(window, IDC_CONTROL_LIST, LB_RESETCONTENT, 0, 0);

    WCHAR moduleUsagePath[MAX_PATH] = MODULE_USAGE_PATH;
    AddDownloadedControls(window, HKEY_LOCAL_MACHINE, moduleUsagePath, TEXT(""));
    WCHAR typeLibPath[MAX_PATH] = TEXT("TypeLib");
    AddTypeLibControls(window, HKEY_CLASSES_ROOT, typeLibPath, TEXT(""));

    ResumeListRedraw(window);

    if (SendDlgItemMessageW(window, IDC_CONTROL_LIST, LB_GETCOUNT, 0, 0) == 0) {
        MessageBoxW(window, TEXT_NO_CONTROLS, TEXT_PRODUCT_NAME, MB_ICONERROR);
        PostMessageW(window, WM_COMMAND, IDC_EXIT, 0);
    }

    // Posted rather than handled here, so the details of the first entry are
    // shown once the rebuild has returned, through the usual selection path.
    SendDlgItemMessageW(window, IDC_CONTROL_LIST, LB_SETCURSEL, 0, 0);
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_CONTROL_LIST, LBN_SELCHANGE), 0);
    SendDlgItemMessageW(window, IDC_FILE_INFO_LIST, LB_SETCURSEL, 0, 0);
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_FILE_INFO_LIST, LBN_SELCHANGE), 0);
    refreshRunning = false;
    if (refreshAskedAgain) {
        refreshAskedAgain = false;
        PostMessageW(window, WM_REFRESH_LIST, 0, 0);
    }
    return 0;
}

// Walks stop at the first failing status. At index 0 that means an empty key;
// later, any status other than "no more items" would leave the previous name
// in the buffer, so going on could only handle that entry again.
BOOL AddDownloadedControls(HWND window, HKEY root, WCHAR (&keyPath)[MAX_PATH], const WCHAR* keyName)
{
    AppendKeyName(keyPath, keyName);
    HKEY moduleUsage;
    LONG status = RegOpenKeyExW(root, keyPath, 0, KEY_READ, &moduleUsage);
    if (status != ERROR_SUCCESS) {
        ReportScanKeyOpenError(window, status, SITE_MODULE_USAGE_SCAN);
        return FALSE;
    }

    WCHAR name[MAX_PATH];
    for (DWORD index = 0;
         RegEnumKeyW(moduleUsage, index, name, BufferLength(name)) == ERROR_SUCCESS; ++index) {
        WCHAR lowered[MAX_PATH];
        CopyText(lowered, name);
        LowerCaseAscii(lowered);
        if (ContainsText(lowered, TEXT("/downloaded program files")) ||
            ContainsText(lowered, TEXT("/occache/")))
            AddControlEntry(window, name);
    }
    RegCloseKey(moduleUsage);
    return TRUE;
}

// The download check of the type-library pass: the names read at its start,
// or, when they could not be read, the check of the Delete command for each
// path, which reports a key that cannot be opened every time, as the user
// has always been told.
struct DownloadCheck {
    LONG status;
    ModuleUsageIndex names;
};

static BOOL IsListedDownload(HWND window, DownloadCheck& check, const WCHAR* file)
{
    if (check.status == ERROR_SUCCESS)
        return IsIndexedDownload(check.names, file);
    if (check.status == ERROR_NOT_ENOUGH_MEMORY)
        return IsDownloadedControl(window, file);
    bool suspended = DrawListForBox(window);
    BOOL downloaded = IsDownloadedControl(window, file);
    UndrawListAfterBox(window, suspended);
    return downloaded;
}

static void AddTypeLibFile(HWND window, DownloadCheck& check, HKEY typeLib, const WCHAR* version,
                           const WCHAR* suffix)
{
    WCHAR path[MAX_PATH];
    CopyText(path, version);
    AppendText(path, suffix);
    WCHAR file[MAX_PATH];
    // A number is not a path; the buffer would hold four bytes of it, not text.
    if (!QueryRegistryText(typeLib, path, TEXT(""), file))
        return;
    if (IsListedDownload(window, check, file))
        return;
    LowerCaseAscii(file);
    AddControlEntry(window, file);
}

BOOL AddTypeLibControls(HWND window, HKEY root, WCHAR (&keyPath)[MAX_PATH], const WCHAR* keyName)
{
    AppendKeyName(keyPath, keyName);
    HKEY typeLibs;
    LONG status = RegOpenKeyExW(root, keyPath, 0, KEY_READ, &typeLibs);
    if (status != ERROR_SUCCESS) {
        ReportScanKeyOpenError(window, status, SITE_TYPELIB_SCAN);
        return FALSE;
    }

    SetCursor(LoadCursorW(NULL, IDC_WAIT));
    DownloadCheck check;
    check.status = ReadModuleUsageIndex(check.names);
    WCHAR libId[MAX_PATH];
    for (DWORD index = 0; RegEnumKeyW(typeLibs, index, libId, BufferLength(libId)) == ERROR_SUCCESS;
         ++index) {
        HKEY typeLib;
        if (RegOpenKeyExW(typeLibs, libId, 0, KEY_READ, &typeLib) != ERROR_SUCCESS)
            continue;
        WCHAR version[TYPELIB_VERSION_NAME_SIZE];
        for (DWORD versionIndex = 0;
             RegEnumKeyW(typeLib, versionIndex, version, BufferLength(version)) == ERROR_SUCCESS;
             ++versionIndex) {
            AddTypeLibFile(window, check, typeLib, version, TEXT("\\0\\win32"));
            AddTypeLibFile(window, check, typeLib, version, TEXT("\\0\\win16"));
        }
        RegCloseKey(typeLib);
    }
    if (check.status == ERROR_SUCCESS)
        FreeModuleUsageIndex(check.names);
    SetCursor(LoadCursorW(NULL, IDC_ARROW));
    RegCloseKey(typeLibs);
    return TRUE;
}

bool GetControlEntry(HWND window, LRESULT index, WCHAR (&controlPath)[MAX_PATH])
{
    LRESULT length = SendDlgItemMessageW(window, IDC_CONTROL_LIST, LB_GETTEXTLEN, index, 0);
    if (length < 0 || length >= MAX_PATH)
        return false;
    return SendDlgItemMessageW(window, IDC_CONTROL_LIST, LB_GETTEXT, index,
                               reinterpret_cast<LPARAM>(controlPath)) != LB_ERR;
}

bool GetSelectedControl(HWND window, LRESULT& index, WCHAR (&controlPath)[MAX_PATH])
{
    index = SendDlgItemMessageW(window, IDC_CONTROL_LIST, LB_GETCURSEL, 0, 0);
    return index >= 0 && GetControlEntry(window, index, controlPath);
}
