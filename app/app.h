#pragma once

#include "details/details.h"

#include <windows.h>

// Process-wide state, set once at start.
extern HINSTANCE hInstance;
extern HANDLE detailHeap;

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The control list: the scan's entries in the list box, and the key-open
// errors in message boxes.
LRESULT RefreshControlList(HWND window);
BOOL AddDownloadedControls(HWND window, HKEY root, WCHAR (&keyPath)[MAX_PATH],
                           const WCHAR* keyName);
BOOL AddTypeLibControls(HWND window, HKEY root, WCHAR (&keyPath)[MAX_PATH], const WCHAR* keyName);
BOOL IsDownloadedControl(HWND window, const WCHAR* controlPath);
void ReportKeyOpenError(HWND window, LONG status, int site);
// The selected entry of the control list and its text; false when nothing is
// selected or the text cannot be a control path.
bool GetSelectedControl(HWND window, LRESULT& index, WCHAR (&controlPath)[MAX_PATH]);
// The text of any entry of the control list, on the same terms.
bool GetControlEntry(HWND window, LRESULT index, WCHAR (&controlPath)[MAX_PATH]);

// The details of the selected control, read afresh and written into the
// dialog's fields.
void ShowControlDetails(HWND window, VersionString (&table)[VERSION_STRING_COUNT], HANDLE heap);
void ShowFileDetails(HWND window, const WCHAR* controlPath,
                     VersionString (&table)[VERSION_STRING_COUNT], HANDLE heap);

// The Delete command on the selected control, its questions in message
// boxes: true when the control was removed and its entry left the list.
BOOL DeleteSelectedControl(HWND window);
