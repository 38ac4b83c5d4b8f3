#include "details/details.h"

#include "base/text.h"

// FindVersionForFile reads version names into this many characters, and its
// walk ends at the first name that does not fit.
#define FILE_SEARCH_VERSION_SIZE 32

void InitRegistrationIndex(RegistrationIndex& index)
{
    InitTextIndex(index.typeLibFiles);
    InitTextIndex(index.typeLibClasses[0]);
    InitTextIndex(index.typeLibClasses[1]);
    index.libId[0] = 0;
    index.versionsEnded = false;
    index.typeLibsEnded = false;
    index.outOfMemory = false;
    index.sharedDlls[0] = index.sharedDlls[1] = NULL;
}

// "32:" or "64:" and the lower-cased file: the views' files are apart.
static bool MakeFileKey(const WCHAR* filePath, RegistryView view, WCHAR (&key)[MAX_PATH + 4])
{
    if (!JoinText(key, view == VIEW_64 ? TEXT("64:") : TEXT("32:"), filePath))
        return false;
    LowerCaseAscii(key);
    return true;
}

// A library that cannot be opened ends FindTypeLibForFile's walk, and so
// every search that reaches it.
void IndexTypeLib(RegistrationIndex& index, const WCHAR* libId, bool opened)
{
    if (!opened)
        index.typeLibsEnded = true;
    index.versionsEnded = !CopyText(index.libId, libId);
}

// Each view's search walks the same libraries and versions, so one end
// ends both.
void IndexTypeLibModule(RegistrationIndex& index, const WCHAR* version, const WCHAR* file,
                        RegistryView view)
{
    if (TextLength(version) >= FILE_SEARCH_VERSION_SIZE)
        index.versionsEnded = true;
    if (index.typeLibsEnded || index.versionsEnded || index.outOfMemory || file == NULL)
        return;
    WCHAR module[MAX_PATH + 4];
    // A key name holds no '\', so the answer splits at its first one.
    WCHAR answer[MAX_PATH + FILE_SEARCH_VERSION_SIZE];
    if (TextLength(file) >= MAX_PATH || !MakeFileKey(file, view, module) ||
        !JoinText(answer, index.libId, TEXT("\\"), version))
        return;
    if (!AddIndexText(index.typeLibFiles, module, answer))
        index.outOfMemory = true;
}

// The walk of FindClsidForTypeLib over every library at once.
static bool IndexTypeLibClasses(TextIndex& classes, RegistryView view)
{
    HKEY classesKey;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, TEXT("CLSID"), 0, KEY_READ | ViewAccess(view),
                      &classesKey) != ERROR_SUCCESS)
        return true;

    bool stored = true;
    WCHAR clsid[MAX_PATH];
    for (DWORD index = 0;
         stored && RegEnumKeyW(classesKey, index, clsid, BufferLength(clsid)) == ERROR_SUCCESS;
         ++index) {
        WCHAR path[MAX_PATH];
        WCHAR libId[MAX_PATH];
        if (JoinText(path, clsid, TEXT("\\TypeLib")) &&
            QueryRegistryText(classesKey, path, view, TEXT(""), libId)) {
            LowerCaseAscii(libId);
            stored = AddIndexText(classes, libId, clsid);
        }
    }
    RegCloseKey(classesKey);
    return stored;
}

LONG FinishRegistrationIndex(RegistrationIndex& index)
{
    bool wow64 = IsWow64Machine();
    if (index.outOfMemory || !IndexTypeLibClasses(index.typeLibClasses[0], VIEW_32) ||
        (wow64 && !IndexTypeLibClasses(index.typeLibClasses[1], VIEW_64))) {
        FreeRegistrationIndex(index);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    SortTextIndex(index.typeLibFiles);
    SortTextIndex(index.typeLibClasses[0]);
    SortTextIndex(index.typeLibClasses[1]);
    const RegistryView views[] = {VIEW_32, VIEW_64};
    for (int i = 0; i < (wow64 ? 2 : 1); ++i) {
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SHARED_DLLS_PATH, 0, KEY_READ | ViewAccess(views[i]),
                          &index.sharedDlls[i]) != ERROR_SUCCESS)
            index.sharedDlls[i] = NULL;
    }
    return ERROR_SUCCESS;
}

static void IndexScannedTypeLib(void* context, const WCHAR* libId, bool opened)
{
    IndexTypeLib(*static_cast<RegistrationIndex*>(context), libId, opened);
}

static void IndexScannedModule(void* context, const WCHAR* version, const WCHAR* file,
                               RegistryView view)
{
    IndexTypeLibModule(*static_cast<RegistrationIndex*>(context), version, file, view);
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
    FreeTextIndex(index.typeLibClasses[0]);
    FreeTextIndex(index.typeLibClasses[1]);
    for (HKEY& sharedDlls : index.sharedDlls) {
        if (sharedDlls != NULL)
            RegCloseKey(sharedDlls);
        sharedDlls = NULL;
    }
}

BOOL FindIndexedTypeLib(const RegistrationIndex& index, const WCHAR* filePath, RegistryView view,
                        WCHAR (&libId)[MAX_PATH], WCHAR (&version)[32])
{
    WCHAR key[MAX_PATH + 4];
    if (!MakeFileKey(filePath, view, key))
        return FALSE;
    const WCHAR* answer = FindIndexText(index.typeLibFiles, key);
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

BOOL FindIndexedClsid(const RegistrationIndex& index, const WCHAR* libId, RegistryView view,
                      WCHAR (&clsid)[MAX_PATH])
{
    WCHAR key[MAX_PATH];
    CopyText(key, libId);
    LowerCaseAscii(key);
    const WCHAR* answer = FindIndexText(index.typeLibClasses[view == VIEW_64], key);
    return answer != NULL && CopyText(clsid, answer);
}
