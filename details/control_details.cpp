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

static void ReadDownloadRegistration(const WCHAR* clsid, RegistryView view, ControlDetails& details)
{
    WCHAR libId[MAX_PATH];
    WCHAR version[64];
    WCHAR text[MAX_PATH];
    if (GetClsidTypeLib(clsid, view, libId, version) && GetTypeLibName(libId, version, view, text))
        SetDetail(details, DETAIL_NAME, text);
    SetDetail(details, DETAIL_ORIGIN, TEXT_ORIGIN_DOWNLOAD);
    if (GetImplementedCategories(clsid, view, text))
        SetDetail(details, DETAIL_CATEGORIES, text);
}

static void ReadTypeLibRegistration(const ControlEntry& entry, const RegistrationIndex* index,
                                    ControlDetails& details)
{
    WCHAR libId[MAX_PATH];
    WCHAR version[32];
    BOOL found = index != NULL
                     ? FindIndexedTypeLib(*index, entry.filePath, entry.view, libId, version)
                     : FindTypeLibForFile(entry.filePath, entry.view, libId, version);
    if (!found)
        return;
    WCHAR text[MAX_PATH];
    if (GetTypeLibName(libId, version, entry.view, text))
        SetDetail(details, DETAIL_NAME, text);
    SetDetail(details, DETAIL_ORIGIN, TEXT_ORIGIN_TYPELIB);
    WCHAR clsid[MAX_PATH];
    BOOL haveClass = index != NULL ? FindIndexedClsid(*index, libId, entry.view, clsid)
                                   : FindClsidForTypeLib(libId, entry.view, clsid);
    if (haveClass && GetImplementedCategories(clsid, entry.view, text))
        SetDetail(details, DETAIL_CATEGORIES, text);
}

void ReadRegistrationDetails(const ControlEntry& entry, ControlDetails& details,
                             const RegistrationIndex* index)
{
    WCHAR clsid[MAX_PATH];
    if (FindModuleClsid(HKEY_LOCAL_MACHINE, entry.controlPath, entry.view, clsid))
        ReadDownloadRegistration(clsid, entry.view, details);
    else
        ReadTypeLibRegistration(entry, index, details);

    WCHAR count[MAX_PATH];
    if (GetSharedDllCount(entry.filePath, entry.view, count,
                          index != NULL ? index->sharedDlls[entry.view == VIEW_64] : NULL))
        SetDetail(details, DETAIL_USAGE_COUNT, count);
}
