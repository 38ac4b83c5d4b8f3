#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

static std::string Formatted(const char* format, ...)
{
    char buffer[1100];
    va_list args;
    va_start(args, format);
    wvsprintfA(buffer, format, args);
    va_end(args);
    return buffer;
}

// Wine's rules, which the program's messages rely on: no '+' or ' ' flags,
// 'h' ignored, a precision of 0 means none, and a conversion it does not
// know prints as its letter.
TEST(FormatTest, ConversionsFlagsWidthsAndPrecisions)
{
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
        {Formatted("%.2s|%5s|%-4s|%.0s|%05s", "abcdef", "ab", "c", "zz", "ab"),
         "ab|   ab|c   |zz|   ab", __LINE__},
        {Formatted("%s", static_cast<const char*>(NULL)), "(null)", __LINE__},
        {Formatted("%c%3c%-2c|", 'o', 'k', '!'), "o  k! |", __LINE__},
        {Formatted("100%%|%q|%+d|trail%", 5), "100%|q|+d|trail", __LINE__},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case at line " << c.line);
        EXPECT_EQ(c.expected, c.got);
    }
}

TEST(FormatTest, AnswersTheLengthWritten)
{
    char buffer[32];

    EXPECT_EQ(7, wsprintfA(buffer, "%s=%d", "abc", 123));
    EXPECT_EQ(2, wsprintfA(buffer, "%c%c", 0, 'a'));
}

// The output buffer is 1,024 bytes: 1,023 characters at most, and from that
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
        std::string text(c.length, 'x');
        char buffer[2000];
        memset(buffer, '#', sizeof buffer);

        EXPECT_EQ(c.answer, wsprintfA(buffer, "%s", text.c_str()));

        EXPECT_EQ(c.written, strlen(buffer));
        EXPECT_EQ('#', buffer[1024]);
    }
}

TEST(ExpandEnvironmentTest, ReplacesKnownReferencesAndAnswersTheSizeNeeded)
{
    ASSERT_TRUE(SetEnvironmentVariableA("BURROWLENS_EXPAND", "abcdefgh"));
    const struct {
        const char* source;
        DWORD size;
        DWORD answer;
        const char* text;
    } cases[] = {
        {"1%BURROWLENS_EXPAND%2", 16, 11, "1abcdefgh2"},
        {"1%burrowlens_expand%2", 11, 11, "1abcdefgh2"},
        {"1%BURROWLENS_EXPAND%2", 10, 11, "1abcdefgh"},
        {"1%BURROWLENS_EXPAND%2", 5, 11, "1abc"},
        {"1%BURROWLENS_EXPAND%2", 0, 11, "kept"},
        {"a%BURROWLENS_NONE%b%", 32, 21, "a%BURROWLENS_NONE%b%"},
        {"%%BURROWLENS_EXPAND%%", 32, 22, "%%BURROWLENS_EXPAND%%"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.source << " into " << c.size);
        char text[32] = "kept";

        EXPECT_EQ(c.answer, ExpandEnvironmentStringsA(c.source, text, c.size));

        EXPECT_STREQ(c.text, text);
    }
    SetEnvironmentVariableA("BURROWLENS_EXPAND", NULL);
}

TEST(KernelTest, HandlesAndLastError)
{
    EXPECT_NE(nullptr, GetProcessHeap());
    EXPECT_NE(nullptr, GetModuleHandleA(NULL));

    SetLastError(1234);

    EXPECT_EQ(1234u, GetLastError());
}
