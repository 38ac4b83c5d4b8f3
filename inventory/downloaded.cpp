#include "inventory/inventory.h"

#include "base/text.h"

bool IsInDownloadCache(const WCHAR* filePath)
{
    WCHAR lowered[MAX_PATH];
    CopyText(lowered, filePath);
    LowerCaseAscii(lowered);
    return ContainsText(lowered, TEXT("\\downloaded program files")) ||
           ContainsText(lowered, TEXT("\\occache\\"));
}

BOOL CheckDownloadedControl(const WCHAR* controlPath, RegistryView view, LONG& openStatus)
{
    HKEY moduleUsage;
    openStatus = OpenViewKey(HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH, view, moduleUsage);
    if (openStatus != ERROR_SUCCESS || moduleUsage == NULL)
        return FALSE;

    WCHAR filePath[MAX_PATH];
    CopyText(filePath, controlPath);
    ConvertSlashes(filePath);

    // The first registered name equal to the path decides, and only a path in
    // a download cache can be answered true, so any other path needs no walk.
    BOOL downloaded = FALSE;
    if (IsInDownloadCache(filePath)) {
        WCHAR name[MAX_PATH];
        for (DWORD index = 0;
             RegEnumKeyW(moduleUsage, index, name, BufferLength(name)) == ERROR_SUCCESS; ++index) {
            ConvertSlashes(name);
            if (EqualsIgnoreCase(name, filePath)) {
                downloaded = TRUE;
                break;
            }
        }
    }
    RegCloseKey(moduleUsage);
    return downloaded;
}
