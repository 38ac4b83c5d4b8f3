#pragma once

#include "base/constants.h"

#include <windows.h>

#define VERSION_STRING_COUNT 12

// One row of the file information list: the version-resource string name and
// the value the current file gives it. The table owns the value texts, which
// come from the process heap and keep the length the resource gives them.
struct VersionString {
    const WCHAR* name;
    WCHAR* value;
};

extern VersionString VersionStringTable[VERSION_STRING_COUNT];
const WCHAR* VersionValueText(const VersionString& row);

void ShowControlDetails(HWND window, VersionString (&table)[VERSION_STRING_COUNT], HANDLE heap);

// What the registry says about a control.
BOOL FindModuleClsid(HKEY root, const WCHAR* controlPath, WCHAR (&clsid)[MAX_PATH]);
BOOL GetClsidTypeLib(const WCHAR* clsid, WCHAR (&libId)[MAX_PATH], WCHAR (&version)[64]);
BOOL GetTypeLibName(const WCHAR* libId, const WCHAR* version, WCHAR (&description)[MAX_PATH]);
BOOL GetSharedDllCount(const WCHAR* controlPath, WCHAR (&count)[MAX_PATH]);
BOOL FindTypeLibForFile(const WCHAR* controlPath, WCHAR (&libId)[MAX_PATH], WCHAR (&version)[32]);
BOOL GetImplementedCategories(const WCHAR* clsid, WCHAR (&categories)[MAX_PATH]);
BOOL FindClsidForTypeLib(const WCHAR* libId, WCHAR (&clsid)[MAX_PATH]);

// What the file says about itself.
void ShowFileDetails(HWND window, const WCHAR* controlPath,
                     VersionString (&table)[VERSION_STRING_COUNT], HANDLE heap);
BOOL ReadVersionStrings(const WCHAR* path, DWORD size, void* block,
                        VersionString (&table)[VERSION_STRING_COUNT], VS_FIXEDFILEINFO* fixedInfo);
// The directory entry of a file path (with '\'), when there is one.
bool FindFileEntry(const WCHAR* filePath, WIN32_FIND_DATAW& found);
// Sizes in characters.
BOOL GetFileTypeName(const WCHAR* extension, WCHAR* text, size_t size);
BOOL FormatFileTime(const FILETIME* fileTime, WCHAR* text, size_t size);

// version.dll from the system folder, loaded at first use. Without it every
// file reads as one without version data.
DWORD ReadVersionInfoSize(const WCHAR* path);
BOOL ReadVersionInfo(const WCHAR* path, DWORD size, void* block);
// String values are WCHAR text; the length counts characters.
BOOL QueryVersionValue(const void* block, const WCHAR* name, void** value, UINT* length);
void FreeVersionApi();
