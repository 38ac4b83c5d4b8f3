#include "app/app.h"
#include "app/control_ids.h"

// The icon the template names is loaded at the system's size, and shared;
// the box shows the one drawn for its own monitor's scale instead.
static HICON iconShown;

static void ShowIconForDpi(HWND dialog, UINT dpi)
{
    HICON icon = LoadProgramIcon(dpi, SM_CXICON);
    if (icon == NULL)
        return;
    LRESULT previous =
        SendDlgItemMessageW(dialog, IDI_PROGRAM, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
    if (iconShown != NULL && previous == reinterpret_cast<LRESULT>(iconShown))
        DestroyIcon(iconShown);
    iconShown = icon;
}

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        ShowIconForDpi(dialog, WindowDpi(dialog));
        return FALSE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 0);
            return TRUE;
        }
        break;
    case WM_DPICHANGED:
        // The rest is the dialog manager's to scale, where it does.
        ShowIconForDpi(dialog, LOWORD(wParam));
        break;
    case WM_DESTROY:
        SendDlgItemMessageW(dialog, IDI_PROGRAM, STM_SETICON, 0, 0);
        if (iconShown != NULL)
            DestroyIcon(iconShown);
        iconShown = NULL;
        break;
    }
    return FALSE;
}
