#pragma once

#include "base/constants.h"
#include "inventory/inventory.h"

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
    DETAIL_PUBLISHER,
    DETAIL_USAGE_COUNT,
    DETAIL_FILE_TYPE,
    DETAIL_ORIGIN,
    DETAIL_INSTALLED,
    DETAIL_LAST_CHANGE,
    DETAIL_LAST_ACCESS,
    DETAIL_VERSION,
    DETAIL_COPYRIGHT,
    DETAIL_SIZE,
    DETAIL_CATEGORIES,
    DETAIL_FIELD_COUNT
};
struct ControlDetails {
    bool known[DETAIL_FIELD_COUNT];
    WCHAR text[DETAIL_FIELD_COUNT][MAX_PATH];
    // The publisher and the copyright come from version strings, which the
    // table holds at their full length; those fields point there instead.
    const WCHAR* versionText[DETAIL_FIELD_COUNT];
    // The file's version strings, as the table holds them after the read;
    // a file without version data has none.
    bool hasVersions;
    struct {
        const WCHAR* name;
        const WCHAR* value;
    } versions[VERSION_STRING_COUNT];
};
void SetDetail(ControlDetails& details, DetailField field, const WCHAR* text);
const WCHAR* DetailText(const ControlDetails& details, DetailField field);
// The type libraries and the classes, each read in one walk, so that a
// report answers every entry without walks of its own. The answers are those
// of FindTypeLibForFile and FindClsidForTypeLib at the time of reading.
struct RegistrationIndex {
    // "<bits>:" and the lower-cased module of that view: "<library>\\<version>"
    TextIndex typeLibFiles;
    // Each view's classes: lower-cased library: the first class naming it.
    TextIndex typeLibClasses[2];
    // While the type libraries are read: the library, and whether the walk
    // of FindTypeLibForFile would have stopped before its versions, or
    // before every library from here on.
    WCHAR libId[MAX_PATH];
    bool versionsEnded;
    bool typeLibsEnded;
    bool outOfMemory;
    // Each view's, open for the whole report, so that each usage count is
    // one read; NULL when it cannot be opened, and each count is then looked
    // for as alone.
    HKEY sharedDlls[2];
};
// What the scan's type-library pass reads, as it reads it (ScanSink's
// typeLib and typeLibModule), and then the classes.
void InitRegistrationIndex(RegistrationIndex& index);
void IndexTypeLib(RegistrationIndex& index, const WCHAR* libId, bool opened);
void IndexTypeLibModule(RegistrationIndex& index, const WCHAR* version, const WCHAR* file,
                        RegistryView view);
// ERROR_SUCCESS or ERROR_NOT_ENOUGH_MEMORY; on failure nothing is left to free.
LONG FinishRegistrationIndex(RegistrationIndex& index);
// All of it, for a caller without a scan of its own.
LONG ReadRegistrationIndex(RegistrationIndex& index);
void FreeRegistrationIndex(RegistrationIndex& index);
BOOL FindIndexedTypeLib(const RegistrationIndex& index, const WCHAR* filePath, RegistryView view,
                        WCHAR (&libId)[MAX_PATH], WCHAR (&version)[32]);
BOOL FindIndexedClsid(const RegistrationIndex& index, const WCHAR* libId, RegistryView view,
                      WCHAR (&clsid)[MAX_PATH]);

// What the registry says in the entry's view: name, origin, categories and
// usage count. Without an index the type libraries and classes are read afresh.
void ReadRegistrationDetails(const ControlEntry& entry, ControlDetails& details,
                             const RegistrationIndex* index = NULL);
// The folders of a report's files, each listed once at its first file, so
// that a file that is not there costs no search of its own: under Wine a
// search for a name that is not there reads the whole folder. Only "not
// there" is answered from it, and only where that is certain.
struct FolderListing {
    TextIndex folders; // upper-cased, and whether they could be listed
    TextIndex names;   // upper-cased full paths, by long and by short name
};
void InitFolderListing(FolderListing& listing);
bool IsSurelyAbsent(FolderListing& listing, const WCHAR* filePath);
void FreeFolderListing(FolderListing& listing);

// What the file says about itself, the publisher and copyright of its
// version strings among it; false, with nothing read, when there is no
// memory for its version data. Without a listing the file is looked for afresh.
bool ReadFileDetails(const ControlEntry& entry, VersionString (&table)[VERSION_STRING_COUNT],
                     HANDLE heap, ControlDetails& details, FolderListing* listing = NULL);

// What the registry says about a control, each in the view asked for. File
// paths are the registry's, with '\\'.
BOOL FindModuleClsid(HKEY root, const WCHAR* controlPath, RegistryView view,
                     WCHAR (&clsid)[MAX_PATH]);
BOOL GetClsidTypeLib(const WCHAR* clsid, RegistryView view, WCHAR (&libId)[MAX_PATH],
                     WCHAR (&version)[64]);
BOOL GetTypeLibName(const WCHAR* libId, const WCHAR* version, RegistryView view,
                    WCHAR (&description)[MAX_PATH]);
// With the view's SharedDLLs already open, or NULL to open it for this one value.
BOOL GetSharedDllCount(const WCHAR* filePath, RegistryView view, WCHAR (&count)[MAX_PATH],
                       HKEY sharedDlls = NULL);
// The key under a library's locale that names the view's file.
const WCHAR* TypeLibPlatformKey(RegistryView view);
BOOL FindTypeLibForFile(const WCHAR* filePath, RegistryView view, WCHAR (&libId)[MAX_PATH],
                        WCHAR (&version)[32]);
BOOL GetImplementedCategories(const WCHAR* clsid, RegistryView view, WCHAR (&categories)[MAX_PATH]);
BOOL FindClsidForTypeLib(const WCHAR* libId, RegistryView view, WCHAR (&clsid)[MAX_PATH]);

// What the file says about itself.
BOOL ReadVersionStrings(const WCHAR* path, DWORD size, void* block,
                        VersionString (&table)[VERSION_STRING_COUNT], VS_FIXEDFILEINFO* fixedInfo);
// The directory entry of a file path (with '\'), when there is one.
bool FindFileEntry(const WCHAR* filePath, WIN32_FIND_DATAW& found);
// Sizes in characters.
BOOL GetFileTypeName(const WCHAR* extension, WCHAR* text, size_t size);
BOOL FormatFileTime(const FILETIME* fileTime, WCHAR* text, size_t size);

// A DLL of the system folder, loaded by its full path there and nowhere else.
HMODULE LoadSystemLibrary(const WCHAR* fileName);

// version.dll from the system folder, loaded at first use. Without it every
// file reads as one without version data.
DWORD ReadVersionInfoSize(const WCHAR* path);
BOOL ReadVersionInfo(const WCHAR* path, DWORD size, void* block);
// String values are WCHAR text; the length counts characters.
BOOL QueryVersionValue(const void* block, const WCHAR* name, void** value, UINT* length);
void FreeVersionApi();
