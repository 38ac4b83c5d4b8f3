#include "removal/removal.h"

#include "base/messages.h"
#include "base/text.h"
#include "details/details.h"
#include "inventory/inventory.h"

typedef BOOL(WINAPI* SfcIsFileProtectedProc)(HANDLE, LPCWSTR);

// Room for a key path below its root and the root's name before it.
typedef WCHAR KeyText[1024];

// The system's words for an error, without the line end they come with.
static void SystemMessage(DWORD error, WCHAR (&text)[256])
{
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                                  error, 0, text, BufferLength(text), NULL);
    if (length == 0 || length >= BufferLength(text)) {
        FormatText(text, FORMAT_ERROR_NUMBER, static_cast<int>(error));
        return;
    }
    while (length > 0 &&
           (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' '))
        text[--length] = 0;
}

static bool Refuse(const DeleteDialogue& dialogue, const WCHAR* format, const WCHAR* subject,
                   DWORD error)
{
    WCHAR reason[256];
    SystemMessage(error, reason);
    WCHAR text[1024];
    FormatText(text, format, subject, reason);
    dialogue.ask(dialogue.context, text, TEXT_PRODUCT_NAME, MB_OK);
    return false;
}

// A file that cannot be deleted for want of rights reads as it always has.
static bool RefuseFile(const DeleteDialogue& dialogue, const WCHAR* filePath, DWORD error)
{
    if (error != ERROR_ACCESS_DENIED)
        return Refuse(dialogue, FORMAT_CHECK_FILE, filePath, error);
    WCHAR text[1024];
    FormatText(text, FORMAT_ACCESS_DENIED, filePath);
    dialogue.ask(dialogue.context, text, TEXT_PRODUCT_NAME, MB_OK);
    return false;
}

// sfc.dll from the system folder, where Windows has one; without it no file
// counts as protected.
static bool IsProtectedByWindows(const WCHAR* filePath)
{
    HMODULE sfc = LoadSystemLibrary(TEXT("sfc.dll"));
    if (sfc == NULL)
        return false;
    SfcIsFileProtectedProc isProtected = reinterpret_cast<SfcIsFileProtectedProc>(
        reinterpret_cast<void (*)(void)>(GetProcAddress(sfc, "SfcIsFileProtected")));
    bool protectedFile = isProtected != NULL && isProtected(NULL, filePath);
    FreeLibrary(sfc);
    return protectedFile;
}

// Opening the file for deletion finds what DeleteFileW would: another
// process holding it without delete sharing, or rights that forbid it. A
// read-only file opens all the same, and only its deletion fails.
static bool CheckFile(const DeleteDialogue& dialogue, const WCHAR* filePath)
{
    DWORD attributes = GetFileAttributesW(filePath);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return RefuseFile(dialogue, filePath, ERROR_ACCESS_DENIED);
    if (IsProtectedByWindows(filePath)) {
        WCHAR text[1024];
        FormatText(text, FORMAT_CHECK_PROTECTED, filePath);
        dialogue.ask(dialogue.context, text, TEXT_PRODUCT_NAME, MB_OK);
        return false;
    }
    HANDLE file =
        CreateFileW(filePath, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return true;
    }
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
           RefuseFile(dialogue, filePath, error);
}

struct KeyCheck {
    const DeleteDialogue* dialogue;
    HKEY root;
    const WCHAR* rootName;
    RegistryView view;
    // Subkeys of this name stay, with all below them: in the TypeLib key
    // that both views share, the other view's files.
    const WCHAR* kept;
};

// Each key of the tree opened as its deletion opens it. A key that is not
// there is not deleted either.
static bool CheckKeyTree(const KeyCheck& check, KeyText& path)
{
    HKEY key;
    LONG status = RegOpenKeyExW(
        check.root, path, 0,
        DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | ViewAccess(check.view), &key);
    if (status == ERROR_FILE_NOT_FOUND)
        return true;
    if (status != ERROR_SUCCESS) {
        KeyText named;
        JoinText(named, check.rootName, TEXT("\\"), path);
        return Refuse(*check.dialogue, FORMAT_CHECK_KEY, named, static_cast<DWORD>(status));
    }
    size_t length = TextLength(path);
    WCHAR name[MAX_PATH];
    bool deletable = true;
    for (DWORD index = 0;
         deletable && RegEnumKeyW(key, index, name, BufferLength(name)) == ERROR_SUCCESS; ++index) {
        if (check.kept != NULL && EqualsIgnoreCase(name, check.kept))
            continue;
        if (AppendText(path, TEXT("\\")) && AppendText(path, name))
            deletable = CheckKeyTree(check, path);
        path[length] = 0;
    }
    RegCloseKey(key);
    return deletable;
}

static bool CheckKey(KeyCheck check, HKEY root, const WCHAR* parent, const WCHAR* name,
                     const WCHAR* kept = NULL)
{
    check.root = root;
    check.rootName =
        root == HKEY_CLASSES_ROOT ? TEXT("HKEY_CLASSES_ROOT") : TEXT("HKEY_LOCAL_MACHINE");
    check.kept = kept;
    KeyText path;
    // A name that would reach another key deeper down is none of the control's.
    return IsEmptyText(name) || FindChar(name, '\\') != NULL ||
           !JoinText(path, parent, TEXT("\\"), name) || CheckKeyTree(check, path);
}

// The usage count goes by a value of SharedDLLs, which needs the right to set values.
static bool CheckUsageCount(const DeleteDialogue& dialogue, const ControlEntry& entry)
{
    HKEY sharedDlls;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SHARED_DLLS_PATH, 0,
                      KEY_QUERY_VALUE | ViewAccess(entry.view), &sharedDlls) != ERROR_SUCCESS)
        return true;
    bool counted =
        RegQueryValueExW(sharedDlls, entry.filePath, NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
    RegCloseKey(sharedDlls);
    if (!counted)
        return true;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, SHARED_DLLS_PATH, 0,
                                KEY_SET_VALUE | ViewAccess(entry.view), &sharedDlls);
    if (status == ERROR_SUCCESS) {
        RegCloseKey(sharedDlls);
        return true;
    }
    return Refuse(dialogue, FORMAT_CHECK_KEY, TEXT("HKEY_LOCAL_MACHINE\\") SHARED_DLLS_PATH,
                  static_cast<DWORD>(status));
}

bool CheckRemoval(const DeleteDialogue& dialogue, const RemovalPlan& plan)
{
    const ControlEntry& entry = plan.entry;
    if (plan.fileExists && !CheckFile(dialogue, entry.diskPath))
        return false;
    for (int i = 0; i < plan.offeredCount; ++i) {
        if (!CheckFile(dialogue, plan.offered[i]))
            return false;
    }
    KeyCheck check = {&dialogue, NULL, NULL, entry.view, NULL};
    if (plan.downloaded &&
        (!CheckKey(check, HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH, entry.controlPath) ||
         (plan.hasClsid &&
          (!CheckKey(check, HKEY_LOCAL_MACHINE, DISTRIBUTION_UNITS_PATH, plan.clsid) ||
           !CheckKey(check, HKEY_CLASSES_ROOT, TEXT("CLSID"), plan.clsid)))))
        return false;
    const WCHAR* otherView =
        IsWow64Machine() ? TypeLibPlatformKey(entry.view == VIEW_64 ? VIEW_32 : VIEW_64) : NULL;
    if (plan.hasTypeLib &&
        !CheckKey(check, HKEY_CLASSES_ROOT, TEXT("TypeLib"), plan.libId, otherView))
        return false;
    return CheckUsageCount(dialogue, entry);
}
