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

// What the details fields show of one control. A read fills the fields it
// learns something about and leaves the others unknown, so that the caller
// keeps what it showed there before.
enum DetailField {
    DETAIL_NAME,
    DETAIL_ORIGIN,
    DETAIL_CATEGORIES,
    DETAIL_USAGE_COUNT,
    DETAIL_FILE_TYPE,
    DETAIL_VERSION,
    DETAIL_LAST_CHANGE,
    DETAIL_INSTALLED,
    DETAIL_LAST_ACCESS,
    DETAIL_SIZE,
    DETAIL_FIELD_COUNT
};
struct ControlDetails {
    bool known[DETAIL_FIELD_COUNT];
    WCHAR text[DETAIL_FIELD_COUNT][MAX_PATH];
    // The file's version strings, as the table holds them after the read;
    // a file without version data has none.
    bool hasVersions;
    struct {
        const WCHAR* name;
        const WCHAR* value;
    } versions[VERSION_STRING_COUNT];
};
void SetDetail(ControlDetails& details, DetailField field, const WCHAR* text);
// What the registry says: name, origin, categories and usage count.
void ReadRegistrationDetails(const WCHAR* controlPath, ControlDetails& details);
// What the file says about itself; false, with nothing read, when there is
// no memory for its version data.
bool ReadFileDetails(const WCHAR* controlPath, VersionString (&table)[VERSION_STRING_COUNT],
                     HANDLE heap, ControlDetails& details);

// What the registry says about a control.
BOOL FindModuleClsid(HKEY root, const WCHAR* controlPath, WCHAR (&clsid)[MAX_PATH]);
BOOL GetClsidTypeLib(const WCHAR* clsid, WCHAR (&libId)[MAX_PATH], WCHAR (&version)[64]);
BOOL GetTypeLibName(const WCHAR* libId, const WCHAR* version, WCHAR (&description)[MAX_PATH]);
BOOL GetSharedDllCount(const WCHAR* controlPath, WCHAR (&count)[MAX_PATH]);
BOOL FindTypeLibForFile(const WCHAR* controlPath, WCHAR (&libId)[MAX_PATH], WCHAR (&version)[32]);
BOOL GetImplementedCategories(const WCHAR* clsid, WCHAR (&categories)[MAX_PATH]);
BOOL FindClsidForTypeLib(const WCHAR* libId, WCHAR (&clsid)[MAX_PATH]);

// What the file says about itself.
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
