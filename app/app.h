#pragma once

#include "details/details.h"
#include "removal/removal.h"

#include <windows.h>

// Process-wide state, set once at start.
extern HINSTANCE hInstance;
extern HANDLE detailHeap;

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The display scale: the DPI of the monitor a window is on, and the main
// window's icons, banner, controls and font made for it, at start and again
// whenever the window moves to a monitor with another scale.
UINT WindowDpi(HWND window);
// The program's icon in the size of a system metric (SM_CXICON, SM_CXSMICON)
// at that DPI; the caller destroys it.
HICON LoadProgramIcon(UINT dpi, int metric);
void FollowDisplayScale(HWND dialog);
void ChangeDisplayScale(HWND dialog, UINT dpi, const RECT* suggested);
void ReleaseDisplayScale(HWND dialog);

// The control list: the scan's entries in the list box, and the key-open
// errors in message boxes.
LRESULT RefreshControlList(HWND window);
BOOL AddDownloadedControls(HWND window, HKEY root, WCHAR (&keyPath)[MAX_PATH], const WCHAR* keyName,
                           RegistryView view);
BOOL AddTypeLibControls(HWND window, HKEY root, WCHAR (&keyPath)[MAX_PATH], const WCHAR* keyName);
BOOL IsDownloadedControl(HWND window, const WCHAR* controlPath, RegistryView view);
void ReportKeyOpenError(HWND window, LONG status, int site);
// The selected entry of the control list; false when nothing is selected
// or its text cannot be a control path.
bool GetSelectedControl(HWND window, LRESULT& index, ControlEntry& entry);
// Any entry of the control list, on the same terms.
bool GetControlEntry(HWND window, LRESULT index, ControlEntry& entry);

// The details of the selected control, read afresh and written into the
// dialog's fields.
void ShowControlDetails(HWND window, VersionString (&table)[VERSION_STRING_COUNT], HANDLE heap);
void ShowFileDetails(HWND window, const ControlEntry& entry,
                     VersionString (&table)[VERSION_STRING_COUNT], HANDLE heap);

// The Delete command on the selected control, its questions in message
// boxes: true when the control was removed and its entry left the list.
BOOL DeleteSelectedControl(HWND window);

// The command line, when there is one: its exit status.
enum ExitStatus {
    EXIT_REPORT_WRITTEN = 0,
    EXIT_REMOVED = 0,
    EXIT_REPORT_UNWRITABLE = 1,
    EXIT_BAD_ARGUMENTS = 2,
    EXIT_KEYS_UNREADABLE = 3,
    EXIT_NO_SUCH_ENTRY = 4,   // or one that names an entry of each view
    EXIT_REFUSED = 5,         // before any change
    EXIT_STOPPED_PARTWAY = 6, // after changes began, which the restore folder holds
};
int RunCommandLine(int argc, WCHAR** argv);
// "/name" or "-name", in any letter case.
bool IsSwitch(const WCHAR* argument, const WCHAR* name);

// Removal from a script: the entry named on the command line, deleted as the
// dialog's Delete deletes it, every question answered by a switch or No, and
// a No that would stop halfway said before anything changes. Prints the
// restore folder on standard output. EXIT_BAD_ARGUMENTS before anything else.
int RunRemoveCommand(int argc, WCHAR** argv, HANDLE errors);

// The report: every entry of the control list with what the dialog shows
// for it, as CSV. Reads only, asks nothing, and says what went wrong on
// errors, when there is somewhere to say it (NULL: nowhere).
int WriteControlReport(const WCHAR* path, HANDLE errors);
void WriteCsvField(OutputFile& out, const WCHAR* text, bool first);
void EndCsvRecord(OutputFile& out);

// Standard error (or output) of a program started with it redirected, or
// the console of the program that started it; NULL when there is neither.
HANDLE OpenErrorOutput();
HANDLE OpenOutput(DWORD which);
// One message and a line end.
void PrintError(HANDLE output, const WCHAR* text);
