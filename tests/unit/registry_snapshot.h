#pragma once

// The whole registry as a set of lines, one a key and one a value, so that
// what a removal took away is a set difference. A key line is its path below
// "HKCR", "HKLM" or "HKCU"; a value line is the key path, a tab, the value
// name, a tab and the data. HKLM\SOFTWARE\Classes is left to HKCR, which shows it.
// On 64-bit Windows keys are read in the 64-bit view, where the 32-bit one
// shows as HKLM\SOFTWARE\Wow6432Node.
// Names and text are read in UTF-16 and written as UTF-8: read through the
// ANSI code page, "Ωmega" and "Omega" could come out as one line.

#include "support/reg_file.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <set>
#include <string>
#include <vector>

typedef std::set<std::string> RegistrySnapshot;

// Only 'A' to 'Z' change: the tests spell every other letter one way.
inline std::string LowerCase(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// UTF-8 of the code units. A lone surrogate, which UTF-8 cannot carry, is
// written as \x{D800}, so that two texts that differ never give one line.
inline std::string SnapshotText(const WCHAR* text, size_t length)
{
    std::string utf8;
    for (size_t i = 0; i < length; ++i) {
        unsigned long c = static_cast<unsigned long>(text[i]) & 0xFFFF;
        unsigned long next = i + 1 < length ? static_cast<unsigned long>(text[i + 1]) & 0xFFFF : 0;
        if (c >= 0xD800 && c <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            char escaped[16];
            snprintf(escaped, sizeof escaped, "\\x{%04lX}", c);
            utf8 += escaped;
            continue;
        }
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else if (c < 0x800) {
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            utf8 += static_cast<char>(0xE0 | (c >> 12));
            utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            utf8 += static_cast<char>(0xF0 | (c >> 18));
            utf8 += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return utf8;
}

inline std::string SnapshotName(const WCHAR* name)
{
    size_t length = 0;
    while (name[length] != 0)
        ++length;
    return SnapshotText(name, length);
}

// Data as RegEnumValueW gives it. Text is every code unit of the data but
// the closing NULs, a NUL inside it written as \0 (so each string of a
// REG_MULTI_SZ shows); anything else but a DWORD is hexadecimal bytes.
inline std::string DescribeValue(DWORD type, const BYTE* data, DWORD size)
{
    if (type == REG_DWORD && size == sizeof(DWORD)) {
        DWORD number;
        memcpy(&number, data, sizeof number);
        return "dword:" + std::to_string(number);
    }
    std::string described = std::to_string(type) + ":";
    char hex[4];
    if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) {
        described += "hex:";
        for (DWORD i = 0; i < size; ++i) {
            snprintf(hex, sizeof hex, "%02x", data[i]);
            described += hex;
        }
        return described;
    }
    std::vector<WCHAR> text(size / sizeof(WCHAR));
    if (!text.empty())
        memcpy(text.data(), data, text.size() * sizeof(WCHAR));
    size_t length = text.size();
    while (length > 0 && text[length - 1] == 0)
        --length;
    size_t start = 0;
    for (size_t i = 0; i <= length; ++i) {
        if (i < length && text[i] != 0)
            continue;
        described += SnapshotText(text.data() + start, i - start);
        if (i < length)
            described += "\\0";
        start = i + 1;
    }
    if (size % sizeof(WCHAR) != 0) {
        snprintf(hex, sizeof hex, "%02x", data[size - 1]);
        described += std::string("\\x") + hex;
    }
    return described;
}

inline void SnapshotKey(HKEY key, const std::string& path, RegistrySnapshot& lines)
{
    lines.insert(path);
    WCHAR name[1024];
    BYTE data[4096];
    for (DWORD index = 0;; ++index) {
        DWORD nameSize = sizeof name / sizeof name[0];
        DWORD dataSize = sizeof data;
        DWORD type = 0;
        LONG status = RegEnumValueW(key, index, name, &nameSize, NULL, &type, data, &dataSize);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        ASSERT_EQ(ERROR_SUCCESS, status) << path;
        lines.insert(path + "\t" + SnapshotText(name, nameSize) + "\t" +
                     DescribeValue(type, data, dataSize));
    }
    for (DWORD index = 0;
         RegEnumKeyW(key, index, name, sizeof name / sizeof name[0]) == ERROR_SUCCESS; ++index) {
        std::string child = path + "\\" + SnapshotName(name);
        if (LowerCase(child) == "hklm\\software\\classes")
            continue;
        HKEY subkey;
        if (RegOpenKeyExW(key, name, 0, KEY_READ | KEY_WOW64_64KEY, &subkey) != ERROR_SUCCESS) {
            lines.insert(child + " (cannot be opened)");
            continue;
        }
        SnapshotKey(subkey, child, lines);
        RegCloseKey(subkey);
    }
}

inline RegistrySnapshot TakeSnapshot()
{
    RegistrySnapshot lines;
    SnapshotKey(HKEY_CLASSES_ROOT, "HKCR", lines);
    SnapshotKey(HKEY_LOCAL_MACHINE, "HKLM", lines);
    SnapshotKey(HKEY_CURRENT_USER, "HKCU", lines);
    return lines;
}

inline RegistrySnapshot Difference(const RegistrySnapshot& from, const RegistrySnapshot& without)
{
    RegistrySnapshot rest;
    std::set_difference(from.begin(), from.end(), without.begin(), without.end(),
                        std::inserter(rest, rest.end()));
    return rest;
}

// Registry names compare without regard to case, so these do too.
// keyPath is written as in a snapshot, e.g. "HKCR\\CLSID\\{...}".
inline RegistrySnapshot SubtreeLines(const RegistrySnapshot& snapshot, const std::string& keyPath)
{
    RegistrySnapshot lines;
    std::string top = LowerCase(keyPath);
    for (const std::string& line : snapshot) {
        std::string key = LowerCase(line.substr(0, line.find('\t')));
        if (key == top || key.compare(0, top.size() + 1, top + "\\") == 0)
            lines.insert(line);
    }
    return lines;
}

inline RegistrySnapshot ValueLines(const RegistrySnapshot& snapshot, const std::string& keyPath,
                                   const std::string& name)
{
    RegistrySnapshot lines;
    std::string wanted = LowerCase(keyPath + "\t" + name + "\t");
    for (const std::string& line : snapshot) {
        if (LowerCase(line.substr(0, wanted.size())) == wanted)
            lines.insert(line);
    }
    return lines;
}

// What a .reg file puts back, as snapshot lines: a header is a key line, a
// value a value line. A header of a key that stays (SharedDLLs, whose one
// value is saved) is a line as well.
inline RegistrySnapshot RegFileSnapshot(const RegFile& file)
{
    RegistrySnapshot lines;
    auto text = [](const std::string& utf8) {
        WideText wide = RegFileWide(utf8);
        return SnapshotText(wide.data(), wide.size());
    };
    for (const std::string& key : file.keys)
        lines.insert(text(key));
    for (const RegFileValue& value : file.values) {
        std::string key = value.path.empty() ? value.root : value.root + "\\" + value.path;
        lines.insert(
            text(key) + "\t" + text(value.name) + "\t" +
            DescribeValue(value.type, value.data.data(), static_cast<DWORD>(value.data.size())));
    }
    return lines;
}
