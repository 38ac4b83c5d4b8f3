#include "inventory/inventory.h"

#include "base/text.h"

LONG ReadModuleUsageIndex(ModuleUsageIndex& index, RegistryView view)
{
    InitTextIndex(index);
    HKEY moduleUsage;
    LONG status = OpenViewKey(HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH, view, moduleUsage);
    if (status != ERROR_SUCCESS)
        return status;
    if (moduleUsage == NULL) {
        SortTextIndex(index);
        return ERROR_SUCCESS;
    }

    // The walk of IsDownloadedControl, ending where it ends, so the index
    // holds exactly the names that a walk per path would compare.
    WCHAR name[MAX_PATH];
    for (DWORD i = 0; RegEnumKeyW(moduleUsage, i, name, BufferLength(name)) == ERROR_SUCCESS; ++i) {
        ConvertSlashes(name);
        LowerCaseAscii(name);
        if (!AddIndexText(index, name, TEXT(""))) {
            status = ERROR_NOT_ENOUGH_MEMORY;
            break;
        }
    }
    RegCloseKey(moduleUsage);
    if (status != ERROR_SUCCESS) {
        FreeTextIndex(index);
        return status;
    }
    SortTextIndex(index);
    return ERROR_SUCCESS;
}

BOOL IsIndexedDownload(const ModuleUsageIndex& index, const WCHAR* controlPath)
{
    WCHAR filePath[MAX_PATH];
    CopyText(filePath, controlPath);
    ConvertSlashes(filePath);
    LowerCaseAscii(filePath);
    return IsInDownloadCache(filePath) && FindIndexText(index, filePath) != NULL;
}

void FreeModuleUsageIndex(ModuleUsageIndex& index)
{
    FreeTextIndex(index);
}
