#include "internal.h"
#include "win32sim.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

extern char** environ;

namespace {

// Wine's wsprintf writes into a 1,024-character buffer: at most 1,023
// characters, and when the text reaches that length it answers 1,024.
constexpr size_t kFormatLimit = 1024;

thread_local DWORD g_lastError = 0;
int g_heap;
long g_changes = 0;
long g_changesBeforeCut = -1;

const unsigned long long kTicksPerSecond = 10000000ULL;

// Days from 1601-01-01 to a civil date, the inverse of FileTimeToSystemTime.
long long DaysSince1601(long long year, long long month, long long day)
{
    year -= month <= 2 ? 1 : 0;
    long long era = (year >= 0 ? year : year - 399) / 400;
    long long yoe = year - era * 400;
    long long doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 584694;
}

unsigned long long TicksOf(const SYSTEMTIME& time)
{
    long long days = DaysSince1601(time.wYear, time.wMonth, time.wDay);
    long long seconds = days * 86400 + time.wHour * 3600 + time.wMinute * 60 + time.wSecond;
    return static_cast<unsigned long long>(seconds) * kTicksPerSecond +
           time.wMilliseconds * 10000ULL;
}

unsigned long long StartOfClock()
{
    SYSTEMTIME start = {2026, 1, 5, 2, 3, 4, 5, 678};
    return TicksOf(start);
}

unsigned long long g_clock = StartOfClock(); // FILETIME ticks

struct Conversion {
    bool left = false;
    bool prefix = false;
    bool zero = false;
    size_t width = 0;
    size_t precision = 0;
};

// The format engine serves wvsprintfA over char and wvsprintfW over WCHAR.
template <typename Char> using Text = std::basic_string<Char>;

template <typename Char> Text<Char> Ascii(const char* text)
{
    return Text<Char>(text, text + strlen(text));
}

template <typename Char>
void Pad(Text<Char>& out, const Text<Char>& text, const Conversion& conversion)
{
    size_t fill = conversion.width > text.size() ? conversion.width - text.size() : 0;
    if (conversion.left) {
        out += text;
        out.append(fill, Char(' '));
    } else {
        out.append(fill, Char(' '));
        out += text;
    }
}

// Digits are zero-extended to the precision, the sign counting as one of
// them; '0' pads to the width after the sign.
template <typename Char>
void Number(Text<Char>& out, std::string digits, bool negative, const char* prefix,
            const Conversion& conversion)
{
    std::string sign = negative ? "-" : prefix;
    if (conversion.precision > sign.size() + digits.size())
        digits.insert(0, conversion.precision - sign.size() - digits.size(), '0');
    if (conversion.zero && !conversion.left && conversion.width > sign.size() + digits.size())
        digits.insert(0, conversion.width - sign.size() - digits.size(), '0');
    Pad(out, Ascii<Char>((sign + digits).c_str()), conversion);
}

std::string Digits(unsigned value, unsigned base, bool upper)
{
    const char* symbols = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string digits;
    do {
        digits.insert(digits.begin(), symbols[value % base]);
        value /= base;
    } while (value);
    return digits;
}

template <typename Char> Text<Char> Format(const Char* format, va_list args)
{
    Text<Char> out;
    for (const Char* p = format; *p; ++p) {
        if (*p != '%') {
            out += *p;
            continue;
        }
        if (p[1] == '%') {
            out += *++p;
            continue;
        }
        Conversion conversion;
        ++p;
        if (*p == '-')
            conversion.left = true, ++p;
        if (*p == '#')
            conversion.prefix = true, ++p;
        if (*p == '0')
            conversion.zero = true, ++p;
        for (; *p >= '0' && *p <= '9'; ++p)
            conversion.width = conversion.width * 10 + static_cast<size_t>(*p - '0');
        if (*p == '.') {
            for (++p; *p >= '0' && *p <= '9'; ++p)
                conversion.precision = conversion.precision * 10 + static_cast<size_t>(*p - '0');
        }
        // Long is 32 bits on Windows, and Wine ignores 'h' altogether.
        if (*p == 'l' || *p == 'h')
            ++p;
        switch (*p) {
        case '\0':
            return out;
        case 'c':
            Pad(out, Text<Char>(1, static_cast<Char>(va_arg(args, int))), conversion);
            break;
        case 's': {
            const Char* text = va_arg(args, const Char*);
            Text<Char> value = text ? Text<Char>(text) : Ascii<Char>("(null)");
            if (conversion.precision && conversion.precision < value.size())
                value.resize(conversion.precision);
            Pad(out, value, conversion);
            break;
        }
        case 'd':
        case 'i': {
            int value = va_arg(args, int);
            unsigned magnitude =
                value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
            Number(out, Digits(magnitude, 10, false), value < 0, "", conversion);
            break;
        }
        case 'u':
            Number(out, Digits(va_arg(args, unsigned), 10, false), false, "", conversion);
            break;
        case 'x':
        case 'X': {
            bool upper = *p == 'X';
            const char* prefix = conversion.prefix ? (upper ? "0X" : "0x") : "";
            Number(out, Digits(va_arg(args, unsigned), 16, upper), false, prefix, conversion);
            break;
        }
        default:
            // Wine prints a conversion it does not know as the bare letter.
            out += *p;
            break;
        }
    }
    return out;
}

template <typename Char> int Print(Char* buffer, const Char* format, va_list args)
{
    Text<Char> text = Format(format, args);
    size_t length = std::min(text.size(), kFormatLimit - 1);
    std::copy_n(text.begin(), length, buffer);
    buffer[length] = 0;
    return static_cast<int>(text.size() < kFormatLimit - 1 ? text.size() : kFormatLimit);
}

// The host's variables are UTF-8; Windows names them without regard to case.
std::optional<std::u16string> FindVariable(const std::u16string& name)
{
    for (char** entry = environ; *entry; ++entry) {
        const char* equals = strchr(*entry, '=');
        if (equals &&
            EqualNoCase(WideFromUtf8(std::string(*entry, static_cast<size_t>(equals - *entry))),
                        name))
            return WideFromUtf8(equals + 1);
    }
    return std::nullopt;
}

// Unknown references stay as written.
std::u16string Expand(const std::u16string& source)
{
    std::u16string out;
    for (size_t at = 0; at < source.size();) {
        size_t close = source[at] == u'%' ? source.find(u'%', at + 1) : std::u16string::npos;
        if (close == std::u16string::npos) {
            out += source[at++];
            continue;
        }
        std::optional<std::u16string> value = FindVariable(source.substr(at + 1, close - at - 1));
        out += value ? *value : source.substr(at, close + 1 - at);
        at = close + 1;
    }
    return out;
}

// When the result does not fit, Wine writes as much as fits, terminated, and
// answers the size needed.
template <typename Char> DWORD AnswerExpanded(const Text<Char>& text, Char* destination, DWORD size)
{
    if (size) {
        size_t length = std::min(text.size(), static_cast<size_t>(size - 1));
        std::copy_n(text.begin(), length, destination);
        destination[length] = 0;
    }
    return static_cast<DWORD>(text.size() + 1);
}

} // namespace

int WINAPI wvsprintfW(LPWSTR buffer, LPCWSTR format, va_list args)
{
    return Print(buffer, format, args);
}

int WINAPI wvsprintfA(LPSTR buffer, LPCSTR format, va_list args)
{
    return Print(buffer, format, args);
}

int wsprintfA(LPSTR buffer, LPCSTR format, ...)
{
    va_list args;
    va_start(args, format);
    int length = wvsprintfA(buffer, format, args);
    va_end(args);
    return length;
}

DWORD WINAPI ExpandEnvironmentStringsW(LPCWSTR source, LPWSTR destination, DWORD size)
{
    return AnswerExpanded(Expand(WideOf(source)), destination, size);
}

DWORD WINAPI ExpandEnvironmentStringsA(LPCSTR source, LPSTR destination, DWORD size)
{
    return AnswerExpanded(AnsiOf(Expand(WideFromAnsi(source))), destination, size);
}

BOOL WINAPI SetEnvironmentVariableW(LPCWSTR name, LPCWSTR value)
{
    std::string hostName = Utf8Of(WideOf(name));
    int result = value ? setenv(hostName.c_str(), Utf8Of(WideOf(value)).c_str(), 1)
                       : unsetenv(hostName.c_str());
    return result == 0;
}

BOOL WINAPI SetEnvironmentVariableA(LPCSTR name, LPCSTR value)
{
    std::u16string wideValue = WideFromAnsi(value);
    return SetEnvironmentVariableW(WideFromAnsi(name).c_str(), value ? wideValue.c_str() : nullptr);
}

HANDLE WINAPI GetProcessHeap(void)
{
    return &g_heap;
}

DWORD WINAPI GetLastError(void)
{
    return g_lastError;
}

void WINAPI SetLastError(DWORD error)
{
    g_lastError = error;
}

bool MayChange()
{
    return g_changesBeforeCut != 0;
}

void CountChange()
{
    ++g_changes;
    if (g_changesBeforeCut > 0)
        --g_changesBeforeCut;
}

long SimChangeCount()
{
    return g_changes;
}

void SimCutAfterChanges(long changes)
{
    g_changesBeforeCut = changes < 0 ? -1 : changes;
}

// Two calls never answer the same second, so names made from the time differ.
void WINAPI GetSystemTime(LPSYSTEMTIME systemTime)
{
    FILETIME now = {static_cast<DWORD>(g_clock), static_cast<DWORD>(g_clock >> 32)};
    FileTimeToSystemTime(&now, systemTime);
    g_clock += kTicksPerSecond;
}

void SimSetSystemTime(SYSTEMTIME time)
{
    g_clock = TicksOf(time);
}

void SimReset()
{
    g_changes = 0;
    g_changesBeforeCut = -1;
    g_clock = StartOfClock();
    ResetRegistry();
    ResetWindows();
    ResetListBoxes();
    ResetFiles();
    ResetModules();
    ResetProcess();
    g_lastError = 0;
}
