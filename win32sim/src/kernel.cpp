#include "internal.h"
#include "win32sim.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>

extern char** environ;

namespace {

// Wine's wsprintfA writes into a 1,024-byte buffer: at most 1,023
// characters, and when the text reaches that length it answers 1,024.
constexpr size_t kFormatLimit = 1024;

thread_local DWORD g_lastError = 0;
int g_heap;

struct Conversion {
    bool left = false;
    bool prefix = false;
    bool zero = false;
    size_t width = 0;
    size_t precision = 0;
};

void Pad(std::string& out, const std::string& text, const Conversion& conversion)
{
    size_t fill = conversion.width > text.size() ? conversion.width - text.size() : 0;
    if (conversion.left) {
        out += text;
        out.append(fill, ' ');
    } else {
        out.append(fill, ' ');
        out += text;
    }
}

// Digits are zero-extended to the precision, the sign counting as one of
// them; '0' pads to the width after the sign.
void Number(std::string& out, std::string digits, bool negative, const char* prefix,
            const Conversion& conversion)
{
    std::string sign = negative ? "-" : prefix;
    if (conversion.precision > sign.size() + digits.size())
        digits.insert(0, conversion.precision - sign.size() - digits.size(), '0');
    if (conversion.zero && !conversion.left && conversion.width > sign.size() + digits.size())
        digits.insert(0, conversion.width - sign.size() - digits.size(), '0');
    Pad(out, sign + digits, conversion);
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

std::string Format(const char* format, va_list args)
{
    std::string out;
    for (const char* p = format; *p; ++p) {
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
            Pad(out, std::string(1, static_cast<char>(va_arg(args, int))), conversion);
            break;
        case 's': {
            const char* text = va_arg(args, const char*);
            std::string value = text ? text : "(null)";
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

// Windows names its variables without regard to case.
const char* FindVariable(const std::string& name)
{
    for (char** entry = environ; *entry; ++entry) {
        const char* equals = strchr(*entry, '=');
        if (equals && static_cast<size_t>(equals - *entry) == name.size() &&
            strncasecmp(*entry, name.c_str(), name.size()) == 0)
            return equals + 1;
    }
    return nullptr;
}

} // namespace

int WINAPI wvsprintfA(LPSTR buffer, LPCSTR format, va_list args)
{
    std::string text = Format(format, args);
    size_t length = std::min(text.size(), kFormatLimit - 1);
    memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return static_cast<int>(text.size() < kFormatLimit - 1 ? text.size() : kFormatLimit);
}

int wsprintfA(LPSTR buffer, LPCSTR format, ...)
{
    va_list args;
    va_start(args, format);
    int length = wvsprintfA(buffer, format, args);
    va_end(args);
    return length;
}

// Unknown references stay as written. When the result does not fit, Wine
// writes as much as fits, terminated, and answers the size needed.
DWORD WINAPI ExpandEnvironmentStringsA(LPCSTR source, LPSTR destination, DWORD size)
{
    std::string out;
    for (const char* p = source; *p;) {
        const char* close = *p == '%' ? strchr(p + 1, '%') : nullptr;
        if (!close) {
            out += *p++;
            continue;
        }
        const char* value = FindVariable(std::string(p + 1, close));
        out += value ? std::string(value) : std::string(p, close + 1);
        p = close + 1;
    }
    if (size) {
        size_t length = std::min(out.size(), static_cast<size_t>(size - 1));
        memcpy(destination, out.data(), length);
        destination[length] = '\0';
    }
    return static_cast<DWORD>(out.size() + 1);
}

BOOL WINAPI SetEnvironmentVariableA(LPCSTR name, LPCSTR value)
{
    int result = value ? setenv(name, value, 1) : unsetenv(name);
    return result == 0;
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

void SimReset()
{
    ResetRegistry();
    ResetWindows();
    ResetListBoxes();
    ResetFiles();
    ResetModules();
    g_lastError = 0;
}
