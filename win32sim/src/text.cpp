// Text conversions: the stand-in keeps UTF-16, as Windows does, and shows
// tests UTF-8. The ANSI code page is Windows-1252.

#include "internal.h"

#include <algorithm>
#include <cstring>

namespace {

// Windows-1252 bytes 0x80 to 0x9F; 0 where the code page has no character.
const char16_t kAnsiHigh[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

char16_t AnsiToWide(unsigned char c)
{
    if (c >= 0x80 && c < 0xA0)
        return kAnsiHigh[c - 0x80] != 0 ? kAnsiHigh[c - 0x80] : c;
    return c;
}

char WideToAnsi(char16_t c)
{
    // The five bytes Windows-1252 leaves undefined map to U+0081 and the
    // like, both ways.
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF) || (c >= 0x80 && c < 0xA0 && kAnsiHigh[c - 0x80] == 0))
        return static_cast<char>(c);
    for (int i = 0; i < 32; ++i) {
        if (kAnsiHigh[i] == c)
            return static_cast<char>(0x80 + i);
    }
    return '?';
}

void AppendUtf8(std::string& out, char32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

std::u16string Utf8ToWide(const char* text, size_t length)
{
    std::u16string out;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = p + length;
    while (p < end) {
        unsigned char lead = *p++;
        int more = lead < 0x80 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
        char32_t code = more == 0   ? lead
                        : more == 1 ? lead & 0x1F
                        : more == 2 ? lead & 0x0F
                                    : lead & 0x07;
        if (more < 0 || end - p < more) {
            out += u'\xFFFD';
            continue;
        }
        for (int i = 0; i < more; ++i)
            code = (code << 6) | (*p++ & 0x3F);
        if (code >= 0x10000) {
            code -= 0x10000;
            out += static_cast<char16_t>(0xD800 | (code >> 10));
            out += static_cast<char16_t>(0xDC00 | (code & 0x3FF));
        } else {
            out += static_cast<char16_t>(code);
        }
    }
    return out;
}

std::string WideToUtf8(const char16_t* text, size_t length)
{
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        char32_t code = text[i];
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < length && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (code >= 0xD800 && code < 0xE000) {
            code = 0xFFFD;
        }
        AppendUtf8(out, code);
    }
    return out;
}

size_t WideLength(LPCWSTR text)
{
    size_t length = 0;
    while (text[length] != 0)
        ++length;
    return length;
}

} // namespace

std::u16string WideOf(LPCWSTR text)
{
    return text != nullptr ? std::u16string(text, WideLength(text)) : std::u16string();
}

std::u16string WideFromUtf8(const std::string& text)
{
    return Utf8ToWide(text.data(), text.size());
}

std::string Utf8Of(const std::u16string& text)
{
    return WideToUtf8(text.data(), text.size());
}

std::u16string WideFromAnsi(LPCSTR text)
{
    std::u16string out;
    for (const char* p = text; p != nullptr && *p != '\0'; ++p)
        out += AnsiToWide(static_cast<unsigned char>(*p));
    return out;
}

std::string AnsiOf(const std::u16string& text)
{
    std::string out;
    for (char16_t c : text)
        out += WideToAnsi(c);
    return out;
}

WCHAR UpcaseChar(WCHAR c)
{
    if (c >= u'a' && c <= u'z')
        return static_cast<WCHAR>(c - 0x20);
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7))
        return static_cast<WCHAR>(c - 0x20);
    if (c == 0xFF)
        return 0x178;
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 &&
        c != 0x17F) {
        // Latin Extended-A pairs capital and small letters by parity, with
        // the parity flipped between U+0139 and U+0148 and from U+0179 on.
        bool flipped = (c >= 0x139 && c <= 0x148) || c >= 0x179;
        bool small = flipped ? (c % 2 == 0) : (c % 2 == 1);
        return small ? static_cast<WCHAR>(c - 1) : c;
    }
    if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2)
        return static_cast<WCHAR>(c - 0x20);
    if (c >= 0x430 && c <= 0x44F)
        return static_cast<WCHAR>(c - 0x20);
    if (c >= 0x450 && c <= 0x45F)
        return static_cast<WCHAR>(c - 0x50);
    if (c >= 0xFF41 && c <= 0xFF5A)
        return static_cast<WCHAR>(c - 0x20);
    return c;
}

bool EqualNoCase(const std::u16string& a, const std::u16string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](WCHAR x, WCHAR y) {
               return UpcaseChar(x) == UpcaseChar(y);
           });
}

DWORD WINAPI CharUpperBuffW(LPWSTR text, DWORD length)
{
    for (DWORD i = 0; i < length; ++i)
        text[i] = UpcaseChar(text[i]);
    return length;
}

int WINAPI MultiByteToWideChar(UINT codePage, DWORD, LPCSTR text, int length, LPWSTR wide, int size)
{
    if (text == nullptr || (codePage != CP_ACP && codePage != CP_UTF8) || size < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t count = length < 0 ? strlen(text) + 1 : static_cast<size_t>(length);
    std::u16string out;
    if (codePage == CP_UTF8) {
        out = Utf8ToWide(text, count);
    } else {
        for (size_t i = 0; i < count; ++i)
            out += AnsiToWide(static_cast<unsigned char>(text[i]));
    }
    if (size == 0)
        return static_cast<int>(out.size());
    if (out.size() > static_cast<size_t>(size)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::copy(out.begin(), out.end(), wide);
    return static_cast<int>(out.size());
}

int WINAPI WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR wide, int length, LPSTR text, int size,
                               LPCSTR, BOOL* usedDefault)
{
    if (wide == nullptr || (codePage != CP_ACP && codePage != CP_UTF8) || size < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t count = length < 0 ? WideLength(wide) + 1 : static_cast<size_t>(length);
    std::u16string in(wide, count);
    std::string out = codePage == CP_UTF8 ? WideToUtf8(in.data(), in.size()) : AnsiOf(in);
    if (usedDefault != nullptr)
        *usedDefault =
            codePage == CP_ACP && WideFromAnsi(out.c_str()) != in.substr(0, in.find(u'\0'));
    if (size == 0)
        return static_cast<int>(out.size());
    if (out.size() > static_cast<size_t>(size)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::copy(out.begin(), out.end(), text);
    return static_cast<int>(out.size());
}
