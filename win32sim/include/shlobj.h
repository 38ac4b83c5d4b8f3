#pragma once

// The shell's known folders, for the native build. S_OK and E_FAIL come with
// <windows.h>, as they do on Windows.

#include <windows.h>

#define CSIDL_LOCAL_APPDATA 0x001c
#define CSIDL_FLAG_CREATE 0x8000
#define SHGFP_TYPE_CURRENT 0
#define SHGFP_TYPE_DEFAULT 1

// Knows CSIDL_LOCAL_APPDATA alone: C:\users\Burrowlens Tester\AppData\Local,
// made when CSIDL_FLAG_CREATE asks for it (SimReset empties C:). The path
// buffer holds MAX_PATH characters; on failure it holds an empty string.
HRESULT WINAPI SHGetFolderPathW(HWND owner, int folder, HANDLE token, DWORD flags, LPWSTR path);
