#pragma once

#include <windows.h>

// The Delete command: true when the selected control was removed and its
// entry left the list.
BOOL DeleteSelectedControl(HWND window);
BOOL UnregisterControl(const WCHAR* controlPath);
// namedElsewhere: another entry of the list names the same file, which then
// counts as shared whatever its usage count says.
BOOL ConfirmAndDeleteFile(HWND window, const WCHAR* controlPath, bool namedElsewhere);

// Which file a path names, however it is spelt: the volume and index of the
// file it opens, and its full path name upper-cased, for a path that opens
// nothing.
struct FileIdentity {
    bool opened;
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
    WCHAR fullPath[MAX_PATH];
};
void IdentifyFile(const WCHAR* filePath, FileIdentity& identity);
bool IsSameFile(const FileIdentity& first, const FileIdentity& second);
// Whether an entry of the control list other than the one at index names the file.
bool IsNamedByOtherEntry(HWND window, LRESULT index, const FileIdentity& identity);

// Registry clean-up after the file step.
BOOL RemoveDistributionUnit(const WCHAR* controlPath);
BOOL RemoveModuleUsage(const WCHAR* controlPath);
BOOL RemoveSharedDllValue(const WCHAR* filePath);
BOOL RemoveTypeLibRegistration(const WCHAR* controlPath);
void DeleteKeyTree(HKEY key);

#define DISTRIBUTION_UNITS_PATH TEXT("SOFTWARE\\Microsoft\\Code Store Database\\Distribution Units")
