#include "app/control_ids.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

typedef std::vector<std::string> Entries;

// The lists of the program's own main dialog: IDC_CONTROL_LIST is sorted,
// IDC_FILE_INFO_LIST is not.
static LRESULT Send(HWND dialog, UINT message, WPARAM wParam = 0, LPARAM lParam = 0,
                    int id = IDC_CONTROL_LIST)
{
    return SendDlgItemMessageW(dialog, id, message, wParam, lParam);
}

static LRESULT AddWide(HWND dialog, const WideText& text, int id = IDC_CONTROL_LIST)
{
    return Send(dialog, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()), id);
}

static void Add(HWND dialog, const Entries& entries, int id = IDC_CONTROL_LIST)
{
    for (const std::string& entry : entries)
        AddWide(dialog, Wide(entry), id);
}

static Entries SortedByList(const Entries& entries)
{
    Entries sorted;
    WithMainDialog([&](HWND dialog) {
        Add(dialog, entries);
        sorted = ListBoxItems(dialog, IDC_CONTROL_LIST);
    });
    return sorted;
}

// The character a Windows-1252 byte stands for; the five bytes the code
// page leaves out stand for the C1 controls of the same value, as in Wine.
static WideText FromWindows1252(unsigned char byte)
{
    static const WCHAR high[32] = {
        0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x8D,   0x017D, 0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178,
    };
    return WideText(1, byte >= 0x80 && byte < 0xA0 ? high[byte - 0x80] : static_cast<WCHAR>(byte));
}

static Entries Middles(const std::string& bytes)
{
    Entries entries;
    for (char c : bytes) {
        std::string entry = "a";
        entry += Utf8(FromWindows1252(static_cast<unsigned char>(c)));
        entries.push_back(entry + "b");
    }
    return entries;
}

// A word sort that ignores case: "'" and "-" only break ties, and of two
// equal entries the one added later comes first.
TEST(SortedListTest, OrdersLikeWinesListBox)
{
    Entries added = {"coop", "co-op", "co-oq", "coo", "co'op", "cop",  "c-oz",    "a b",   "ab",
                     "a-b",  "a_b",   "aé",    "aÉ",  "az",    "a€",   "a1",      "a10",   "a2",
                     "A",    "a",     "B",     "b",   "c:\\x", "c:/x", "c:\\x y", "c:\\xa"};
    Entries expected = {"a",     "A",     "a b",   "a_b",     "a€",     "a1",  "a10",
                        "a2",    "ab",    "a-b",   "aÉ",      "aé",     "az",  "b",
                        "B",     "c:/x",  "c:\\x", "c:\\x y", "c:\\xa", "coo", "coop",
                        "co'op", "co-op", "co-oq", "cop",     "c-oz"};

    EXPECT_EQ(expected, SortedByList(added));
}

TEST(SortedListTest, OrdersPathsAsWineDoes)
{
    Entries expected = {"",
                        "C:/Windows/Downloaded Program Files/a.ocx",
                        "C:/WINDOWS/OCCACHE/y.ocx",
                        "c:\\windows\\occache\\Z.ocx",
                        "c:\\windows\\system32\\_u.dll",
                        "c:\\windows\\system32\\b.dll"};

    EXPECT_EQ(expected, SortedByList(Entries(expected.rbegin(), expected.rend())));
}

// Each "a?b" added in the order of the Windows-1252 bytes, whose characters
// the list orders as Wine does. Control characters and the soft hyphen are
// left out: Wine does not order them consistently.
TEST(SortedListTest, OrdersEveryWindows1252CharacterLikeWine)
{
    std::string bytes;
    for (int c = 0x20; c < 0x100; ++c) {
        if (c != 0x7f && c != 0xad)
            bytes += static_cast<char>(c);
    }
    const char* order = " \xa0!\"#$%&()*,./:;?@[\\]\x88^_`{|}~\xa1\xa6\xa8\xaf\xb4\xb8\xbf\x98\x91"
                        "\x92\x82\x93\x94\x84\x8b\x9b\xa2\xa3\xa4\xa5\x80+<=>\xb1\xab\xbb\xd7\xf7"
                        "\xa7\xa9\xac\xae\xb0\xb5\xb6\xb7\x85\x86\x87\x95\x89\x81\x8d\x8f\x90\x9d"
                        "0\xbc\xbd\xbe"
                        "1\xb9"
                        "2\xb2"
                        "3\xb3"
                        "456789aA\xaa\xe1\xc1\xe0\xc0\xe2"
                        "\xc2\xe4\xc4\xe3\xc3\xe5\xc5\xe6\xc6'-\x96\x97"
                        "bBc"
                        "C\xe7\xc7"
                        "dD\xf0\xd0"
                        "eE\xe9\xc9\xe8\xc8\xea\xca\xeb\xcb"
                        "fF\x83gGhHiI"
                        "\xed\xcd\xec\xcc\xee\xce\xef\xcfjJkKlLmMnN\xf1\xd1oO\xba\xf3\xd3\xf2\xd2"
                        "\xf4\xd4\xf6\xd6\xf5\xd5\xf8\xd8\x9c\x8cpPqQrRsS\x9a\x8a\xdftT\xfe\xde"
                        "\x99uU\xfa\xda\xf9\xd9\xfb\xdb\xfc\xdcvVwWxXyY\xfd\xdd\xff\x9fzZ\x9e\x8e";

    EXPECT_EQ(Middles(order), SortedByList(Middles(bytes)));
}

TEST(ListBoxTest, AddAnswersTheIndexInSortedAndUnsortedLists)
{
    WithMainDialog([](HWND dialog) {
        const struct {
            int id;
            const char* text;
            LRESULT index;
        } cases[] = {
            {IDC_CONTROL_LIST, "m", 0},   {IDC_CONTROL_LIST, "z", 1},   {IDC_CONTROL_LIST, "a", 0},
            {IDC_FILE_INFO_LIST, "m", 0}, {IDC_FILE_INFO_LIST, "a", 1},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << c.id << " " << c.text);
            EXPECT_EQ(c.index, AddWide(dialog, Wide(c.text), c.id));
        }
        EXPECT_EQ((Entries{"a", "m", "z"}), ListBoxItems(dialog, IDC_CONTROL_LIST));
        EXPECT_EQ((Entries{"m", "a"}), ListBoxItems(dialog, IDC_FILE_INFO_LIST));
    });
}

TEST(ListBoxTest, SingleSelectionRules)
{
    WithMainDialog([](HWND dialog) {
        Add(dialog, {"a", "b", "c"});
        EXPECT_EQ(LB_ERR, Send(dialog, LB_GETSELCOUNT));
        EXPECT_EQ(LB_ERR, Send(dialog, LB_GETCURSEL));

        EXPECT_EQ(1, Send(dialog, LB_SETCURSEL, 1));
        EXPECT_EQ(LB_ERR, Send(dialog, LB_SETCURSEL, 3));
        EXPECT_EQ(LB_ERR, Send(dialog, LB_SETCURSEL, static_cast<WPARAM>(-5)));
        EXPECT_EQ(1, Send(dialog, LB_GETCURSEL));

        EXPECT_EQ(LB_ERR, Send(dialog, LB_SETCURSEL, static_cast<WPARAM>(-1)));
        EXPECT_EQ(LB_ERR, Send(dialog, LB_GETCURSEL));
    });
}

TEST(ListBoxTest, AddingAndDeletingKeepTheSelectionOnItsEntry)
{
    const struct {
        int selected;
        WPARAM deleted;
        LRESULT answer;
        int selectedAfter;
    } cases[] = {
        {1, 1, 2, -1},
        {2, 0, 2, 1},
        {0, 2, 2, 0},
        {1, 3, LB_ERR, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "selected " << c.selected << ", deleting " << c.deleted);
        WithMainDialog([&](HWND dialog) {
            Add(dialog, {"b", "c", "d"});
            Send(dialog, LB_SETCURSEL, static_cast<WPARAM>(c.selected));

            EXPECT_EQ(c.answer, Send(dialog, LB_DELETESTRING, c.deleted));

            EXPECT_EQ(c.selectedAfter, Send(dialog, LB_GETCURSEL));
        });
    }
    WithMainDialog([](HWND dialog) {
        Add(dialog, {"b", "c"});
        Send(dialog, LB_SETCURSEL, 1);

        Add(dialog, {"a"});

        EXPECT_EQ(2, Send(dialog, LB_GETCURSEL));
    });
}

TEST(ListBoxTest, BadIndexAnswersErrorAndLeavesTheBuffer)
{
    WithMainDialog([](HWND dialog) {
        Add(dialog, {"only"});
        WCHAR text[8] = TEXT("kept");

        EXPECT_EQ(LB_ERR, Send(dialog, LB_GETTEXT, 1, reinterpret_cast<LPARAM>(text)));
        EXPECT_EQ(LB_ERR, Send(dialog, LB_GETTEXTLEN, 1));
        EXPECT_EQ(LB_ERR, Send(dialog, LB_GETTEXTLEN, static_cast<WPARAM>(-1)));

        EXPECT_EQ("kept", Utf8(text));
        EXPECT_EQ(4, Send(dialog, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(text)));
        EXPECT_EQ("only", Utf8(text));
    });
}

// Entries are UTF-16 as given: unpaired surrogates, characters beyond the
// BMP and noncharacters come back unit for unit, and lengths count units.
TEST(ListBoxTest, EntriesKeepEveryCodeUnit)
{
    const WideText entries[] = {
        WideText{'a', 0xD800, 'b'},         WideText{0xDC00, 'x'},
        WideText{'x', 0xDBFF, 0xDFFF, 'y'}, WideText{0xFFFF, 0xE000, 0xF8FF},
        Wide("Ωmega Жук ｃ.ocx"),
    };
    WithMainDialog([&](HWND dialog) {
        for (const WideText& entry : entries)
            AddWide(dialog, entry, IDC_FILE_INFO_LIST);

        for (size_t i = 0; i < sizeof entries / sizeof entries[0]; ++i) {
            SCOPED_TRACE(i);
            WCHAR text[32];
            for (WCHAR& c : text)
                c = '#';
            LRESULT length = static_cast<LRESULT>(entries[i].size());

            EXPECT_EQ(length, Send(dialog, LB_GETTEXTLEN, i, 0, IDC_FILE_INFO_LIST));
            EXPECT_EQ(length, Send(dialog, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text),
                                   IDC_FILE_INFO_LIST));

            EXPECT_EQ(entries[i] + WCHAR(0) + WCHAR('#'), WideText(text, entries[i].size() + 2));
        }
    });
}

// Through the ANSI messages an entry reads in the Western code page, and what
// it lacks ('Ж') as '?'.
TEST(ListBoxTest, AnsiMessagesConvertThroughTheCodePage)
{
    WithMainDialog([](HWND dialog) {
        Add(dialog, {"Ж1", "café"}, IDC_FILE_INFO_LIST);
        SendDlgItemMessageA(dialog, IDC_FILE_INFO_LIST, LB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>("d\xe9j\xe0"));
        const struct {
            const char* text;
            LRESULT length;
        } cases[] = {{"?1", 2}, {"caf\xe9", 4}, {"d\xe9j\xe0", 4}};
        for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
            SCOPED_TRACE(i);
            char text[8];

            EXPECT_EQ(cases[i].length, SendDlgItemMessageA(dialog, IDC_FILE_INFO_LIST, LB_GETTEXT,
                                                           i, reinterpret_cast<LPARAM>(text)));

            EXPECT_STREQ(cases[i].text, text);
        }
        EXPECT_EQ((Entries{"Ж1", "café", "déjà"}), ListBoxItems(dialog, IDC_FILE_INFO_LIST));
    });
}

TEST(ListBoxTest, ResetEmptiesTheListAndClearsTheSelection)
{
    WithMainDialog([](HWND dialog) {
        Add(dialog, {"a", "b"});
        Send(dialog, LB_SETCURSEL, 1);

        Send(dialog, LB_RESETCONTENT);

        EXPECT_EQ(0, Send(dialog, LB_GETCOUNT));
        EXPECT_EQ(LB_ERR, Send(dialog, LB_GETCURSEL));
    });
}

static LRESULT ItemRect(HWND dialog, int index, RECT* rect)
{
    return Send(dialog, LB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(rect));
}

TEST(ListBoxItemRectTest, EmptyListAnswersForTheFirstItemOnly)
{
    WithMainDialog([](HWND dialog) {
        RECT client, rect;
        GetClientRect(GetDlgItem(dialog, IDC_CONTROL_LIST), &client);

        EXPECT_EQ(1, ItemRect(dialog, 0, &rect));
        LONG height = rect.bottom - rect.top;
        EXPECT_EQ(0, rect.top);
        EXPECT_EQ(client.right, rect.right);
        EXPECT_EQ(0, ItemRect(dialog, -1, &rect));
        EXPECT_EQ(-height, rect.top);
        EXPECT_EQ(0, rect.bottom);
        EXPECT_EQ(LB_ERR, ItemRect(dialog, 1, &rect));
    });
}

TEST(ListBoxItemRectTest, ItemsStackAcrossTheClientWidthWhateverTheExtent)
{
    WithMainDialog([](HWND dialog) {
        Add(dialog, {"a", "b", "c"});
        RECT client, first, third;
        GetClientRect(GetDlgItem(dialog, IDC_CONTROL_LIST), &client);
        ASSERT_EQ(1, ItemRect(dialog, 0, &first));

        Send(dialog, LB_SETHORIZONTALEXTENT, 1000);

        EXPECT_EQ(1000, Send(dialog, LB_GETHORIZONTALEXTENT));
        EXPECT_EQ(1, ItemRect(dialog, 2, &third));
        EXPECT_EQ(0, third.left);
        EXPECT_EQ(client.right, third.right);
        EXPECT_EQ(2 * (first.bottom - first.top), third.top);
        EXPECT_EQ(LB_ERR, ItemRect(dialog, 3, &third));
    });
}

// Once the entries overflow, the vertical scroll bar narrows the items.
TEST(ListBoxItemRectTest, OverflowNarrowsItemsToTheNewClientWidth)
{
    WithMainDialog([](HWND dialog) {
        HWND list = GetDlgItem(dialog, IDC_CONTROL_LIST);
        RECT before, after, rect;
        GetClientRect(list, &before);
        ASSERT_EQ(1, ItemRect(dialog, 0, &rect));
        int visible = static_cast<int>(before.bottom / (rect.bottom - rect.top));
        for (int i = 0; i <= visible; ++i)
            Add(dialog, {std::string(1, static_cast<char>('a' + i))});

        GetClientRect(list, &after);

        EXPECT_LT(after.right, before.right);
        EXPECT_EQ(WS_VSCROLL, GetWindowLongW(list, GWL_STYLE) & WS_VSCROLL);
        EXPECT_EQ(1, ItemRect(dialog, 0, &rect));
        EXPECT_EQ(after.right, rect.right);
        EXPECT_EQ(0, ItemRect(dialog, visible, &rect));
    });
}

// With drawing off the list leaves its scroll bars alone: the items keep the
// width they had, either way, until drawing is back on.
TEST(ListBoxItemRectTest, WithDrawingOffTheWidthWaitsForRedraw)
{
    WithMainDialog([](HWND dialog) {
        HWND list = GetDlgItem(dialog, IDC_CONTROL_LIST);
        RECT wide, rect;
        GetClientRect(list, &wide);
        ASSERT_EQ(1, ItemRect(dialog, 0, &rect));
        int visible = static_cast<int>(wide.bottom / (rect.bottom - rect.top));

        Send(dialog, WM_SETREDRAW, FALSE);
        for (int i = 0; i <= visible; ++i)
            Add(dialog, {std::string(1, static_cast<char>('a' + i))});
        ItemRect(dialog, visible, &rect);
        EXPECT_EQ(wide.right, rect.right);
        Send(dialog, WM_SETREDRAW, TRUE);
        ItemRect(dialog, visible, &rect);
        EXPECT_GT(wide.right, rect.right);
        LONG narrow = rect.right;

        Send(dialog, WM_SETREDRAW, FALSE);
        Send(dialog, LB_RESETCONTENT);
        Add(dialog, {"a"});
        EXPECT_EQ(1, ItemRect(dialog, 0, &rect));
        EXPECT_EQ(narrow, rect.right);
        Send(dialog, WM_SETREDRAW, TRUE);
        EXPECT_EQ(1, ItemRect(dialog, 0, &rect));
        EXPECT_EQ(wide.right, rect.right);
    });
}
