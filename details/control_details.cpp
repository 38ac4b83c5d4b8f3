#include "details/details.h"

#include "app/control_ids.h"
#include "app/messages.h"
#include "app/text.h"
#include "inventory/inventory.h"

static const int kResetFields[] = {
    IDC_CONTROL_NAME, IDC_USAGE_COUNT, IDC_PUBLISHER,   IDC_FILE_TYPE,
    IDC_LAST_CHANGE,  IDC_INSTALLED,   IDC_LAST_ACCESS, IDC_VERSION,
    IDC_COPYRIGHT,    IDC_SIZE,        IDC_ORIGIN,      IDC_CATEGORIES,
};

static const int kRepaintFields[] = {IDC_FILE_INFO_VALUE, IDC_USAGE_COUNT, IDC_CATEGORIES};

static void ShowDownloadRegistration(HWND window, const char* clsid)
{
    char libId[MAX_PATH];
    char version[64];
    char text[MAX_PATH];
    if (GetClsidTypeLib(clsid, libId, version) && GetTypeLibName(libId, version, text))
        SetDlgItemTextA(window, IDC_CONTROL_NAME, text);
    SetDlgItemTextA(window, IDC_ORIGIN, TEXT_ORIGIN_DOWNLOAD);
    if (GetImplementedCategories(clsid, text))
        SetDlgItemTextA(window, IDC_CATEGORIES, text);
}

static void ShowTypeLibRegistration(HWND window, const char* controlPath)
{
    char libId[MAX_PATH];
    char version[32];
    if (!FindTypeLibForFile(controlPath, libId, version))
        return;
    char text[MAX_PATH];
    if (GetTypeLibName(libId, version, text))
        SetDlgItemTextA(window, IDC_CONTROL_NAME, text);
    SetDlgItemTextA(window, IDC_ORIGIN, TEXT_ORIGIN_TYPELIB);
    char clsid[MAX_PATH];
    if (FindClsidForTypeLib(libId, clsid) && GetImplementedCategories(clsid, text))
        SetDlgItemTextA(window, IDC_CATEGORIES, text);
}

void ShowControlDetails(HWND window, VersionString (&table)[VERSION_STRING_COUNT], HANDLE heap)
{
    LRESULT index;
    char controlPath[MAX_PATH];
    if (!GetSelectedControl(window, index, controlPath))
        return;

    // Nothing of the previous control may survive in a field the lookups
    // below cannot fill.
    LockWindowUpdate(window);
    for (int id : kResetFields)
        SetDlgItemTextA(window, id, TEXT_UNKNOWN);
    LockWindowUpdate(NULL);

    char clsid[MAX_PATH];
    if (FindModuleClsid(HKEY_LOCAL_MACHINE, controlPath, clsid))
        ShowDownloadRegistration(window, clsid);
    else
        ShowTypeLibRegistration(window, controlPath);

    char count[MAX_PATH];
    if (GetSharedDllCount(controlPath, count))
        SetDlgItemTextA(window, IDC_USAGE_COUNT, count);

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
