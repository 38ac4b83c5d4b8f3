#include "details/details.h"

#include "app/messages.h"
#include "app/text.h"
#include "inventory/inventory.h"

#include <cstring>

// Key paths are built whole or not at all: a path cut short could name some
// other key that happens to exist.
static bool JoinKeyPath(char (&path)[MAX_PATH], const char* first, const char* second,
                        const char* third = "")
{
    return CopyText(path, first) && AppendText(path, second) && AppendText(path, third);
}

// Walks on keys stop at the first failing status: at index 0 that means an
// empty key, later anything but the end would only repeat the previous name.
BOOL FindModuleClsid(HKEY root, const char* controlPath, char (&clsid)[MAX_PATH])
{
    char keyPath[324];
    CopyText(keyPath, MODULE_USAGE_PATH "\\");
    AppendText(keyPath, controlPath);
    HKEY key;
    if (RegOpenKeyExA(root, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return FALSE;

    BOOL found = FALSE;
    char name[MAX_PATH];
    BYTE data[128];
    for (DWORD index = 0;; ++index) {
        DWORD nameSize = sizeof name;
        DWORD dataSize = sizeof data;
        if (RegEnumValueA(key, index, name, &nameSize, NULL, NULL, data, &dataSize) !=
            ERROR_SUCCESS)
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

BOOL GetClsidTypeLib(const char* clsid, char (&libId)[MAX_PATH], char (&version)[64])
{
    char path[MAX_PATH];
    char value[MAX_PATH];
    if (!JoinKeyPath(path, "CLSID\\", clsid, "\\Version") ||
        !QueryRegistryText(HKEY_CLASSES_ROOT, path, "", value))
        return FALSE;
    // A version that does not fit its buffer names no version key anyway.
    if (!CopyText(version, value))
        return FALSE;
    return JoinKeyPath(path, "CLSID\\", clsid, "\\TypeLib") &&
           QueryRegistryText(HKEY_CLASSES_ROOT, path, "", libId);
}

BOOL GetTypeLibName(const char* libId, const char* version, char (&description)[MAX_PATH])
{
    char path[MAX_PATH];
    if (!JoinKeyPath(path, "TypeLib\\", libId, "\\") || !AppendText(path, version))
        return FALSE;
    return QueryRegistryText(HKEY_CLASSES_ROOT, path, "", description);
}

BOOL GetSharedDllCount(const char* controlPath, char (&count)[MAX_PATH])
{
    char filePath[MAX_PATH];
    CopyText(filePath, controlPath);
    ConvertSlashes(filePath);
    DWORD type;
    if (!QueryRegistryValue(HKEY_LOCAL_MACHINE, SHARED_DLLS_PATH, filePath, count, &type))
        return FALSE;
    // Only a number is a usage count; text in its place counts as no count.
    if (type != REG_DWORD)
        return FALSE;
    DWORD number;
    memcpy(&number, count, sizeof number);
    FormatText(count, "%d", static_cast<int>(number));
    return TRUE;
}

// Looks through the versions of one type library for the one whose 32-bit
// module is the file.
static BOOL FindVersionForFile(HKEY libKey, const char* filePath, char (&version)[32])
{
    char name[32];
    for (DWORD index = 0; RegEnumKeyA(libKey, index, name, sizeof name) == ERROR_SUCCESS; ++index) {
        char path[MAX_PATH];
        char module[MAX_PATH];
        if (JoinKeyPath(path, name, "\\0\\win32") && QueryRegistryText(libKey, path, "", module) &&
            EqualsIgnoreCase(module, filePath)) {
            CopyText(version, name);
            return TRUE;
        }
    }
    return FALSE;
}

BOOL FindTypeLibForFile(const char* controlPath, char (&libId)[MAX_PATH], char (&version)[32])
{
    char filePath[MAX_PATH];
    CopyText(filePath, controlPath);
    ConvertSlashes(filePath);
    HKEY typeLibs;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "TypeLib", 0, KEY_READ, &typeLibs) != ERROR_SUCCESS)
        return FALSE;

    BOOL found = FALSE;
    for (DWORD index = 0; RegEnumKeyA(typeLibs, index, libId, sizeof libId) == ERROR_SUCCESS;
         ++index) {
        HKEY libKey;
        // A library that cannot be opened ends the whole search.
        if (RegOpenKeyExA(typeLibs, libId, 0, KEY_READ, &libKey) != ERROR_SUCCESS)
            break;
        found = FindVersionForFile(libKey, filePath, version);
        RegCloseKey(libKey);
        if (found)
            break;
    }
    RegCloseKey(typeLibs);
    return found;
}

static void ShortenCategory(char (&description)[MAX_PATH])
{
    if (ContainsText(description, "Controls that are safely scriptable"))
        CopyText(description, TEXT_SCRIPTABLE);
    if (ContainsText(description, "Controls safely initializable from persistent data"))
        CopyText(description, TEXT_INITIALIZED_FROM_DATA);
}

BOOL GetImplementedCategories(const char* clsid, char (&categories)[MAX_PATH])
{
    char path[MAX_PATH];
    if (!JoinKeyPath(path, "CLSID\\", clsid, "\\Implemented Categories"))
        return FALSE;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return FALSE;

    categories[0] = '\0';
    char catId[MAX_PATH];
    for (DWORD index = 0; RegEnumKeyA(key, index, catId, sizeof catId) == ERROR_SUCCESS; ++index) {
        char description[MAX_PATH];
        if (!JoinKeyPath(path, "Component Categories\\", catId) ||
            !QueryRegistryText(HKEY_CLASSES_ROOT, path, "409", description))
            continue;
        if (!IsEmptyText(categories))
            AppendText(categories, TEXT_CATEGORY_SEPARATOR);
        ShortenCategory(description);
        AppendText(categories, description);
    }
    RegCloseKey(key);
    return !IsEmptyText(categories);
}

BOOL FindClsidForTypeLib(const char* libId, char (&clsid)[MAX_PATH])
{
    HKEY classes;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, &classes) != ERROR_SUCCESS)
        return FALSE;

    BOOL found = FALSE;
    for (DWORD index = 0; RegEnumKeyA(classes, index, clsid, sizeof clsid) == ERROR_SUCCESS;
         ++index) {
        char path[MAX_PATH];
        char value[MAX_PATH];
        if (JoinKeyPath(path, clsid, "\\TypeLib") && QueryRegistryText(classes, path, "", value) &&
            EqualsIgnoreCase(value, libId)) {
            found = TRUE;
            break;
        }
    }
    RegCloseKey(classes);
    return found;
}
