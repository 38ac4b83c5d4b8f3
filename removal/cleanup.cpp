#include "removal/removal.h"

#include "base/text.h"
#include "details/details.h"
#include "inventory/inventory.h"

static LONG OpenSubkey(HKEY key, const WCHAR* name, RegistryView view, HKEY& subkey)
{
    return RegOpenKeyExW(key, name, 0, KEY_READ | ViewAccess(view), &subkey);
}

// RegDeleteKeyW would delete in this program's own view whatever the key.
static LONG DeleteSubkey(HKEY key, const WCHAR* name, RegistryView view)
{
    return RegDeleteKeyExW(key, name, ViewAccess(view), 0);
}

void DeleteKeyTree(HKEY key, RegistryView view)
{
    DeleteKeyTreeLast(key, TEXT(""), view);
}

void DeleteKeyTreeLast(HKEY key, const WCHAR* lastPath, RegistryView view)
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
        if (OpenSubkey(key, name, view, subkey) != ERROR_SUCCESS)
            return;
        DeleteKeyTree(subkey, view);
        RegCloseKey(subkey);
        if (DeleteSubkey(key, name, view) != ERROR_SUCCESS)
            ++index;
    }
    HKEY last;
    if (IsEmptyText(first) || OpenSubkey(key, first, view, last) != ERROR_SUCCESS)
        return;
    DeleteKeyTreeLast(last, rest, view);
    RegCloseKey(last);
    DeleteSubkey(key, first, view);
}

// Deletes the named key below the parent, after its subkeys when asked to.
// The name is one key name: a name with a backslash would reach some other
// key deeper down, so it is refused. Answers whether the key is gone.
static bool DeleteNamedKey(HKEY root, const WCHAR* parentPath, const WCHAR* name, bool withSubkeys,
                           RegistryView view, const WCHAR* lastPath = TEXT(""))
{
    if (IsEmptyText(name) || FindChar(name, '\\') != NULL)
        return false;
    HKEY parent;
    if (OpenSubkey(root, parentPath, view, parent) != ERROR_SUCCESS)
        return false;
    bool deleted = false;
    HKEY key;
    if (!withSubkeys) {
        deleted = DeleteSubkey(parent, name, view) == ERROR_SUCCESS;
    } else if (OpenSubkey(parent, name, view, key) == ERROR_SUCCESS) {
        DeleteKeyTreeLast(key, lastPath, view);
        RegCloseKey(key);
        deleted = DeleteSubkey(parent, name, view) == ERROR_SUCCESS;
    }
    RegCloseKey(parent);
    return deleted;
}

// Windows NT refuses to delete a key that still has subkeys, and a class key
// always has some, so both keys go with their subtrees.
BOOL RemoveDistributionUnit(const ControlEntry& entry)
{
    WCHAR clsid[MAX_PATH];
    if (!FindModuleClsid(HKEY_LOCAL_MACHINE, entry.controlPath, entry.view, clsid))
        return FALSE;
    DeleteNamedKey(HKEY_LOCAL_MACHINE, DISTRIBUTION_UNITS_PATH, clsid, true, entry.view);
    DeleteNamedKey(HKEY_CLASSES_ROOT, TEXT("CLSID"), clsid, true, entry.view);
    return TRUE;
}

// The usage key is how the list finds a download, so it goes after the
// usage count: a Delete cut short in between leaves the entry to finish.
BOOL RemoveModuleUsage(const ControlEntry& entry)
{
    if (!RemoveSharedDllValue(entry.filePath, entry.view))
        return FALSE;
    DeleteNamedKey(HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH, entry.controlPath, false, entry.view);
    return TRUE;
}

BOOL RemoveSharedDllValue(const WCHAR* filePath, RegistryView view)
{
    if (IsEmptyText(filePath))
        return TRUE;
    HKEY sharedDlls;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SHARED_DLLS_PATH, 0, KEY_SET_VALUE | ViewAccess(view),
                      &sharedDlls) != ERROR_SUCCESS)
        return FALSE;
    RegDeleteValueW(sharedDlls, filePath);
    RegCloseKey(sharedDlls);
    return TRUE;
}

// Whether a locale of the version names a file for the platform.
static bool HoldsPlatform(HKEY version, const WCHAR* platform, RegistryView view)
{
    WCHAR locale[MAX_PATH];
    bool holds = false;
    for (DWORD index = 0;
         !holds && RegEnumKeyW(version, index, locale, BufferLength(locale)) == ERROR_SUCCESS;
         ++index) {
        WCHAR path[MAX_PATH];
        HKEY key;
        if (JoinText(path, locale, TEXT("\\"), platform) &&
            OpenSubkey(version, path, view, key) == ERROR_SUCCESS) {
            RegCloseKey(key);
            holds = true;
        }
    }
    return holds;
}

// A version that the other view's file still needs keeps everything but
// this view's platform keys, and the locales that then hold nothing. The
// locale "0", where the list finds the file, goes last.
static void DeleteOwnPlatform(HKEY version, const WCHAR* platform, RegistryView view)
{
    WCHAR locale[MAX_PATH];
    DWORD index = 0;
    for (bool last = false;; ++index) {
        if (!last && RegEnumKeyW(version, index, locale, BufferLength(locale)) != ERROR_SUCCESS) {
            last = true;
            CopyText(locale, TEXT("0"));
        } else if (!last && EqualsIgnoreCase(locale, TEXT("0"))) {
            continue;
        }
        // FLAGS and HELPDIR sit beside the locales and hold no platform key.
        HKEY key;
        if (OpenSubkey(version, locale, view, key) == ERROR_SUCCESS) {
            bool held = DeleteNamedKey(key, NULL, platform, true, view);
            DWORD subkeys = 1;
            if (RegQueryInfoKeyW(key, NULL, NULL, NULL, &subkeys, NULL, NULL, NULL, NULL, NULL,
                                 NULL, NULL) != ERROR_SUCCESS)
                subkeys = 1;
            RegCloseKey(key);
            if (held && subkeys == 0 && DeleteSubkey(version, locale, view) == ERROR_SUCCESS &&
                !last)
                --index;
        }
        if (last)
            return;
    }
}

// On 64-bit Windows both views share TypeLib: the other view's files stay
// registered, with every key on their way. The module key, by which the
// list finds this file, goes last. Answers whether it is gone.
static bool DeleteSharedTypeLib(HKEY typeLibs, const WCHAR* libId, const WCHAR* moduleVersion,
                                RegistryView view)
{
    const WCHAR* own = TypeLibPlatformKey(view);
    const WCHAR* other = TypeLibPlatformKey(view == VIEW_64 ? VIEW_32 : VIEW_64);
    WCHAR modulePath[MAX_PATH];
    HKEY library;
    if (!JoinText(modulePath, TEXT("0\\"), own) ||
        OpenSubkey(typeLibs, libId, view, library) != ERROR_SUCCESS)
        return false;
    WCHAR version[MAX_PATH];
    DWORD index = 0;
    for (bool last = false; !last;) {
        if (RegEnumKeyW(library, index, version, BufferLength(version)) != ERROR_SUCCESS) {
            last = true;
            CopyText(version, moduleVersion);
        } else if (EqualsIgnoreCase(version, moduleVersion)) {
            ++index;
            continue;
        }
        HKEY key;
        if (OpenSubkey(library, version, view, key) != ERROR_SUCCESS) {
            ++index;
            continue;
        }
        // win16 files are listed with the 32-bit ones.
        bool kept = HoldsPlatform(key, other, view) ||
                    (view == VIEW_64 && HoldsPlatform(key, TEXT("win16"), view));
        if (kept)
            DeleteOwnPlatform(key, own, view);
        else
            DeleteKeyTreeLast(key, last ? modulePath : TEXT(""), view);
        RegCloseKey(key);
        if (kept || DeleteSubkey(library, version, view) != ERROR_SUCCESS)
            ++index;
    }
    WCHAR path[MAX_PATH];
    HKEY module;
    LONG status = JoinText(path, moduleVersion, TEXT("\\"), modulePath)
                      ? OpenSubkey(library, path, view, module)
                      : ERROR_FILENAME_EXCED_RANGE;
    if (status == ERROR_SUCCESS)
        RegCloseKey(module);
    bool gone = status == ERROR_FILE_NOT_FOUND;
    RegCloseKey(library);
    DeleteSubkey(typeLibs, libId, view);
    return gone;
}

// The usage count goes only when there was no type library to remove. The
// library's module key, by which the list finds the file, goes after the
// rest of the library.
BOOL RemoveTypeLibRegistration(const ControlEntry& entry)
{
    WCHAR libId[MAX_PATH];
    WCHAR version[32];
    WCHAR modulePath[MAX_PATH];
    if (!FindTypeLibForFile(entry.filePath, entry.view, libId, version) ||
        !JoinText(modulePath, version, TEXT("\\0\\"), TypeLibPlatformKey(entry.view)) ||
        IsEmptyText(libId) || FindChar(libId, '\\') != NULL)
        return RemoveSharedDllValue(entry.filePath, entry.view);
    bool removed;
    if (IsWow64Machine()) {
        HKEY typeLibs;
        removed =
            OpenSubkey(HKEY_CLASSES_ROOT, TEXT("TypeLib"), entry.view, typeLibs) == ERROR_SUCCESS;
        if (removed) {
            removed = DeleteSharedTypeLib(typeLibs, libId, version, entry.view);
            RegCloseKey(typeLibs);
        }
    } else {
        removed = DeleteNamedKey(HKEY_CLASSES_ROOT, TEXT("TypeLib\\"), libId, true, entry.view,
                                 modulePath);
    }
    return removed ? TRUE : RemoveSharedDllValue(entry.filePath, entry.view);
}
