#include "removal/removal.h"

#include "base/text.h"
#include "details/details.h"
#include "inventory/inventory.h"

void DeleteKeyTree(HKEY key)
{
    DeleteKeyTreeLast(key, TEXT(""));
}

void DeleteKeyTreeLast(HKEY key, const WCHAR* lastPath)
{
    WCHAR first[MAX_PATH];
    CopyText(first, lastPath);
    const WCHAR* rest = FindChar(lastPath, '\\');
    if (rest != NULL)
        first[rest - lastPath] = 0;
    rest = rest != NULL ? rest + 1 : TEXT("");

    WCHAR name[MAX_PATH];
    DWORD index = 0;
    // A deleted subkey gives up its index to the next one; one that stays
    // (it could not be deleted, or goes last) is stepped over.
    while (RegEnumKeyW(key, index, name, BufferLength(name)) == ERROR_SUCCESS) {
        if (!IsEmptyText(first) && EqualsIgnoreCase(name, first)) {
            ++index;
            continue;
        }
        HKEY subkey;
        if (RegOpenKeyExW(key, name, 0, KEY_READ, &subkey) != ERROR_SUCCESS)
            return;
        DeleteKeyTree(subkey);
        RegCloseKey(subkey);
        if (RegDeleteKeyW(key, name) != ERROR_SUCCESS)
            ++index;
    }
    HKEY last;
    if (IsEmptyText(first) || RegOpenKeyExW(key, first, 0, KEY_READ, &last) != ERROR_SUCCESS)
        return;
    DeleteKeyTreeLast(last, rest);
    RegCloseKey(last);
    RegDeleteKeyW(key, first);
}

// Deletes the named key below the parent, after its subkeys when asked to.
// The name is one key name: a name with a backslash would reach some other
// key deeper down, so it is refused. Answers whether the key is gone.
static bool DeleteNamedKey(HKEY root, const WCHAR* parentPath, const WCHAR* name, bool withSubkeys,
                           const WCHAR* lastPath = TEXT(""))
{
    if (IsEmptyText(name) || FindChar(name, '\\') != NULL)
        return false;
    HKEY parent;
    if (RegOpenKeyExW(root, parentPath, 0, KEY_READ, &parent) != ERROR_SUCCESS)
        return false;
    bool deleted = false;
    HKEY key;
    if (!withSubkeys) {
        deleted = RegDeleteKeyW(parent, name) == ERROR_SUCCESS;
    } else if (RegOpenKeyExW(parent, name, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        DeleteKeyTreeLast(key, lastPath);
        RegCloseKey(key);
        deleted = RegDeleteKeyW(parent, name) == ERROR_SUCCESS;
    }
    RegCloseKey(parent);
    return deleted;
}

// Windows NT refuses to delete a key that still has subkeys, and a class key
// always has some, so both keys go with their subtrees.
BOOL RemoveDistributionUnit(const WCHAR* controlPath)
{
    WCHAR clsid[MAX_PATH];
    if (!FindModuleClsid(HKEY_LOCAL_MACHINE, controlPath, clsid))
        return FALSE;
    DeleteNamedKey(HKEY_LOCAL_MACHINE, DISTRIBUTION_UNITS_PATH, clsid, true);
    DeleteNamedKey(HKEY_CLASSES_ROOT, TEXT("CLSID"), clsid, true);
    return TRUE;
}

// The usage key is how the list finds a download, so it goes after the
// usage count: a Delete cut short in between leaves the entry to finish.
BOOL RemoveModuleUsage(const WCHAR* controlPath)
{
    WCHAR filePath[MAX_PATH];
    CopyText(filePath, controlPath);
    ConvertSlashes(filePath);
    if (!RemoveSharedDllValue(filePath))
        return FALSE;
    DeleteNamedKey(HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH, controlPath, false);
    return TRUE;
}

BOOL RemoveSharedDllValue(const WCHAR* filePath)
{
    if (IsEmptyText(filePath))
        return TRUE;
    HKEY sharedDlls;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SHARED_DLLS_PATH, 0, KEY_SET_VALUE, &sharedDlls) !=
        ERROR_SUCCESS)
        return FALSE;
    RegDeleteValueW(sharedDlls, filePath);
    RegCloseKey(sharedDlls);
    return TRUE;
}

// The usage count goes only when there was no type library to remove. The
// library's module key, by which the list finds the file, goes after the
// rest of the library.
BOOL RemoveTypeLibRegistration(const WCHAR* controlPath)
{
    WCHAR filePath[MAX_PATH];
    CopyText(filePath, controlPath);
    ConvertSlashes(filePath);
    WCHAR libId[MAX_PATH];
    WCHAR version[32];
    WCHAR modulePath[MAX_PATH];
    if (FindTypeLibForFile(filePath, libId, version) && CopyText(modulePath, version) &&
        AppendText(modulePath, TEXT("\\0\\win32")) &&
        DeleteNamedKey(HKEY_CLASSES_ROOT, TEXT("TypeLib\\"), libId, true, modulePath))
        return TRUE;
    return RemoveSharedDllValue(filePath);
}
