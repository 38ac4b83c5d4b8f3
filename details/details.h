#pragma once

#include <windows.h>

#define VERSION_STRING_COUNT 12

// One row of the file information list: the version-resource string name and
// the value the current file gives it. The table owns the value texts.
struct VersionString {
    const char* name;
    char* value;
};

extern VersionString VersionStringTable[VERSION_STRING_COUNT];

void ShowControlDetails(HWND window, VersionString (&table)[VERSION_STRING_COUNT], HANDLE heap);
