#include "details/details.h"

#include "base/messages.h"
#include "base/text.h"
#include "inventory/inventory.h"

#include <cstring>
#include <ctime>

// The low half of the file time of 1 January 1980, 08:00:00 UTC: what some
// file systems store when they keep no creation time.
#define NO_CREATION_TIME_LOW 0xEFF8C000u

static void SetVersionDetail(ControlDetails& details, DetailField field, const WCHAR* value)
{
    details.versionText[field] = value;
    details.known[field] = true;
}

static void ReadFileType(ControlDetails& details, const WCHAR* filePath, bool isFolder)
{
    const WCHAR* slash = FindLastChar(filePath, '\\');
    if (slash == NULL)
        return;
    if (isFolder) {
        SetDetail(details, DETAIL_FILE_TYPE, TEXT_FOLDER);
        return;
    }
    const WCHAR* dot = FindLastChar(slash + 1, '.');
    if (dot == NULL)
        return;
    WCHAR label[32];
    GetFileTypeName(dot, label, BufferLength(label));
    SetDetail(details, DETAIL_FILE_TYPE, label);
}

static void ReadFileTime(ControlDetails& details, DetailField field, const FILETIME& time,
                         bool dateOnly)
{
    WCHAR text[MAX_PATH];
    if (!FormatFileTime(&time, text, BufferLength(text)))
        return;
    if (dateOnly) {
        for (WCHAR* c = text; *c != 0; ++c) {
            if (*c == ' ') {
                *c = 0;
                break;
            }
        }
    }
    SetDetail(details, field, text);
}

// wsprintfW has no 64-bit conversion that every Windows version knows.
static void FormatFileSize(WCHAR (&text)[32], DWORD high, DWORD low)
{
    unsigned long long size = (static_cast<unsigned long long>(high) << 32) | low;
    WCHAR digits[32];
    size_t count = 0;
    do {
        digits[count++] = static_cast<WCHAR>('0' + size % 10);
        size /= 10;
    } while (size != 0);
    for (size_t i = 0; i < count; ++i)
        text[i] = digits[count - 1 - i];
    text[count] = 0;
}

static void ReadFileFacts(ControlDetails& details, const WIN32_FIND_DATAW& found)
{
    ReadFileTime(details, DETAIL_LAST_CHANGE, found.ftLastWriteTime, false);
    DWORD created = found.ftCreationTime.dwLowDateTime;
    if (created != 0 && created != NO_CREATION_TIME_LOW)
        ReadFileTime(details, DETAIL_INSTALLED, found.ftCreationTime, false);
    if (found.ftLastAccessTime.dwLowDateTime != 0)
        ReadFileTime(details, DETAIL_LAST_ACCESS, found.ftLastAccessTime, true);
    WCHAR size[32];
    FormatFileSize(size, found.nFileSizeHigh, found.nFileSizeLow);
    SetDetail(details, DETAIL_SIZE, size);
}

// '*' and '?' cannot stand in a file name, and the search would take them as
// wildcards and report some other file.
bool FindFileEntry(const WCHAR* filePath, WIN32_FIND_DATAW& found)
{
    if (ContainsAnyOf(filePath, TEXT("*?"))) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    HANDLE search = FindFirstFileW(filePath, &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return true;
}

bool ReadFileDetails(const ControlEntry& entry, VersionString (&table)[VERSION_STRING_COUNT],
                     HANDLE heap, ControlDetails& details, FolderListing* listing)
{
    const WCHAR* filePath = entry.diskPath;
    WIN32_FIND_DATAW found;
    bool absent = listing != NULL && IsSurelyAbsent(*listing, filePath);
    bool exists = !absent && FindFileEntry(filePath, found);
    // A file that is not there has no version data either, and asking
    // version.dll for it costs a search of its folder, a long one in the
    // system folder; any other failure of the search is left to version.dll.
    if (!absent && !exists) {
        DWORD searchError = GetLastError();
        absent = searchError == ERROR_FILE_NOT_FOUND || searchError == ERROR_PATH_NOT_FOUND;
    }

    VS_FIXEDFILEINFO fixedInfo;
    BOOL haveFixedInfo = FALSE;
    DWORD size = absent ? 0 : ReadVersionInfoSize(filePath);
    if (size != 0) {
        void* block = HeapAlloc(heap, 0, size);
        if (block == NULL)
            return false;
        haveFixedInfo = ReadVersionStrings(filePath, size, block, table, &fixedInfo);
        HeapFree(heap, 0, block);
        details.hasVersions = true;
        for (int i = 0; i < VERSION_STRING_COUNT; ++i) {
            details.versions[i].name = table[i].name;
            details.versions[i].value = VersionValueText(table[i]);
            if (ContainsText(table[i].name, TEXT("Copyright")))
                SetVersionDetail(details, DETAIL_COPYRIGHT, details.versions[i].value);
            if (ContainsText(table[i].name, TEXT("Company")))
                SetVersionDetail(details, DETAIL_PUBLISHER, details.versions[i].value);
        }
    }

    ReadFileType(details, filePath, exists && (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY));

    if (haveFixedInfo) {
        WCHAR version[64];
        FormatText(version, TEXT("%d.%d.%d.%d"), HIWORD(fixedInfo.dwFileVersionMS),
                   LOWORD(fixedInfo.dwFileVersionMS), HIWORD(fixedInfo.dwFileVersionLS),
                   LOWORD(fixedInfo.dwFileVersionLS));
        SetDetail(details, DETAIL_VERSION, version);
    }

    if (exists)
        ReadFileFacts(details, found);
    else
        SetDetail(details, DETAIL_NAME, TEXT_FILE_MISSING);
    return true;
}

BOOL GetFileTypeName(const WCHAR* extension, WCHAR* text, size_t size)
{
    static const struct {
        const WCHAR* extension;
        const WCHAR* label;
    } kTypes[] = {
        {TEXT(".ocx"), TEXT_TYPE_CONTROL},
        {TEXT(".exe"), TEXT_TYPE_APPLICATION},
        {TEXT(".dll"), TEXT_TYPE_EXTENSION},
        {TEXT(".tlb"), TEXT_TYPE_TYPELIB},
    };
    const WCHAR* label = TEXT_UNKNOWN;
    for (const auto& type : kTypes) {
        if (EqualsIgnoreCase(extension, type.extension)) {
            label = type.label;
            break;
        }
    }
    if (size == 0)
        return TRUE;
    size_t length = 0;
    for (; label[length] != 0 && length < size - 1; ++length)
        text[length] = label[length];
    text[length] = 0;
    return TRUE;
}

BOOL FormatFileTime(const FILETIME* fileTime, WCHAR* text, size_t size)
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
    // The C locale's date and time are ASCII, so each byte is one character.
    char formatted[MAX_PATH];
    size_t length = strftime(formatted, sizeof formatted, "%x %X", &calendar);
    if (length == 0 || length >= size)
        return FALSE;
    for (size_t i = 0; i <= length; ++i)
        text[i] = static_cast<unsigned char>(formatted[i]);
    return TRUE;
}
