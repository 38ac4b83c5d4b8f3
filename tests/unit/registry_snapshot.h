#pragma once

// The whole registry as a set of lines, one a key and one a value, so that
// what a removal took away is a set difference. A key line is its path below
// "HKCR", "HKLM" or "HKCU"; a value line is the key path, a tab, the value
// name, a tab and the data. HKLM\SOFTWARE\Classes is left to HKCR, which shows it.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>
#include <set>
#include <string>

typedef std::set<std::string> RegistrySnapshot;

inline std::string LowerCase(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

inline std::string DescribeValue(DWORD type, const BYTE* data, DWORD size)
{
    if (type == REG_DWORD && size == sizeof(DWORD)) {
        DWORD number;
        memcpy(&number, data, sizeof number);
        return "dword:" + std::to_string(number);
    }
    std::string text(reinterpret_cast<const char*>(data), size);
    text.resize(std::min(text.size(), text.find('\0')));
    return std::to_string(type) + ":" + text;
}

inline void SnapshotKey(HKEY key, const std::string& path, RegistrySnapshot& lines)
{
    lines.insert(path);
    char name[1024];
    BYTE data[2048];
    for (DWORD index = 0;; ++index) {
        DWORD nameSize = sizeof name;
        DWORD dataSize = sizeof data;
        DWORD type = 0;
        LONG status = RegEnumValueA(key, index, name, &nameSize, NULL, &type, data, &dataSize);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        ASSERT_EQ(ERROR_SUCCESS, status) << path;
        lines.insert(path + "\t" + name + "\t" + DescribeValue(type, data, dataSize));
    }
    for (DWORD index = 0; RegEnumKeyA(key, index, name, sizeof name) == ERROR_SUCCESS; ++index) {
        std::string child = path + "\\" + name;
        if (LowerCase(child) == "hklm\\software\\classes")
            continue;
        HKEY subkey;
        if (RegOpenKeyExA(key, name, 0, KEY_READ, &subkey) != ERROR_SUCCESS) {
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
