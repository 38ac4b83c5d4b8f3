#include "details/details.h"

// Rows stay empty until a file with version data has been shown.
VersionString VersionStringTable[VERSION_STRING_COUNT] = {
    {"ProductName", NULL},    {"ProductVersion", NULL}, {"OriginalFilename", NULL},
    {"FileDescription", NULL}, {"FileVersion", NULL},    {"CompanyName", NULL},
    {"LegalCopyright", NULL}, {"LegalTrademarks", NULL}, {"InternalName", NULL},
    {"PrivateBuild", NULL},   {"SpecialBuild", NULL},   {"Comments", NULL},
};

void ShowControlDetails(HWND, VersionString (&)[VERSION_STRING_COUNT], HANDLE)
{
}
