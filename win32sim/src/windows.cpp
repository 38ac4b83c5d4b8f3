#include "internal.h"
#include "win32sim.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <set>

struct HINSTANCE__ {
    int unused;
};
struct HICON__ {
    int resourceId;
};
struct HDC__ {
    int unused;
};

namespace {

struct PostedMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

HINSTANCE__ g_instance;
HICON__ g_programIcon{0};
std::map<int, HICON__> g_cursors;

std::vector<std::unique_ptr<HWND__>> g_windows;
std::set<HWND> g_known;
std::vector<HWND> g_modal;
std::deque<PostedMessage> g_queue;
std::deque<std::function<void()>> g_userActions;
std::deque<int> g_answers;
std::vector<SimMessageBox> g_boxes;
int g_unscriptedBoxes = 0;
int g_stalls = 0;
std::vector<int> g_cursorHistory;
std::vector<UINT> g_beeps;
int g_drawnIcons = 0;
HCURSOR g_cursor = nullptr;
HWND g_locked = nullptr;
std::vector<std::string> g_redrawHistory;

// MapDialogRect: MulDiv rounds halves away from zero.
LONG DialogUnits(int units, int base, int divisor)
{
    long long scaled = static_cast<long long>(units) * base;
    long long half = divisor / 2;
    return static_cast<LONG>(scaled >= 0 ? (scaled + half) / divisor : (scaled - half) / divisor);
}

RECT PixelRect(short x, short y, short cx, short cy)
{
    RECT rect;
    rect.left = DialogUnits(x, kBaseUnitX, 4);
    rect.top = DialogUnits(y, kBaseUnitY, 8);
    rect.right = rect.left + DialogUnits(cx, kBaseUnitX, 4);
    rect.bottom = rect.top + DialogUnits(cy, kBaseUnitY, 8);
    return rect;
}

HWND NewWindow(HWND parent, WindowKind kind, int id, DWORD style, const std::u16string& text,
               RECT rect)
{
    g_windows.push_back(std::make_unique<HWND__>());
    HWND window = g_windows.back().get();
    g_known.insert(window);
    window->parent = parent;
    window->kind = kind;
    window->id = id;
    window->style = style;
    window->text = text;
    window->rect = rect;
    if (parent)
        parent->children.push_back(window);
    return window;
}

HWND CreateControl(HWND dialog, const ControlTemplate& control)
{
    DWORD style = control.style;
    bool edge = false;
    // Windows turns WS_BORDER on a control of a DIALOG template into a
    // two-pixel sunken client edge.
    if (style & WS_BORDER) {
        style &= ~WS_BORDER;
        edge = true;
    }
    RECT rect = PixelRect(control.x, control.y, control.cx, control.cy);
    if (control.kind == WindowKind::ListBox && !(style & LBS_NOINTEGRALHEIGHT)) {
        LONG frame = edge ? 4 : 0;
        LONG client = rect.bottom - rect.top - frame;
        if (client > kListItemHeight)
            rect.bottom -= client % kListItemHeight;
    }
    HWND window = NewWindow(dialog, control.kind, control.id, style, control.text, rect);
    window->clientEdge = edge;
    return window;
}

void Notify(HWND list, WORD code)
{
    if (IsLiveWindow(list) && list->kind == WindowKind::ListBox && (list->style & LBS_NOTIFY))
        SendMessageW(list->parent, WM_COMMAND, MAKEWPARAM(list->id, code),
                     reinterpret_cast<LPARAM>(list));
}

// Moves the focus within a dialog. Only list boxes with LBS_NOTIFY tell the
// dialog about it, and under Wine they do: a dialog procedure sees
// LBN_SETFOCUS and LBN_KILLFOCUS whether the user does anything or not.
void Focus(HWND dialog, HWND control)
{
    HWND previous = dialog->focus;
    if (previous == control)
        return;
    dialog->focus = control;
    Notify(previous, LBN_KILLFOCUS);
    Notify(control, LBN_SETFOCUS);
}

HWND FirstTabStop(HWND dialog)
{
    for (HWND child : dialog->children) {
        DWORD style = child->style;
        if ((style & WS_TABSTOP) && (style & WS_VISIBLE) && !(style & WS_DISABLED))
            return child;
    }
    return nullptr;
}

// A modal dialog that goes away hands the focus back to its owner's control.
void ReturnToOwner(HWND dialog)
{
    HWND owner = dialog->owner;
    if (IsLiveWindow(owner) && owner->kind == WindowKind::Dialog && !owner->ended)
        Focus(owner, IsLiveWindow(dialog->ownerFocus) ? dialog->ownerFocus : nullptr);
}

void Destroy(HWND window)
{
    if (window->kind == WindowKind::Dialog)
        Focus(window, nullptr);
    window->alive = false;
    for (HWND child : window->children)
        Destroy(child);
    if (g_locked == window)
        g_locked = nullptr;
}

LRESULT DialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    INT_PTR handled = dialog->proc(dialog, message, wParam, lParam);
    if (message == WM_INITDIALOG)
        return handled;
    if (handled)
        return 0;
    // What DefDlgProc and DefWindowProc do with the messages the program
    // leaves to them.
    if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE)
        SendMessageW(dialog, WM_CLOSE, 0, 0);
    else if (message == WM_CLOSE)
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
    return 0;
}

bool DispatchNextPosted()
{
    if (g_queue.empty())
        return false;
    PostedMessage posted = g_queue.front();
    g_queue.pop_front();
    if (IsLiveWindow(posted.window))
        SendMessageW(posted.window, posted.message, posted.wParam, posted.lParam);
    return true;
}

[[noreturn]] void NoSuchControl(HWND dialog, int id)
{
    std::fprintf(stderr, "win32sim: dialog %p has no control %d\n", static_cast<void*>(dialog), id);
    std::abort();
}

// What tests read back may belong to a dialog that has already ended.
HWND ControlForTest(HWND dialog, int id)
{
    if (dialog && g_known.count(dialog)) {
        for (HWND child : dialog->children) {
            if (child->id == id)
                return child;
        }
    }
    NoSuchControl(dialog, id);
}

HWND UserReachable(HWND dialog, int id)
{
    HWND control = GetDlgItem(dialog, id);
    if (!control)
        NoSuchControl(dialog, id);
    if (!IsWindowEnabled(dialog) || !IsWindowEnabled(control))
        return nullptr;
    return control;
}

// An A resource name: an ordinal stays one, a string goes through the ANSI
// code page into storage.
LPCWSTR WideResourceName(LPCSTR name, std::u16string* storage)
{
    if (IS_INTRESOURCE(name))
        return reinterpret_cast<LPCWSTR>(name);
    *storage = WideFromAnsi(name);
    return storage->c_str();
}

// What SendMessageA hands back for a list entry: its text in the ANSI code
// page, or the W answer when that is an error.
LRESULT AnsiListText(HWND window, WPARAM index, std::string* text)
{
    LRESULT length = SendMessageW(window, LB_GETTEXTLEN, index, 0);
    if (length < 0)
        return length;
    std::u16string wide(static_cast<size_t>(length) + 1, u'\0');
    length = SendMessageW(window, LB_GETTEXT, index, reinterpret_cast<LPARAM>(wide.data()));
    if (length < 0)
        return length;
    wide.resize(std::min(static_cast<size_t>(length), wide.size() - 1));
    *text = AnsiOf(wide);
    return static_cast<LRESULT>(text->size());
}

} // namespace

bool IsLiveWindow(HWND window)
{
    return window && g_known.count(window) && window->alive;
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR name)
{
    return name ? nullptr : &g_instance;
}

INT_PTR WINAPI DialogBoxParamW(HINSTANCE, LPCWSTR templateName, HWND owner, DLGPROC dialogProc,
                               LPARAM initParam)
{
    const DialogTemplate* found = FindDialogTemplate(templateName);
    if (!found)
        return -1;
    HWND dialog = NewWindow(nullptr, WindowKind::Dialog, 0, found->style, found->caption,
                            PixelRect(found->x, found->y, found->cx, found->cy));
    dialog->owner = owner;
    dialog->proc = dialogProc;
    for (const ControlTemplate& control : found->controls)
        CreateControl(dialog, control);

    // A modal dialog keeps its owner disabled while it runs. Wine gives the
    // first tab stop the focus after WM_INITDIALOG whatever the procedure
    // answered, even when it ended the dialog there.
    dialog->reenableOwner = IsLiveWindow(owner) && !EnableWindow(owner, FALSE);
    g_modal.push_back(dialog);
    SendMessageW(dialog, WM_INITDIALOG, 0, initParam);
    if (IsLiveWindow(owner) && owner->kind == WindowKind::Dialog) {
        dialog->ownerFocus = owner->focus;
        Focus(owner, nullptr);
    }
    Focus(dialog, FirstTabStop(dialog));
    while (!dialog->ended) {
        if (DispatchNextPosted())
            continue;
        if (!g_userActions.empty()) {
            std::function<void()> action = std::move(g_userActions.front());
            g_userActions.pop_front();
            action();
            continue;
        }
        ++g_stalls;
        EndDialog(dialog, -1);
    }
    g_modal.pop_back();
    Destroy(dialog);
    ReturnToOwner(dialog);
    return dialog->result;
}

// As under Wine, the dialog is hidden and its owner enabled and active again
// before EndDialog returns; the window itself goes when the loop ends.
BOOL WINAPI EndDialog(HWND dialog, INT_PTR result)
{
    if (!IsLiveWindow(dialog) || dialog->kind != WindowKind::Dialog)
        return FALSE;
    dialog->result = result;
    if (dialog->ended)
        return TRUE;
    dialog->ended = true;
    if (dialog->reenableOwner)
        EnableWindow(dialog->owner, TRUE);
    Focus(dialog, nullptr);
    ReturnToOwner(dialog);
    return TRUE;
}

BOOL WINAPI PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (window && !IsLiveWindow(window))
        return FALSE;
    g_queue.push_back(PostedMessage{window, message, wParam, lParam});
    return TRUE;
}

LRESULT WINAPI SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!IsLiveWindow(window))
        return 0;
    if (window->kind == WindowKind::Dialog)
        return DialogMessage(window, message, wParam, lParam);
    if (window->kind == WindowKind::ListBox)
        return ListBoxMessage(window, message, wParam, lParam);
    return 0;
}

LRESULT WINAPI SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam)
{
    return SendMessageW(GetDlgItem(dialog, id), message, wParam, lParam);
}

HWND WINAPI GetDlgItem(HWND dialog, int id)
{
    if (!IsLiveWindow(dialog))
        return nullptr;
    for (HWND child : dialog->children) {
        if (child->id == id)
            return child;
    }
    return nullptr;
}

int WINAPI GetDlgCtrlID(HWND window)
{
    return IsLiveWindow(window) ? window->id : 0;
}

// A dialog is a popup window: its "parent" is its owner.
HWND WINAPI GetParent(HWND window)
{
    if (!IsLiveWindow(window))
        return nullptr;
    return window->parent ? window->parent : window->owner;
}

BOOL WINAPI SetDlgItemTextW(HWND dialog, int id, LPCWSTR text)
{
    HWND control = GetDlgItem(dialog, id);
    if (!control)
        return FALSE;
    control->text = WideOf(text);
    return TRUE;
}

UINT WINAPI GetDlgItemTextW(HWND dialog, int id, LPWSTR text, int size)
{
    if (HWND control = GetDlgItem(dialog, id))
        return static_cast<UINT>(GetWindowTextW(control, text, size));
    if (size > 0)
        text[0] = u'\0';
    return 0;
}

int WINAPI GetWindowTextW(HWND window, LPWSTR text, int size)
{
    if (size <= 0)
        return 0;
    if (!IsLiveWindow(window)) {
        text[0] = u'\0';
        return 0;
    }
    size_t length = std::min(window->text.size(), static_cast<size_t>(size - 1));
    std::copy_n(window->text.data(), length, text);
    text[length] = u'\0';
    return static_cast<int>(length);
}

LONG WINAPI GetWindowLongW(HWND window, int index)
{
    if (!IsLiveWindow(window) || index != GWL_STYLE)
        return 0;
    if (window->kind == WindowKind::ListBox)
        return static_cast<LONG>(ListStyle(window));
    return static_cast<LONG>(window->style);
}

BOOL WINAPI EnableWindow(HWND window, BOOL enable)
{
    if (!IsLiveWindow(window))
        return FALSE;
    BOOL wasDisabled = (window->style & WS_DISABLED) ? TRUE : FALSE;
    if (enable) {
        window->style &= ~WS_DISABLED;
    } else {
        window->style |= WS_DISABLED;
        // A disabled window cannot keep the focus.
        if (window->parent && window->parent->focus == window)
            Focus(window->parent, nullptr);
    }
    return wasDisabled;
}

BOOL WINAPI IsWindowEnabled(HWND window)
{
    return IsLiveWindow(window) && !(window->style & WS_DISABLED);
}

BOOL WINAPI IsWindow(HWND window)
{
    return IsLiveWindow(window);
}

BOOL WINAPI IsIconic(HWND)
{
    return FALSE;
}

// Only one window at a time can have its drawing locked.
BOOL WINAPI LockWindowUpdate(HWND window)
{
    if (window && (g_locked || !IsLiveWindow(window)))
        return FALSE;
    g_locked = window;
    return TRUE;
}

BOOL WINAPI GetClientRect(HWND window, LPRECT rect)
{
    if (!IsLiveWindow(window))
        return FALSE;
    if (window->kind == WindowKind::ListBox) {
        *rect = ListClientRect(window);
        return TRUE;
    }
    LONG frame = window->clientEdge ? 4 : 0;
    *rect = RECT{0, 0, window->rect.right - window->rect.left - frame,
                 window->rect.bottom - window->rect.top - frame};
    return TRUE;
}

BOOL WINAPI InvalidateRect(HWND window, const RECT*, BOOL)
{
    if (window != nullptr && !IsLiveWindow(window))
        return FALSE;
    RecordRedrawEvent(window, "InvalidateRect");
    return TRUE;
}

BOOL WINAPI UpdateWindow(HWND window)
{
    return IsLiveWindow(window);
}

// A real box runs its own message loop, which dispatches whatever is posted
// before the user answers.
int WINAPI MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type)
{
    while (DispatchNextPosted()) {
    }
    RecordRedrawEvent(nullptr, "MessageBoxW");
    SimMessageBox box{
        owner, Utf8Of(WideOf(text)), caption ? Utf8Of(WideOf(caption)) : "Error", type, 0, false};
    if (!g_answers.empty()) {
        box.answer = g_answers.front();
        box.scripted = true;
        g_answers.pop_front();
    } else {
        ++g_unscriptedBoxes;
    }
    g_boxes.push_back(box);
    return box.answer;
}

BOOL WINAPI MessageBeep(UINT type)
{
    g_beeps.push_back(type);
    return TRUE;
}

HCURSOR WINAPI LoadCursorW(HINSTANCE, LPCWSTR name)
{
    if (!IS_INTRESOURCE(name))
        return nullptr;
    int id = static_cast<int>(reinterpret_cast<ULONG_PTR>(name));
    HICON__& cursor = g_cursors[id];
    cursor.resourceId = id;
    return &cursor;
}

HCURSOR WINAPI SetCursor(HCURSOR cursor)
{
    HCURSOR previous = g_cursor;
    g_cursor = cursor;
    g_cursorHistory.push_back(cursor ? cursor->resourceId : 0);
    return previous;
}

HICON WINAPI LoadIconW(HINSTANCE, LPCWSTR)
{
    return &g_programIcon;
}

BOOL WINAPI DrawIcon(HDC, int, int, HICON icon)
{
    if (!icon)
        return FALSE;
    ++g_drawnIcons;
    return TRUE;
}

// Rounds halves away from zero, as Windows does.
int WINAPI MulDiv(int number, int numerator, int denominator)
{
    if (denominator == 0)
        return -1;
    long long product = static_cast<long long>(number) * numerator;
    long long divisor = std::llabs(denominator);
    long long rounded = (std::llabs(product) + divisor / 2) / divisor;
    return static_cast<int>((product < 0) != (denominator < 0) ? -rounded : rounded);
}

int WINAPI GetSystemMetrics(int index)
{
    return index == SM_CXICON ? 32 : index == SM_CXSMICON ? 16 : 0;
}

// Every icon is the program's; no bitmap can be made.
HANDLE WINAPI LoadImageW(HINSTANCE, LPCWSTR, UINT type, int, int, UINT)
{
    return type == IMAGE_ICON ? &g_programIcon : nullptr;
}

BOOL WINAPI DestroyIcon(HICON icon)
{
    return icon != nullptr;
}

namespace {

POINT ClientOrigin(HWND window)
{
    POINT origin{0, 0};
    for (; window != nullptr; window = window->parent) {
        origin.x += window->rect.left;
        origin.y += window->rect.top;
    }
    return origin;
}

} // namespace

BOOL WINAPI GetWindowRect(HWND window, LPRECT rect)
{
    if (!IsLiveWindow(window))
        return FALSE;
    POINT origin = ClientOrigin(window->parent);
    *rect = RECT{window->rect.left + origin.x, window->rect.top + origin.y,
                 window->rect.right + origin.x, window->rect.bottom + origin.y};
    return TRUE;
}

int WINAPI MapWindowPoints(HWND from, HWND to, LPPOINT points, UINT count)
{
    POINT fromOrigin = ClientOrigin(from);
    POINT toOrigin = ClientOrigin(to);
    for (UINT i = 0; i < count; ++i) {
        points[i].x += fromOrigin.x - toOrigin.x;
        points[i].y += fromOrigin.y - toOrigin.y;
    }
    return MAKELONG(fromOrigin.x - toOrigin.x, fromOrigin.y - toOrigin.y);
}

BOOL WINAPI MapDialogRect(HWND dialog, LPRECT rect)
{
    if (!IsLiveWindow(dialog) || dialog->kind != WindowKind::Dialog)
        return FALSE;
    *rect = RECT{DialogUnits(rect->left, kBaseUnitX, 4), DialogUnits(rect->top, kBaseUnitY, 8),
                 DialogUnits(rect->right, kBaseUnitX, 4), DialogUnits(rect->bottom, kBaseUnitY, 8)};
    return TRUE;
}

HWND WINAPI GetWindow(HWND window, UINT relation)
{
    if (!IsLiveWindow(window))
        return nullptr;
    if (relation == GW_CHILD)
        return window->children.empty() ? nullptr : window->children.front();
    if (relation != GW_HWNDNEXT || window->parent == nullptr)
        return nullptr;
    const std::vector<HWND>& siblings = window->parent->children;
    auto next = std::find(siblings.begin(), siblings.end(), window) + 1;
    return next == siblings.end() ? nullptr : *next;
}

BOOL WINAPI SetWindowPos(HWND window, HWND, int x, int y, int width, int height, UINT flags)
{
    if (!IsLiveWindow(window))
        return FALSE;
    if (flags & SWP_NOMOVE) {
        x = window->rect.left;
        y = window->rect.top;
    }
    window->rect = RECT{x, y, x + width, y + height};
    return TRUE;
}

HDC WINAPI GetDC(HWND)
{
    static HDC__ screen;
    return &screen;
}

int WINAPI ReleaseDC(HWND, HDC dc)
{
    return dc != nullptr;
}

int WINAPI GetDeviceCaps(HDC, int index)
{
    return index == LOGPIXELSY ? USER_DEFAULT_SCREEN_DPI : 0;
}

HDC WINAPI CreateCompatibleDC(HDC)
{
    return nullptr;
}

BOOL WINAPI DeleteDC(HDC)
{
    return FALSE;
}

HBITMAP WINAPI CreateCompatibleBitmap(HDC, int, int)
{
    return nullptr;
}

HFONT WINAPI CreateFontIndirectW(const LOGFONTW*)
{
    return nullptr;
}

HGDIOBJ WINAPI SelectObject(HDC, HGDIOBJ)
{
    return nullptr;
}

BOOL WINAPI DeleteObject(HGDIOBJ)
{
    return FALSE;
}

int WINAPI GetObjectW(HANDLE, int, LPVOID)
{
    return 0;
}

int WINAPI SetStretchBltMode(HDC, int)
{
    return 0;
}

BOOL WINAPI SetBrushOrgEx(HDC, int, int, LPPOINT)
{
    return FALSE;
}

BOOL WINAPI StretchBlt(HDC, int, int, int, int, HDC, int, int, int, int, DWORD)
{
    return FALSE;
}

// The ANSI forms, for tests: as Windows does, they take their text through
// the ANSI code page to and from the W functions.

HMODULE WINAPI GetModuleHandleA(LPCSTR name)
{
    std::u16string wide = WideFromAnsi(name);
    return GetModuleHandleW(name ? wide.c_str() : nullptr);
}

INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner,
                               DLGPROC dialogProc, LPARAM initParam)
{
    std::u16string storage;
    return DialogBoxParamW(instance, WideResourceName(templateName, &storage), owner, dialogProc,
                           initParam);
}

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return PostMessageW(window, message, wParam, lParam);
}

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!IsLiveWindow(window))
        return 0;
    switch (message) {
    case LB_ADDSTRING:
    case LB_INSERTSTRING: {
        std::u16string text = WideFromAnsi(reinterpret_cast<LPCSTR>(lParam));
        return SendMessageW(window, message, wParam, reinterpret_cast<LPARAM>(text.c_str()));
    }
    case LB_GETTEXT: {
        std::string text;
        LRESULT length = AnsiListText(window, wParam, &text);
        if (length >= 0)
            memcpy(reinterpret_cast<char*>(lParam), text.c_str(), text.size() + 1);
        return length;
    }
    case LB_GETTEXTLEN: {
        std::string text;
        return AnsiListText(window, wParam, &text);
    }
    default:
        return SendMessageW(window, message, wParam, lParam);
    }
}

LRESULT WINAPI SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam)
{
    return SendMessageA(GetDlgItem(dialog, id), message, wParam, lParam);
}

BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text)
{
    std::u16string wide = WideFromAnsi(text);
    return SetDlgItemTextW(dialog, id, wide.c_str());
}

UINT WINAPI GetDlgItemTextA(HWND dialog, int id, LPSTR text, int size)
{
    return static_cast<UINT>(GetWindowTextA(GetDlgItem(dialog, id), text, size));
}

// Windows-1252 has one byte for each character, so the A text is as long as
// the W text that fits the same size.
int WINAPI GetWindowTextA(HWND window, LPSTR text, int size)
{
    if (size <= 0)
        return 0;
    std::u16string wide(static_cast<size_t>(size), u'\0');
    int length = GetWindowTextW(window, wide.data(), size);
    std::string ansi = AnsiOf(wide.substr(0, static_cast<size_t>(length)));
    memcpy(text, ansi.c_str(), ansi.size() + 1);
    return static_cast<int>(ansi.size());
}

LONG WINAPI GetWindowLongA(HWND window, int index)
{
    return GetWindowLongW(window, index);
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    std::u16string wideText = WideFromAnsi(text), wideCaption = WideFromAnsi(caption);
    return MessageBoxW(owner, wideText.c_str(), caption ? wideCaption.c_str() : nullptr, type);
}

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name)
{
    std::u16string storage;
    return LoadCursorW(instance, WideResourceName(name, &storage));
}

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name)
{
    std::u16string storage;
    return LoadIconW(instance, WideResourceName(name, &storage));
}

void SimAnswerMessageBox(int answer)
{
    g_answers.push_back(answer);
}

const std::vector<SimMessageBox>& SimMessageBoxes()
{
    return g_boxes;
}

int SimUnscriptedMessageBoxCount()
{
    return g_unscriptedBoxes;
}

void SimAddUserAction(std::function<void()> action)
{
    g_userActions.push_back(std::move(action));
}

int SimStallCount()
{
    return g_stalls;
}

HWND SimActiveDialog()
{
    for (auto it = g_modal.rbegin(); it != g_modal.rend(); ++it) {
        if ((*it)->alive)
            return *it;
    }
    return nullptr;
}

void SimClickButton(HWND dialog, int id)
{
    HWND button = UserReachable(dialog, id);
    if (!button)
        return;
    Focus(dialog, button);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

// A click gives the list the focus and selects the entry; only a list with
// LBS_NOTIFY tells its dialog.
void SimSelectListEntry(HWND dialog, int id, int index)
{
    HWND list = UserReachable(dialog, id);
    if (!list)
        return;
    Focus(dialog, list);
    if (SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(index), 0) == LB_ERR)
        return;
    if (list->style & LBS_NOTIFY)
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, LBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(list));
}

// IsDialogMessage turns Escape into IDCANCEL.
void SimPressEscape(HWND dialog)
{
    SendMessageW(dialog, WM_COMMAND, IDCANCEL,
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
}

void SimCloseFromSystemMenu(HWND dialog)
{
    SendMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
}

std::vector<std::string> SimListItems(HWND dialog, int id)
{
    std::vector<std::string> items;
    for (const std::u16string& item : ControlForTest(dialog, id)->items)
        items.push_back(Utf8Of(item));
    return items;
}

std::string SimWindowText(HWND dialog, int id)
{
    return Utf8Of(ControlForTest(dialog, id)->text);
}

std::vector<int> SimCursorHistory()
{
    return g_cursorHistory;
}

std::vector<UINT> SimBeepHistory()
{
    return g_beeps;
}

int SimDrawIconCount()
{
    return g_drawnIcons;
}

void RecordRedrawEvent(HWND window, const char* what)
{
    g_redrawHistory.push_back(std::to_string(window ? window->id : 0) + " " + what);
}

std::vector<std::string> SimRedrawHistory()
{
    return g_redrawHistory;
}

void ResetWindows()
{
    g_windows.clear();
    g_known.clear();
    g_modal.clear();
    g_queue.clear();
    g_userActions.clear();
    g_answers.clear();
    g_boxes.clear();
    g_unscriptedBoxes = 0;
    g_stalls = 0;
    g_cursorHistory.clear();
    g_beeps.clear();
    g_drawnIcons = 0;
    g_cursor = nullptr;
    g_locked = nullptr;
    g_redrawHistory.clear();
}
