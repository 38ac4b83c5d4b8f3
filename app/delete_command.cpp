#include "app/app.h"
#include "app/control_ids.h"
#include "removal/removal.h"

static int AskWithBox(void* context, const WCHAR* text, const WCHAR* caption, UINT type)
{
    return MessageBoxW(static_cast<HWND>(context), text, caption, type);
}

static void Beep(void*, UINT type)
{
    MessageBeep(type);
}

static LRESULT CountEntries(void* context)
{
    return SendDlgItemMessageW(static_cast<HWND>(context), IDC_CONTROL_LIST, LB_GETCOUNT, 0, 0);
}

static bool ReadEntry(void* context, LRESULT index, ControlEntry& entry)
{
    return GetControlEntry(static_cast<HWND>(context), index, entry);
}

BOOL DeleteSelectedControl(HWND window)
{
    LRESULT index;
    ControlEntry entry;
    if (!GetSelectedControl(window, index, entry))
        return FALSE;
    DeleteDialogue dialogue = {AskWithBox, Beep, CountEntries, ReadEntry, window, NULL};
    if (!DeleteListedControl(dialogue, index, entry))
        return FALSE;
    SendDlgItemMessageW(window, IDC_CONTROL_LIST, LB_DELETESTRING, index, 0);
    return TRUE;
}
