#pragma once

#include <windows.h>

#define VERSION_STRING_COUNT 12

// One row of the file information list: the version-resource string name and
// the value the current file gives it. The table owns the value texts, which
// come from the process heap and keep the length the resource gives them.
struct VersionString {
    const char* name;
    char* value;
};

extern VersionString VersionStringTable[VERSION_STRING_COUNT];
const char* VersionValueText(const VersionString& row);

void ShowControlDetails(HWND window, VersionString (&table)[VERSION_STRING_COUNT], HANDLE heap);

// What the registry says about a control.
BOOL FindModuleClsid(HKEY root, const char* controlPath, char (&clsid)[MAX_PATH]);
BOOL GetClsidTypeLib(const char* clsid, char (&libId)[MAX_PATH], char (&version)[64]);
BOOL GetTypeLibName(const char* libId, const char* version, char (&description)[MAX_PATH]);
BOOL GetSharedDllCount(const char* controlPath, char (&count)[MAX_PATH]);
BOOL FindTypeLibForFile(const char* controlPath, char (&libId)[MAX_PATH], char (&version)[32]);
BOOL GetImplementedCategories(const char* clsid, char (&categories)[MAX_PATH]);
BOOL FindClsidForTypeLib(const char* libId, char (&clsid)[MAX_PATH]);

// What the file says about itself.
void ShowFileDetails(HWND window, const char* controlPath,
                     VersionString (&table)[VERSION_STRING_COUNT], HANDLE heap);
BOOL ReadVersionStrings(const char* path, DWORD size, void* block,
                        VersionString (&table)[VERSION_STRING_COUNT], VS_FIXEDFILEINFO* fixedInfo);
// The directory entry of a file path (with '\'), when there is one.
bool FindFileEntry(const char* filePath, WIN32_FIND_DATAA& found);
BOOL GetFileTypeName(const char* extension, char* text, size_t size);
BOOL FormatFileTime(const FILETIME* fileTime, char* text, size_t size);

// version.dll from the system folder, loaded at first use. Without it every
// file reads as one without version data.
DWORD ReadVersionInfoSize(const char* path);
BOOL ReadVersionInfo(const char* path, DWORD size, void* block);
BOOL QueryVersionValue(const void* block, const char* name, void** value, UINT* length);
void FreeVersionApi();

#define SHARED_DLLS_PATH "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs"
