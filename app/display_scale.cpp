#include "app/app.h"
#include "app/control_ids.h"

// Windows 8.1 brought a scale of its own to each monitor, and Windows 10 the
// functions that answer for one window's monitor rather than the whole
// system. They are looked up rather than imported, so that the program still
// starts where they are missing; there the system's DPI is every window's.

typedef UINT(WINAPI* DpiForWindowProc)(HWND);
typedef int(WINAPI* MetricForDpiProc)(int, UINT);
typedef BOOL(WINAPI* DialogDpiBehaviourProc)(HWND, int, int);

static bool functionsResolved;
static DpiForWindowProc dpiForWindow;
static MetricForDpiProc metricForDpi;
static DialogDpiBehaviourProc dialogDpiBehaviour;

// The main window's controls as its template placed them, at the DPI it was
// made for; a change of DPI scales them from here, so that rounding does not
// add up over several moves between monitors.
static const int MAX_LAID_OUT = 64;
static HWND laidOut[MAX_LAID_OUT];
static RECT placeMade[MAX_LAID_OUT];
static int laidOutCount;
static UINT dpiMade;
static UINT dpiNow;
static LOGFONTW dialogFont;
static int fontPoints;
static HFONT scaledFont;

// The banner as drawn for 100 %, 150 % and 200 %; any other size is made
// from the smallest of them that is at least as wide, since shrinking loses
// less than enlarging.
static const int BANNER_WIDTH = 300;
static const int BANNER_HEIGHT = 80;
static const struct {
    int id;
    int width;
} BannerArt[] = {{IDB_BANNER, 300}, {IDB_BANNER_150, 450}, {IDB_BANNER_200, 600}};

template <typename Proc> static Proc Resolve(HMODULE module, const char* name)
{
    return reinterpret_cast<Proc>(reinterpret_cast<void (*)(void)>(GetProcAddress(module, name)));
}

// user32 is imported, so the name finds the copy the loader took from the
// system folder.
static void ResolveDpiFunctions()
{
    if (functionsResolved)
        return;
    functionsResolved = true;
    HMODULE user32 = GetModuleHandleW(TEXT("user32.dll"));
    if (user32 == NULL)
        return;
    dpiForWindow = Resolve<DpiForWindowProc>(user32, "GetDpiForWindow");
    metricForDpi = Resolve<MetricForDpiProc>(user32, "GetSystemMetricsForDpi");
    dialogDpiBehaviour = Resolve<DialogDpiBehaviourProc>(user32, "SetDialogDpiChangeBehavior");
}

static UINT SystemDpi()
{
    HDC screen = GetDC(NULL);
    int dpi = screen != NULL ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen != NULL)
        ReleaseDC(NULL, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

UINT WindowDpi(HWND window)
{
    ResolveDpiFunctions();
    UINT dpi = dpiForWindow != NULL ? dpiForWindow(window) : 0;
    return dpi != 0 ? dpi : SystemDpi();
}

// Without GetSystemMetricsForDpi a window's DPI differs from the system's
// only on Windows 8.1, whose metrics grow in proportion.
static int MetricForDpi(int index, UINT dpi)
{
    if (metricForDpi != NULL)
        return metricForDpi(index, dpi);
    return MulDiv(GetSystemMetrics(index), static_cast<int>(dpi), static_cast<int>(SystemDpi()));
}

HICON LoadProgramIcon(UINT dpi, int metric)
{
    ResolveDpiFunctions();
    int size = MetricForDpi(metric, dpi);
    return static_cast<HICON>(
        LoadImageW(hInstance, MAKEINTRESOURCEW(IDI_PROGRAM), IMAGE_ICON, size, size, 0));
}

static void SetCaptionIcons(HWND dialog, UINT dpi)
{
    const struct {
        WPARAM which;
        int metric;
    } icons[] = {{ICON_SMALL, SM_CXSMICON}, {ICON_BIG, SM_CXICON}};
    for (const auto& icon : icons) {
        HICON loaded = LoadProgramIcon(dpi, icon.metric);
        if (loaded == NULL)
            continue;
        LRESULT previous =
            SendMessageW(dialog, WM_SETICON, icon.which, reinterpret_cast<LPARAM>(loaded));
        if (previous != 0)
            DestroyIcon(reinterpret_cast<HICON>(previous));
    }
}

static int BitmapWidth(HBITMAP bitmap, int* height)
{
    BITMAP size;
    if (bitmap == NULL || GetObjectW(bitmap, sizeof size, &size) == 0)
        return 0;
    *height = size.bmHeight;
    return size.bmWidth;
}

static HBITMAP DrawBanner(int width, int height)
{
    int id = BannerArt[0].id;
    for (const auto& art : BannerArt) {
        id = art.id;
        if (art.width >= width)
            break;
    }
    HBITMAP art = static_cast<HBITMAP>(
        LoadImageW(hInstance, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    int artHeight = 0;
    int artWidth = BitmapWidth(art, &artHeight);
    if (art == NULL || artWidth == width)
        return art;
    HDC screen = GetDC(NULL);
    HDC from = CreateCompatibleDC(screen);
    HDC to = CreateCompatibleDC(screen);
    HBITMAP picture = CreateCompatibleBitmap(screen, width, height);
    bool drawn = false;
    if (from != NULL && to != NULL && picture != NULL) {
        HGDIOBJ fromBefore = SelectObject(from, art);
        HGDIOBJ toBefore = SelectObject(to, picture);
        // HALFTONE averages the pixels a target pixel covers; the brush
        // origin has to be set again after choosing it.
        SetStretchBltMode(to, HALFTONE);
        SetBrushOrgEx(to, 0, 0, NULL);
        drawn = StretchBlt(to, 0, 0, width, height, from, 0, 0, artWidth, artHeight, SRCCOPY);
        SelectObject(from, fromBefore);
        SelectObject(to, toBefore);
    }
    // The frame keeps the banner it has rather than show an empty picture.
    if (!drawn && picture != NULL) {
        DeleteObject(picture);
        picture = NULL;
    }
    if (from != NULL)
        DeleteDC(from);
    if (to != NULL)
        DeleteDC(to);
    ReleaseDC(NULL, screen);
    DeleteObject(art);
    return picture;
}

// At 100 % the frame's 200 dialog units are the art's 300 pixels, and its
// edge covers a few of them. The banner keeps that share of what the frame
// shows at every scale: the frame follows the dialog's font, which does not
// grow in step with the DPI, and may even change face (Wine keeps bitmap
// fonts to the DPI they were made for).
static void ShowBanner(HWND dialog)
{
    HWND frame = GetDlgItem(dialog, IDC_BANNER);
    RECT outer, inner;
    if (frame == NULL || !GetWindowRect(frame, &outer) || !GetClientRect(frame, &inner))
        return;
    int edges = (outer.right - outer.left) - inner.right;
    int width = MulDiv(BANNER_WIDTH, inner.right, BANNER_WIDTH - edges);
    int height = MulDiv(width, BANNER_HEIGHT, BANNER_WIDTH);
    int shownHeight = 0;
    HBITMAP shown = reinterpret_cast<HBITMAP>(SendMessageW(frame, STM_GETIMAGE, IMAGE_BITMAP, 0));
    if (width <= 0 || BitmapWidth(shown, &shownHeight) == width)
        return;
    HBITMAP picture = DrawBanner(width, height);
    if (picture == NULL)
        return;
    LRESULT previous =
        SendMessageW(frame, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture));
    if (previous != 0 && previous != reinterpret_cast<LRESULT>(picture))
        DeleteObject(reinterpret_cast<HBITMAP>(previous));
}

static RECT PlaceInDialog(HWND dialog, HWND control)
{
    RECT place = {0, 0, 0, 0};
    GetWindowRect(control, &place);
    MapWindowPoints(NULL, dialog, reinterpret_cast<POINT*>(&place), 2);
    return place;
}

static void RememberLayout(HWND dialog)
{
    laidOutCount = 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != NULL && laidOutCount < MAX_LAID_OUT;
         child = GetWindow(child, GW_HWNDNEXT)) {
        laidOut[laidOutCount] = child;
        placeMade[laidOutCount] = PlaceInDialog(dialog, child);
        ++laidOutCount;
    }
    dpiMade = dpiNow;
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    fontPoints = 0;
    if (font != NULL && GetObjectW(font, sizeof dialogFont, &dialogFont) != 0)
        fontPoints = MulDiv(dialogFont.lfHeight < 0 ? -dialogFont.lfHeight : dialogFont.lfHeight,
                            72, static_cast<int>(dpiMade));
}

// Whether a control of the row beside the place starts at that pixel.
static bool StartsAt(LONG left, const RECT& beside)
{
    for (int i = 0; i < laidOutCount; ++i) {
        const RECT& other = placeMade[i];
        if (other.left == left && other.top < beside.bottom && beside.top < other.bottom)
            return true;
    }
    return false;
}

// The dialog manager rounds each control's place and width apart, so that at
// some scales a button reaches a pixel into the next one in its row. Off
// 100 %, where the template's layout stays as it has always been, such a
// control ends where its neighbour begins. Nothing else is moved: a list box
// given its size again would cut it to whole rows once more.
static void KeepNeighboursApart(HWND dialog)
{
    RECT unit = {0, 0, 4, 0};
    if (dpiMade == USER_DEFAULT_SCREEN_DPI || !MapDialogRect(dialog, &unit) || unit.right <= 0)
        return;
    for (int i = 0; i < laidOutCount; ++i) {
        RECT& place = placeMade[i];
        LONG units =
            MulDiv(place.left, 4, unit.right) + MulDiv(place.right - place.left, 4, unit.right);
        LONG right = MulDiv(units, unit.right, 4);
        if (right >= place.right || !StartsAt(right, place))
            continue;
        place.right = right;
        SetWindowPos(laidOut[i], NULL, 0, 0, right - place.left, place.bottom - place.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void FollowDisplayScale(HWND dialog)
{
    ResolveDpiFunctions();
    // Windows 10 1703 and later would scale the dialog themselves, before
    // its procedure sees WM_DPICHANGED; it is done here alike everywhere.
    if (dialogDpiBehaviour != NULL)
        dialogDpiBehaviour(dialog, DDC_DISABLE_ALL, DDC_DISABLE_ALL);
    dpiNow = WindowDpi(dialog);
    RememberLayout(dialog);
    KeepNeighboursApart(dialog);
    SetCaptionIcons(dialog, dpiNow);
    ShowBanner(dialog);
}

static LONG Scaled(LONG value, UINT dpi)
{
    return MulDiv(value, static_cast<int>(dpi), static_cast<int>(dpiMade));
}

void ChangeDisplayScale(HWND dialog, UINT dpi, const RECT* suggested)
{
    if (dpi == 0 || dpiMade == 0)
        return;
    dpiNow = dpi;
    if (suggested != NULL)
        SetWindowPos(dialog, NULL, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    HFONT font = NULL;
    if (fontPoints > 0) {
        LOGFONTW scaled = dialogFont;
        scaled.lfHeight = -MulDiv(fontPoints, static_cast<int>(dpi), 72);
        font = CreateFontIndirectW(&scaled);
    }
    for (int i = 0; i < laidOutCount; ++i) {
        const RECT& made = placeMade[i];
        LONG left = Scaled(made.left, dpi);
        LONG top = Scaled(made.top, dpi);
        SetWindowPos(laidOut[i], NULL, left, top, Scaled(made.right, dpi) - left,
                     Scaled(made.bottom, dpi) - top, SWP_NOZORDER | SWP_NOACTIVATE);
        if (font != NULL)
            SendMessageW(laidOut[i], WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
    if (font != NULL) {
        if (scaledFont != NULL)
            DeleteObject(scaledFont);
        scaledFont = font;
    }
    SetCaptionIcons(dialog, dpi);
    ShowBanner(dialog);
    InvalidateRect(dialog, NULL, TRUE);
}

void ReleaseDisplayScale(HWND dialog)
{
    const WPARAM icons[] = {ICON_SMALL, ICON_BIG};
    for (WPARAM which : icons) {
        LRESULT icon = SendMessageW(dialog, WM_SETICON, which, 0);
        if (icon != 0)
            DestroyIcon(reinterpret_cast<HICON>(icon));
    }
    HWND frame = GetDlgItem(dialog, IDC_BANNER);
    if (frame != NULL) {
        LRESULT banner = SendMessageW(frame, STM_SETIMAGE, IMAGE_BITMAP, 0);
        if (banner != 0)
            DeleteObject(reinterpret_cast<HBITMAP>(banner));
    }
    if (scaledFont != NULL) {
        DeleteObject(scaledFont);
        scaledFont = NULL;
    }
}
