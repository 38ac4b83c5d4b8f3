#include "details/details.h"

#include "base/messages.h"
#include "base/text.h"
#include "inventory/inventory.h"

#include <cstring>

// Rows stay empty until a file with version data has been shown.
VersionString VersionStringTable[VERSION_STRING_COUNT] = {
    {TEXT("ProductName"), NULL},      {TEXT("ProductVersion"), NULL},
    {TEXT("OriginalFilename"), NULL}, {TEXT("FileDescription"), NULL},
    {TEXT("FileVersion"), NULL},      {TEXT("CompanyName"), NULL},
    {TEXT("LegalCopyright"), NULL},   {TEXT("LegalTrademarks"), NULL},
    {TEXT("InternalName"), NULL},     {TEXT("PrivateBuild"), NULL},
    {TEXT("SpecialBuild"), NULL},     {TEXT("Comments"), NULL},
};

// The string block that the strings are read from. A file without a
// translation entry of its own is read with the last one seen.
static WCHAR translationCode[9] = TEXT("040904E0");

// Replaces a row's value with a copy of the text, which need not be
// terminated within its length.
static void SetVersionValue(VersionString& row, const WCHAR* text, size_t length)
{
    HANDLE heap = GetProcessHeap();
    if (row.value != NULL)
        HeapFree(heap, 0, row.value);
    row.value = static_cast<WCHAR*>(HeapAlloc(heap, 0, (length + 1) * sizeof(WCHAR)));
    if (row.value == NULL)
        return;
    memcpy(row.value, text, length * sizeof(WCHAR));
    row.value[length] = 0;
}

// A value need not be terminated within the length the resource gives it.
static size_t BoundedLength(const WCHAR* text, size_t limit)
{
    size_t length = 0;
    while (length < limit && text[length] != 0)
        ++length;
    return length;
}

static void ReadTranslationCode(void* block)
{
    void* entry;
    UINT length;
    if (!QueryVersionValue(block, TEXT("\\VarFileInfo\\Translation"), &entry, &length) ||
        length < sizeof(DWORD))
        return;
    DWORD code;
    memcpy(&code, entry, sizeof code);
    FormatText(translationCode, TEXT("%04x%04x"), LOWORD(code), HIWORD(code));
}

BOOL ReadVersionStrings(const WCHAR* path, DWORD size, void* block,
                        VersionString (&table)[VERSION_STRING_COUNT], VS_FIXEDFILEINFO* fixedInfo)
{
    // A block that could not be loaded holds nothing: every row is "Unknown".
    BOOL loaded = ReadVersionInfo(path, size, block);
    if (loaded)
        ReadTranslationCode(block);

    for (VersionString& row : table) {
        WCHAR query[MAX_PATH];
        FormatText(query, TEXT("\\StringFileInfo\\%s\\%s"), translationCode, row.name);
        void* text;
        UINT length;
        if (loaded && QueryVersionValue(block, query, &text, &length))
            SetVersionValue(row, static_cast<const WCHAR*>(text),
                            BoundedLength(static_cast<const WCHAR*>(text), length));
        else
            SetVersionValue(row, TEXT_UNKNOWN, TextLength(TEXT_UNKNOWN));
    }

    void* root;
    UINT rootLength;
    if (!loaded || !QueryVersionValue(block, TEXT("\\"), &root, &rootLength) ||
        rootLength < sizeof(VS_FIXEDFILEINFO))
        return FALSE;
    memcpy(fixedInfo, root, sizeof(VS_FIXEDFILEINFO));
    return TRUE;
}

const WCHAR* VersionValueText(const VersionString& row)
{
    return row.value != NULL ? row.value : TEXT_UNKNOWN;
}
