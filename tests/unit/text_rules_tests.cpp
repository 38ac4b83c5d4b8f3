#include "app/text.h"
#include "inventory/inventory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(TextRules, LowerCaseAsciiFoldsOnlyAToZ)
{
    char text[] = "C:\\WinDows\\OCCACHE\\\xC9T\xC9.OCX [@`{]";
    LowerCaseAscii(text);
    EXPECT_STREQ("c:\\windows\\occache\\\xC9t\xC9.ocx [@`{]", text);
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
        {"\xC9", "\xC9", true},
        {"\xC9", "\xE9", false},
        {"abc", "abcd", false},
        {"abcd", "abc", false},
        {"", "", true},
        {"@", "`", false},
        {"[", "{", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.first) + " / " + c.second);
        EXPECT_EQ(c.equal, EqualsIgnoreCase(c.first, c.second));
    }
}

TEST(TextRules, SubstringSearchIsCaseSensitive)
{
    EXPECT_TRUE(ContainsText("c:/windows/occache/a.ocx", "/occache/"));
    EXPECT_FALSE(ContainsText("c:/windows/OCCACHE/a.ocx", "/occache/"));
    EXPECT_FALSE(ContainsText("c:/windows/occache", "/occache/"));
    EXPECT_TRUE(ContainsText("anything", ""));
    EXPECT_TRUE(IsEmptyText(""));
    EXPECT_FALSE(IsEmptyText(" "));
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
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " + " + c.name);
        char path[MAX_PATH];
        CopyText(path, c.path);
        AppendKeyName(path, c.name);
        EXPECT_STREQ(c.expected, path);
    }
}

TEST(TextRules, AppendKeyNameNeverOverrunsThePath)
{
    struct {
        char path[MAX_PATH];
        char sentinel[8];
    } guarded;
    memset(guarded.sentinel, 0x5A, sizeof guarded.sentinel);
    std::string longName(300, 'n');
    CopyText(guarded.path, std::string(250, 'p').c_str());
    AppendKeyName(guarded.path, longName.c_str());
    EXPECT_EQ(MAX_PATH - 1, strlen(guarded.path));
    EXPECT_EQ('\\', guarded.path[250]);
    for (char c : guarded.sentinel)
        EXPECT_EQ(0x5A, c);
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
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before);
        char text[MAX_PATH];
        CopyText(text, c.before);
        ConvertSlashes(text);
        EXPECT_STREQ(c.after, text);
    }
}

TEST(BoundedText, CopyAppendAndFormatCutToTheArray)
{
    struct {
        char text[8];
        char sentinel[4];
    } guarded;
    memset(guarded.sentinel, 0x5A, sizeof guarded.sentinel);

    EXPECT_TRUE(CopyText(guarded.text, "1234567"));
    EXPECT_FALSE(AppendText(guarded.text, "8"));
    EXPECT_STREQ("1234567", guarded.text);
    EXPECT_FALSE(CopyText(guarded.text, "123456789"));
    EXPECT_STREQ("1234567", guarded.text);
    EXPECT_TRUE(CopyText(guarded.text, "ab"));
    EXPECT_TRUE(AppendText(guarded.text, "cd"));
    EXPECT_STREQ("abcd", guarded.text);
    EXPECT_FALSE(FormatText(guarded.text, "%d-%d", 12345, 678));
    EXPECT_STREQ("12345-6", guarded.text);
    EXPECT_TRUE(FormatText(guarded.text, "%ld", -42));
    EXPECT_STREQ("-42", guarded.text);
    for (char c : guarded.sentinel)
        EXPECT_EQ(0x5A, c);
}
