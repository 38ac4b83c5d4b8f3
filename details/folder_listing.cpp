#include "details/details.h"

#include "base/text.h"

#define LISTED TEXT("listed")
#define NOT_LISTED TEXT("not listed")

void InitFolderListing(FolderListing& listing)
{
    InitTextIndex(listing.folders);
    InitTextIndex(listing.names);
}

void FreeFolderListing(FolderListing& listing)
{
    FreeTextIndex(listing.folders);
    FreeTextIndex(listing.names);
}

static void UpperCase(WCHAR* text)
{
    CharUpperBuffW(text, static_cast<DWORD>(TextLength(text)));
}

static bool AddListedName(FolderListing& listing, const WCHAR* folder, const WCHAR* name)
{
    WCHAR path[MAX_PATH];
    if (IsEmptyText(name) || !JoinText(path, folder, TEXT("\\"), name))
        return true;
    UpperCase(path);
    return AddIndexText(listing.names, path, TEXT(""));
}

// Every entry of the folder, by its long name and by its short one. A folder
// that is not there holds nothing; one that cannot be read says nothing.
static bool ListFolder(FolderListing& listing, const WCHAR* folder)
{
    WCHAR pattern[MAX_PATH];
    bool listed = false;
    WIN32_FIND_DATAW found;
    HANDLE search = JoinText(pattern, folder, TEXT("\\*")) ? FindFirstFileW(pattern, &found)
                                                           : INVALID_HANDLE_VALUE;
    if (search == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        listed = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    } else {
        bool stored;
        do {
            stored = AddListedName(listing, folder, found.cFileName) &&
                     AddListedName(listing, folder, found.cAlternateFileName);
        } while (stored && FindNextFileW(search, &found));
        listed = stored && GetLastError() == ERROR_NO_MORE_FILES;
        FindClose(search);
        SortTextIndex(listing.names);
    }
    if (!AddIndexText(listing.folders, folder, listed ? LISTED : NOT_LISTED))
        return false;
    SortTextIndex(listing.folders);
    return true;
}

static bool IsAsciiText(const WCHAR* text)
{
    for (; *text != 0; ++text) {
        if (*text >= 0x80)
            return false;
    }
    return true;
}

bool IsSurelyAbsent(FolderListing& listing, const WCHAR* filePath)
{
    // The full path is the one a search would look for: '.' and '..' taken
    // out, trailing dots and spaces cut off, a device name made a device.
    WCHAR full[MAX_PATH];
    DWORD length = GetFullPathNameW(filePath, BufferLength(full), full, NULL);
    if (length == 0 || length >= BufferLength(full) || full[1] != ':' || full[2] != '\\')
        return false;
    WCHAR* slash = const_cast<WCHAR*>(FindLastChar(full, '\\'));
    // Only an ASCII name compares with the folder's names for certain: other
    // scripts fold case by the file system's own table.
    if (IsEmptyText(slash + 1) || ContainsAnyOf(full + 2, TEXT(":*?\"<>|")) ||
        !IsAsciiText(slash + 1))
        return false;
    UpperCase(full);

    *slash = 0;
    const WCHAR* state = FindIndexText(listing.folders, full);
    if (state == NULL) {
        if (!ListFolder(listing, full))
            return false;
        state = FindIndexText(listing.folders, full);
    }
    *slash = '\\';
    return state != NULL && CompareText(state, LISTED) == 0 &&
           FindIndexText(listing.names, full) == NULL;
}
