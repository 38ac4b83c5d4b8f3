#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstddef>
#include <cstdio> // declared before the poison below, so later includes pass
#include <cstring>
#include <cwchar>

// Bounded text: every helper takes its size from the array, cuts what does not
// fit, always leaves a terminated text and answers false when it had to cut.
// Text is UTF-16 throughout; nothing goes through the ANSI code page, whose
// best-fit mapping can turn one path into another ('Ω' into 'O').

// What Win32 calls that count in characters are told a buffer holds.
template <size_t N> constexpr DWORD BufferLength(const WCHAR (&)[N])
{
    return static_cast<DWORD>(N);
}

template <size_t N> bool CopyText(WCHAR (&dst)[N], const WCHAR* src)
{
    size_t i = 0;
    for (; src[i] != 0 && i < N - 1; ++i)
        dst[i] = src[i];
    dst[i] = 0;
    return src[i] == 0;
}

template <size_t N> bool AppendText(WCHAR (&dst)[N], const WCHAR* src)
{
    size_t used = 0;
    while (used < N - 1 && dst[used] != 0)
        ++used;
    size_t i = 0;
    for (; src[i] != 0 && used + i < N - 1; ++i)
        dst[used + i] = src[i];
    dst[used + i] = 0;
    return src[i] == 0;
}

// Paths are built whole or not at all: a path cut short could name some
// other key or file that happens to exist.
template <size_t N>
bool JoinText(WCHAR (&dst)[N], const WCHAR* first, const WCHAR* second,
              const WCHAR* third = TEXT(""))
{
    return CopyText(dst, first) && AppendText(dst, second) && AppendText(dst, third);
}

// wvsprintfW never writes more than 1,024 characters, so the formatted text
// lands in a buffer that size allows before it is cut to fit.
template <size_t N> bool FormatText(WCHAR (&dst)[N], const WCHAR* format, ...)
{
    WCHAR formatted[1025];
    va_list args;
    va_start(args, format);
    int length = wvsprintfW(formatted, format, args);
    va_end(args);
    if (length < 0)
        formatted[0] = 0;
    formatted[BufferLength(formatted) - 1] = 0;
    return length >= 0 && CopyText(dst, formatted);
}

#if defined(__GNUC__)
#pragma GCC poison strcpy strcat sprintf vsprintf lstrcpyA lstrcatA wsprintfA
#pragma GCC poison wcscpy wcscat swprintf lstrcpyW lstrcatW wsprintfW
#endif
