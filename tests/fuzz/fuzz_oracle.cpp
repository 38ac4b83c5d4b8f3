#include "fuzz.h"

#include "details/details.h"
#include "inventory/inventory.h"
#include "removal/removal.h"
#include "unit/registry_snapshot.h"

#include <win32sim.h>

#include <algorithm>
#include <vector>

namespace {

// Names may hold any byte but NUL: a tab would split a line in the wrong place.
std::string Escaped(const std::string& name)
{
    std::string out;
    for (char c : name) {
        if (c == '%')
            out += "%25";
        else if (c == '\t')
            out += "%09";
        else
            out += c;
    }
    return out;
}

// As the unit tests' snapshot, for names and data of any length.
void SnapshotWholeKey(HKEY key, const std::string& path, RegistrySnapshot& lines)
{
    lines.insert(path);
    std::vector<char> name(16384);
    std::vector<BYTE> data(1);
    for (DWORD index = 0;;) {
        DWORD nameSize = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = 0;
        LONG status =
            RegEnumValueA(key, index, name.data(), &nameSize, NULL, &type, data.data(), &dataSize);
        if (status == ERROR_MORE_DATA && dataSize > data.size()) {
            data.resize(dataSize);
            continue;
        }
        if (status != ERROR_SUCCESS)
            break;
        lines.insert(path + "\t" + Escaped(std::string(name.data(), nameSize)) + "\t" +
                     DescribeValue(type, data.data(), dataSize));
        ++index;
    }
    for (DWORD index = 0; RegEnumKeyA(key, index, name.data(), 256) == ERROR_SUCCESS; ++index) {
        std::string child = path + "\\" + Escaped(name.data());
        if (LowerCase(child) == "hklm\\software\\classes")
            continue;
        HKEY subkey;
        if (RegOpenKeyExA(key, name.data(), 0, KEY_READ, &subkey) != ERROR_SUCCESS) {
            lines.insert(child + " (cannot be opened)");
            continue;
        }
        SnapshotWholeKey(subkey, child, lines);
        RegCloseKey(subkey);
    }
}

bool StartsWith(const std::string& text, const std::string& start)
{
    return text.compare(0, start.size(), start) == 0;
}

std::string KeyOf(const std::string& line)
{
    return line.substr(0, line.find('\t'));
}

} // namespace

// The registry as it is, whatever faults the program meets.
RegistrySnapshot TakeFuzzSnapshot()
{
    SimSuspendRegistryFaults(true);
    RegistrySnapshot lines;
    SnapshotWholeKey(HKEY_CLASSES_ROOT, "HKCR", lines);
    SnapshotWholeKey(HKEY_LOCAL_MACHINE, "HKLM", lines);
    SnapshotWholeKey(HKEY_CURRENT_USER, "HKCU", lines);
    SimSuspendRegistryFaults(false);
    return lines;
}

RegistrySnapshot OwnRegistration(const RegistrySnapshot& before, const std::string& entry)
{
    std::string file = LowerCase(entry);
    std::replace(file.begin(), file.end(), '/', '\\');
    const std::string usageKey = LowerCase("HKLM\\" MODULE_USAGE_PATH "\\" + Escaped(entry));
    const std::string typeLibs = "hkcr\\typelib\\";
    const std::string count = LowerCase("HKLM\\" SHARED_DLLS_PATH "\t" + Escaped(file) + "\t");

    std::vector<std::string> trees = {usageKey};
    for (const std::string& line : before) {
        std::string lower = LowerCase(line);
        if (StartsWith(lower, usageKey + "\t")) {
            std::string name = lower.substr(usageKey.size() + 1);
            name = name.substr(0, name.find('\t'));
            trees.push_back(LowerCase("HKCR\\CLSID\\") + name);
            trees.push_back(LowerCase("HKLM\\" DISTRIBUTION_UNITS_PATH "\\") + name);
        }
        // Any value below a type library that names the file, whatever its type.
        size_t nameStart = lower.find('\t');
        size_t dataStart =
            nameStart == std::string::npos ? nameStart : lower.find('\t', nameStart + 1);
        size_t colon = dataStart == std::string::npos ? dataStart : lower.find(':', dataStart);
        if (StartsWith(lower, typeLibs) && colon != std::string::npos &&
            lower.compare(colon + 1, std::string::npos, file) == 0) {
            std::string lib = lower.substr(typeLibs.size());
            trees.push_back(typeLibs + lib.substr(0, lib.find_first_of("\\\t")));
        }
    }

    RegistrySnapshot own;
    for (const std::string& line : before) {
        std::string lower = LowerCase(line);
        std::string key = KeyOf(lower);
        bool inTree = std::any_of(trees.begin(), trees.end(), [&](const std::string& tree) {
            return key == tree || StartsWith(key, tree + "\\");
        });
        if (inTree || StartsWith(lower, count))
            own.insert(line);
    }
    return own;
}
