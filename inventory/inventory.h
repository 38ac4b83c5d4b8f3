#pragma once

#include <windows.h>

// Registry access shared by every part of the program.
BOOL QueryRegistryValue(HKEY key, const char* path, const char* valueName, char (&output)[MAX_PATH],
                        DWORD* valueType = NULL);
// As QueryRegistryValue, for callers that need text: a number is no text.
BOOL QueryRegistryText(HKEY key, const char* path, const char* valueName, char (&output)[MAX_PATH]);
void ReportKeyOpenError(HWND window, LONG status, int site);
void AppendKeyName(char (&path)[MAX_PATH], const char* name);
void ConvertSlashes(char* text);

// Byte-wise ASCII text rules: only 'A' to 'Z' ever change case.
void LowerCaseAscii(char* text);
bool ContainsText(const char* text, const char* pattern);
bool EqualsIgnoreCase(const char* first, const char* second);
bool IsEmptyText(const char* text);

// The control list scan.
LRESULT RefreshControlList(HWND window);
BOOL AddDownloadedControls(HWND window, HKEY root, char (&keyPath)[MAX_PATH], const char* keyName);
BOOL AddTypeLibControls(HWND window, HKEY root, char (&keyPath)[MAX_PATH], const char* keyName);
BOOL IsDownloadedControl(HWND window, const char* controlPath);
// Whether a file path (with '\') lies in a download cache folder.
bool IsInDownloadCache(const char* filePath);

// The names under ModuleUsage, read once for the type-library pass of one
// refresh, so that each of its paths is checked without a walk of its own.
// The answers are those of IsDownloadedControl at the time of reading.
struct ModuleUsageIndex {
    HANDLE heap;
    char* block; // the newest block of name text
    size_t blockUsed;
    const char** names; // converted, lower-cased and sorted
    size_t count;
    size_t capacity;
};
// ERROR_SUCCESS, the status of opening ModuleUsage, or ERROR_NOT_ENOUGH_MEMORY;
// on failure nothing is left to free.
LONG ReadModuleUsageIndex(ModuleUsageIndex& index);
BOOL IsIndexedDownload(const ModuleUsageIndex& index, const char* controlPath);
void FreeModuleUsageIndex(ModuleUsageIndex& index);
// The selected entry of the control list and its text; false when nothing is
// selected or the text cannot be a control path.
bool GetSelectedControl(HWND window, LRESULT& index, char (&controlPath)[MAX_PATH]);

#define MODULE_USAGE_PATH "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\ModuleUsage"

// Where a failed key open is reported, so the user can tell the three apart.
enum KeyOpenSite {
    SITE_MODULE_USAGE_SCAN = 446,
    SITE_TYPELIB_SCAN = 730,
    SITE_DOWNLOAD_CHECK = 1906,
};
