#include "details/details.h"

#include "app/app.h"
#include "app/control_ids.h"
#include "base/messages.h"
#include "base/text.h"
#include "inventory/inventory.h"

static const int kResetFields[] = {
    IDC_CONTROL_NAME, IDC_USAGE_COUNT, IDC_PUBLISHER,   IDC_FILE_TYPE,
    IDC_LAST_CHANGE,  IDC_INSTALLED,   IDC_LAST_ACCESS, IDC_VERSION,
    IDC_COPYRIGHT,    IDC_SIZE,        IDC_ORIGIN,      IDC_CATEGORIES,
};

static const int kRepaintFields[] = {IDC_FILE_INFO_VALUE, IDC_USAGE_COUNT, IDC_CATEGORIES};

static void ShowDownloadRegistration(HWND window, const WCHAR* clsid)
{
    WCHAR libId[MAX_PATH];
    WCHAR version[64];
    WCHAR text[MAX_PATH];
    if (GetClsidTypeLib(clsid, libId, version) && GetTypeLibName(libId, version, text))
        SetDlgItemTextW(window, IDC_CONTROL_NAME, text);
    SetDlgItemTextW(window, IDC_ORIGIN, TEXT_ORIGIN_DOWNLOAD);
    if (GetImplementedCategories(clsid, text))
        SetDlgItemTextW(window, IDC_CATEGORIES, text);
}

static void ShowTypeLibRegistration(HWND window, const WCHAR* controlPath)
{
    WCHAR libId[MAX_PATH];
    WCHAR version[32];
    if (!FindTypeLibForFile(controlPath, libId, version))
        return;
    WCHAR text[MAX_PATH];
    if (GetTypeLibName(libId, version, text))
        SetDlgItemTextW(window, IDC_CONTROL_NAME, text);
    SetDlgItemTextW(window, IDC_ORIGIN, TEXT_ORIGIN_TYPELIB);
    WCHAR clsid[MAX_PATH];
    if (FindClsidForTypeLib(libId, clsid) && GetImplementedCategories(clsid, text))
        SetDlgItemTextW(window, IDC_CATEGORIES, text);
}

void ShowControlDetails(HWND window, VersionString (&table)[VERSION_STRING_COUNT], HANDLE heap)
{
    LRESULT index;
    WCHAR controlPath[MAX_PATH];
    if (!GetSelectedControl(window, index, controlPath))
        return;

    // Nothing of the previous control may survive in a field the lookups
    // below cannot fill.
    LockWindowUpdate(window);
    for (int id : kResetFields)
        SetDlgItemTextW(window, id, TEXT_UNKNOWN);
    LockWindowUpdate(NULL);

    WCHAR clsid[MAX_PATH];
    if (FindModuleClsid(HKEY_LOCAL_MACHINE, controlPath, clsid))
        ShowDownloadRegistration(window, clsid);
    else
        ShowTypeLibRegistration(window, controlPath);

    WCHAR count[MAX_PATH];
    if (GetSharedDllCount(controlPath, count))
        SetDlgItemTextW(window, IDC_USAGE_COUNT, count);

    ShowFileDetails(window, controlPath, table, heap);

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
