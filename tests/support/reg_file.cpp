#include "support/reg_file.h"

#include <shlobj.h>

#ifndef _WIN32
#include <win32sim.h>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

std::string RegFileText(const WideText& text)
{
    std::string utf8;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned long c = text[i];
        unsigned long next = i + 1 < text.size() ? text[i + 1] : 0;
        if (c >= 0xD800 && c <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
            ++i;
        }
        int extra = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
        utf8 += static_cast<char>(extra == 0 ? c : ((0xFF << (7 - extra)) & 0xFF) | c >> 6 * extra);
        for (int k = extra - 1; k >= 0; --k)
            utf8 += static_cast<char>(0x80 | ((c >> 6 * k) & 0x3F));
    }
    return utf8;
}

WideText RegFileWide(const std::string& text)
{
    WideText wide;
    for (size_t i = 0; i < text.size();) {
        unsigned char lead = static_cast<unsigned char>(text[i]);
        size_t extra = lead < 0x80 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
        unsigned long c = extra == 0 ? lead : lead & (0x3F >> extra);
        bool valid = lead < 0x80 || extra > 0;
        for (size_t k = 1; k <= extra; ++k) {
            unsigned char follow =
                i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
            valid = valid && (follow & 0xC0) == 0x80;
            c = (c << 6) | (follow & 0x3F);
        }
        if (!valid) {
            wide += static_cast<WCHAR>(0xFFFD);
            ++i;
            continue;
        }
        i += extra + 1;
        if (c >= 0x10000) {
            wide += static_cast<WCHAR>(0xD800 + ((c - 0x10000) >> 10));
            wide += static_cast<WCHAR>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            wide += static_cast<WCHAR>(c);
        }
    }
    return wide;
}

#ifdef _WIN32
static std::filesystem::path PathOf(const std::string& utf8)
{
    std::u8string text(utf8.begin(), utf8.end());
    return std::filesystem::path(text[0] == '/' ? u8"Z:" + text : text);
}
static std::string TextOf(const std::filesystem::path& path)
{
    std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}
#else
static std::filesystem::path PathOf(const std::string& utf8)
{
    return std::filesystem::path(utf8);
}
static std::string TextOf(const std::filesystem::path& path)
{
    return path.string();
}
#endif

namespace {

struct Parser {
    WideText text;
    size_t next = 0;
    int lineNumber = 0;
    RegFile file;
    std::string root;
    std::string path;
    bool inKey = false;

    // regedit ends a line at CR, LF or CR LF alike.
    bool NextLine(WideText& line)
    {
        if (next >= text.size())
            return false;
        size_t end = std::min(text.find_first_of(WideText{'\r', '\n'}, next), text.size());
        line = text.substr(next, end - next);
        next = end + (text.compare(end, 2, WideText{'\r', '\n'}) == 0 ? 2 : 1);
        ++lineNumber;
        return true;
    }

    bool Fail(const std::string& why)
    {
        if (file.error.empty())
            file.error = "line " + std::to_string(lineNumber) + ": " + why;
        return false;
    }
};

bool IsBlank(WCHAR c)
{
    return c == ' ' || c == '\t';
}

size_t SkipBlanks(const WideText& line, size_t at)
{
    while (at < line.size() && IsBlank(line[at]))
        ++at;
    return at;
}

// Nothing but blanks, or a comment, from here to the end of the line.
bool IsLineEnd(const WideText& line, size_t at)
{
    at = SkipBlanks(line, at);
    return at == line.size() || line[at] == ';';
}

int HexValue(WCHAR c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Up to maxDigits hexadecimal digits at 'at'; false when there are none.
bool ReadHex(const WideText& line, size_t& at, size_t maxDigits, DWORD& value)
{
    size_t start = at;
    value = 0;
    while (at < line.size() && HexValue(line[at]) >= 0 && at - start < maxDigits)
        value = value * 16 + static_cast<DWORD>(HexValue(line[at++]));
    return at > start && (at == line.size() || HexValue(line[at]) < 0);
}

// A quoted text starting after its opening quote, unescaped as regedit
// does: an escape it does not know keeps its backslash.
bool ReadQuoted(const WideText& line, size_t& at, WideText& out)
{
    out.clear();
    for (; at < line.size(); ++at) {
        WCHAR c = line[at];
        if (c == '"') {
            ++at;
            return true;
        }
        if (c == '\\' && at + 1 < line.size()) {
            c = line[++at];
            if (c == 'n')
                c = '\n';
            else if (c == 'r')
                c = '\r';
            else if (c == '0')
                c = 0;
            else if (c != '\\' && c != '"')
                out += '\\';
        }
        out += c;
    }
    return false;
}

bool ReadKeyHeader(Parser& parser, const WideText& line, size_t at)
{
    size_t close = line.rfind(']');
    if (close == WideText::npos || close < at)
        return parser.Fail("a key header without ']'");
    WideText name = line.substr(at + 1, close - at - 1);
    if (!name.empty() && name[0] == '-')
        return parser.Fail("a key deletion");
    size_t slash = name.find('\\');
    std::string rootName = RegFileText(name.substr(0, slash));
    std::transform(rootName.begin(), rootName.end(), rootName.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
    if (rootName == "HKEY_LOCAL_MACHINE")
        parser.root = "HKLM";
    else if (rootName == "HKEY_CLASSES_ROOT")
        parser.root = "HKCR";
    else if (rootName == "HKEY_CURRENT_USER")
        parser.root = "HKCU";
    else
        return parser.Fail("the root " + rootName);
    parser.path = slash == WideText::npos ? std::string() : RegFileText(name.substr(slash + 1));
    parser.inKey = true;
    parser.file.keys.push_back(parser.root + (parser.path.empty() ? "" : "\\" + parser.path));
    return true;
}

// Comma-separated bytes; a line that ends in a backslash goes on in the next.
bool ReadHexBytes(Parser& parser, WideText line, size_t at, std::vector<BYTE>& data)
{
    for (;;) {
        at = SkipBlanks(line, at);
        if (IsLineEnd(line, at))
            return true;
        if (line[at] == '\\' && IsLineEnd(line, at + 1)) {
            if (!parser.NextLine(line))
                return parser.Fail("the data goes on past the end of the file");
            at = 0;
            continue;
        }
        DWORD byte;
        if (!ReadHex(line, at, 2, byte))
            return parser.Fail("not a hexadecimal byte");
        data.push_back(static_cast<BYTE>(byte));
        at = SkipBlanks(line, at);
        if (at < line.size() && line[at] == ',')
            ++at;
        else if (!IsLineEnd(line, at) && line[at] != '\\')
            return parser.Fail("bytes not separated by commas");
    }
}

bool ReadValue(Parser& parser, const WideText& line, size_t at)
{
    if (!parser.inKey)
        return parser.Fail("a value before any key");
    RegFileValue value = {parser.root, parser.path, std::string(), REG_NONE, {}};
    WideText text;
    if (line[at] == '@') {
        ++at;
    } else {
        ++at;
        if (!ReadQuoted(line, at, text))
            return parser.Fail("a value name without its closing quote");
        value.name = RegFileText(text);
    }
    at = SkipBlanks(line, at);
    if (at >= line.size() || line[at] != '=')
        return parser.Fail("no '=' after the value name");
    at = SkipBlanks(line, at + 1);
    WideText rest = line.substr(at);
    auto startsWith = [&](const char* prefix) {
        size_t length = std::char_traits<char>::length(prefix);
        return rest.size() >= length && std::equal(prefix, prefix + length, rest.begin());
    };
    if (startsWith("\"")) {
        at += 1;
        if (!ReadQuoted(line, at, text) || !IsLineEnd(line, at))
            return parser.Fail("a string that does not end where its quote does");
        value.type = REG_SZ;
        text += WCHAR(0);
        const BYTE* bytes = reinterpret_cast<const BYTE*>(text.data());
        value.data.assign(bytes, bytes + text.size() * sizeof(WCHAR));
    } else if (startsWith("dword:")) {
        at += 6;
        DWORD number;
        if (!ReadHex(line, at, 8, number) || !IsLineEnd(line, at))
            return parser.Fail("not a dword");
        value.type = REG_DWORD;
        const BYTE* bytes = reinterpret_cast<const BYTE*>(&number);
        value.data.assign(bytes, bytes + sizeof number);
    } else if (startsWith("hex:")) {
        value.type = REG_BINARY;
        if (!ReadHexBytes(parser, line, at + 4, value.data))
            return false;
    } else if (startsWith("hex(")) {
        at += 4;
        if (!ReadHex(line, at, 8, value.type) || line.compare(at, 2, WideText{')', ':'}) != 0)
            return parser.Fail("not a hex(type): prefix");
        if (!ReadHexBytes(parser, line, at + 2, value.data))
            return false;
    } else {
        return parser.Fail("data of no known form");
    }
    parser.file.values.push_back(value);
    return true;
}

} // namespace

RegFile ReadRegFile(const std::string& hostPath)
{
    Parser parser;
    std::ifstream stream(PathOf(hostPath), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    if (!stream.is_open()) {
        parser.file.error = "cannot open " + hostPath;
        return parser.file;
    }
    if (bytes.size() < 2 || bytes.size() % 2 != 0 || static_cast<unsigned char>(bytes[0]) != 0xFF ||
        static_cast<unsigned char>(bytes[1]) != 0xFE) {
        parser.file.error = "not UTF-16LE with a byte order mark";
        return parser.file;
    }
    for (size_t i = 2; i < bytes.size(); i += 2)
        parser.text += static_cast<WCHAR>(static_cast<unsigned char>(bytes[i]) |
                                          static_cast<unsigned char>(bytes[i + 1]) << 8);
    if (parser.text.find(WCHAR(0)) != WideText::npos) {
        parser.file.error = "a NUL in the text";
        return parser.file;
    }
    WideText line;
    const char* header = "Windows Registry Editor Version 5.00";
    if (!parser.NextLine(line) || RegFileText(line) != header) {
        parser.Fail(std::string("the first line is not \"") + header + "\"");
        return parser.file;
    }
    bool read = true;
    while (read && parser.NextLine(line)) {
        size_t at = SkipBlanks(line, 0);
        if (IsLineEnd(line, at))
            continue;
        if (line[at] == '[')
            read = ReadKeyHeader(parser, line, at);
        else if (line[at] == '@' || line[at] == '"')
            read = ReadValue(parser, line, at);
        else
            read = parser.Fail("neither a key nor a value");
    }
    parser.file.ok = read;
    return parser.file;
}

static HKEY RootKey(const std::string& root)
{
    return root == "HKCR"   ? HKEY_CLASSES_ROOT
           : root == "HKCU" ? HKEY_CURRENT_USER
                            : HKEY_LOCAL_MACHINE;
}

static bool CreateKey(HKEY root, const std::string& path, HKEY& key)
{
    return RegCreateKeyExW(root, RegFileWide(path).c_str(), 0, NULL, REG_OPTION_NON_VOLATILE,
                           KEY_ALL_ACCESS, NULL, &key, NULL) == ERROR_SUCCESS;
}

bool ImportRegFile(const RegFile& file)
{
    bool imported = file.ok;
    for (const std::string& key : file.keys) {
        size_t slash = key.find('\\');
        HKEY created;
        if (CreateKey(RootKey(key.substr(0, slash)),
                      slash == std::string::npos ? std::string() : key.substr(slash + 1), created))
            RegCloseKey(created);
        else
            imported = false;
    }
    for (const RegFileValue& value : file.values) {
        HKEY key;
        if (!CreateKey(RootKey(value.root), value.path, key)) {
            imported = false;
            continue;
        }
        // Windows counts a terminator that a string's size leaves out when one
        // follows in memory: what follows here is none, so the size stands.
        std::vector<BYTE> data = value.data;
        data.insert(data.end(), {0xAB, 0xAB});
        imported = RegSetValueExW(key, RegFileWide(value.name).c_str(), 0, value.type, data.data(),
                                  static_cast<DWORD>(value.data.size())) == ERROR_SUCCESS &&
                   imported;
        RegCloseKey(key);
    }
    return imported;
}

std::vector<std::string> RestoreFolders()
{
    std::vector<std::string> folders;
    WCHAR base[MAX_PATH];
    if (SHGetFolderPathW(NULL, CSIDL_LOCAL_APPDATA, NULL, SHGFP_TYPE_CURRENT, base) != S_OK)
        return folders;
    std::string removed = RegFileText(base) + "\\Burrowlens\\Removed";
#ifdef _WIN32
    std::filesystem::path folder = PathOf(removed);
#else
    std::filesystem::path folder = SimHostPath(removed.c_str());
#endif
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        folders.push_back(TextOf(entry.path()));
    std::sort(folders.begin(), folders.end());
    return folders;
}
