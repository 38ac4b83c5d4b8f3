#include "details/details.h"

#include "base/messages.h"
#include "base/text.h"
#include "inventory/inventory.h"

#include <cstring>

// Walks on keys stop at the first failing status: at index 0 that means an
// empty key, later anything but the end would only repeat the previous name.
BOOL FindModuleClsid(HKEY root, const WCHAR* controlPath, RegistryView view,
                     WCHAR (&clsid)[MAX_PATH])
{
    WCHAR keyPath[324];
    CopyText(keyPath, MODULE_USAGE_PATH TEXT("\\"));
    AppendText(keyPath, controlPath);
    HKEY key;
    if (RegOpenKeyExW(root, keyPath, 0, KEY_READ | ViewAccess(view), &key) != ERROR_SUCCESS)
        return FALSE;

    BOOL found = FALSE;
    WCHAR name[MAX_PATH];
    // Room for a value of 127 characters and its NUL; a longer one ends the
    // walk, as it always has.
    WCHAR data[128];
    for (DWORD index = 0;; ++index) {
        DWORD nameSize = BufferLength(name);
        DWORD dataSize = sizeof data;
        if (RegEnumValueW(key, index, name, &nameSize, NULL, NULL, reinterpret_cast<LPBYTE>(data),
                          &dataSize) != ERROR_SUCCESS)
            break;
        if (name[0] == '{') {
            CopyText(clsid, name);
            found = TRUE;
            break;
        }
    }
    RegCloseKey(key);
    return found;
}

BOOL GetClsidTypeLib(const WCHAR* clsid, RegistryView view, WCHAR (&libId)[MAX_PATH],
                     WCHAR (&version)[64])
{
    WCHAR path[MAX_PATH];
    WCHAR value[MAX_PATH];
    if (!JoinText(path, TEXT("CLSID\\"), clsid, TEXT("\\Version")) ||
        !QueryRegistryText(HKEY_CLASSES_ROOT, path, view, TEXT(""), value))
        return FALSE;
    // A version that does not fit its buffer names no version key anyway.
    if (!CopyText(version, value))
        return FALSE;
    return JoinText(path, TEXT("CLSID\\"), clsid, TEXT("\\TypeLib")) &&
           QueryRegistryText(HKEY_CLASSES_ROOT, path, view, TEXT(""), libId);
}

BOOL GetTypeLibName(const WCHAR* libId, const WCHAR* version, RegistryView view,
                    WCHAR (&description)[MAX_PATH])
{
    WCHAR path[MAX_PATH];
    if (!JoinText(path, TEXT("TypeLib\\"), libId, TEXT("\\")) || !AppendText(path, version))
        return FALSE;
    return QueryRegistryText(HKEY_CLASSES_ROOT, path, view, TEXT(""), description);
}

BOOL GetSharedDllCount(const WCHAR* filePath, RegistryView view, WCHAR (&count)[MAX_PATH],
                       HKEY sharedDlls)
{
    DWORD type;
    BOOL read = sharedDlls != NULL
                    ? QueryRegistryValue(sharedDlls, NULL, view, filePath, count, &type)
                    : QueryRegistryValue(HKEY_LOCAL_MACHINE, SHARED_DLLS_PATH, view, filePath,
                                         count, &type);
    if (!read)
        return FALSE;
    // Only a number is a usage count; text in its place counts as no count.
    if (type != REG_DWORD)
        return FALSE;
    DWORD number;
    memcpy(&number, count, sizeof number);
    FormatText(count, TEXT("%d"), static_cast<int>(number));
    return TRUE;
}

const WCHAR* TypeLibPlatformKey(RegistryView view)
{
    return view == VIEW_64 ? TEXT("win64") : TEXT("win32");
}

// Looks through the versions of one type library for the one whose module
// for the view is the file.
static BOOL FindVersionForFile(HKEY libKey, const WCHAR* filePath, RegistryView view,
                               WCHAR (&version)[32])
{
    WCHAR name[32];
    for (DWORD index = 0; RegEnumKeyW(libKey, index, name, BufferLength(name)) == ERROR_SUCCESS;
         ++index) {
        WCHAR path[MAX_PATH];
        WCHAR module[MAX_PATH];
        if (JoinText(path, name, TEXT("\\0\\"), TypeLibPlatformKey(view)) &&
            QueryRegistryText(libKey, path, view, TEXT(""), module) &&
            EqualsIgnoreCase(module, filePath)) {
            CopyText(version, name);
            return TRUE;
        }
    }
    return FALSE;
}

BOOL FindTypeLibForFile(const WCHAR* filePath, RegistryView view, WCHAR (&libId)[MAX_PATH],
                        WCHAR (&version)[32])
{
    HKEY typeLibs;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, TEXT("TypeLib"), 0, KEY_READ | ViewAccess(view),
                      &typeLibs) != ERROR_SUCCESS)
        return FALSE;

    BOOL found = FALSE;
    for (DWORD index = 0; RegEnumKeyW(typeLibs, index, libId, BufferLength(libId)) == ERROR_SUCCESS;
         ++index) {
        HKEY libKey;
        // A library that cannot be opened ends the whole search.
        if (RegOpenKeyExW(typeLibs, libId, 0, KEY_READ | ViewAccess(view), &libKey) !=
            ERROR_SUCCESS)
            break;
        found = FindVersionForFile(libKey, filePath, view, version);
        RegCloseKey(libKey);
        if (found)
            break;
    }
    RegCloseKey(typeLibs);
    return found;
}

static void ShortenCategory(WCHAR (&description)[MAX_PATH])
{
    if (ContainsText(description, TEXT("Controls that are safely scriptable")))
        CopyText(description, TEXT_SCRIPTABLE);
    if (ContainsText(description, TEXT("Controls safely initializable from persistent data")))
        CopyText(description, TEXT_INITIALIZED_FROM_DATA);
}

BOOL GetImplementedCategories(const WCHAR* clsid, RegistryView view, WCHAR (&categories)[MAX_PATH])
{
    WCHAR path[MAX_PATH];
    if (!JoinText(path, TEXT("CLSID\\"), clsid, TEXT("\\Implemented Categories")))
        return FALSE;
    HKEY key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path, 0, KEY_READ | ViewAccess(view), &key) !=
        ERROR_SUCCESS)
        return FALSE;

    categories[0] = 0;
    WCHAR catId[MAX_PATH];
    for (DWORD index = 0; RegEnumKeyW(key, index, catId, BufferLength(catId)) == ERROR_SUCCESS;
         ++index) {
        WCHAR description[MAX_PATH];
        if (!JoinText(path, TEXT("Component Categories\\"), catId) ||
            !QueryRegistryText(HKEY_CLASSES_ROOT, path, view, TEXT("409"), description))
            continue;
        if (!IsEmptyText(categories))
            AppendText(categories, TEXT_CATEGORY_SEPARATOR);
        ShortenCategory(description);
        AppendText(categories, description);
    }
    RegCloseKey(key);
    return !IsEmptyText(categories);
}

BOOL FindClsidForTypeLib(const WCHAR* libId, RegistryView view, WCHAR (&clsid)[MAX_PATH])
{
    HKEY classes;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, TEXT("CLSID"), 0, KEY_READ | ViewAccess(view), &classes) !=
        ERROR_SUCCESS)
        return FALSE;

    BOOL found = FALSE;
    for (DWORD index = 0; RegEnumKeyW(classes, index, clsid, BufferLength(clsid)) == ERROR_SUCCESS;
         ++index) {
        WCHAR path[MAX_PATH];
        WCHAR value[MAX_PATH];
        if (JoinText(path, clsid, TEXT("\\TypeLib")) &&
            QueryRegistryText(classes, path, view, TEXT(""), value) &&
            EqualsIgnoreCase(value, libId)) {
            found = TRUE;
            break;
        }
    }
    RegCloseKey(classes);
    return found;
}
