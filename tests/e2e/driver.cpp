#include "e2e/driver.h"

#include "app/control_ids.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <sddl.h>

namespace e2e {

// The build passes the program's path as CMake knows it. Under Wine that is a
// Unix path, which Windows sees through drive Z:.
std::string ProgramPath()
{
    std::string path = BURROWLENS_EXE;
    if (!path.empty() && path[0] == '/')
        path = "Z:" + path;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

namespace {

// Every question to the program's windows goes through here: the program may be
// stuck in a message box of its own, and a plain SendMessage would then wait
// with it.
LRESULT Ask(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, kWaitMs, &result))
        return LB_ERR;
    return static_cast<LRESULT>(result);
}

struct OwnedSearch {
    HWND owner;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectOwned(HWND window, LPARAM lParam)
{
    auto* search = reinterpret_cast<OwnedSearch*>(lParam);
    if (GetWindow(window, GW_OWNER) == search->owner && IsWindowVisible(window) &&
        ClassName(window) == "#32770")
        search->found.push_back(window);
    return TRUE;
}

struct MainSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindMain(HWND window, LPARAM lParam)
{
    auto* search = reinterpret_cast<MainSearch*>(lParam);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    // The message boxes share the caption; only the main dialog has no owner.
    if (processId == search->processId && GetWindow(window, GW_OWNER) == nullptr &&
        IsWindowVisible(window) && ClassName(window) == "#32770" &&
        WindowText(window) == "Burrowlens") {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

using Pixels = std::vector<COLORREF>;

Pixels ReadPixels(HDC source, int x, int y, int width, int height)
{
    Pixels pixels;
    HDC copy = CreateCompatibleDC(source);
    HBITMAP bitmap = CreateCompatibleBitmap(source, width, height);
    HGDIOBJ previous = SelectObject(copy, bitmap);
    BitBlt(copy, 0, 0, width, height, source, x, y, SRCCOPY);
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column)
            pixels.push_back(GetPixel(copy, column, row));
    SelectObject(copy, previous);
    DeleteObject(bitmap);
    DeleteDC(copy);
    return pixels;
}

Pixels DrawSystemIcon(LPCWSTR icon, COLORREF background, int width, int height)
{
    HDC screen = GetDC(nullptr);
    HDC canvas = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(canvas, bitmap);
    HBRUSH brush = CreateSolidBrush(background);
    RECT all{0, 0, width, height};
    FillRect(canvas, &all, brush);
    DrawIcon(canvas, 0, 0, LoadIconW(nullptr, icon));
    Pixels pixels = ReadPixels(canvas, 0, 0, width, height);
    SelectObject(canvas, previous);
    DeleteObject(bitmap);
    DeleteObject(brush);
    DeleteDC(canvas);
    ReleaseDC(nullptr, screen);
    return pixels;
}

// An icon handle means nothing outside the process that loaded it, so the
// icon is recognised by its picture: what the screen shows where the icon
// static lies, against each system icon drawn here on the same background.
// The box has just come up on top; its picture may reach the screen a moment
// after it turns visible.
std::string RecogniseIcon(HWND iconStatic)
{
    static const struct {
        LPCWSTR id;
        const char* name;
    } kSystemIcons[] = {
        {IDI_HAND, "stop"},
        {IDI_EXCLAMATION, "exclamation"},
        {IDI_ASTERISK, "information"},
        {IDI_QUESTION, "question"},
    };
    RECT place;
    GetWindowRect(iconStatic, &place);
    int width = place.right - place.left;
    int height = place.bottom - place.top;
    std::string name = "unrecognised";
    if (width <= 0 || height <= 0)
        return name;
    WaitUntil(
        [&] {
            HDC screen = GetDC(nullptr);
            Pixels shown = ReadPixels(screen, place.left, place.top, width, height);
            ReleaseDC(nullptr, screen);
            for (const auto& icon : kSystemIcons)
                if (DrawSystemIcon(icon.id, shown[0], width, height) == shown)
                    name = icon.name;
            return name != "unrecognised";
        },
        2000);
    return name;
}

BOOL CALLBACK ReadBoxChild(HWND child, LPARAM lParam)
{
    auto* view = reinterpret_cast<MessageBoxView*>(lParam);
    if (!IsWindowVisible(child))
        return TRUE;
    LONG style = GetWindowLongA(child, GWL_STYLE);
    std::string kind = ClassName(child);
    if (kind == "Button") {
        int id = GetDlgCtrlID(child);
        view->buttons.push_back(id);
        if ((style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            view->defaultButton = id;
    } else if (kind == "Static" && (style & SS_TYPEMASK) == SS_ICON) {
        // Wine keeps an empty icon static in boxes without an icon.
        if (Ask(child, STM_GETICON) != 0)
            view->icon = RecogniseIcon(child);
    }
    return TRUE;
}

} // namespace

std::string ClassName(HWND window)
{
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

// Asked in UTF-16: the ANSI form would best-fit what the code page lacks.
std::string WindowText(HWND window)
{
    WCHAR text[1024] = L"";
    if (Ask(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text)) == LB_ERR)
        return std::string();
    text[1023] = 0;
    return Utf8(text);
}

Burrowlens::~Burrowlens()
{
    if (process_.hProcess == nullptr)
        return;
    if (Running()) {
        TerminateProcess(process_.hProcess, 99);
        WaitForSingleObject(process_.hProcess, kWaitMs);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
}

bool Burrowlens::Running() const
{
    return WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

bool Burrowlens::Start(Where where)
{
    return Start(ProgramPath(), where);
}

bool Burrowlens::Start(const std::string& path, Where where)
{
    std::string commandLine = "\"" + path + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process_)) {
        ADD_FAILURE_AT(where.file_name(), where.line())
            << "cannot start " << path << ": error " << GetLastError();
        return false;
    }
    MainSearch search{process_.dwProcessId, nullptr};
    bool shown = WaitUntil([&] {
        if (!Running())
            return true;
        EnumWindows(FindMain, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
    });
    dialog_ = search.found;
    if (dialog_ == nullptr) {
        DWORD code = 0;
        GetExitCodeProcess(process_.hProcess, &code);
        ADD_FAILURE_AT(where.file_name(), where.line())
            << (shown ? "the program ended before its dialog appeared, exit code "
                      : "no dialog captioned Burrowlens appeared, exit code ")
            << code;
        return false;
    }
    return true;
}

void Burrowlens::Click(int id)
{
    PostMessageA(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Item(id)));
}

bool Burrowlens::Select(int index, Where where)
{
    return SelectRow(IDC_CONTROL_LIST, index, where);
}

bool Burrowlens::SelectRow(int id, int row, Where where)
{
    HWND list = Item(id);
    // LB_SETCURSEL alone does not notify the dialog; a mouse click would.
    if (Ask(list, LB_SETCURSEL, row) != row ||
        !SendMessageTimeoutW(dialog_, WM_COMMAND, MAKEWPARAM(id, LBN_SELCHANGE),
                             reinterpret_cast<LPARAM>(list), SMTO_NORMAL, kWaitMs, nullptr)) {
        ADD_FAILURE_AT(where.file_name(), where.line())
            << "cannot select row " << row << " of list " << id;
        return false;
    }
    return true;
}

void Burrowlens::PressEscape(HWND dialog)
{
    // The dialog manager looks at keys that reach the focused control, so
    // that is where the key goes when the focus lies inside the dialog.
    GUITHREADINFO thread{};
    thread.cbSize = sizeof thread;
    HWND target = dialog;
    if (GetGUIThreadInfo(process_.dwThreadId, &thread) && thread.hwndFocus != nullptr &&
        IsChild(dialog, thread.hwndFocus))
        target = thread.hwndFocus;
    UINT scan = MapVirtualKeyA(VK_ESCAPE, MAPVK_VK_TO_VSC);
    PostMessageA(target, WM_KEYDOWN, VK_ESCAPE, 1 | (scan << 16));
    PostMessageA(target, WM_KEYUP, VK_ESCAPE, 1 | (scan << 16) | 0xC0000000u);
}

HWND Burrowlens::KeyTarget(HWND dialog)
{
    HWND focus = Focus();
    return focus != nullptr && IsChild(dialog, focus) ? focus : dialog;
}

void Burrowlens::PressKey(HWND dialog, UINT key)
{
    HWND target = KeyTarget(dialog);
    UINT scan = MapVirtualKeyA(key, MAPVK_VK_TO_VSC);
    PostMessageA(target, WM_KEYDOWN, key, 1 | (scan << 16));
    PostMessageA(target, WM_KEYUP, key, 1 | (scan << 16) | 0xC0000000u);
}

void Burrowlens::PressAltKey(HWND dialog, char letter)
{
    HWND target = KeyTarget(dialog);
    // A posted key leaves the program's keyboard state alone, so Alt itself
    // need not be sent: the key's message says that Alt is down. The
    // program's own message loop turns it into the character that the dialog
    // manager matches against the mnemonics.
    UINT key = static_cast<UINT>(std::toupper(static_cast<unsigned char>(letter)));
    UINT scan = MapVirtualKeyA(key, MAPVK_VK_TO_VSC);
    LPARAM altDown = 1 | (scan << 16) | (KF_ALTDOWN << 16);
    PostMessageA(target, WM_SYSKEYDOWN, key, altDown);
    PostMessageA(target, WM_SYSKEYUP, key, altDown | 0xC0000000u);
}

void Burrowlens::CloseFromSystemMenu()
{
    PostMessageA(dialog_, WM_SYSCOMMAND, SC_CLOSE, 0);
}

std::vector<std::string> Burrowlens::ControlList()
{
    return ListItems(IDC_CONTROL_LIST);
}

int Burrowlens::Selection()
{
    return SelectedRow(IDC_CONTROL_LIST);
}

std::vector<std::string> Burrowlens::ListItems(int id)
{
    HWND list = Item(id);
    std::vector<std::string> entries;
    LRESULT count = Ask(list, LB_GETCOUNT);
    for (LRESULT index = 0; index < count; ++index) {
        // Across processes only the wide form of LB_GETTEXT comes back as text.
        LRESULT length = Ask(list, LB_GETTEXTLEN, index);
        WideText wide(static_cast<size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
        Ask(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(wide.data()));
        entries.push_back(Utf8(wide.c_str()));
    }
    return entries;
}

int Burrowlens::SelectedRow(int id)
{
    return static_cast<int>(Ask(Item(id), LB_GETCURSEL));
}

std::string Burrowlens::Text(int id)
{
    return WindowText(Item(id));
}

bool Burrowlens::Enabled(int id)
{
    return IsWindowEnabled(Item(id)) != FALSE;
}

HWND Burrowlens::Focus()
{
    GUITHREADINFO thread{};
    thread.cbSize = sizeof thread;
    if (!GetGUIThreadInfo(process_.dwThreadId, &thread))
        return nullptr;
    return thread.hwndFocus;
}

std::vector<HWND> Burrowlens::OwnedDialogs()
{
    OwnedSearch search{dialog_, {}};
    EnumWindows(CollectOwned, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND Burrowlens::WaitForOwnedDialog(const char* caption, Where where)
{
    HWND found = nullptr;
    WaitUntil([&] {
        for (HWND window : OwnedDialogs())
            if (WindowText(window) == caption)
                found = window;
        return found != nullptr || !Running();
    });
    if (found == nullptr)
        ADD_FAILURE_AT(where.file_name(), where.line())
            << "no window captioned \"" << caption << "\" owned by the main dialog"
            << (Running() ? "" : "; the program has ended");
    return found;
}

MessageBoxView Burrowlens::Inspect(HWND box)
{
    MessageBoxView view;
    // MessageBox gives its text static the id 0xFFFF.
    view.text = WindowText(GetDlgItem(box, 0xFFFF));
    EnumChildWindows(box, ReadBoxChild, reinterpret_cast<LPARAM>(&view));
    std::sort(view.buttons.begin(), view.buttons.end());
    return view;
}

bool Burrowlens::Answer(HWND box, int id, Where where)
{
    // Posted: a sent command would wait inside the box's own message loop.
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
    if (!WaitUntil([&] { return !IsWindow(box); })) {
        ADD_FAILURE_AT(where.file_name(), where.line())
            << "the box \"" << WindowText(box) << "\" stayed after button " << id;
        return false;
    }
    return true;
}

bool Burrowlens::Settle(Where where)
{
    // The program defers work by posting to itself, at most two deep: a command
    // posts the refresh, the refresh posts the selection changes. Each round
    // posts a marker behind whatever is queued and waits until it has been
    // handled. The marker is the horizontal extent of the file information
    // list, which has no scroll bar and which the program never sets.
    HWND marker = Item(IDC_FILE_INFO_LIST);
    for (int round = 0; round < 3; ++round) {
        LRESULT next = Ask(marker, LB_GETHORIZONTALEXTENT) == 4001 ? 4002 : 4001;
        PostMessageA(marker, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(next), 0);
        if (!WaitUntil([&] { return !Running() || Ask(marker, LB_GETHORIZONTALEXTENT) == next; }) ||
            !Running()) {
            ADD_FAILURE_AT(where.file_name(), where.line())
                << (Running() ? "the program does not get back to its message loop"
                              : "the program has ended");
            return false;
        }
    }
    return true;
}

bool Burrowlens::WaitForExit(DWORD& code, Where where)
{
    if (WaitForSingleObject(process_.hProcess, kWaitMs) != WAIT_OBJECT_0) {
        TerminateProcess(process_.hProcess, 99);
        WaitForSingleObject(process_.hProcess, kWaitMs);
        ADD_FAILURE_AT(where.file_name(), where.line()) << "the program did not end";
        return false;
    }
    GetExitCodeProcess(process_.hProcess, &code);
    return true;
}

HMODULE LoadProgramResources()
{
    return LoadLibraryExA(ProgramPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
}

DeniedKey::DeniedKey(HKEY root, const char* path, Where where, const char* access)
    : root_(root), path_(path)
{
    HKEY key;
    LONG status = RegOpenKeyExA(root, path, 0, READ_CONTROL | WRITE_DAC, &key);
    if (status != ERROR_SUCCESS) {
        ADD_FAILURE_AT(where.file_name(), where.line())
            << "cannot open " << path << " to change its access: " << status;
        return;
    }
    // Only a key whose access can be given back is closed.
    DWORD size = 0;
    RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
    std::vector<BYTE> original(size);
    status = RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, original.data(), &size);
    if (status == ERROR_SUCCESS) {
        PSECURITY_DESCRIPTOR denyAll = nullptr;
        ConvertStringSecurityDescriptorToSecurityDescriptorA(access, SDDL_REVISION_1, &denyAll,
                                                             nullptr);
        status = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, denyAll);
        LocalFree(denyAll);
    }
    RegCloseKey(key);
    if (status == ERROR_SUCCESS)
        original_ = std::move(original);
    else
        ADD_FAILURE_AT(where.file_name(), where.line())
            << "cannot deny access to " << path << ": " << status;
}

DeniedKey::~DeniedKey()
{
    if (original_.empty())
        return;
    HKEY key;
    // The owner keeps the right to change the access list.
    if (RegOpenKeyExA(root_, path_.c_str(), 0, WRITE_DAC, &key) != ERROR_SUCCESS) {
        ADD_FAILURE() << "cannot give access to " << path_ << " back";
        return;
    }
    RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, original_.data());
    RegCloseKey(key);
}

} // namespace e2e
