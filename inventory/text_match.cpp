#include "inventory/inventory.h"

static WCHAR FoldAscii(WCHAR c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<WCHAR>(c - 'A' + 'a') : c;
}

void LowerCaseAscii(WCHAR* text)
{
    for (; *text != 0; ++text)
        *text = FoldAscii(*text);
}

size_t TextLength(const WCHAR* text)
{
    size_t length = 0;
    while (text[length] != 0)
        ++length;
    return length;
}

bool ContainsText(const WCHAR* text, const WCHAR* pattern)
{
    if (*pattern == 0)
        return true;
    for (; *text != 0; ++text) {
        size_t i = 0;
        while (pattern[i] != 0 && text[i] == pattern[i])
            ++i;
        if (pattern[i] == 0)
            return true;
    }
    return false;
}

bool EqualsIgnoreCase(const WCHAR* first, const WCHAR* second)
{
    for (; *first != 0 && *second != 0; ++first, ++second) {
        if (FoldAscii(*first) != FoldAscii(*second))
            return false;
    }
    return *first == *second;
}

bool IsEmptyText(const WCHAR* text)
{
    return text[0] == 0;
}

int CompareText(const WCHAR* first, const WCHAR* second)
{
    for (; *first != 0 && *first == *second; ++first, ++second) {
    }
    return *first < *second ? -1 : *first > *second ? 1 : 0;
}

const WCHAR* FindChar(const WCHAR* text, WCHAR c)
{
    for (; *text != 0; ++text) {
        if (*text == c)
            return text;
    }
    return NULL;
}

const WCHAR* FindLastChar(const WCHAR* text, WCHAR c)
{
    const WCHAR* found = NULL;
    for (; *text != 0; ++text) {
        if (*text == c)
            found = text;
    }
    return found;
}

bool ContainsAnyOf(const WCHAR* text, const WCHAR* set)
{
    for (; *text != 0; ++text) {
        if (FindChar(set, *text) != NULL)
            return true;
    }
    return false;
}
