#include "details/details.h"

#include "base/text.h"

// The walk of FindTypeLibForFile over every file at once: a library that
// cannot be opened ends it, and so it ends every search that reaches it.
static bool IndexTypeLibFiles(TextIndex& files)
{
    HKEY typeLibs;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, TEXT("TypeLib"), 0, KEY_READ, &typeLibs) != ERROR_SUCCESS)
        return true;

    bool stored = true;
    WCHAR libId[MAX_PATH];
    for (DWORD index = 0;
         stored && RegEnumKeyW(typeLibs, index, libId, BufferLength(libId)) == ERROR_SUCCESS;
         ++index) {
        HKEY libKey;
        if (RegOpenKeyExW(typeLibs, libId, 0, KEY_READ, &libKey) != ERROR_SUCCESS)
            break;
        WCHAR version[32];
        for (DWORD versionIndex = 0; stored && RegEnumKeyW(libKey, versionIndex, version,
                                                           BufferLength(version)) == ERROR_SUCCESS;
             ++versionIndex) {
            WCHAR path[MAX_PATH];
            WCHAR module[MAX_PATH];
            // A key name holds no '\', so the answer splits at its first one.
            WCHAR answer[MAX_PATH + 32];
            if (JoinText(path, version, TEXT("\\0\\win32")) &&
                QueryRegistryText(libKey, path, TEXT(""), module) &&
                JoinText(answer, libId, TEXT("\\"), version)) {
                LowerCaseAscii(module);
                stored = AddIndexText(files, module, answer);
            }
        }
        RegCloseKey(libKey);
    }
    RegCloseKey(typeLibs);
    return stored;
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

LONG ReadRegistrationIndex(RegistrationIndex& index)
{
    InitTextIndex(index.typeLibFiles);
    InitTextIndex(index.typeLibClasses);
    if (!IndexTypeLibFiles(index.typeLibFiles) || !IndexTypeLibClasses(index.typeLibClasses)) {
        FreeRegistrationIndex(index);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    SortTextIndex(index.typeLibFiles);
    SortTextIndex(index.typeLibClasses);
    return ERROR_SUCCESS;
}

void FreeRegistrationIndex(RegistrationIndex& index)
{
    FreeTextIndex(index.typeLibFiles);
    FreeTextIndex(index.typeLibClasses);
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
