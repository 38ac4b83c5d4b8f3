#pragma once

// Test-side controls of the Win32 stand-in: seeding faults, scripting the
// user and reading back what the program showed. Product code never
// includes this header. Text here is UTF-8; the stand-in keeps UTF-16.

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Everything back to a fresh machine: empty registry, no faults, no queued
// messages, no scripted answers, nothing recorded.
void SimReset();
// The command line GetCommandLineW answers from now on, in UTF-8; SimReset
// makes it the program's name alone.
void SimSetCommandLine(const char* commandLine);

// 64-bit Windows as a 32-bit program sees it: HKLM\SOFTWARE (HKCR with it)
// has a 32-bit view under Wow6432Node, which a predefined root opens unless
// KEY_WOW64_64KEY says otherwise; HKCR\TypeLib is shared. System32 is
// SysWOW64, and Sysnative the real System32. Faults name keys as stored.
void SimSetWow64(bool wow64);
bool SimIsWow64();

// Registry faults. Paths are below the root, compared without regard to case.
void SimDenyKeyOpen(HKEY root, const char* path);
// Every RegEnumKeyW / RegEnumValueW call at this index on this key answers the status.
void SimFailEnumAt(HKEY root, const char* path, DWORD index, LONG status);
// Runs the action once, just before the enumeration call at this index on this key.
void SimBeforeEnumAt(HKEY root, const char* path, DWORD index, std::function<void()> action);
// While suspended, the faults above neither fire nor use up their actions:
// a test reads the registry as it is.
void SimSuspendRegistryFaults(bool suspended);
// Number of key handles open now; a function that closes what it opens leaves it as it was.
int SimOpenKeyCount();

// Message boxes: answers are used in order; a box without an answer is
// recorded as unscripted and answers 0, as a failed MessageBoxW does.
struct SimMessageBox {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
    int answer;
    bool scripted;
};
void SimAnswerMessageBox(int answer);
const std::vector<SimMessageBox>& SimMessageBoxes();
int SimUnscriptedMessageBoxCount();

// The user: actions run one at a time whenever the innermost modal loop has
// no posted message left. A loop that goes idle with no action left ends its
// dialog with -1 and counts as a stall.
void SimAddUserAction(std::function<void()> action);
int SimStallCount();
HWND SimActiveDialog();
// What a user can do to a dialog. Clicking a disabled button does nothing.
void SimClickButton(HWND dialog, int id);
void SimSelectListEntry(HWND dialog, int id, int index);
void SimPressEscape(HWND dialog);
void SimCloseFromSystemMenu(HWND dialog);
std::vector<std::string> SimListItems(HWND dialog, int id);
std::string SimWindowText(HWND dialog, int id);

// Recorded side effects.
std::vector<int> SimCursorHistory(); // resource ids passed to LoadCursorW and then set
std::vector<UINT> SimBeepHistory();
int SimDrawIconCount();

// The next LB_ADDSTRING calls (count of them) answer LB_ERRSPACE and add nothing.
void SimFailListAdds(int count);
// What decides how the windows look, in order, each entry led by the control
// id (0 for a dialog or the whole screen): "103 WM_SETREDRAW 0",
// "103 LB_RESETCONTENT", "103 LB_ADDSTRING", "103 InvalidateRect",
// "0 MessageBoxW".
std::vector<std::string> SimRedrawHistory();

// After this many more HeapAlloc calls have succeeded, the next one fails.
void SimFailHeapAlloc(int succeeding);

// Files. C: is a sandbox folder that SimReset empties; Z: is the host's root.
std::string SimHostPath(const char* windowsPath);
// Sets the three times FindFirstFileW reports, which the host cannot: a
// creation time apart from the last change.
void SimSetFileTimes(const char* windowsPath, FILETIME creation, FILETIME lastWrite,
                     FILETIME lastAccess);
// The host's own permissions count too, but a test running as root cannot
// make a file that it is unable to delete.
void SimSetFileReadOnly(const char* windowsPath, bool readOnly);
// Deleting a file in use by another process fails with a sharing violation.
void SimSetFileInUse(const char* windowsPath, bool inUse);
// CreateFileW making a file, CreateDirectoryW and MoveFileW's new name in
// this folder or below it fail with ERROR_ACCESS_DENIED; the folder itself
// can still be made.
void SimDenyFileCreate(const char* windowsFolder);
// The disk fills: once this many more bytes were written, WriteFile writes
// what fits and fails with the error. -1 turns it off.
void SimFailWritesAfter(long long bytes, DWORD error);
// SHGetFolderPathW answers this failure (0 turns it off).
void SimFailFolderPath(HRESULT result);
// What GetSystemTime answers next; SimReset sets 2026-01-02 03:04:05.678.
void SimSetSystemTime(SYSTEMTIME time);

// Changes since SimReset, each successful call once: registry (RegCreateKeyExW
// that makes a key, RegSetValueExW, RegDeleteKeyW, RegDeleteValueW) and files
// (CreateFileW that makes or empties a file, WriteFile, SetFileTime,
// SetFileAttributesW, DeleteFileW, MoveFileW, CreateDirectoryW,
// RemoveDirectoryW). The A forms count through their W forms.
long SimChangeCount();
// A power cut: after this many more changes, every call that would change
// something fails (registry calls with ERROR_ACCESS_DENIED, file calls with
// FALSE or INVALID_HANDLE_VALUE and ERROR_ACCESS_DENIED) and changes nothing.
// A call that fails for a reason of its own still says so. Reads go on
// working. -1 brings the power back.
void SimCutAfterChanges(long changes);

// Modules: DllUnregisterServer calls by module path as loaded, CreateProcessW
// command lines, and modules loaded and not freed.
std::vector<std::string> SimUnregisterServerCalls();
std::vector<std::string> SimProcessCommands();
int SimLoadedModuleCount();
// File, search and process handles open now.
int SimOpenHandleCount();
// Every LoadLibraryExW call as made. The system folder is C:\Windows\system32
// and holds version.dll, whose three functions GetProcAddress answers.
struct SimLibraryLoad {
    std::string path;
    DWORD flags;
};
std::vector<SimLibraryLoad> SimLibraryLoads();
// As on a system without the search flags: LOAD_LIBRARY_SEARCH_SYSTEM32
// answers ERROR_INVALID_PARAMETER.
void SimRefuseSearchFlags();
// The system folder without version.dll: loading it answers ERROR_MOD_NOT_FOUND.
void SimRemoveSystemVersionDll();
// The system folder also holds sfc.dll, whose SfcIsFileProtected answers
// TRUE for the files named here.
void SimProtectFile(const char* windowsPath);
// Opening the key for DELETE, and deleting it, answer ERROR_ACCESS_DENIED,
// as a key does whose security denies deletion; reading it still works.
void SimDenyKeyDelete(HKEY root, const char* path);

// Registry calls made so far by the program's operations (opening,
// enumerating, querying values and keys, deleting, closing), for measuring a
// lookup's cost.
long SimRegistryCallCount();
