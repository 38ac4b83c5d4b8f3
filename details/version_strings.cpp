#include "details/details.h"

#include "app/messages.h"
#include "app/text.h"

#include <cstring>

// Rows stay empty until a file with version data has been shown.
VersionString VersionStringTable[VERSION_STRING_COUNT] = {
    {"ProductName", NULL},     {"ProductVersion", NULL},  {"OriginalFilename", NULL},
    {"FileDescription", NULL}, {"FileVersion", NULL},     {"CompanyName", NULL},
    {"LegalCopyright", NULL},  {"LegalTrademarks", NULL}, {"InternalName", NULL},
    {"PrivateBuild", NULL},    {"SpecialBuild", NULL},    {"Comments", NULL},
};

// The string block that the strings are read from. A file without a
// translation entry of its own is read with the last one seen.
static char translationCode[9] = "040904E0";

// Replaces a row's value with a copy of the text, which need not be
// terminated within its length.
static void SetVersionValue(VersionString& row, const char* text, size_t length)
{
    HANDLE heap = GetProcessHeap();
    if (row.value != NULL)
        HeapFree(heap, 0, row.value);
    row.value = static_cast<char*>(HeapAlloc(heap, 0, length + 1));
    if (row.value == NULL)
        return;
    memcpy(row.value, text, length);
    row.value[length] = '\0';
}

static void ReadTranslationCode(void* block)
{
    void* entry;
    UINT length;
    if (!QueryVersionValue(block, "\\VarFileInfo\\Translation", &entry, &length) ||
        length < sizeof(DWORD))
        return;
    DWORD code;
    memcpy(&code, entry, sizeof code);
    FormatText(translationCode, "%04x%04x", LOWORD(code), HIWORD(code));
}

BOOL ReadVersionStrings(const char* path, DWORD size, void* block,
                        VersionString (&table)[VERSION_STRING_COUNT], VS_FIXEDFILEINFO* fixedInfo)
{
    // A block that could not be loaded holds nothing: every row is "Unknown".
    BOOL loaded = ReadVersionInfo(path, size, block);
    if (loaded)
        ReadTranslationCode(block);

    for (VersionString& row : table) {
        char query[MAX_PATH];
        FormatText(query, "\\StringFileInfo\\%s\\%s", translationCode, row.name);
        void* text;
        UINT length;
        if (loaded && QueryVersionValue(block, query, &text, &length))
            SetVersionValue(row, static_cast<const char*>(text),
                            strnlen(static_cast<const char*>(text), length));
        else
            SetVersionValue(row, TEXT_UNKNOWN, strlen(TEXT_UNKNOWN));
    }

    void* root;
    UINT rootLength;
    if (!loaded || !QueryVersionValue(block, "\\", &root, &rootLength) ||
        rootLength < sizeof(VS_FIXEDFILEINFO))
        return FALSE;
    memcpy(fixedInfo, root, sizeof(VS_FIXEDFILEINFO));
    return TRUE;
}

const char* VersionValueText(const VersionString& row)
{
    return row.value != NULL ? row.value : TEXT_UNKNOWN;
}
