#pragma once

#include <windows.h>

// The Delete command: true when the selected control was removed and its
// entry left the list.
BOOL DeleteSelectedControl(HWND window);
BOOL UnregisterControl(const char* controlPath);
BOOL ConfirmAndDeleteFile(HWND window, const char* controlPath);

// Registry clean-up after the file step.
BOOL RemoveDistributionUnit(const char* controlPath);
BOOL RemoveModuleUsage(const char* controlPath);
BOOL RemoveSharedDllValue(const char* filePath);
BOOL RemoveTypeLibRegistration(const char* controlPath);
void DeleteKeyTree(HKEY key);

#define DISTRIBUTION_UNITS_PATH "SOFTWARE\\Microsoft\\Code Store Database\\Distribution Units"
