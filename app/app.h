#pragma once

#include <windows.h>

// Process-wide state, set once at start.
extern HINSTANCE hInstance;
extern HANDLE detailHeap;

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
