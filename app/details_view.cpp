#include "app/app.h"
#include "app/control_ids.h"
#include "base/messages.h"
#include "base/text.h"
#include "details/details.h"
#include "inventory/inventory.h"

static const int kRepaintFields[] = {IDC_FILE_INFO_VALUE, IDC_USAGE_COUNT, IDC_CATEGORIES};

static const int kDetailFieldIds[DETAIL_FIELD_COUNT] = {
    IDC_CONTROL_NAME, IDC_PUBLISHER,   IDC_USAGE_COUNT, IDC_FILE_TYPE, IDC_ORIGIN, IDC_INSTALLED,
    IDC_LAST_CHANGE,  IDC_LAST_ACCESS, IDC_VERSION,     IDC_COPYRIGHT, IDC_SIZE,   IDC_CATEGORIES,
};

static void ShowDetailFields(HWND window, const ControlDetails& details)
{
    for (int field = 0; field < DETAIL_FIELD_COUNT; ++field) {
        if (details.known[field])
            SetDlgItemTextW(window, kDetailFieldIds[field],
                            DetailText(details, static_cast<DetailField>(field)));
    }
}

static void ListVersionStrings(HWND window, const ControlDetails& details, LRESULT selection)
{
    for (const auto& row : details.versions) {
        if (SendDlgItemMessageW(window, IDC_FILE_INFO_LIST, LB_ADDSTRING, 0,
                                reinterpret_cast<LPARAM>(row.name)) < 0)
            break;
    }
    // The row the user was reading stays selected from one control to the next.
    LRESULT row = selection < 0 ? 0 : selection;
    SendDlgItemMessageW(window, IDC_FILE_INFO_LIST, LB_SETCURSEL, row, 0);
    if (row < VERSION_STRING_COUNT)
        SetDlgItemTextW(window, IDC_FILE_INFO_VALUE, details.versions[row].value);
}

void ShowFileDetails(HWND window, const ControlEntry& entry,
                     VersionString (&table)[VERSION_STRING_COUNT], HANDLE heap)
{
    LRESULT selection = SendDlgItemMessageW(window, IDC_FILE_INFO_LIST, LB_GETCURSEL, 0, 0);
    SendDlgItemMessageW(window, IDC_FILE_INFO_LIST, LB_RESETCONTENT, 0, 0);
    SetDlgItemTextW(window, IDC_FILE_INFO_VALUE, TEXT_UNKNOWN);

    ControlDetails details = {};
    if (!ReadFileDetails(entry, table, heap, details))
        return;
    if (details.hasVersions)
        ListVersionStrings(window, details, selection);
    ShowDetailFields(window, details);
}

void ShowControlDetails(HWND window, VersionString (&table)[VERSION_STRING_COUNT], HANDLE heap)
{
    LRESULT index;
    ControlEntry entry;
    if (!GetSelectedControl(window, index, entry))
        return;

    // Nothing of the previous control may survive in a field the lookups
    // below cannot fill.
    LockWindowUpdate(window);
    for (int id : kDetailFieldIds)
        SetDlgItemTextW(window, id, TEXT_UNKNOWN);
    LockWindowUpdate(NULL);

    ControlDetails details = {};
    ReadRegistrationDetails(entry, details);
    ShowDetailFields(window, details);

    ShowFileDetails(window, entry, table, heap);

    // The multi-line fields keep stale pixels below shorter new text unless
    // their background is erased.
    for (int id : kRepaintFields) {
        HWND field = GetDlgItem(window, id);
        RECT area;
        GetClientRect(field, &area);
        InvalidateRect(field, &area, TRUE);
    }
    UpdateWindow(window);
}
