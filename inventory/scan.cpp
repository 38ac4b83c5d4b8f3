#include "inventory/inventory.h"

#include "base/text.h"

#define TYPELIB_VERSION_NAME_SIZE 80

// A caller leaves out (NULL) what it has no use for.
static void AddEntry(const ScanSink& sink, const WCHAR* entry, RegistryView view)
{
    if (sink.addEntry != NULL)
        sink.addEntry(sink.context, entry, view);
}

static void ReportKeyOpenFailure(const ScanSink& sink, LONG status, int site)
{
    if (sink.keyOpenFailed != NULL)
        sink.keyOpenFailed(sink.context, status, site);
}

// Walks stop at the first failing status. At index 0 that means an empty key;
// later, any status other than "no more items" would leave the previous name
// in the buffer, so going on could only handle that entry again.
BOOL ScanDownloadedControls(const ScanSink& sink, HKEY root, WCHAR (&keyPath)[MAX_PATH],
                            const WCHAR* keyName, RegistryView view)
{
    AppendKeyName(keyPath, keyName);
    HKEY moduleUsage;
    LONG status = OpenViewKey(root, keyPath, view, moduleUsage);
    if (status != ERROR_SUCCESS) {
        ReportKeyOpenFailure(sink, status, SITE_MODULE_USAGE_SCAN);
        return FALSE;
    }

    WCHAR name[MAX_PATH];
    for (DWORD index = 0; moduleUsage != NULL && RegEnumKeyW(moduleUsage, index, name,
                                                             BufferLength(name)) == ERROR_SUCCESS;
         ++index) {
        WCHAR lowered[MAX_PATH];
        CopyText(lowered, name);
        LowerCaseAscii(lowered);
        if (ContainsText(lowered, TEXT("/downloaded program files")) ||
            ContainsText(lowered, TEXT("/occache/")))
            AddEntry(sink, name, view);
    }
    CloseViewKey(moduleUsage);
    return TRUE;
}

// The download check of the type-library pass: the names read at its start,
// or, when they could not be read, the check of the Delete command for each
// path, which reports a key that cannot be opened every time, as the user
// has always been told.
struct DownloadCheck {
    LONG status;
    ModuleUsageIndex names;
};

static BOOL IsListedDownload(const ScanSink& sink, DownloadCheck& check, const WCHAR* file,
                             RegistryView view)
{
    if (check.status == ERROR_SUCCESS)
        return IsIndexedDownload(check.names, file);
    LONG status;
    BOOL downloaded = CheckDownloadedControl(file, view, status);
    if (status != ERROR_SUCCESS)
        ReportKeyOpenFailure(sink, status, SITE_DOWNLOAD_CHECK);
    return downloaded;
}

// The platforms a type library registers files for, and the view whose
// program loads each; win16 files are listed with the 32-bit ones.
enum TypeLibPlatform { PLATFORM_WIN32, PLATFORM_WIN16, PLATFORM_WIN64 };

static void AddTypeLibFile(const ScanSink& sink, DownloadCheck (&checks)[2], HKEY typeLib,
                           const WCHAR* version, TypeLibPlatform platform)
{
    static const WCHAR* const kKeys[] = {TEXT("\\0\\win32"), TEXT("\\0\\win16"),
                                         TEXT("\\0\\win64")};
    RegistryView view = platform == PLATFORM_WIN64 ? VIEW_64 : VIEW_32;
    WCHAR path[MAX_PATH];
    CopyText(path, version);
    AppendText(path, kKeys[platform]);
    WCHAR file[MAX_PATH];
    // A number is not a path; the buffer would hold four bytes of it, not text.
    bool read = QueryRegistryText(typeLib, path, view, TEXT(""), file);
    if (platform != PLATFORM_WIN16 && sink.typeLibModule != NULL)
        sink.typeLibModule(sink.context, version, read ? file : NULL, view);
    if (!read)
        return;
    if (IsListedDownload(sink, checks[view == VIEW_64], file, view))
        return;
    LowerCaseAscii(file);
    AddEntry(sink, file, view);
}

BOOL ScanTypeLibControls(const ScanSink& sink, HKEY root, WCHAR (&keyPath)[MAX_PATH],
                         const WCHAR* keyName)
{
    AppendKeyName(keyPath, keyName);
    HKEY typeLibs;
    LONG status = RegOpenKeyExW(root, keyPath, 0, KEY_READ | ViewAccess(VIEW_32), &typeLibs);
    if (status != ERROR_SUCCESS) {
        ReportKeyOpenFailure(sink, status, SITE_TYPELIB_SCAN);
        return FALSE;
    }

    if (sink.busy != NULL)
        sink.busy(sink.context, true);
    // TypeLib is one key that both views share; each view's files are
    // checked against that view's downloads.
    bool wow64 = IsWow64Machine();
    DownloadCheck checks[2];
    checks[0].status = ReadModuleUsageIndex(checks[0].names, VIEW_32);
    checks[1].status =
        wow64 ? ReadModuleUsageIndex(checks[1].names, VIEW_64) : ERROR_FILE_NOT_FOUND;
    WCHAR libId[MAX_PATH];
    for (DWORD index = 0; RegEnumKeyW(typeLibs, index, libId, BufferLength(libId)) == ERROR_SUCCESS;
         ++index) {
        HKEY typeLib;
        bool opened = RegOpenKeyExW(typeLibs, libId, 0, KEY_READ | ViewAccess(VIEW_32), &typeLib) ==
                      ERROR_SUCCESS;
        if (sink.typeLib != NULL)
            sink.typeLib(sink.context, libId, opened);
        if (!opened)
            continue;
        WCHAR version[TYPELIB_VERSION_NAME_SIZE];
        for (DWORD versionIndex = 0;
             RegEnumKeyW(typeLib, versionIndex, version, BufferLength(version)) == ERROR_SUCCESS;
             ++versionIndex) {
            AddTypeLibFile(sink, checks, typeLib, version, PLATFORM_WIN32);
            AddTypeLibFile(sink, checks, typeLib, version, PLATFORM_WIN16);
            if (wow64)
                AddTypeLibFile(sink, checks, typeLib, version, PLATFORM_WIN64);
        }
        RegCloseKey(typeLib);
    }
    for (DownloadCheck& check : checks) {
        if (check.status == ERROR_SUCCESS)
            FreeModuleUsageIndex(check.names);
    }
    if (sink.busy != NULL)
        sink.busy(sink.context, false);
    RegCloseKey(typeLibs);
    return TRUE;
}

void ScanControlList(const ScanSink& sink)
{
    WCHAR moduleUsagePath[MAX_PATH] = MODULE_USAGE_PATH;
    ScanDownloadedControls(sink, HKEY_LOCAL_MACHINE, moduleUsagePath, TEXT(""), VIEW_32);
    if (IsWow64Machine()) {
        WCHAR moduleUsagePath64[MAX_PATH] = MODULE_USAGE_PATH;
        ScanDownloadedControls(sink, HKEY_LOCAL_MACHINE, moduleUsagePath64, TEXT(""), VIEW_64);
    }
    WCHAR typeLibPath[MAX_PATH] = TEXT("TypeLib");
    ScanTypeLibControls(sink, HKEY_CLASSES_ROOT, typeLibPath, TEXT(""));
}
