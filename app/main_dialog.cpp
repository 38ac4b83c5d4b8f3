#include "app/app.h"
#include "app/control_ids.h"
#include "details/details.h"
#include "inventory/inventory.h"
#include "removal/removal.h"

static INT_PTR InitMainDialog(HWND dialog)
{
    detailHeap = GetProcessHeap();
    FollowDisplayScale(dialog);
    PostMessageW(dialog, WM_REFRESH_LIST, 0, 0);
    return FALSE;
}

static void ShowAboutBox(HWND dialog)
{
    DialogBoxParamW(hInstance, MAKEINTRESOURCEW(IDD_ABOUT), dialog, AboutDialogProc, 0);
}

static void DeleteControl(HWND dialog)
{
    if (DeleteSelectedControl(dialog))
        PostMessageW(dialog, WM_REFRESH_LIST, 0, 0);
}

static void ControlSelectionChanged(HWND dialog)
{
    // A single-selection list answers LB_ERR here, which is non-zero: the
    // first selection change enables Delete for good.
    LRESULT selected = SendDlgItemMessageW(dialog, IDC_CONTROL_LIST, LB_GETSELCOUNT, 0, 0);
    EnableWindow(GetDlgItem(dialog, IDC_DELETE), selected != 0);
    ShowControlDetails(dialog, VersionStringTable, detailHeap);
}

static void FileInfoSelectionChanged(HWND dialog)
{
    LRESULT row = SendDlgItemMessageW(dialog, IDC_FILE_INFO_LIST, LB_GETCURSEL, 0, 0);
    if (row < 0 || row >= VERSION_STRING_COUNT)
        return;
    SetDlgItemTextW(dialog, IDC_FILE_INFO_VALUE, VersionValueText(VersionStringTable[row]));
}

static INT_PTR MainDialogCommand(HWND dialog, WORD id, WORD notification)
{
    switch (id) {
    case IDC_EXIT:
        EndDialog(dialog, 1);
        return TRUE;
    case IDC_ABOUT:
        ShowAboutBox(dialog);
        break;
    case IDC_DELETE:
        DeleteControl(dialog);
        break;
    case IDC_REFRESH:
        PostMessageW(dialog, WM_REFRESH_LIST, 0, 0);
        break;
    case IDC_CONTROL_LIST:
        if (notification == LBN_SELCHANGE)
            ControlSelectionChanged(dialog);
        break;
    case IDC_FILE_INFO_LIST:
        if (notification == LBN_SELCHANGE)
            FileInfoSelectionChanged(dialog);
        break;
    }
    return FALSE;
}

static INT_PTR PaintMinimized(HWND dialog, HDC dc)
{
    if (!IsIconic(dialog))
        return FALSE;
    DrawIcon(dc, 1, 1, LoadIconW(hInstance, MAKEINTRESOURCEW(IDI_PROGRAM)));
    return TRUE;
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    // Only the low word names the message, as in the 16-bit days.
    switch (message & 0xFFFF) {
    case WM_INITDIALOG:
        return InitMainDialog(dialog);
    case WM_REFRESH_LIST:
        RefreshControlList(dialog);
        return FALSE;
    case WM_COMMAND:
        return MainDialogCommand(dialog, LOWORD(wParam), HIWORD(wParam));
    case WM_SYSCOMMAND:
        if (wParam != SC_CLOSE)
            return FALSE;
        EndDialog(dialog, 1);
        return TRUE;
    case WM_PAINT:
        return PaintMinimized(dialog, reinterpret_cast<HDC>(wParam));
    case WM_DPICHANGED:
        ChangeDisplayScale(dialog, LOWORD(wParam), reinterpret_cast<const RECT*>(lParam));
        return TRUE;
    case WM_DESTROY:
        ReleaseDisplayScale(dialog);
        return FALSE;
    }
    return FALSE;
}
