#pragma once

// State shared between the parts of the stand-in. One thread, one process:
// everything is plain globals behind these functions.

#include <windows.h>

#include <string>
#include <vector>

enum class WindowKind { Dialog, Button, Static, ListBox, Other };

struct HWND__ {
    HWND__* parent = nullptr;
    HWND__* owner = nullptr;
    std::vector<HWND__*> children;
    WindowKind kind = WindowKind::Other;
    int id = 0;
    DWORD style = 0;
    bool clientEdge = false;
    bool alive = true;
    std::u16string text;
    RECT rect{}; // in the parent's client coordinates
    // Dialogs
    DLGPROC proc = nullptr;
    bool ended = false;
    INT_PTR result = 0;
    HWND__* focus = nullptr;
    HWND__* ownerFocus = nullptr;
    bool reenableOwner = false;
    // List boxes
    std::vector<std::u16string> items;
    std::vector<LPARAM> itemData; // beside items, one each
    int selected = -1;
    int horizontalExtent = 0;
    // While redraw is off the list leaves its scroll bars as they were, as
    // Wine's does, so the client area keeps its width until redraw is back.
    bool redrawOff = false;
    bool frozenVerticalBar = false;
};

// The dialog font's base units. Windows gives 6 x 13 for 8-point MS Sans Serif
// at 96 dpi, and a list box's items are one character height tall.
constexpr int kBaseUnitX = 6;
constexpr int kBaseUnitY = 13;
constexpr int kListItemHeight = kBaseUnitY;
constexpr int kScrollBarWidth = 17;

// Dialog templates read from the program's compiled resources.
struct ControlTemplate {
    DWORD style;
    short x, y, cx, cy;
    int id;
    WindowKind kind;
    std::u16string text;
};
struct DialogTemplate {
    DWORD style;
    short x, y, cx, cy;
    std::u16string caption;
    std::vector<ControlTemplate> controls;
};
const DialogTemplate* FindDialogTemplate(LPCWSTR name);

bool IsLiveWindow(HWND window);
LRESULT ListBoxMessage(HWND list, UINT message, WPARAM wParam, LPARAM lParam);
RECT ListClientRect(HWND list);
DWORD ListStyle(HWND list);
int CompareListText(const std::u16string& a, const std::u16string& b);

// What the program did to the look of its windows, for SimRedrawHistory.
void RecordRedrawEvent(HWND window, const char* what);

// Text: UTF-16 is what the stand-in keeps; UTF-8 is what tests and the host
// see; ANSI is Windows-1252, for the A functions that tests call.
std::u16string WideOf(LPCWSTR text); // empty for null
std::u16string WideFromUtf8(const std::string& text);
std::string Utf8Of(const std::u16string& text);
std::u16string WideFromAnsi(LPCSTR text); // empty for null
std::string AnsiOf(const std::u16string& text);
// Unicode's simple upper-case mapping for the BMP characters Windows folds
// in names (ASCII, Latin-1, Latin Extended-A, Greek, Cyrillic, fullwidth).
WCHAR UpcaseChar(WCHAR c);
bool EqualNoCase(const std::u16string& a, const std::u16string& b);

// Calls that change the registry or the files ask before they change
// anything, which a power cut refuses, and count each change they made.
bool MayChange();
void CountChange();

void ResetRegistry();
void ResetWindows();
void ResetListBoxes();
void ResetFiles();
void ResetModules();
void ResetProcess();

// Files: the host path (UTF-8) that a Windows path names (empty for other
// drives).
std::string HostPathOf(LPCWSTR windowsPath);
// A started process's handles, closed with CloseHandle like files'.
HANDLE OpenProcessHandle();

// Portable executables read from the host.
struct PeImage {
    std::vector<BYTE> bytes;
    size_t sections;
    WORD sectionCount;
    size_t directories;
};
bool ReadPeImage(const std::string& hostPath, PeImage* image);
DWORD PeRead32(const std::vector<BYTE>& data, size_t offset);
// The file offset of a relative virtual address, or 0.
size_t PeFileOffset(const PeImage& image, DWORD rva);
