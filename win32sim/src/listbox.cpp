#include "internal.h"
#include "win32sim.h"

#include <algorithm>
#include <array>
#include <unordered_map>

namespace {

int g_failingAdds = 0;

// One byte of Windows-1252 text as CompareStringA(NORM_IGNORECASE) weighs it
// under Wine: up to two primary weights (letters like "æ" count as two), a
// diacritic weight, or, for characters that a word sort passes over at the
// first level, only a special weight.
struct Collation {
    int primary[2];
    int diacritic;
    int special;
};

using CollationTable = std::array<Collation, 256>;

CollationTable BuildCollation()
{
    CollationTable table{};
    int next = 1;
    // Symbols in the order Wine sorts them; "ˆ" weighs the same as "^".
    const char* symbols = " \xa0\t\n\v\f\r!\"#$%&()*,./:;?@[\\]^_`{|}~\xa1\xa6\xa8\xaf\xb4\xb8\xbf"
                          "\x98\x91\x92\x82\x93\x94\x84\x8b\x9b\xa2\xa3\xa4\xa5\x80+<=>\xb1\xab"
                          "\xbb\xd7\xf7\xa7\xa9\xac\xae\xb0\xb5\xb6\xb7\x85\x86\x87\x95\x89\x81"
                          "\x8d\x8f\x90\x9d";
    for (const char* p = symbols; *p; ++p)
        table[static_cast<unsigned char>(*p)].primary[0] = next++;
    table[0x88] = table['^'];
    for (const char* p = "0\xbc\xbd\xbe"
                         "123456789";
         *p; ++p)
        table[static_cast<unsigned char>(*p)].primary[0] = next++;
    table[0xb9] = Collation{{table['1'].primary[0], 0}, 1, 0};
    table[0xb2] = Collation{{table['2'].primary[0], 0}, 1, 0};
    table[0xb3] = Collation{{table['3'].primary[0], 0}, 1, 0};
    for (int c = 'a'; c <= 'z'; ++c) {
        table[c].primary[0] = next++;
        table[c - 'a' + 'A'] = table[c];
    }

    // Accented letters: the base letter, then the accent in Wine's order
    // (acute, grave, circumflex, diaeresis, tilde, ring).
    struct Accented {
        unsigned char lower, upper;
        char base;
        int diacritic;
    };
    static const Accented accented[] = {
        {0xaa, 0xaa, 'a', 1},  {0xe1, 0xc1, 'a', 2},  {0xe0, 0xc0, 'a', 3},  {0xe2, 0xc2, 'a', 4},
        {0xe4, 0xc4, 'a', 5},  {0xe3, 0xc3, 'a', 6},  {0xe5, 0xc5, 'a', 7},  {0xe7, 0xc7, 'c', 9},
        {0xf0, 0xd0, 'd', 10}, {0xe9, 0xc9, 'e', 2},  {0xe8, 0xc8, 'e', 3},  {0xea, 0xca, 'e', 4},
        {0xeb, 0xcb, 'e', 5},  {0x83, 0x83, 'f', 12}, {0xed, 0xcd, 'i', 2},  {0xec, 0xcc, 'i', 3},
        {0xee, 0xce, 'i', 4},  {0xef, 0xcf, 'i', 5},  {0xf1, 0xd1, 'n', 6},  {0xba, 0xba, 'o', 1},
        {0xf3, 0xd3, 'o', 2},  {0xf2, 0xd2, 'o', 3},  {0xf4, 0xd4, 'o', 4},  {0xf6, 0xd6, 'o', 5},
        {0xf5, 0xd5, 'o', 6},  {0xf8, 0xd8, 'o', 8},  {0x9a, 0x8a, 's', 11}, {0xfa, 0xda, 'u', 2},
        {0xf9, 0xd9, 'u', 3},  {0xfb, 0xdb, 'u', 4},  {0xfc, 0xdc, 'u', 5},  {0xfd, 0xdd, 'y', 2},
        {0xff, 0x9f, 'y', 5},  {0x9e, 0x8e, 'z', 11},
    };
    for (const Accented& a : accented) {
        table[a.lower] =
            Collation{{table[static_cast<unsigned char>(a.base)].primary[0], 0}, a.diacritic, 0};
        table[a.upper] = table[a.lower];
    }
    struct Expansion {
        unsigned char lower, upper;
        char first, second;
    };
    static const Expansion expansions[] = {
        {0xe6, 0xc6, 'a', 'e'}, {0x9c, 0x8c, 'o', 'e'}, {0xdf, 0xdf, 's', 's'},
        {0xfe, 0xde, 't', 'h'}, {0x99, 0x99, 't', 'm'},
    };
    for (const Expansion& e : expansions) {
        table[e.lower] = Collation{{table[static_cast<unsigned char>(e.first)].primary[0],
                                    table[static_cast<unsigned char>(e.second)].primary[0]},
                                   0,
                                   0};
        table[e.upper] = table[e.lower];
    }

    // Passed over at the first level. Wine's order among the control
    // characters and the soft hyphen is not consistent; they are not
    // modelled beyond this.
    for (int c = 1; c < 0x20; ++c) {
        if (!table[c].primary[0])
            table[c].special = 1;
    }
    table[0x7f].special = 1;
    table['\''].special = 2;
    table['-'].special = 3;
    table[0x96].special = 4;
    table[0x97].special = 5;
    table[0xad].special = 6;
    return table;
}

struct SortKey {
    std::vector<int> primary;
    std::vector<int> diacritic;
    std::vector<std::pair<int, int>> special; // position, weight
};

// The Windows-1252 byte of each character that the code page has, as the
// ANSI functions convert it.
std::unordered_map<WCHAR, unsigned char> BuildAnsiBytes()
{
    std::unordered_map<WCHAR, unsigned char> bytes;
    for (int b = 1; b < 0x100; ++b) {
        const char text[2] = {static_cast<char>(b), '\0'};
        bytes[WideFromAnsi(text)[0]] = static_cast<unsigned char>(b);
    }
    return bytes;
}

// An approximation: Wine weighs characters outside Windows-1252 by its own
// Unicode tables, which are not modelled; here they sort after every
// Windows-1252 character by code unit, ignoring case as UpcaseChar folds it.
constexpr int kBeyondAnsiWeight = 0x10000;

Collation CollationOf(WCHAR unit)
{
    static const CollationTable table = BuildCollation();
    static const std::unordered_map<WCHAR, unsigned char> ansiBytes = BuildAnsiBytes();
    if (unit < 0x80)
        return table[unit];
    auto found = ansiBytes.find(unit);
    if (found != ansiBytes.end())
        return table[found->second];
    return Collation{{kBeyondAnsiWeight + UpcaseChar(unit), 0}, 0, 0};
}

SortKey KeyOf(const std::u16string& text)
{
    SortKey key;
    for (size_t i = 0; i < text.size(); ++i) {
        Collation c = CollationOf(text[i]);
        if (c.special) {
            key.special.emplace_back(static_cast<int>(i), c.special);
            continue;
        }
        for (int j = 0; j < 2 && c.primary[j]; ++j) {
            key.primary.push_back(c.primary[j]);
            key.diacritic.push_back(j == 0 ? c.diacritic : 0);
        }
    }
    return key;
}

template <typename T> int Compare(const std::vector<T>& a, const std::vector<T>& b)
{
    if (a == b)
        return 0;
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end()) ? -1 : 1;
}

// Measured: a character passed over earlier in the string weighs more, "'"
// less than "-", and more of them more.
int CompareSpecial(const std::vector<std::pair<int, int>>& a,
                   const std::vector<std::pair<int, int>>& b)
{
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (a[i].first != b[i].first)
            return a[i].first < b[i].first ? 1 : -1;
        if (a[i].second != b[i].second)
            return a[i].second < b[i].second ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

bool IsValidIndex(HWND list, WPARAM index)
{
    return static_cast<int>(index) >= 0 && static_cast<size_t>(index) < list->items.size();
}

// Wine's binary search for the place of a new entry in a sorted list, over
// an inclusive range of entries. On an equal entry the new one goes in front
// of it.
size_t SortedPosition(HWND list, const std::u16string& text)
{
    size_t low = 0, high = list->items.size();
    while (low != high) {
        size_t middle = low + (high - 1 - low) / 2;
        int order = CompareListText(list->items[middle], text);
        if (order == 0)
            return middle;
        if (order > 0)
            high = middle;
        else
            low = middle + 1;
    }
    return high;
}

LRESULT Insert(HWND list, size_t index, const std::u16string& text)
{
    list->items.insert(list->items.begin() + static_cast<std::ptrdiff_t>(index), text);
    list->itemData.insert(list->itemData.begin() + static_cast<std::ptrdiff_t>(index), 0);
    if (list->selected >= static_cast<int>(index))
        ++list->selected;
    return static_cast<LRESULT>(index);
}

// An item fills the client area's width whatever the horizontal extent; the
// list never scrolls in the stand-in, so item 0 is always at the top.
LRESULT ItemRect(HWND list, int index, RECT* rect)
{
    if (index != 0 && index >= static_cast<int>(list->items.size())) {
        *rect = RECT{};
        return LB_ERR;
    }
    RECT client = ListClientRect(list);
    rect->left = 0;
    rect->right = client.right;
    rect->top = index * kListItemHeight;
    rect->bottom = rect->top + kListItemHeight;
    return rect->top < client.bottom && rect->bottom > 0;
}

} // namespace

int CompareListText(const std::u16string& a, const std::u16string& b)
{
    SortKey left = KeyOf(a), right = KeyOf(b);
    if (int order = Compare(left.primary, right.primary))
        return order;
    if (int order = Compare(left.diacritic, right.diacritic))
        return order;
    return CompareSpecial(left.special, right.special);
}

namespace {

RECT FramedRect(HWND list)
{
    LONG frame = list->clientEdge ? 4 : 0;
    return RECT{0, 0, list->rect.right - list->rect.left - frame,
                list->rect.bottom - list->rect.top - frame};
}

// The template's WS_VSCROLL only allows the bar; it shows, and the style
// says so, once the entries no longer fit. The horizontal bar is not
// modelled.
bool ShowsVerticalBar(HWND list)
{
    if (list->redrawOff)
        return list->frozenVerticalBar;
    LONG needed = static_cast<LONG>(list->items.size()) * kListItemHeight;
    return (list->style & WS_VSCROLL) && needed > FramedRect(list).bottom;
}

} // namespace

RECT ListClientRect(HWND list)
{
    RECT client = FramedRect(list);
    if (ShowsVerticalBar(list))
        client.right -= kScrollBarWidth;
    return client;
}

DWORD ListStyle(HWND list)
{
    return (list->style & ~static_cast<DWORD>(WS_VSCROLL | WS_HSCROLL)) |
           (ShowsVerticalBar(list) ? WS_VSCROLL : 0);
}

// Single-selection list boxes only: the program's templates have no other.
LRESULT ListBoxMessage(HWND list, UINT message, WPARAM wParam, LPARAM lParam)
{
    std::u16string text;
    if (message == LB_ADDSTRING || message == LB_INSERTSTRING)
        text = WideOf(reinterpret_cast<LPCWSTR>(lParam));
    switch (message) {
    case WM_SETREDRAW:
        RecordRedrawEvent(list, wParam ? "WM_SETREDRAW 1" : "WM_SETREDRAW 0");
        if (!wParam && !list->redrawOff)
            list->frozenVerticalBar = ShowsVerticalBar(list);
        list->redrawOff = !wParam;
        return 0;
    case LB_ADDSTRING:
        RecordRedrawEvent(list, "LB_ADDSTRING");
        if (g_failingAdds > 0) {
            --g_failingAdds;
            return LB_ERRSPACE;
        }
        return Insert(
            list, (list->style & LBS_SORT) ? SortedPosition(list, text) : list->items.size(), text);
    case LB_INSERTSTRING:
        if (static_cast<int>(wParam) == -1)
            return Insert(list, list->items.size(), text);
        if (static_cast<int>(wParam) < 0 || wParam > list->items.size())
            return LB_ERR;
        return Insert(list, wParam, text);
    case LB_DELETESTRING:
        if (!IsValidIndex(list, wParam))
            return LB_ERR;
        list->items.erase(list->items.begin() + static_cast<std::ptrdiff_t>(wParam));
        list->itemData.erase(list->itemData.begin() + static_cast<std::ptrdiff_t>(wParam));
        if (list->selected == static_cast<int>(wParam))
            list->selected = -1;
        else if (list->selected > static_cast<int>(wParam))
            --list->selected;
        return static_cast<LRESULT>(list->items.size());
    case LB_RESETCONTENT:
        RecordRedrawEvent(list, "LB_RESETCONTENT");
        list->items.clear();
        list->itemData.clear();
        list->selected = -1;
        return 0;
    case LB_SETCURSEL:
        if (static_cast<int>(wParam) == -1) {
            list->selected = -1;
            return LB_ERR;
        }
        if (!IsValidIndex(list, wParam))
            return LB_ERR;
        list->selected = static_cast<int>(wParam);
        return list->selected;
    case LB_GETCURSEL:
        return list->selected;
    case LB_GETTEXT:
        if (!IsValidIndex(list, wParam))
            return LB_ERR;
        std::copy_n(list->items[wParam].c_str(), list->items[wParam].size() + 1,
                    reinterpret_cast<LPWSTR>(lParam));
        return static_cast<LRESULT>(list->items[wParam].size());
    case LB_GETTEXTLEN:
        if (!IsValidIndex(list, wParam))
            return LB_ERR;
        return static_cast<LRESULT>(list->items[wParam].size());
    case LB_GETCOUNT:
        return static_cast<LRESULT>(list->items.size());
    case LB_GETSELCOUNT:
        return LB_ERR;
    case LB_SETHORIZONTALEXTENT:
        list->horizontalExtent = static_cast<int>(wParam);
        return 0;
    case LB_GETHORIZONTALEXTENT:
        return list->horizontalExtent;
    case LB_GETITEMRECT:
        return ItemRect(list, static_cast<int>(wParam), reinterpret_cast<RECT*>(lParam));
    case LB_SETITEMDATA:
        if (!IsValidIndex(list, wParam))
            return LB_ERR;
        list->itemData[wParam] = lParam;
        return TRUE;
    case LB_GETITEMDATA:
        return IsValidIndex(list, wParam) ? list->itemData[wParam] : LB_ERR;
    default:
        return 0;
    }
}

void SimFailListAdds(int count)
{
    g_failingAdds = count;
}

void ResetListBoxes()
{
    g_failingAdds = 0;
}

int WINAPI CompareStringW(LCID, DWORD flags, LPCWSTR first, int firstLength, LPCWSTR second,
                          int secondLength)
{
    if (first == nullptr || second == nullptr || flags != NORM_IGNORECASE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::u16string a = firstLength < 0 ? WideOf(first) : std::u16string(first, firstLength);
    std::u16string b = secondLength < 0 ? WideOf(second) : std::u16string(second, secondLength);
    int order = CompareListText(a, b);
    return order < 0 ? CSTR_LESS_THAN : order == 0 ? CSTR_EQUAL : CSTR_GREATER_THAN;
}
