#include "fuzz.h"

#include "details/details.h"
#include "inventory/inventory.h"
#include "removal/removal.h"
#include "support/reg_file.h"
#include "unit/registry_snapshot.h"

#include <win32sim.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Names as the unit tests' snapshot writes them, with '%' and tabs escaped:
// a tab would split a line in the wrong place.
std::string NameText(const WCHAR* name, size_t length)
{
    std::string out;
    for (char c : SnapshotText(name, length)) {
        if (c == '%')
            out += "%25";
        else if (c == '\t')
            out += "%09";
        else
            out += c;
    }
    return out;
}

std::string NameText(const WideText& name)
{
    return NameText(name.data(), name.size());
}

// Upper-cased as the registry folds names: the stand-in's folding is
// CharUpperBuffW's.
WideText FoldedWide(WideText text)
{
    if (!text.empty())
        CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

std::string Folded(std::string line)
{
    bool ascii = true;
    for (char& c : line) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    }
    if (ascii)
        return line;
    int length =
        MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), NULL, 0);
    WideText wide(static_cast<size_t>(length), 0);
    MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), &wide[0], length);
    wide = FoldedWide(wide);
    return SnapshotText(wide.data(), wide.size());
}

// Room for the longest value name and the data seen so far, shared by a
// whole walk: a key's own buffers would cost more than reading it.
struct Buffers {
    std::vector<WCHAR> name = std::vector<WCHAR>(16384);
    std::vector<BYTE> data = std::vector<BYTE>(2);
};

// One value of the key, its data buffer grown until the data fits.
LONG EnumValueWhole(HKEY key, DWORD index, Buffers& buffers, DWORD& nameSize, DWORD& type,
                    DWORD& dataSize)
{
    for (;;) {
        nameSize = static_cast<DWORD>(buffers.name.size());
        dataSize = static_cast<DWORD>(buffers.data.size());
        type = 0;
        LONG status = RegEnumValueW(key, index, buffers.name.data(), &nameSize, NULL, &type,
                                    buffers.data.data(), &dataSize);
        if (status != ERROR_MORE_DATA || dataSize <= buffers.data.size())
            return status;
        buffers.data.resize(dataSize);
    }
}

// As the unit tests' snapshot, for names and data of any length.
void SnapshotWholeKey(HKEY key, const std::string& path, Buffers& buffers, RegistrySnapshot& lines)
{
    lines.insert(path);
    std::vector<WCHAR>& name = buffers.name;
    std::vector<BYTE>& data = buffers.data;
    DWORD nameSize, type, dataSize;
    for (DWORD index = 0;
         EnumValueWhole(key, index, buffers, nameSize, type, dataSize) == ERROR_SUCCESS; ++index) {
        lines.insert(path + "\t" + NameText(name.data(), nameSize) + "\t" +
                     DescribeValue(type, data.data(), dataSize));
    }
    for (DWORD index = 0; RegEnumKeyW(key, index, name.data(), 256) == ERROR_SUCCESS; ++index) {
        std::string child = path + "\\" + NameText(WideText(name.data()));
        // Only ASCII folds to ASCII, so only a name of that length can be it.
        const std::string classes = "HKLM\\SOFTWARE\\CLASSES";
        if (child.size() == classes.size() && Folded(child) == classes)
            continue;
        HKEY subkey;
        if (RegOpenKeyExW(key, name.data(), 0, KEY_READ | KEY_WOW64_64KEY, &subkey) !=
            ERROR_SUCCESS) {
            lines.insert(child + " (cannot be opened)");
            continue;
        }
        SnapshotWholeKey(subkey, child, buffers, lines);
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

// A line's key path and value name with the tab after each, upper-cased.
std::string FoldedHead(const std::string& line)
{
    size_t nameStart = line.find('\t');
    size_t dataStart = nameStart == std::string::npos ? nameStart : line.find('\t', nameStart + 1);
    return Folded(line.substr(0, dataStart == std::string::npos ? dataStart : dataStart + 1));
}

// The text a value holds, whatever its type says, up to its first NUL; the
// expanded text too for REG_EXPAND_SZ.
std::vector<WideText> TextsOf(DWORD type, const std::vector<BYTE>& data, DWORD size)
{
    WideText text(size / sizeof(WCHAR), 0);
    if (!text.empty())
        memcpy(&text[0], data.data(), text.size() * sizeof(WCHAR));
    text.resize(std::min(text.size(), text.find(WCHAR(0))));
    std::vector<WideText> texts = {text};
    if (type == REG_EXPAND_SZ) {
        WCHAR expanded[1024];
        DWORD needed = ExpandEnvironmentStringsW(text.c_str(), expanded, 1024);
        if (needed != 0 && needed <= 1024)
            texts.push_back(expanded);
    }
    return texts;
}

// Whether any value in the key or below it names the file.
bool NamesFile(HKEY key, const WideText& foldedFile, Buffers& buffers)
{
    std::vector<WCHAR>& name = buffers.name;
    std::vector<BYTE>& data = buffers.data;
    DWORD nameSize, type, dataSize;
    for (DWORD index = 0;
         EnumValueWhole(key, index, buffers, nameSize, type, dataSize) == ERROR_SUCCESS; ++index) {
        for (const WideText& text : TextsOf(type, data, dataSize)) {
            if (FoldedWide(text) == foldedFile)
                return true;
        }
    }
    bool names = false;
    for (DWORD index = 0; !names && RegEnumKeyW(key, index, name.data(), 256) == ERROR_SUCCESS;
         ++index) {
        HKEY subkey;
        if (RegOpenKeyExW(key, name.data(), 0, KEY_READ, &subkey) != ERROR_SUCCESS)
            continue;
        names = NamesFile(subkey, foldedFile, buffers);
        RegCloseKey(subkey);
    }
    return names;
}

// The type libraries, as snapshot key paths, with a value naming the file.
std::vector<std::string> TypeLibsNaming(const WideText& file)
{
    std::vector<std::string> trees;
    HKEY typeLibs;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, TEXT("TypeLib"), 0, KEY_READ, &typeLibs) != ERROR_SUCCESS)
        return trees;
    WideText foldedFile = FoldedWide(file);
    Buffers buffers;
    WCHAR name[256];
    for (DWORD index = 0; RegEnumKeyW(typeLibs, index, name, 256) == ERROR_SUCCESS; ++index) {
        HKEY lib;
        if (RegOpenKeyExW(typeLibs, name, 0, KEY_READ, &lib) != ERROR_SUCCESS)
            continue;
        if (NamesFile(lib, foldedFile, buffers))
            trees.push_back(Folded("HKCR\\TypeLib\\" + NameText(WideText(name))));
        RegCloseKey(lib);
    }
    RegCloseKey(typeLibs);
    return trees;
}

} // namespace

// The registry as it is, whatever faults the program meets.
RegistrySnapshot TakeFuzzSnapshot()
{
    SimSuspendRegistryFaults(true);
    RegistrySnapshot lines;
    Buffers buffers;
    SnapshotWholeKey(HKEY_CLASSES_ROOT, "HKCR", buffers, lines);
    SnapshotWholeKey(HKEY_LOCAL_MACHINE, "HKLM", buffers, lines);
    SnapshotWholeKey(HKEY_CURRENT_USER, "HKCU", buffers, lines);
    SimSuspendRegistryFaults(false);
    return lines;
}

// Where a path of HKLM\SOFTWARE or a class of the view lies in the snapshot.
std::string InView(const WCHAR* softwarePath, RegistryView view)
{
    std::string path = NameText(WideText(softwarePath));
    if (view == VIEW_32 && SimIsWow64())
        path.insert(path.find('\\'), "\\Wow6432Node");
    return "HKLM\\" + path;
}

RegistrySnapshot OwnRegistration(const RegistrySnapshot& before, const ControlEntry& entry)
{
    WideText file = entry.filePath;
    const std::string usageKey = Folded(InView(MODULE_USAGE_PATH, entry.view) + "\\" +
                                        NameText(WideText(entry.controlPath)));
    const std::string count =
        Folded(InView(SHARED_DLLS_PATH, entry.view) + "\t" + NameText(file) + "\t");
    const std::string classes = entry.view == VIEW_32 && SimIsWow64()
                                    ? Folded(InView(TEXT("SOFTWARE\\Classes\\CLSID"), VIEW_32))
                                    : "HKCR\\CLSID";

    SimSuspendRegistryFaults(true);
    std::vector<std::string> trees = TypeLibsNaming(file);
    SimSuspendRegistryFaults(false);
    trees.push_back(usageKey);
    std::vector<std::string> heads;
    for (const std::string& line : before)
        heads.push_back(FoldedHead(line));
    for (const std::string& folded : heads) {
        if (StartsWith(folded, usageKey + "\t")) {
            std::string name = folded.substr(usageKey.size() + 1);
            name = name.substr(0, name.find('\t'));
            trees.push_back(classes + "\\" + name);
            trees.push_back(Folded(InView(DISTRIBUTION_UNITS_PATH, entry.view) + "\\") + name);
        }
    }

    RegistrySnapshot own;
    auto head = heads.begin();
    for (const std::string& line : before) {
        std::string key = KeyOf(*head);
        bool inTree = std::any_of(trees.begin(), trees.end(), [&](const std::string& tree) {
            return key == tree || StartsWith(key, tree + "\\");
        });
        if (inTree || StartsWith(*head, count))
            own.insert(line);
        ++head;
    }
    return own;
}

RegistrySnapshot OtherViewLibraryLines(const RegistrySnapshot& lines, RegistryView view)
{
    RegistrySnapshot other;
    if (!SimIsWow64())
        return other;
    const std::vector<std::string> keys = view == VIEW_64
                                              ? std::vector<std::string>{"\\WIN32", "\\WIN16"}
                                              : std::vector<std::string>{"\\WIN64"};
    for (const std::string& line : lines) {
        std::string key = Folded(KeyOf(line)) + "\\";
        if (!StartsWith(key, "HKCR\\TYPELIB\\"))
            continue;
        for (const std::string& platform : keys) {
            if (key.find(platform + "\\") != std::string::npos)
                other.insert(line);
        }
    }
    return other;
}

// A key of removed.reg as the snapshot names it: on 64-bit Windows the
// 32-bit view lies under Wow6432Node, all but the TypeLib key both share.
std::string InViewOf(const std::string& key, RegistryView view)
{
    if (view != VIEW_32 || !SimIsWow64())
        return key;
    std::string folded = Folded(key) + "\\";
    if (StartsWith(folded, "HKLM\\SOFTWARE\\"))
        return key.substr(0, 14) + "Wow6432Node\\" + key.substr(14);
    if (StartsWith(folded, "HKCR\\") && !StartsWith(folded, "HKCR\\TYPELIB\\"))
        return "HKLM\\SOFTWARE\\Wow6432Node\\Classes\\" + key.substr(5);
    return key;
}

RegistrySnapshot RegFileLines(const RegFile& file, RegistryView view)
{
    RegistrySnapshot lines;
    for (const std::string& key : file.keys)
        lines.insert(InViewOf(NameText(RegFileWide(key)), view));
    for (const RegFileValue& value : file.values) {
        std::string key = value.path.empty() ? value.root : value.root + "\\" + value.path;
        lines.insert(
            InViewOf(NameText(RegFileWide(key)), view) + "\t" + NameText(RegFileWide(value.name)) +
            "\t" +
            DescribeValue(value.type, value.data.data(), static_cast<DWORD>(value.data.size())));
    }
    return lines;
}

RegistrySnapshot FoldedNames(const RegistrySnapshot& lines)
{
    RegistrySnapshot folded;
    for (const std::string& line : lines) {
        size_t nameStart = line.find('\t');
        size_t dataStart =
            nameStart == std::string::npos ? nameStart : line.find('\t', nameStart + 1);
        folded.insert(FoldedHead(line) +
                      (dataStart == std::string::npos ? "" : line.substr(dataStart + 1)));
    }
    return folded;
}
