#include "details/details.h"

#include "app/control_ids.h"
#include "app/messages.h"
#include "app/text.h"
#include "inventory/inventory.h"

#include <cstring>
#include <ctime>

// The low half of the file time of 1 January 1980, 08:00:00 UTC: what some
// file systems store when they keep no creation time.
#define NO_CREATION_TIME_LOW 0xEFF8C000u

static void ListVersionStrings(HWND window, VersionString (&table)[VERSION_STRING_COUNT],
                               LRESULT selection)
{
    for (const VersionString& row : table) {
        if (SendDlgItemMessageA(window, IDC_FILE_INFO_LIST, LB_ADDSTRING, 0,
                                reinterpret_cast<LPARAM>(row.name)) < 0)
            break;
        if (ContainsText(row.name, "Copyright"))
            SetDlgItemTextA(window, IDC_COPYRIGHT, VersionValueText(row));
        if (ContainsText(row.name, "Company"))
            SetDlgItemTextA(window, IDC_PUBLISHER, VersionValueText(row));
    }
    // The row the user was reading stays selected from one control to the next.
    LRESULT row = selection < 0 ? 0 : selection;
    SendDlgItemMessageA(window, IDC_FILE_INFO_LIST, LB_SETCURSEL, row, 0);
    if (row < VERSION_STRING_COUNT)
        SetDlgItemTextA(window, IDC_FILE_INFO_VALUE, VersionValueText(table[row]));
}

static void ShowFileType(HWND window, const char* filePath, bool isFolder)
{
    const char* slash = strrchr(filePath, '\\');
    if (slash == NULL)
        return;
    if (isFolder) {
        SetDlgItemTextA(window, IDC_FILE_TYPE, TEXT_FOLDER);
        return;
    }
    const char* dot = strrchr(slash + 1, '.');
    if (dot == NULL)
        return;
    char label[32];
    GetFileTypeName(dot, label, sizeof label);
    SetDlgItemTextA(window, IDC_FILE_TYPE, label);
}

static void ShowFileTime(HWND window, int id, const FILETIME& time, bool dateOnly)
{
    char text[MAX_PATH];
    if (!FormatFileTime(&time, text, sizeof text))
        return;
    if (dateOnly) {
        char* space = strchr(text, ' ');
        if (space != NULL)
            *space = '\0';
    }
    SetDlgItemTextA(window, id, text);
}

// wsprintfA has no 64-bit conversion that every Windows version knows.
static void FormatFileSize(char (&text)[32], DWORD high, DWORD low)
{
    unsigned long long size = (static_cast<unsigned long long>(high) << 32) | low;
    char digits[32];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + size % 10);
        size /= 10;
    } while (size != 0);
    for (size_t i = 0; i < count; ++i)
        text[i] = digits[count - 1 - i];
    text[count] = '\0';
}

static void ShowFileFacts(HWND window, const WIN32_FIND_DATAA& found)
{
    ShowFileTime(window, IDC_LAST_CHANGE, found.ftLastWriteTime, false);
    DWORD created = found.ftCreationTime.dwLowDateTime;
    if (created != 0 && created != NO_CREATION_TIME_LOW)
        ShowFileTime(window, IDC_INSTALLED, found.ftCreationTime, false);
    if (found.ftLastAccessTime.dwLowDateTime != 0)
        ShowFileTime(window, IDC_LAST_ACCESS, found.ftLastAccessTime, true);
    char size[32];
    FormatFileSize(size, found.nFileSizeHigh, found.nFileSizeLow);
    SetDlgItemTextA(window, IDC_SIZE, size);
}

// '*' and '?' cannot stand in a file name, and the search would take them as
// wildcards and report some other file.
bool FindFileEntry(const char* filePath, WIN32_FIND_DATAA& found)
{
    if (strpbrk(filePath, "*?") != NULL)
        return false;
    HANDLE search = FindFirstFileA(filePath, &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return true;
}

void ShowFileDetails(HWND window, const char* controlPath,
                     VersionString (&table)[VERSION_STRING_COUNT], HANDLE heap)
{
    LRESULT selection = SendDlgItemMessageA(window, IDC_FILE_INFO_LIST, LB_GETCURSEL, 0, 0);
    SendDlgItemMessageA(window, IDC_FILE_INFO_LIST, LB_RESETCONTENT, 0, 0);
    SetDlgItemTextA(window, IDC_FILE_INFO_VALUE, TEXT_UNKNOWN);

    VS_FIXEDFILEINFO fixedInfo;
    BOOL haveFixedInfo = FALSE;
    DWORD size = ReadVersionInfoSize(controlPath);
    if (size != 0) {
        void* block = HeapAlloc(heap, 0, size);
        if (block == NULL)
            return;
        haveFixedInfo = ReadVersionStrings(controlPath, size, block, table, &fixedInfo);
        HeapFree(heap, 0, block);
        ListVersionStrings(window, table, selection);
    }

    char filePath[MAX_PATH];
    CopyText(filePath, controlPath);
    ConvertSlashes(filePath);
    WIN32_FIND_DATAA found;
    bool exists = FindFileEntry(filePath, found);
    ShowFileType(window, filePath, exists && (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY));

    if (haveFixedInfo) {
        char version[64];
        FormatText(version, "%d.%d.%d.%d", HIWORD(fixedInfo.dwFileVersionMS),
                   LOWORD(fixedInfo.dwFileVersionMS), HIWORD(fixedInfo.dwFileVersionLS),
                   LOWORD(fixedInfo.dwFileVersionLS));
        SetDlgItemTextA(window, IDC_VERSION, version);
    }

    if (exists)
        ShowFileFacts(window, found);
    else
        SetDlgItemTextA(window, IDC_CONTROL_NAME, TEXT_FILE_MISSING);
}

BOOL GetFileTypeName(const char* extension, char* text, size_t size)
{
    static const struct {
        const char* extension;
        const char* label;
    } kTypes[] = {
        {".ocx", TEXT_TYPE_CONTROL},
        {".exe", TEXT_TYPE_APPLICATION},
        {".dll", TEXT_TYPE_EXTENSION},
        {".tlb", TEXT_TYPE_TYPELIB},
    };
    const char* label = TEXT_UNKNOWN;
    for (const auto& type : kTypes) {
        if (EqualsIgnoreCase(extension, type.extension)) {
            label = type.label;
            break;
        }
    }
    if (size == 0)
        return TRUE;
    size_t length = strnlen(label, size - 1);
    memcpy(text, label, length);
    text[length] = '\0';
    return TRUE;
}

BOOL FormatFileTime(const FILETIME* fileTime, char* text, size_t size)
{
    FILETIME local;
    SYSTEMTIME fields;
    if (!FileTimeToLocalFileTime(fileTime, &local) || !FileTimeToSystemTime(&local, &fields))
        return FALSE;
    struct tm calendar = {};
    calendar.tm_year = fields.wYear - 1900;
    calendar.tm_mon = fields.wMonth - 1;
    calendar.tm_mday = fields.wDay;
    calendar.tm_hour = fields.wHour;
    calendar.tm_min = fields.wMinute;
    calendar.tm_sec = fields.wSecond;
    calendar.tm_wday = fields.wDayOfWeek;
    char formatted[MAX_PATH];
    size_t length = strftime(formatted, sizeof formatted, "%x %X", &calendar);
    if (length == 0 || length >= size)
        return FALSE;
    memcpy(text, formatted, length + 1);
    return TRUE;
}
