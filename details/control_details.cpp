#include "details/details.h"

#include "base/messages.h"
#include "base/text.h"
#include "inventory/inventory.h"

void SetDetail(ControlDetails& details, DetailField field, const WCHAR* text)
{
    CopyText(details.text[field], text);
    details.versionText[field] = NULL;
    details.known[field] = true;
}

const WCHAR* DetailText(const ControlDetails& details, DetailField field)
{
    return details.versionText[field] != NULL ? details.versionText[field] : details.text[field];
}

static void ReadDownloadRegistration(const WCHAR* clsid, ControlDetails& details)
{
    WCHAR libId[MAX_PATH];
    WCHAR version[64];
    WCHAR text[MAX_PATH];
    if (GetClsidTypeLib(clsid, libId, version) && GetTypeLibName(libId, version, text))
        SetDetail(details, DETAIL_NAME, text);
    SetDetail(details, DETAIL_ORIGIN, TEXT_ORIGIN_DOWNLOAD);
    if (GetImplementedCategories(clsid, text))
        SetDetail(details, DETAIL_CATEGORIES, text);
}

static void ReadTypeLibRegistration(const WCHAR* controlPath, const RegistrationIndex* index,
                                    ControlDetails& details)
{
    WCHAR libId[MAX_PATH];
    WCHAR version[32];
    BOOL found = index != NULL ? FindIndexedTypeLib(*index, controlPath, libId, version)
                               : FindTypeLibForFile(controlPath, libId, version);
    if (!found)
        return;
    WCHAR text[MAX_PATH];
    if (GetTypeLibName(libId, version, text))
        SetDetail(details, DETAIL_NAME, text);
    SetDetail(details, DETAIL_ORIGIN, TEXT_ORIGIN_TYPELIB);
    WCHAR clsid[MAX_PATH];
    BOOL haveClass =
        index != NULL ? FindIndexedClsid(*index, libId, clsid) : FindClsidForTypeLib(libId, clsid);
    if (haveClass && GetImplementedCategories(clsid, text))
        SetDetail(details, DETAIL_CATEGORIES, text);
}

void ReadRegistrationDetails(const WCHAR* controlPath, ControlDetails& details,
                             const RegistrationIndex* index)
{
    WCHAR clsid[MAX_PATH];
    if (FindModuleClsid(HKEY_LOCAL_MACHINE, controlPath, clsid))
        ReadDownloadRegistration(clsid, details);
    else
        ReadTypeLibRegistration(controlPath, index, details);

    WCHAR count[MAX_PATH];
    if (GetSharedDllCount(controlPath, count, index != NULL ? index->sharedDlls : NULL))
        SetDetail(details, DETAIL_USAGE_COUNT, count);
}
