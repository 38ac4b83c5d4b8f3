#include "inventory/inventory.h"

#include "base/messages.h"
#include "base/text.h"

#include <cstring>

// A text value read into a buffer of its own size need not carry its NUL:
// take it up to the end of its data, and never more than the buffer holds.
// An odd last byte is half a character and is dropped.
static void TerminateValueText(WCHAR (&data)[MAX_PATH], DWORD dataSize)
{
    size_t length = dataSize / sizeof(WCHAR);
    data[length < MAX_PATH ? length : MAX_PATH - 1] = 0;
}

bool IsWow64Machine()
{
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

// Outside WOW64 the flags would pick another view only for a 64-bit build of
// this program, and that build stands in for it on 32-bit Windows.
REGSAM ViewAccess(RegistryView view)
{
    if (!IsWow64Machine())
        return 0;
    return view == VIEW_64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

// Where neither view has the key, the 32-bit view alone says so, as on a
// 32-bit Windows: the 64-bit view's absence is never news of its own.
LONG OpenViewKey(HKEY root, const WCHAR* path, RegistryView view, HKEY& key)
{
    LONG status = RegOpenKeyExW(root, path, 0, KEY_READ | ViewAccess(view), &key);
    if (status == ERROR_SUCCESS)
        return status;
    key = NULL;
    if (status != ERROR_FILE_NOT_FOUND || !IsWow64Machine())
        return status;
    if (view == VIEW_64)
        return ERROR_SUCCESS;
    HKEY other;
    if (RegOpenKeyExW(root, path, 0, KEY_READ | ViewAccess(VIEW_64), &other) != ERROR_SUCCESS)
        return status;
    RegCloseKey(other);
    return ERROR_SUCCESS;
}

void CloseViewKey(HKEY key)
{
    if (key != NULL)
        RegCloseKey(key);
}

BOOL QueryRegistryValue(HKEY key, const WCHAR* path, RegistryView view, const WCHAR* valueName,
                        WCHAR (&output)[MAX_PATH], DWORD* valueType)
{
    HKEY opened = key;
    if (path != NULL &&
        RegOpenKeyExW(key, path, 0, KEY_READ | ViewAccess(view), &opened) != ERROR_SUCCESS)
        return FALSE;

    WCHAR data[MAX_PATH];
    DWORD dataSize = sizeof data;
    DWORD type = REG_NONE;
    LONG status =
        RegQueryValueExW(opened, valueName, NULL, &type, reinterpret_cast<LPBYTE>(data), &dataSize);
    if (opened != key)
        RegCloseKey(opened);
    if (status != ERROR_SUCCESS)
        return FALSE;

    switch (type) {
    case REG_SZ:
        TerminateValueText(data, dataSize);
        CopyText(output, data);
        break;
    case REG_EXPAND_SZ: {
        TerminateValueText(data, dataSize);
        WCHAR expanded[MAX_PATH];
        DWORD needed = ExpandEnvironmentStringsW(data, expanded, BufferLength(expanded));
        // An expansion that fails or does not fit leaves the buffer undefined;
        // the text as stored is the honest answer then.
        if (needed == 0 || needed > BufferLength(expanded))
            CopyText(output, data);
        else
            CopyText(output, expanded);
        break;
    }
    case REG_DWORD: {
        DWORD number = 0;
        memcpy(&number, data, dataSize < sizeof number ? dataSize : sizeof number);
        memcpy(output, &number, sizeof number);
        break;
    }
    default:
        return FALSE;
    }
    if (valueType != NULL)
        *valueType = type;
    return TRUE;
}

BOOL QueryRegistryText(HKEY key, const WCHAR* path, RegistryView view, const WCHAR* valueName,
                       WCHAR (&output)[MAX_PATH])
{
    WCHAR value[MAX_PATH];
    DWORD type;
    if (!QueryRegistryValue(key, path, view, valueName, value, &type) || type == REG_DWORD)
        return FALSE;
    CopyText(output, value);
    return TRUE;
}

void FormatKeyOpenError(WCHAR (&message)[80], LONG status, int site)
{
    if (status == ERROR_ACCESS_DENIED)
        CopyText(message, TEXT_KEY_ACCESS_DENIED);
    else
        FormatText(message, FORMAT_KEY_OPEN_FAILED, static_cast<int>(status), site);
}

void AppendKeyName(WCHAR (&path)[MAX_PATH], const WCHAR* name)
{
    if (IsEmptyText(name))
        return;
    size_t length = TextLength(path);
    if (length != 0 && path[length - 1] != '\\')
        AppendText(path, TEXT("\\"));
    AppendText(path, name);
}

void ConvertSlashes(WCHAR* text)
{
    for (; *text != 0; ++text) {
        if (*text == '/')
            *text = '\\';
    }
}
