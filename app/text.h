#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstddef>
#include <cstdio> // declared before the poison below, so later includes pass
#include <cstring>

// Bounded text: every helper takes its size from the array, cuts what does not
// fit, always leaves a terminated text and answers false when it had to cut.

template <size_t N> bool CopyText(char (&dst)[N], const char* src)
{
    size_t i = 0;
    for (; src[i] != '\0' && i < N - 1; ++i)
        dst[i] = src[i];
    dst[i] = '\0';
    return src[i] == '\0';
}

template <size_t N> bool AppendText(char (&dst)[N], const char* src)
{
    size_t used = strnlen(dst, N - 1);
    size_t i = 0;
    for (; src[i] != '\0' && used + i < N - 1; ++i)
        dst[used + i] = src[i];
    dst[used + i] = '\0';
    return src[i] == '\0';
}

// wsprintfA never writes more than 1,024 characters, so the formatted text
// lands in a buffer that size allows before it is cut to fit.
template <size_t N> bool FormatText(char (&dst)[N], const char* format, ...)
{
    char formatted[1025];
    va_list args;
    va_start(args, format);
    int length = wvsprintfA(formatted, format, args);
    va_end(args);
    if (length < 0)
        formatted[0] = '\0';
    formatted[sizeof formatted - 1] = '\0';
    return length >= 0 && CopyText(dst, formatted);
}

#if defined(__GNUC__)
#pragma GCC poison strcpy strcat sprintf vsprintf lstrcpyA lstrcatA wsprintfA
#endif
