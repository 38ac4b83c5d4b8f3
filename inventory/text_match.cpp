#include "inventory/inventory.h"

#include <cstring>

void LowerCaseAscii(char* text)
{
    for (; *text != '\0'; ++text) {
        if (*text >= 'A' && *text <= 'Z')
            *text = static_cast<char>(*text - 'A' + 'a');
    }
}

bool ContainsText(const char* text, const char* pattern)
{
    return strstr(text, pattern) != NULL;
}

static char FoldAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoreCase(const char* first, const char* second)
{
    for (; *first != '\0' && *second != '\0'; ++first, ++second) {
        if (FoldAscii(*first) != FoldAscii(*second))
            return false;
    }
    return *first == *second;
}

bool IsEmptyText(const char* text)
{
    return text[0] == '\0';
}
