#include "app/app.h"
#include "app/control_ids.h"
#include "base/messages.h"
#include "base/text.h"
#include "inventory/inventory.h"

// The extent follows the entry just added, not the widest one: the list's
// item rectangle has the width of its client area. Each entry keeps its
// view beside its text, where the sorted list cannot lose it.
static void AddControlEntry(HWND window, const WCHAR* controlPath, RegistryView view)
{
    WCHAR text[ENTRY_TEXT_SIZE];
    FormatEntryText(controlPath, view, text);
    LRESULT index = SendDlgItemMessageW(window, IDC_CONTROL_LIST, LB_ADDSTRING, 0,
                                        reinterpret_cast<LPARAM>(text));
    if (index < 0)
        return; // nothing was added, so there is no rectangle to measure
    SendDlgItemMessageW(window, IDC_CONTROL_LIST, LB_SETITEMDATA, static_cast<WPARAM>(index),
                        static_cast<LPARAM>(view));
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

void ReportKeyOpenError(HWND window, LONG status, int site)
{
    WCHAR message[80];
    FormatKeyOpenError(message, status, site);
    MessageBoxW(window, message, TEXT_PRODUCT_NAME, MB_OK);
}

static void AddScannedEntry(void* context, const WCHAR* entry, RegistryView view)
{
    AddControlEntry(static_cast<HWND>(context), entry, view);
}

// A message box in the middle of a rebuild shows over a list that draws;
// the rebuild goes on with its drawing off again once the box is closed.
static void ReportScanKeyOpenError(void* context, LONG status, int site)
{
    HWND window = static_cast<HWND>(context);
    bool suspended = listRedrawOff;
    if (suspended)
        ResumeListRedraw(window);
    ReportKeyOpenError(window, status, site);
    if (suspended)
        SuspendListRedraw(window);
}

static void ShowScanBusy(void*, bool busy)
{
    SetCursor(LoadCursorW(NULL, busy ? IDC_WAIT : IDC_ARROW));
}

static ScanSink ListSink(HWND window)
{
    return ScanSink{AddScannedEntry, ReportScanKeyOpenError, ShowScanBusy, window, NULL, NULL};
}

BOOL AddDownloadedControls(HWND window, HKEY root, WCHAR (&keyPath)[MAX_PATH], const WCHAR* keyName,
                           RegistryView view)
{
    return ScanDownloadedControls(ListSink(window), root, keyPath, keyName, view);
}

BOOL AddTypeLibControls(HWND window, HKEY root, WCHAR (&keyPath)[MAX_PATH], const WCHAR* keyName)
{
    return ScanTypeLibControls(ListSink(window), root, keyPath, keyName);
}

BOOL IsDownloadedControl(HWND window, const WCHAR* controlPath, RegistryView view)
{
    LONG status;
    BOOL downloaded = CheckDownloadedControl(controlPath, view, status);
    if (status != ERROR_SUCCESS)
        ReportKeyOpenError(window, status, SITE_DOWNLOAD_CHECK);
    return downloaded;
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

    ScanControlList(ListSink(window));

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

bool GetControlEntry(HWND window, LRESULT index, ControlEntry& entry)
{
    WCHAR text[ENTRY_TEXT_SIZE];
    LRESULT length = SendDlgItemMessageW(window, IDC_CONTROL_LIST, LB_GETTEXTLEN, index, 0);
    if (length < 0 || length >= ENTRY_TEXT_SIZE ||
        SendDlgItemMessageW(window, IDC_CONTROL_LIST, LB_GETTEXT, index,
                            reinterpret_cast<LPARAM>(text)) == LB_ERR)
        return false;
    LRESULT view = SendDlgItemMessageW(window, IDC_CONTROL_LIST, LB_GETITEMDATA, index, 0);
    return ParseEntryText(text, view == VIEW_64 ? VIEW_64 : VIEW_32, entry);
}

bool GetSelectedControl(HWND window, LRESULT& index, ControlEntry& entry)
{
    index = SendDlgItemMessageW(window, IDC_CONTROL_LIST, LB_GETCURSEL, 0, 0);
    return index >= 0 && GetControlEntry(window, index, entry);
}
