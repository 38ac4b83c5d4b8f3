#include "removal/removal.h"

#include "app/text.h"
#include "details/details.h"
#include "inventory/inventory.h"

void DeleteKeyTree(HKEY key)
{
    WCHAR name[MAX_PATH];
    DWORD index = 0;
    // A deleted subkey gives up its index to the next one; one that stays
    // (it could not be deleted) is stepped over.
    while (RegEnumKeyW(key, index, name, BufferLength(name)) == ERROR_SUCCESS) {
        HKEY subkey;
        if (RegOpenKeyExW(key, name, 0, KEY_READ, &subkey) != ERROR_SUCCESS)
            return;
        DeleteKeyTree(subkey);
        RegCloseKey(subkey);
        if (RegDeleteKeyW(key, name) != ERROR_SUCCESS)
            ++index;
    }
}

// Deletes the named key below the parent, after its subkeys when asked to.
// The name is one key name: a name with a backslash would reach some other
// key deeper down, so it is refused. Answers whether the key is gone.
static bool DeleteNamedKey(HKEY root, const WCHAR* parentPath, const WCHAR* name, bool withSubkeys)
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
        DeleteKeyTree(key);
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

BOOL RemoveModuleUsage(const WCHAR* controlPath)
{
    WCHAR filePath[MAX_PATH];
    CopyText(filePath, controlPath);
    ConvertSlashes(filePath);
    DeleteNamedKey(HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH, controlPath, false);
    return RemoveSharedDllValue(filePath);
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

// The usage count goes only when there was no type library to remove.
BOOL RemoveTypeLibRegistration(const WCHAR* controlPath)
{
    WCHAR filePath[MAX_PATH];
    CopyText(filePath, controlPath);
    ConvertSlashes(filePath);
    WCHAR libId[MAX_PATH];
    WCHAR version[32];
    if (FindTypeLibForFile(filePath, libId, version) &&
        DeleteNamedKey(HKEY_CLASSES_ROOT, TEXT("TypeLib\\"), libId, true))
        return TRUE;
    return RemoveSharedDllValue(filePath);
}
