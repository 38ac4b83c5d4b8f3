#include "details/details.h"

#include "base/text.h"

// FindVersionForFile reads version names into this many characters, and its
// walk ends at the first name that does not fit.
#define FILE_SEARCH_VERSION_SIZE 32

void InitRegistrationIndex(RegistrationIndex& index)
{
    InitTextIndex(index.typeLibFiles);
    InitTextIndex(index.typeLibClasses);
    index.libId[0] = 0;
    index.versionsEnded = false;
    index.typeLibsEnded = false;
    index.outOfMemory = false;
    index.sharedDlls = NULL;
}

// A library that cannot be opened ends FindTypeLibForFile's walk, and so
// every search that reaches it.
void IndexTypeLib(RegistrationIndex& index, const WCHAR* libId, bool opened)
{
    if (!opened)
        index.typeLibsEnded = true;
    index.versionsEnded = !CopyText(index.libId, libId);
}

void IndexTypeLibModule(RegistrationIndex& index, const WCHAR* version, const WCHAR* file)
{
    if (TextLength(version) >= FILE_SEARCH_VERSION_SIZE)
        index.versionsEnded = true;
    if (index.typeLibsEnded || index.versionsEnded || index.outOfMemory || file == NULL)
        return;
    WCHAR module[MAX_PATH];
    // A key name holds no '\', so the answer splits at its first one.
    WCHAR answer[MAX_PATH + FILE_SEARCH_VERSION_SIZE];
    if (!CopyText(module, file) || !JoinText(answer, index.libId, TEXT("\\"), version))
        return;
    LowerCaseAscii(module);
    if (!AddIndexText(index.typeLibFiles, module, answer))
        index.outOfMemory = true;
}

// The walk of FindClsidForTypeLib over every library at once.
static bool IndexTypeLibClasses(TextIndex& classes)
{
    HKEY classesKey;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, TEXT("CLSID"), 0, KEY_READ, &classesKey) != ERROR_SUCCESS)
        return true;

    bool stored = true;
    WCHAR clsid[MAX_PATH];
    for (DWORD index = 0;
         stored && RegEnumKeyW(classesKey, index, clsid, BufferLength(clsid)) == ERROR_SUCCESS;
         ++index) {
        WCHAR path[MAX_PATH];
        WCHAR libId[MAX_PATH];
        if (JoinText(path, clsid, TEXT("\\TypeLib")) &&
            QueryRegistryText(classesKey, path, TEXT(""), libId)) {
            LowerCaseAscii(libId);
            stored = AddIndexText(classes, libId, clsid);
        }
    }
    RegCloseKey(classesKey);
    return stored;
}

LONG FinishRegistrationIndex(RegistrationIndex& index)
{
    if (index.outOfMemory || !IndexTypeLibClasses(index.typeLibClasses)) {
        FreeRegistrationIndex(index);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    SortTextIndex(index.typeLibFiles);
    SortTextIndex(index.typeLibClasses);
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SHARED_DLLS_PATH, 0, KEY_READ, &index.sharedDlls) !=
        ERROR_SUCCESS)
        index.sharedDlls = NULL;
    return ERROR_SUCCESS;
}

static void IndexScannedTypeLib(void* context, const WCHAR* libId, bool opened)
{
    IndexTypeLib(*static_cast<RegistrationIndex*>(context), libId, opened);
}

static void IndexScannedModule(void* context, const WCHAR* version, const WCHAR* file)
{
    IndexTypeLibModule(*static_cast<RegistrationIndex*>(context), version, file);
}

LONG ReadRegistrationIndex(RegistrationIndex& index)
{
    InitRegistrationIndex(index);
    ScanSink sink = {NULL, NULL, NULL, &index, IndexScannedTypeLib, IndexScannedModule};
    WCHAR typeLibPath[MAX_PATH] = TEXT("TypeLib");
    ScanTypeLibControls(sink, HKEY_CLASSES_ROOT, typeLibPath, TEXT(""));
    return FinishRegistrationIndex(index);
}

void FreeRegistrationIndex(RegistrationIndex& index)
{
    FreeTextIndex(index.typeLibFiles);
    FreeTextIndex(index.typeLibClasses);
    if (index.sharedDlls != NULL)
        RegCloseKey(index.sharedDlls);
    index.sharedDlls = NULL;
}

BOOL FindIndexedTypeLib(const RegistrationIndex& index, const WCHAR* controlPath,
                        WCHAR (&libId)[MAX_PATH], WCHAR (&version)[32])
{
    WCHAR filePath[MAX_PATH];
    CopyText(filePath, controlPath);
    ConvertSlashes(filePath);
    LowerCaseAscii(filePath);
    const WCHAR* answer = FindIndexText(index.typeLibFiles, filePath);
    if (answer == NULL)
        return FALSE;
    const WCHAR* slash = FindChar(answer, '\\');
    size_t length = static_cast<size_t>(slash - answer);
    for (size_t i = 0; i < length; ++i)
        libId[i] = answer[i];
    libId[length] = 0;
    CopyText(version, slash + 1);
    return TRUE;
}

BOOL FindIndexedClsid(const RegistrationIndex& index, const WCHAR* libId, WCHAR (&clsid)[MAX_PATH])
{
    WCHAR key[MAX_PATH];
    CopyText(key, libId);
    LowerCaseAscii(key);
    const WCHAR* answer = FindIndexText(index.typeLibClasses, key);
    return answer != NULL && CopyText(clsid, answer);
}
