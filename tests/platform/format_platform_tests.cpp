#include "support/test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

static int FormatInto(WCHAR* buffer, const WCHAR* format, ...)
{
    va_list args;
    va_start(args, format);
    int length = wvsprintfW(buffer, format, args);
    va_end(args);
    return length;
}

template <typename... Args> static std::string Formatted(const char* format, Args... args)
{
    WCHAR buffer[1100];
    FormatInto(buffer, Wide(format).c_str(), args...);
    return Utf8(buffer);
}

// Wine's rules, which the program's messages rely on: no '+' or ' ' flags,
// 'h' ignored, a precision of 0 means none, and a conversion it does not
// know prints as its letter. "%s" and "%c" take WCHAR text.
TEST(FormatTest, ConversionsFlagsWidthsAndPrecisions)
{
    const WideText omega = Wide("Ωbc"), pair = Wide("x\U0010FFFFy"), ab = Wide("ab"),
                   single = Wide("c"), zz = Wide("zz");
    const struct {
        std::string got;
        const char* expected;
        int line;
    } cases[] = {
        {Formatted("%5d|%-5d|%05d|%i", 42, 42, 42, -3), "   42|42   |00042|-3", __LINE__},
        {Formatted("%x|%X|%#x|%08X|%-4x|", 255, 255, 255, 255, 255), "ff|FF|0xff|000000FF|ff  |",
         __LINE__},
        {Formatted("%u|%d", 0xFFFFFFFFu, INT_MIN), "4294967295|-2147483648", __LINE__},
        {Formatted("%ld|%lu|%lx|%hd", -7, 4000000000u, 0xabcdefu, -70000),
         "-7|4000000000|abcdef|-70000", __LINE__},
        {Formatted("%05d|%.3d|%5.3d|%-8.3d|%.0d", -42, 7, 7, -4, 0), "-0042|007|  007|-04     |0",
         __LINE__},
        {Formatted("%.2s|%5s|%-4s|%.0s|%05s", omega.c_str(), ab.c_str(), single.c_str(), zz.c_str(),
                   ab.c_str()),
         "Ωb|   ab|c   |zz|   ab", __LINE__},
        {Formatted("[%s]", pair.c_str()), "[x\U0010FFFFy]", __LINE__},
        {Formatted("%s", static_cast<const WCHAR*>(NULL)), "(null)", __LINE__},
        {Formatted("%c%3c%-2c|", 0x416, 'k', '!'), "Ж  k! |", __LINE__},
        {Formatted("100%%|%q|%+d|trail%", 5), "100%|q|+d|trail", __LINE__},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case at line " << c.line);
        EXPECT_EQ(c.expected, c.got);
    }
}

TEST(FormatTest, AnswersTheLengthWritten)
{
    WCHAR buffer[32];

    EXPECT_EQ(7, FormatInto(buffer, TEXT("%s=%d"), Wide("Жук").c_str(), 123));
    EXPECT_EQ("Жук=123", Utf8(buffer));
    EXPECT_EQ(2, FormatInto(buffer, TEXT("%c%c"), 0, 'a'));
    EXPECT_EQ('a', buffer[1]);
}

// The output buffer is 1,024 characters: 1,023 at most, and from that
// length on the answer is 1,024.
TEST(FormatTest, OutputStopsAtTheBufferLimit)
{
    const struct {
        size_t length;
        int answer;
        size_t written;
    } cases[] = {{1022, 1022, 1022}, {1023, 1024, 1023}, {1500, 1024, 1023}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        WideText text(c.length, 'x');
        WCHAR buffer[2000];
        for (WCHAR& unit : buffer)
            unit = '#';

        EXPECT_EQ(c.answer, FormatInto(buffer, TEXT("%s"), text.c_str()));

        EXPECT_EQ(c.written, WideText(buffer).size());
        EXPECT_EQ('#', buffer[1024]);
    }
}

// Sizes count characters with the NUL; a buffer too small takes what fits.
TEST(ExpandEnvironmentTest, ReplacesKnownReferencesAndAnswersTheSizeNeeded)
{
    ASSERT_TRUE(SetEnvironmentVariableW(TEXT("BURROWLENS_EXPAND"), Wide("Ωbcdefgh").c_str()));
    const struct {
        const char* source;
        DWORD size;
        DWORD answer;
        const char* text;
    } cases[] = {
        {"1%BURROWLENS_EXPAND%2", 16, 11, "1Ωbcdefgh2"},
        {"1%burrowlens_expand%2", 11, 11, "1Ωbcdefgh2"},
        {"1%BURROWLENS_EXPAND%2", 10, 11, "1Ωbcdefgh"},
        {"1%BURROWLENS_EXPAND%2", 5, 11, "1Ωbc"},
        {"1%BURROWLENS_EXPAND%2", 0, 11, "kept"},
        {"Ж%BURROWLENS_EXPAND%", 32, 10, "ЖΩbcdefgh"},
        {"a%BURROWLENS_NONE%b%", 32, 21, "a%BURROWLENS_NONE%b%"},
        {"%%BURROWLENS_EXPAND%%", 32, 22, "%%BURROWLENS_EXPAND%%"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.source << " into " << c.size);
        WCHAR text[32] = TEXT("kept");

        EXPECT_EQ(c.answer, ExpandEnvironmentStringsW(Wide(c.source).c_str(), text, c.size));

        EXPECT_EQ(c.text, Utf8(text));
    }
    SetEnvironmentVariableW(TEXT("BURROWLENS_EXPAND"), NULL);
}

// Unicode's simple upper-case mapping, one code unit at a time, and only
// within the length given.
TEST(CharUpperTest, UpperCasesLettersOfEveryScriptWithinTheLength)
{
    const struct {
        const char* text;
        DWORD length;
        const char* upper;
    } cases[] = {
        {"c:\\program files\\a.ocx", 22, "C:\\PROGRAM FILES\\A.OCX"},
        {"àéîõüýÿ æøþ", 11, "ÀÉÎÕÜÝŸ ÆØÞ"},
        {"αβγδωϊ", 6, "ΑΒΓΔΩΪ"},
        {"жукёя", 5, "ЖУКЁЯ"},
        {"ａｂｃ", 3, "ＡＢＣ"},
        {"ß1_中\U0010FFFF", 6, "ß1_中\U0010FFFF"},
        {"abcd", 2, "ABcd"},
        {"abcd", 0, "abcd"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        WideText text = Wide(c.text);

        EXPECT_EQ(c.length, CharUpperBuffW(&text[0], c.length));

        EXPECT_EQ(c.upper, Utf8(text));
    }
    WCHAR lone[] = {0xD800, 'a', 0xDC00, 0};
    EXPECT_EQ(3u, CharUpperBuffW(lone, 3));
    EXPECT_EQ((WideText{0xD800, 'A', 0xDC00}), WideText(lone));
}

TEST(KernelTest, HandlesAndLastError)
{
    EXPECT_NE(nullptr, GetProcessHeap());
    EXPECT_NE(nullptr, GetModuleHandleW(NULL));

    SetLastError(1234);

    EXPECT_EQ(1234u, GetLastError());
}
