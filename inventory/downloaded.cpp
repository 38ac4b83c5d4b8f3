#include "inventory/inventory.h"

#include "app/text.h"

bool IsInDownloadCache(const char* filePath)
{
    char lowered[MAX_PATH];
    CopyText(lowered, filePath);
    LowerCaseAscii(lowered);
    return ContainsText(lowered, "\\downloaded program files") ||
           ContainsText(lowered, "\\occache\\");
}

BOOL IsDownloadedControl(HWND window, const char* controlPath)
{
    HKEY moduleUsage;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH, 0, KEY_READ, &moduleUsage);
    if (status != ERROR_SUCCESS) {
        ReportKeyOpenError(window, status, SITE_DOWNLOAD_CHECK);
        return FALSE;
    }

    char filePath[MAX_PATH];
    CopyText(filePath, controlPath);
    ConvertSlashes(filePath);

    // The first registered name equal to the path decides, and only a path in
    // a download cache can be answered true, so any other path needs no walk.
    BOOL downloaded = FALSE;
    if (IsInDownloadCache(filePath)) {
        char name[MAX_PATH];
        for (DWORD index = 0; RegEnumKeyA(moduleUsage, index, name, sizeof name) == ERROR_SUCCESS;
             ++index) {
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
