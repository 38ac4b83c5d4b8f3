#pragma once

#include <windows.h>

#include <source_location>
#include <string>
#include <vector>

// Drives the real burrowlens.exe from a second process, the way a user would:
// it starts the program, reads its windows, presses its buttons and answers its
// message boxes. Every helper that can fail reports at the caller's line.

namespace e2e {

using Where = std::source_location;

// Long enough for a cold start on a slow machine; a passing test never waits it out.
inline constexpr DWORD kWaitMs = 10000;

// What a message box shows, read from outside.
struct MessageBoxView {
    std::string text;
    std::vector<int> buttons; // ids of the visible push buttons, ascending
    int defaultButton = 0;    // the one drawn as default, 0 when none is
    // The system icon it shows: "stop", "exclamation", "information",
    // "question"; "" for none, "unrecognised" for any other picture.
    std::string icon;
};

class Burrowlens {
  public:
    Burrowlens() = default;
    Burrowlens(const Burrowlens&) = delete;
    Burrowlens& operator=(const Burrowlens&) = delete;
    // A program still running here belongs to a test that has already failed.
    ~Burrowlens();

    // Starts the program and waits until its main dialog is on screen.
    bool Start(Where where = Where::current());
    // The same for a copy of the program elsewhere.
    bool Start(const std::string& programPath, Where where = Where::current());
    HWND Dialog() const
    {
        return dialog_;
    }
    HWND Item(int id) const
    {
        return GetDlgItem(dialog_, id);
    }

    // What a user does.
    void Click(int id);
    // A click on an entry: the list box selects it and tells the dialog.
    bool Select(int index, Where where = Where::current());
    // Escape, delivered to whatever has the keyboard focus in the dialog.
    void PressEscape(HWND dialog);
    // Any key without Shift or Ctrl, delivered the same way.
    void PressKey(HWND dialog, UINT key);
    // A letter with Alt held down, as for a mnemonic.
    void PressAltKey(HWND dialog, char letter);
    void CloseFromSystemMenu();

    // What a user sees.
    std::vector<std::string> ControlList();
    int Selection();
    // The same for any list box of the dialog, such as the file information list.
    std::vector<std::string> ListItems(int id);
    int SelectedRow(int id);
    // A click on a row: the list box selects it and tells the dialog.
    bool SelectRow(int id, int row, Where where = Where::current());
    std::string Text(int id);
    bool Enabled(int id);
    // The window of the program that has the keyboard focus, null if none has.
    HWND Focus();

    // Message boxes and the About box: dialogs owned by the main dialog.
    std::vector<HWND> OwnedDialogs();
    HWND WaitForOwnedDialog(const char* caption, Where where = Where::current());
    static MessageBoxView Inspect(HWND box);
    // Presses a button of a box and waits until the box is gone.
    bool Answer(HWND box, int id, Where where = Where::current());

    // Waits until the program has handled everything it had queued when the
    // call began, including the work that this work posted in turn. A message
    // box shown meanwhile handles the queue in its own loop, so look for
    // boxes afterwards.
    bool Settle(Where where = Where::current());
    bool WaitForExit(DWORD& code, Where where = Where::current());

  private:
    bool Running() const;
    // Where a key for the dialog goes: the focused control inside it, if any.
    HWND KeyTarget(HWND dialog);

    PROCESS_INFORMATION process_{};
    HWND dialog_ = nullptr;
};

// burrowlens.exe as Windows sees it.
std::string ProgramPath();

// burrowlens.exe loaded as data, for its resources alone; FreeLibrary ends it.
HMODULE LoadProgramResources();

// A window's class name and text, read from outside.
std::string ClassName(HWND window);
std::string WindowText(HWND window);

// Polls until the condition holds; false when it still fails after the timeout.
template <typename Condition> bool WaitUntil(Condition condition, DWORD timeoutMs = kWaitMs)
{
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(10);
    }
    return true;
}

// Denies Everyone every access to a key until the object goes away, so that
// opening it fails with ERROR_ACCESS_DENIED; or the access list given, in
// the security descriptor language.
class DeniedKey {
  public:
    DeniedKey(HKEY root, const char* path, Where where = Where::current(),
              const char* access = "D:(D;;KA;;;WD)");
    DeniedKey(const DeniedKey&) = delete;
    DeniedKey& operator=(const DeniedKey&) = delete;
    ~DeniedKey();

  private:
    HKEY root_;
    std::string path_;
    std::vector<BYTE> original_;
};

} // namespace e2e
