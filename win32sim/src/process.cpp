#include "internal.h"
#include "win32sim.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kProgramName[] = "burrowlens.exe";

std::u16string g_commandLine;
HANDLE g_standard[3];

HANDLE* StandardSlot(DWORD which)
{
    switch (which) {
    case STD_INPUT_HANDLE:
        return &g_standard[0];
    case STD_OUTPUT_HANDLE:
        return &g_standard[1];
    case STD_ERROR_HANDLE:
        return &g_standard[2];
    }
    return nullptr;
}

bool IsBlank(char16_t c)
{
    return c == u' ' || c == u'\t';
}

// The first word ends at the first blank, or is quoted, without escapes.
const char16_t* SplitProgramName(const char16_t* s, std::vector<std::u16string>& words)
{
    std::u16string word;
    if (*s == u'"') {
        for (++s; *s != 0 && *s != u'"'; ++s)
            word += *s;
        if (*s == u'"')
            ++s;
    } else {
        for (; *s != 0 && !IsBlank(*s); ++s)
            word += *s;
    }
    words.push_back(word);
    return s;
}

// Then: 2n backslashes and a quote give n backslashes and open or close a
// quoted stretch, 2n+1 give n and a quote; inside quotes "" gives a quote.
void SplitArguments(const char16_t* s, std::vector<std::u16string>& words)
{
    for (;;) {
        while (IsBlank(*s))
            ++s;
        if (*s == 0)
            return;
        std::u16string word;
        bool quoted = false;
        for (; *s != 0 && (quoted || !IsBlank(*s)); ++s) {
            size_t backslashes = 0;
            while (s[backslashes] == u'\\')
                ++backslashes;
            if (backslashes > 0 && s[backslashes] != u'"') {
                word.append(backslashes, u'\\');
                s += backslashes - 1;
                continue;
            }
            if (backslashes > 0) {
                word.append(backslashes / 2, u'\\');
                s += backslashes;
                if (backslashes % 2 == 1) {
                    word += u'"';
                    continue;
                }
            }
            if (*s != u'"')
                word += *s;
            else if (quoted && s[1] == u'"')
                word += *s++;
            else
                quoted = !quoted;
        }
        words.push_back(word);
    }
}

} // namespace

void ResetProcess()
{
    g_commandLine = WideFromUtf8(kProgramName);
    for (HANDLE& handle : g_standard)
        handle = nullptr;
}

void SimSetCommandLine(const char* commandLine)
{
    g_commandLine = WideFromUtf8(commandLine);
}

LPWSTR WINAPI GetCommandLineW(void)
{
    if (g_commandLine.empty())
        ResetProcess();
    return g_commandLine.data();
}

LPWSTR* WINAPI CommandLineToArgvW(LPCWSTR commandLine, int* count)
{
    if (commandLine == nullptr || count == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::vector<std::u16string> words;
    if (*commandLine == 0)
        words.push_back(WideFromUtf8(kProgramName));
    else
        SplitArguments(SplitProgramName(commandLine, words), words);

    size_t size = (words.size() + 1) * sizeof(LPWSTR);
    for (const std::u16string& word : words)
        size += (word.size() + 1) * sizeof(WCHAR);
    LPWSTR* argv = static_cast<LPWSTR*>(malloc(size));
    if (argv == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    WCHAR* text = reinterpret_cast<WCHAR*>(argv + words.size() + 1);
    for (size_t i = 0; i < words.size(); ++i) {
        argv[i] = text;
        memcpy(text, words[i].c_str(), (words[i].size() + 1) * sizeof(WCHAR));
        text += words[i].size() + 1;
    }
    argv[words.size()] = nullptr;
    *count = static_cast<int>(words.size());
    return argv;
}

HLOCAL WINAPI LocalFree(HLOCAL memory)
{
    free(memory);
    return nullptr;
}

HANDLE WINAPI GetStdHandle(DWORD which)
{
    HANDLE* slot = StandardSlot(which);
    if (slot == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_HANDLE_VALUE;
    }
    return *slot;
}

BOOL WINAPI SetStdHandle(DWORD which, HANDLE handle)
{
    HANDLE* slot = StandardSlot(which);
    if (slot == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *slot = handle;
    return TRUE;
}

BOOL WINAPI AttachConsole(DWORD)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

BOOL WINAPI GetConsoleMode(HANDLE, LPDWORD)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

BOOL WINAPI WriteConsoleW(HANDLE, const void*, DWORD, LPDWORD, LPVOID)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}
