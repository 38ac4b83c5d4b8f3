#include "base/text.h"
#include "inventory/inventory.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>

// Text made of code units that no UTF-8 literal can give: lone surrogates.
static const WCHAR kHighSurrogate[] = {0xD801, 0};
static const WCHAR kLowSurrogate[] = {0xDC00, 0};
static const WCHAR kReversedPair[] = {0xDC00, 0xD801, 0};

TEST(TextRules, LowerCaseAsciiFoldsOnlyAToZ)
{
    struct Case {
        const char* before;
        const char* after;
    } cases[] = {
        {"C:\\WinDows\\OCCACHE\\ÉTÉ.OCX [@`{]", "c:\\windows\\occache\\ÉtÉ.ocx [@`{]"},
        {"C:\\Program Files\\ΩMEGA\\Omega.dll", "c:\\program files\\Ωmega\\omega.dll"},
        {"ЖУК Ж", "ЖУК Ж"},
        // Fullwidth A, Kelvin sign, capital I with dot, long s: letters that
        // a Unicode case mapping would turn into or out of ASCII.
        {"\uFF21\u212A\u0130\u017F", "\uFF21\u212A\u0130\u017F"},
        // A supplementary capital (Deseret) has a lower-case form of its own.
        {"\U00010400X", "\U00010400x"},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before);
        WCHAR text[MAX_PATH];
        CopyText(text, Wide(c.before).c_str());
        LowerCaseAscii(text);
        EXPECT_EQ(Wide(c.after), WideText(text));
    }

    WCHAR surrogates[8];
    CopyText(surrogates, kReversedPair);
    AppendText(surrogates, kHighSurrogate);
    LowerCaseAscii(surrogates);
    EXPECT_EQ(WideText(kReversedPair) + kHighSurrogate, WideText(surrogates));
}

TEST(TextRules, EqualityIgnoresOnlyAsciiCase)
{
    struct Case {
        const char* first;
        const char* second;
        bool equal;
    } cases[] = {
        {"C:\\X.OCX", "c:\\x.ocx", true},
        {"c:\\x.ocx", "c:/x.ocx", false},
        {"É", "É", true},
        {"É", "é", false},
        {"abc", "abcd", false},
        {"abcd", "abc", false},
        {"", "", true},
        {"@", "`", false},
        {"[", "{", false},
        {"C:\\ΩMEGA", "c:\\Ωmega", true},
        {"Ω", "ω", false},
        {"Ж", "ж", false},
        {"\uFF21", "\uFF41", false},
        {"\uFF21", "A", false},
        {"\u212A", "k", false},
        {"\u017F", "S", false},
        {"\U00010400", "\U00010428", false},
        {"\U00010400", "\U00010400", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.first) + " / " + c.second);
        EXPECT_EQ(c.equal, EqualsIgnoreCase(Wide(c.first).c_str(), Wide(c.second).c_str()));
    }
    EXPECT_TRUE(EqualsIgnoreCase(kHighSurrogate, kHighSurrogate));
    EXPECT_FALSE(EqualsIgnoreCase(kHighSurrogate, kLowSurrogate));
}

TEST(TextRules, SubstringSearchIsCaseSensitive)
{
    struct Case {
        const char* text;
        const char* pattern;
        bool found;
    } cases[] = {
        {"c:/windows/occache/a.ocx", "/occache/", true},
        {"c:/windows/OCCACHE/a.ocx", "/occache/", false},
        {"c:/windows/occache", "/occache/", false},
        {"anything", "", true},
        {"", "", true},
        {"c:/downloaded program files/Жук/a.ocx", "/жук/", false},
        {"c:/downloaded program files/Жук/a.ocx", "/Жук/", true},
        {"c:\uFF0Foccache\uFF0Fa.ocx", "/occache/", false},
        {"a\U00010400b", "\U00010400b", true},
        {"a\U00010400b", "\U00010428", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + c.pattern);
        EXPECT_EQ(c.found, ContainsText(Wide(c.text).c_str(), Wide(c.pattern).c_str()));
    }
    WideText pair = Wide("a\U00010400b");
    EXPECT_TRUE(ContainsText(pair.c_str(), kHighSurrogate));
    EXPECT_TRUE(ContainsText(pair.c_str(), kLowSurrogate));
    EXPECT_FALSE(ContainsText(pair.c_str(), kReversedPair));
    EXPECT_TRUE(IsEmptyText(TEXT("")));
    EXPECT_FALSE(IsEmptyText(TEXT(" ")));
}

static int Sign(int order)
{
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

// Code-unit order, not code-point order: a surrogate pair comes before
// U+E000..U+FFFF, and nothing folds.
TEST(TextRules, CompareTextOrdersByCodeUnit)
{
    struct Case {
        const char* first;
        const char* second;
        int order;
    } cases[] = {
        {"abc", "abc", 0},
        {"abc", "abd", -1},
        {"abc", "ab", 1},
        {"", "a", -1},
        {"A", "a", -1},
        {"É", "e", 1},
        {"\uFF21", "A", 1},
        {"c:\\Ωmega", "c:\\omega", 1},
        {"\U00010000", "\uFFFD", -1},
        {"\U0001F600", "\uE000", -1},
        {"\U00010400", "\U00010428", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.first) + " / " + c.second);
        EXPECT_EQ(c.order, Sign(CompareText(Wide(c.first).c_str(), Wide(c.second).c_str())));
        EXPECT_EQ(-c.order, Sign(CompareText(Wide(c.second).c_str(), Wide(c.first).c_str())));
    }
    EXPECT_EQ(1, Sign(CompareText(kLowSurrogate, kHighSurrogate)));
    EXPECT_EQ(0, Sign(CompareText(kReversedPair, kReversedPair)));
}

TEST(TextRules, AppendKeyName)
{
    struct Case {
        const char* path;
        const char* name;
        const char* expected;
    } cases[] = {
        {"TypeLib", "", "TypeLib"},
        {"A", "B", "A\\B"},
        {"A\\", "B", "A\\B"},
        {"", "B", "B"},
        {"", "", ""},
        {"ModuleUsage", "C:/Жук/ctl.ocx", "ModuleUsage\\C:/Жук/ctl.ocx"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " + " + c.name);
        WCHAR path[MAX_PATH];
        CopyText(path, Wide(c.path).c_str());
        AppendKeyName(path, Wide(c.name).c_str());
        EXPECT_EQ(c.expected, Utf8(path));
    }
}

TEST(TextRules, AppendKeyNameNeverOverrunsThePath)
{
    struct {
        WCHAR path[MAX_PATH];
        WCHAR sentinel[8];
    } guarded;
    for (WCHAR& c : guarded.sentinel)
        c = 0x5A5A;
    WideText longName(300, 'n');
    CopyText(guarded.path, WideText(250, 'p').c_str());
    AppendKeyName(guarded.path, longName.c_str());
    EXPECT_EQ(static_cast<size_t>(MAX_PATH - 1), TextLength(guarded.path));
    EXPECT_EQ('\\', guarded.path[250]);
    for (WCHAR c : guarded.sentinel)
        EXPECT_EQ(0x5A5A, c);
}

TEST(TextRules, ConvertSlashes)
{
    struct Case {
        const char* before;
        const char* after;
    } cases[] = {
        {"c:/windows/occache/x.ocx", "c:\\windows\\occache\\x.ocx"},
        {"c:\\no\\slashes", "c:\\no\\slashes"},
        {"a//b", "a\\\\b"},
        {"/", "\\"},
        {"", ""},
        // Only the ASCII solidus separates; look-alikes stay.
        {"c:/Жук/\uFF0F\u2215x", "c:\\Жук\\\uFF0F\u2215x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before);
        WCHAR text[MAX_PATH];
        CopyText(text, Wide(c.before).c_str());
        ConvertSlashes(text);
        EXPECT_EQ(c.after, Utf8(text));
    }
}

TEST(BoundedText, CopyAppendAndFormatCutToTheArray)
{
    struct {
        WCHAR text[8];
        WCHAR sentinel[4];
    } guarded;
    for (WCHAR& c : guarded.sentinel)
        c = 0x5A5A;

    EXPECT_TRUE(CopyText(guarded.text, TEXT("1234567")));
    EXPECT_FALSE(AppendText(guarded.text, TEXT("8")));
    EXPECT_EQ("1234567", Utf8(guarded.text));
    EXPECT_FALSE(CopyText(guarded.text, TEXT("123456789")));
    EXPECT_EQ("1234567", Utf8(guarded.text));
    EXPECT_TRUE(CopyText(guarded.text, TEXT("ab")));
    EXPECT_TRUE(AppendText(guarded.text, TEXT("cd")));
    EXPECT_EQ("abcd", Utf8(guarded.text));
    EXPECT_FALSE(FormatText(guarded.text, TEXT("%d-%d"), 12345, 678));
    EXPECT_EQ("12345-6", Utf8(guarded.text));
    EXPECT_TRUE(FormatText(guarded.text, TEXT("%ld"), -42L));
    EXPECT_EQ("-42", Utf8(guarded.text));
    EXPECT_TRUE(FormatText(guarded.text, TEXT("<%s>"), Wide("Жук").c_str()));
    EXPECT_EQ("<Жук>", Utf8(guarded.text));
    for (WCHAR c : guarded.sentinel)
        EXPECT_EQ(0x5A5A, c);
}
