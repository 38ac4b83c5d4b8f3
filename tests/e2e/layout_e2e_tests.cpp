#include "e2e/fixture.h"

#include "app/control_ids.h"
#include "support/test_support.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

namespace e2e {
namespace {

// Both templates use this font; their dialog units follow from it.
constexpr WORD kFontPoints = 8;
constexpr const char* kFontFace = "MS Sans Serif";

// A control without an id of its own: the resource compiler writes -1 as a WORD.
constexpr int kNoId = 0xFFFF;

// A control as the resource script lays it out.
struct TemplateControl {
    int id;
    const char* kind;          // window class
    DWORD style;               // without WS_CHILD | WS_VISIBLE, which every control has
    short x, y, width, height; // dialog units
    const char* text;
    WORD picture = 0; // the resource shown instead of a text
};

struct DialogTemplate {
    const char* caption;
    DWORD style;
    short width, height;
    std::vector<TemplateControl> controls;
};

// A second copy of the two templates of resources/burrowlens.rc, so that a
// template edited by mistake shows up here.
constexpr DWORD kLabel = SS_LEFT | WS_GROUP;
constexpr DWORD kButton = BS_PUSHBUTTON | WS_TABSTOP;

const DialogTemplate kMainDialog = {
    "Burrowlens",
    DS_MODALFRAME | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
    419,
    241,
    {
        {kNoId, "Static", kLabel, 9, 55, 67, 8, "Control File &List"},
        {IDC_CONTROL_LIST, "ListBox",
         LBS_SORT | LBS_NOTIFY | WS_BORDER | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP, 7, 64, 201, 152,
         ""},
        {IDC_FILE_INFO_GROUP, "Button", BS_GROUPBOX, 215, 179, 198, 54,
         "&Information Stored in File"},
        {IDC_FILE_INFO_LIST, "ListBox",
         LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_BORDER | WS_VSCROLL | WS_TABSTOP, 221, 190, 72, 39,
         ""},
        {IDC_FILE_INFO_VALUE, "Static", kLabel, 297, 189, 110, 39, "Unknown"},
        {IDC_DELETE, "Button", kButton | WS_DISABLED, 8, 214, 50, 19, "&Delete"},
        {IDC_REFRESH, "Button", kButton, 58, 214, 50, 19, "&Refresh"},
        {IDC_ABOUT, "Button", kButton, 108, 214, 50, 19, "&About"},
        {IDC_EXIT, "Button", kButton, 158, 214, 50, 19, "E&xit"},
        {IDC_PUBLISHER, "Static", kLabel, 274, 21, 133, 8, "Unknown"},
        {kNoId, "Static", kLabel, 220, 9, 39, 8, "Control"},
        {IDC_CONTROL_NAME, "Static", kLabel, 274, 9, 133, 8, "Unknown"},
        {kNoId, "Static", kLabel, 220, 45, 35, 8, "File Type"},
        {IDC_FILE_TYPE, "Static", kLabel, 274, 45, 133, 8, "Unknown"},
        {kNoId, "Static", kLabel, 220, 82, 46, 8, "Last Change"},
        {IDC_LAST_CHANGE, "Static", kLabel, 274, 82, 133, 8, "Unknown"},
        {kNoId, "Static", kLabel, 220, 70, 46, 8, "Installed"},
        {IDC_INSTALLED, "Static", kLabel, 274, 70, 133, 8, "Unknown"},
        {kNoId, "Static", kLabel, 220, 94, 40, 8, "Last Access"},
        {IDC_LAST_ACCESS, "Static", kLabel, 274, 94, 133, 8, "Unknown"},
        {kNoId, "Static", kLabel, 220, 106, 46, 8, "Version"},
        {IDC_VERSION, "Static", kLabel, 274, 106, 133, 8, "Unknown"},
        {kNoId, "Static", kLabel, 220, 118, 46, 8, "Copyright"},
        {IDC_COPYRIGHT, "Static", kLabel, 274, 118, 133, 8, "Unknown"},
        {kNoId, "Static", kLabel, 220, 130, 46, 8, "Size"},
        {IDC_SIZE, "Static", kLabel, 274, 130, 133, 8, "Unknown"},
        {kNoId, "Static", kLabel, 220, 21, 39, 8, "Publisher"},
        {IDC_DETAILS_GROUP, "Button", BS_GROUPBOX, 215, 2, 198, 175, ""},
        {IDC_USAGE_COUNT, "Static", kLabel, 274, 33, 133, 8, "Unknown"},
        {kNoId, "Static", kLabel, 220, 33, 45, 8, "Usage Count"},
        {kNoId, "Static", kLabel, 220, 142, 36, 8, "Categories"},
        {IDC_CATEGORIES, "Static", kLabel, 274, 142, 133, 29, "Unknown"},
        {IDC_BANNER, "Static",
         SS_BITMAP | SS_REALSIZEIMAGE | SS_CENTERIMAGE | SS_SUNKEN | WS_BORDER, 8, 6, 200, 47, "",
         IDB_BANNER},
        {kNoId, "Static", kLabel, 220, 57, 19, 8, "Origin"},
        {IDC_ORIGIN, "Static", kLabel, 274, 57, 133, 8, "Unknown"},
    },
};

const DialogTemplate kAboutBox = {
    "About Burrowlens",
    DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
    186,
    105,
    {
        {IDOK, "Button", BS_DEFPUSHBUTTON | WS_TABSTOP, 129, 84, 50, 14, "OK"},
        {kNoId, "Static", SS_CENTER | WS_GROUP, 42, 7, 128, 19,
         "Burrowlens v2.04\nDigging out what the browser buried"},
        {kNoId, "Static", kLabel, 7, 67, 109, 31,
         "The Burrowlens developers\nReports and ideas:\nthe project's issue list\n"
         "named in its README"},
        {kNoId, "Static", SS_CENTER | WS_GROUP, 42, 29, 128, 19,
         "Made for everyone who keeps\na tidy Windows machine"},
        {IDI_PROGRAM, "Static", SS_ICON | SS_SUNKEN, 7, 7, 20, 20, "", IDI_PROGRAM},
        {kNoId, "Static", kLabel, 7, 55, 172, 8, "Copyright (c) 2026 The Burrowlens developers"},
    },
};

// The template in memory as the resource compiler writes it.
std::vector<WORD> Compile(const DialogTemplate& dialog)
{
    std::vector<WORD> words;
    auto dword = [&](DWORD value) {
        words.push_back(LOWORD(value));
        words.push_back(HIWORD(value));
    };
    auto text = [&](const char* text) {
        int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
        std::wstring wide(static_cast<size_t>(length), L'\0');
        MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
        words.insert(words.end(), wide.begin(), wide.end()); // with its NUL
    };
    // Shown nowhere: it is only measured.
    dword((dialog.style | DS_SETFONT) & ~WS_VISIBLE);
    dword(0);
    words.push_back(static_cast<WORD>(dialog.controls.size()));
    words.insert(words.end(), {0, 0, static_cast<WORD>(dialog.width),
                               static_cast<WORD>(dialog.height), 0 /* menu */, 0 /* class */});
    text(dialog.caption);
    words.push_back(kFontPoints);
    text(kFontFace);
    for (const TemplateControl& control : dialog.controls) {
        if (words.size() % 2 != 0)
            words.push_back(0); // each control starts on a DWORD
        dword(control.style | WS_CHILD | WS_VISIBLE);
        dword(0);
        words.insert(words.end(),
                     {static_cast<WORD>(control.x), static_cast<WORD>(control.y),
                      static_cast<WORD>(control.width), static_cast<WORD>(control.height),
                      static_cast<WORD>(control.id)});
        text(control.kind);
        if (control.picture != 0)
            words.insert(words.end(), {0xFFFF, control.picture});
        else
            text(control.text);
        words.push_back(0); // no creation data
    }
    return words;
}

INT_PTR CALLBACK Inert(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

// The expected template made into a hidden dialog by this process's own
// dialog manager, with the program's pictures. MapDialogRect cannot reach the
// program's dialogs from here; this copy gives the pixels that the same units
// and font come to on this system, with what the controls change themselves:
// the list box that shortens itself towards whole rows, the icon static that
// takes its icon's size.
class Replica {
  public:
    explicit Replica(const DialogTemplate& dialog)
        : module_(LoadProgramResources()), compiled_(Compile(dialog))
    {
        window_ = CreateDialogIndirectParamA(
            module_, reinterpret_cast<LPCDLGTEMPLATEA>(compiled_.data()), nullptr, Inert, 0);
    }
    Replica(const Replica&) = delete;
    Replica& operator=(const Replica&) = delete;
    ~Replica()
    {
        if (window_ != nullptr)
            DestroyWindow(window_);
        if (module_ != nullptr)
            FreeLibrary(module_);
    }
    HWND Window() const
    {
        return window_;
    }

  private:
    HMODULE module_;
    std::vector<WORD> compiled_;
    HWND window_ = nullptr;
};

// Where a window lies inside its dialog's client area, in pixels.
struct Place {
    long left, top, width, height;
    bool operator==(const Place&) const = default;
};

void PrintTo(const Place& place, std::ostream* out)
{
    *out << place.width << "x" << place.height << " pixels at " << place.left << "," << place.top;
}

struct Size {
    long width, height;
    bool operator==(const Size&) const = default;
};

void PrintTo(const Size& size, std::ostream* out)
{
    *out << size.width << "x" << size.height << " pixels";
}

Place PlaceInDialog(HWND window)
{
    RECT frame;
    GetWindowRect(window, &frame);
    MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&frame), 2);
    return {frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top};
}

Size ClientSize(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    return {client.right, client.bottom};
}

std::string Hex(LONG bits)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(bits));
    return text;
}

std::vector<HWND> Children(HWND dialog)
{
    // Creation order, which is the template's.
    std::vector<HWND> children;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

// Compares a dialog of the program, control by control, with the expected
// template made into a dialog here.
void ExpectLaidOutAs(const DialogTemplate& expected, HWND shown, Where where = Where::current())
{
    testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()),
                               std::string("dialog \"") + expected.caption + "\"");
    Replica replica(expected);
    ASSERT_NE(nullptr, replica.Window()) << "error " << GetLastError();
    // Whether a dialog is shown, or disabled under a box of its own, is not layout.
    const LONG kState = WS_VISIBLE | WS_DISABLED;
    EXPECT_EQ(expected.caption, WindowText(shown));
    EXPECT_EQ(Hex(GetWindowLongA(replica.Window(), GWL_STYLE) & ~kState),
              Hex(GetWindowLongA(shown, GWL_STYLE) & ~kState));
    EXPECT_EQ(ClientSize(replica.Window()), ClientSize(shown))
        << "expected " << expected.width << "x" << expected.height << " dialog units";

    std::vector<HWND> made = Children(replica.Window());
    std::vector<HWND> found = Children(shown);
    ASSERT_EQ(expected.controls.size(), made.size()) << "the replica lacks controls";
    ASSERT_EQ(expected.controls.size(), found.size());
    for (size_t i = 0; i < found.size(); ++i) {
        const TemplateControl& control = expected.controls[i];
        SCOPED_TRACE("control " + std::to_string(i + 1) + ", id " + std::to_string(control.id) +
                     " \"" + control.text + "\"");
        EXPECT_EQ(control.id, GetDlgCtrlID(found[i]));
        EXPECT_EQ(control.kind, ClassName(found[i]));
        EXPECT_EQ(Hex(GetWindowLongA(made[i], GWL_STYLE)),
                  Hex(GetWindowLongA(found[i], GWL_STYLE)));
        EXPECT_EQ(Hex(GetWindowLongA(made[i], GWL_EXSTYLE)),
                  Hex(GetWindowLongA(found[i], GWL_EXSTYLE)));
        if (control.picture == 0) {
            EXPECT_EQ(control.text, WindowText(found[i]));
        }
        EXPECT_EQ(PlaceInDialog(made[i]), PlaceInDialog(found[i]))
            << "expected " << control.width << "x" << control.height << " dialog units at "
            << control.x << "," << control.y;
    }
}

using LayoutTest = ProgramTest;

TEST_F(LayoutTest, MainDialogIsLaidOutAsItsTemplate)
{
    // With nothing registered the scan stops at a box before it adds or
    // selects anything: the dialog is seen as it was created.
    ASSERT_TRUE(app.Start());
    HWND box = app.WaitForOwnedDialog("Burrowlens");
    ASSERT_NE(nullptr, box);

    ExpectLaidOutAs(kMainDialog, app.Dialog());

    // Two more boxes, then the program gives up for want of controls.
    ASSERT_TRUE(app.Answer(box, IDOK));
    ASSERT_TRUE(app.Answer(app.WaitForOwnedDialog("Burrowlens"), IDOK));
    ASSERT_TRUE(app.Answer(app.WaitForOwnedDialog("Burrowlens"), IDOK));
    ExpectExitCode(1);
}

TEST_F(LayoutTest, AboutBoxIsLaidOutAsItsTemplate)
{
    ASSERT_TRUE(StartWithOneDownload());
    app.Click(IDC_ABOUT);
    HWND about = app.WaitForOwnedDialog("About Burrowlens");
    ASSERT_NE(nullptr, about);

    ExpectLaidOutAs(kAboutBox, about);

    ASSERT_TRUE(app.Answer(about, IDOK));
    app.Click(IDC_EXIT);
    ExpectExitCode(1);
}

// Pixels as 0x00RRGGBB, rows from the top.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<DWORD> pixels;

    DWORD At(int x, int y) const
    {
        return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
    }
};

Picture ReadPicture(HDC source, int x, int y, int width, int height)
{
    Picture picture{width, height, std::vector<DWORD>(static_cast<size_t>(width * height))};
    HDC copy = CreateCompatibleDC(source);
    HBITMAP bitmap = CreateCompatibleBitmap(source, width, height);
    HGDIOBJ previous = SelectObject(copy, bitmap);
    BitBlt(copy, 0, 0, width, height, source, x, y, SRCCOPY);
    SelectObject(copy, previous);
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = width;
    format.bmiHeader.biHeight = -height;
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    GetDIBits(copy, bitmap, 0, static_cast<UINT>(height), picture.pixels.data(), &format,
              DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(copy);
    for (DWORD& pixel : picture.pixels)
        pixel &= 0xFFFFFF;
    return picture;
}

Picture BannerResource()
{
    Picture picture;
    HMODULE module = LoadProgramResources();
    auto banner = static_cast<HBITMAP>(
        LoadImageA(module, MAKEINTRESOURCEA(IDB_BANNER), IMAGE_BITMAP, 0, 0, 0));
    BITMAP size{};
    if (banner != nullptr && GetObjectA(banner, sizeof size, &size) != 0) {
        HDC screen = GetDC(nullptr);
        HDC canvas = CreateCompatibleDC(screen);
        HGDIOBJ previous = SelectObject(canvas, banner);
        picture = ReadPicture(canvas, 0, 0, size.bmWidth, size.bmHeight);
        SelectObject(canvas, previous);
        DeleteDC(canvas);
        ReleaseDC(nullptr, screen);
        DeleteObject(banner);
    }
    if (module != nullptr)
        FreeLibrary(module);
    return picture;
}

// What the screen shows inside the window's border.
Picture OnScreen(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    HDC screen = GetDC(nullptr);
    Picture picture = ReadPicture(screen, origin.x, origin.y, client.right, client.bottom);
    ReleaseDC(nullptr, screen);
    return picture;
}

// Whether the picture is shown unscaled with its centre on the area's centre,
// cut off where it is larger than the area. Halving an odd difference may
// round either way.
bool ShownCentred(const Picture& picture, const Picture& area)
{
    auto offsets = [](int areaSize, int pictureSize) {
        int difference = areaSize - pictureSize;
        return std::vector<int>{difference / 2, (difference + (difference < 0 ? -1 : 1)) / 2};
    };
    for (int dx : offsets(area.width, picture.width))
        for (int dy : offsets(area.height, picture.height)) {
            bool same = true;
            for (int y = std::max(0, dy); same && y < std::min(area.height, dy + picture.height);
                 ++y)
                for (int x = std::max(0, dx); same && x < std::min(area.width, dx + picture.width);
                     ++x)
                    same = area.At(x, y) == picture.At(x - dx, y - dy);
            if (same)
                return true;
        }
    return false;
}

TEST_F(LayoutTest, BannerShownAtItsOwnSizeInTheMiddleOfItsFrame)
{
    Picture banner = BannerResource();
    ASSERT_EQ(300, banner.width);
    ASSERT_EQ(80, banner.height);
    ASSERT_TRUE(StartWithOneDownload());

    // It may reach the screen a moment after the program has settled.
    Picture shown;
    bool centred = WaitUntil(
        [&] {
            shown = OnScreen(app.Item(IDC_BANNER));
            return ShownCentred(banner, shown);
        },
        2000);

    EXPECT_TRUE(centred) << "the " << shown.width << "x" << shown.height
                         << " picture area does not show the banner unscaled and centred";
    app.Click(IDC_EXIT);
    ExpectExitCode(1);
}

// Sets the DPI that programs started from now on take, as Windows' display
// settings do, and puts 96 back, so that no other test runs at this scale.
class ScaleForNewPrograms {
  public:
    explicit ScaleForNewPrograms(UINT dpi)
    {
        SetRegistryDword(HKEY_CURRENT_USER, "Control Panel\\Desktop", "LogPixels", dpi);
    }
    ~ScaleForNewPrograms()
    {
        SetRegistryDword(HKEY_CURRENT_USER, "Control Panel\\Desktop", "LogPixels",
                         USER_DEFAULT_SCREEN_DPI);
    }
};

std::vector<RECT> ControlRects(HWND dialog)
{
    std::vector<RECT> rects;
    for (HWND child : Children(dialog)) {
        Place p = PlaceInDialog(child);
        rects.push_back({p.left, p.top, p.left + p.width, p.top + p.height});
    }
    return rects;
}

// Every control inside the client area, and no two touching that lie apart
// when this process lays the template out at 96 DPI.
void ExpectFitsAndApart(const DialogTemplate& expected, HWND shown, Where where = Where::current())
{
    testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()),
                               std::string("dialog \"") + expected.caption + "\"");
    Replica replica(expected);
    std::vector<RECT> apart = ControlRects(replica.Window());
    std::vector<RECT> found = ControlRects(shown);
    ASSERT_EQ(apart.size(), found.size());
    RECT client{0, 0, ClientSize(shown).width, ClientSize(shown).height}, common;
    for (size_t i = 0; i < found.size(); ++i) {
        EXPECT_TRUE(UnionRect(&common, &client, &found[i]) && EqualRect(&common, &client))
            << "control " << i + 1 << " reaches " << found[i].right << "," << found[i].bottom;
        for (size_t j = i + 1; j < found.size(); ++j)
            EXPECT_FALSE(!IntersectRect(&common, &apart[i], &apart[j]) &&
                         IntersectRect(&common, &found[i], &found[j]))
                << "controls " << i + 1 << " and " << j + 1 << " overlap";
    }
}

// The first and last columns that show the title's white outline, the
// banner's only colour this light even where smoothing blends it: where they
// lie tells how large the banner is drawn, even where its frame cuts its
// edges off.
std::pair<int, int> WhiteColumns(const Picture& picture)
{
    std::pair<int, int> span{-1, -1};
    for (int x = 0; x < picture.width; ++x)
        for (int y = 0; y < picture.height; ++y)
            if ((picture.At(x, y) & 0xE0E0E0) == 0xE0E0E0) {
                span = {span.first < 0 ? x : span.first, x};
                break;
            }
    return span;
}

// The banner grows with its frame from what both are at 96 DPI, as this
// process lays the template out, and keeps to the frame's middle.
void ExpectBannerShare(HWND frame, Where where = Where::current())
{
    testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()), "banner");
    Replica replica(kMainDialog);
    Picture banner = BannerResource();
    auto [first, last] = WhiteColumns(banner);
    ASSERT_GT(last - first, 100);
    double frameAt96 = ClientSize(GetDlgItem(replica.Window(), IDC_BANNER)).width;
    std::pair<int, int> seen;
    double width = 0, middle = 0;
    bool right = WaitUntil(
        [&] {
            Picture shown = OnScreen(frame);
            seen = WhiteColumns(shown);
            double scale = shown.width / frameAt96;
            width = (last - first + 1) * scale;
            middle = shown.width / 2.0 + ((first + last) / 2.0 - banner.width / 2.0) * scale;
            return std::fabs(seen.second - seen.first + 1 - width) <= 3 &&
                   std::fabs((seen.first + seen.second) / 2.0 - middle) <= 2;
        },
        2000);
    EXPECT_TRUE(right) << "the title spans columns " << seen.first << " to " << seen.second
                       << "; at its share of the frame it would span " << width << " around "
                       << middle;
}

// Whether the screen shows the program's icon, its image of one size drawn
// at another, anywhere in the area. Only the pixels the icon covers fully
// count: the others take the colour behind them.
bool ShowsIcon(const RECT& area, int imageSize, int drawnSize)
{
    HMODULE module = LoadProgramResources();
    auto icon = static_cast<HICON>(
        LoadImageA(module, MAKEINTRESOURCEA(IDI_PROGRAM), IMAGE_ICON, imageSize, imageSize, 0));
    HDC screen = GetDC(nullptr);
    HDC canvas = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, drawnSize, drawnSize);
    HGDIOBJ previous = SelectObject(canvas, bitmap);
    RECT all{0, 0, drawnSize, drawnSize};
    Picture drawn[2];
    for (int brush : {BLACK_BRUSH, WHITE_BRUSH}) {
        FillRect(canvas, &all, static_cast<HBRUSH>(GetStockObject(brush)));
        DrawIconEx(canvas, 0, 0, icon, drawnSize, drawnSize, 0, nullptr, DI_NORMAL);
        drawn[brush == WHITE_BRUSH] = ReadPicture(canvas, 0, 0, drawnSize, drawnSize);
    }
    Picture shown =
        ReadPicture(screen, area.left, area.top, area.right - area.left, area.bottom - area.top);
    SelectObject(canvas, previous);
    DeleteObject(bitmap);
    DeleteDC(canvas);
    ReleaseDC(nullptr, screen);
    DestroyIcon(icon);
    FreeLibrary(module);
    for (int dy = 0; dy + drawnSize <= shown.height; ++dy)
        for (int dx = 0; dx + drawnSize <= shown.width; ++dx) {
            bool same = true;
            for (int y = 0; same && y < drawnSize; ++y)
                for (int x = 0; same && x < drawnSize; ++x)
                    same = drawn[0].At(x, y) != drawn[1].At(x, y) ||
                           shown.At(dx + x, dy + y) == drawn[0].At(x, y);
            if (same)
                return true;
        }
    return false;
}

// The caption's icon, in the window's upper left corner.
void ExpectCaptionIcon(HWND window, int imageSize, int drawnSize, Where where = Where::current())
{
    RECT frame;
    GetWindowRect(window, &frame);
    RECT corner{frame.left, frame.top, frame.left + 4 * drawnSize, frame.top + 3 * drawnSize};
    EXPECT_TRUE(WaitUntil([&] { return ShowsIcon(corner, imageSize, drawnSize); }, 2000))
        << "line " << where.line() << ": no caption icon of " << imageSize << " pixels drawn at "
        << drawnSize;
}

class DisplayScaleTest : public ProgramTest, public testing::WithParamInterface<UINT> {};

TEST_P(DisplayScaleTest, WindowsFitTheScaleWithArtMadeForIt)
{
    const UINT dpi = GetParam();
    ScaleForNewPrograms scale(dpi);
    ASSERT_TRUE(StartWithOneDownload());

    ExpectFitsAndApart(kMainDialog, app.Dialog());
    ExpectBannerShare(app.Item(IDC_BANNER));
    int smallIcon = GetSystemMetricsForDpi(SM_CXSMICON, dpi);
    ExpectCaptionIcon(app.Dialog(), smallIcon, smallIcon);
    app.Click(IDC_ABOUT);
    HWND about = app.WaitForOwnedDialog("About Burrowlens");
    ASSERT_NE(nullptr, about);
    ExpectFitsAndApart(kAboutBox, about);
    // The icon control takes the size of the icon it shows.
    EXPECT_EQ(GetSystemMetricsForDpi(SM_CXICON, dpi),
              PlaceInDialog(GetDlgItem(about, IDI_PROGRAM)).width);

    ASSERT_TRUE(app.Answer(about, IDOK));
    app.Click(IDC_EXIT);
    ExpectExitCode(1);
}

INSTANTIATE_TEST_SUITE_P(Dpi, DisplayScaleTest, testing::Values(96u, 120u, 144u, 192u),
                         [](const testing::TestParamInfo<UINT>& info) {
                             return "Dpi" + std::to_string(info.param);
                         });

// WM_DPICHANGED carries the rectangle Windows suggests, which has to lie in
// the program's own memory.
bool SendDpiChange(HWND window, UINT dpi, const RECT& suggested)
{
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, id);
    void* remote = VirtualAllocEx(process, nullptr, sizeof suggested, MEM_COMMIT, PAGE_READWRITE);
    DWORD_PTR result = 0;
    bool sent =
        remote != nullptr &&
        WriteProcessMemory(process, remote, &suggested, sizeof suggested, nullptr) &&
        SendMessageTimeoutA(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                            reinterpret_cast<LPARAM>(remote), SMTO_NORMAL, kWaitMs, &result) != 0;
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    return sent;
}

TEST_F(LayoutTest, MovingToA150PercentMonitorRedoesTheWindowForIt)
{
    ASSERT_TRUE(StartWithOneDownload());
    RECT before, after;
    GetWindowRect(app.Dialog(), &before);
    RECT suggested{before.left, before.top, before.left + (before.right - before.left) * 3 / 2,
                   before.top + (before.bottom - before.top) * 3 / 2};

    ASSERT_TRUE(SendDpiChange(app.Dialog(), 144, suggested));
    ASSERT_TRUE(app.Settle());

    GetWindowRect(app.Dialog(), &after);
    EXPECT_TRUE(EqualRect(&suggested, &after)) << after.right - after.left << " pixels wide";
    EXPECT_EQ(PlaceInDialog(app.Item(IDC_EXIT)).width,
              PlaceInDialog(GetDlgItem(Replica(kMainDialog).Window(), IDC_EXIT)).width * 3 / 2);
    ExpectFitsAndApart(kMainDialog, app.Dialog());
    ExpectBannerShare(app.Item(IDC_BANNER));
    // The window has not really moved: the system still draws its caption
    // for 96 DPI, with the image made for 144 made smaller.
    ExpectCaptionIcon(app.Dialog(), GetSystemMetricsForDpi(SM_CXSMICON, 144),
                      GetSystemMetricsForDpi(SM_CXSMICON, USER_DEFAULT_SCREEN_DPI));
    app.Click(IDC_EXIT);
    ExpectExitCode(1);
}

using KeyboardTest = ProgramTest;

TEST_F(KeyboardTest, TabGoesThroughTheListsAndTheButtonsAndRoundAgain)
{
    RegisterDownload("C:/Windows/occache/Chart.ocx");
    CreateRegistryKey(HKEY_CLASSES_ROOT, kTypeLib);
    ASSERT_TRUE(app.Start());
    // Delete is enabled by now, so it takes its turn.
    ExpectListShown({"C:/Windows/occache/Chart.ocx"});
    ASSERT_EQ(IDC_CONTROL_LIST, GetDlgCtrlID(app.Focus()));

    std::vector<int> visited;
    for (int press = 0; press < 6; ++press) {
        app.PressKey(app.Dialog(), VK_TAB);
        ASSERT_TRUE(app.Settle());
        visited.push_back(GetDlgCtrlID(app.Focus()));
    }

    EXPECT_EQ((std::vector<int>{IDC_FILE_INFO_LIST, IDC_DELETE, IDC_REFRESH, IDC_ABOUT, IDC_EXIT,
                                IDC_CONTROL_LIST}),
              visited);
    app.Click(IDC_EXIT);
    ExpectExitCode(1);
}

// Alt with the underlined letter of a label moves the focus to what the
// label names.
struct Mnemonic {
    char letter;
    int target;
};

void PrintTo(const Mnemonic& mnemonic, std::ostream* out)
{
    *out << "Alt+" << mnemonic.letter;
}

class MnemonicTest : public ProgramTest, public testing::WithParamInterface<Mnemonic> {};

TEST_P(MnemonicTest, MovesTheFocusToTheListItLabels)
{
    ASSERT_TRUE(StartWithOneDownload());
    // From a button, so that the focus has to move to either list.
    PostMessageA(app.Dialog(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(app.Item(IDC_EXIT)), TRUE);
    ASSERT_TRUE(app.Settle());
    ASSERT_EQ(IDC_EXIT, GetDlgCtrlID(app.Focus()));

    app.PressAltKey(app.Dialog(), GetParam().letter);
    ASSERT_TRUE(app.Settle());

    EXPECT_EQ(GetParam().target, GetDlgCtrlID(app.Focus()));
    app.Click(IDC_EXIT);
    ExpectExitCode(1);
}

const Mnemonic kMnemonics[] = {
    {'L', IDC_CONTROL_LIST},
    {'I', IDC_FILE_INFO_LIST},
};

INSTANTIATE_TEST_SUITE_P(Keyboard, MnemonicTest, testing::ValuesIn(kMnemonics),
                         [](const testing::TestParamInfo<Mnemonic>& info) {
                             return std::string("Alt") + info.param.letter;
                         });

} // namespace
} // namespace e2e
