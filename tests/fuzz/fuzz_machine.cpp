#include "fuzz.h"

#include "inventory/inventory.h"
#include "details/details.h"
#include "removal/removal.h"

#include <win32sim.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

struct Base {
    HKEY root;
    const char* path;
};

// The keys the program reads, their parents, and the roots.
const Base kBases[] = {
    {HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH},
    {HKEY_LOCAL_MACHINE, DISTRIBUTION_UNITS_PATH},
    {HKEY_LOCAL_MACHINE, SHARED_DLLS_PATH},
    {HKEY_CLASSES_ROOT, "CLSID"},
    {HKEY_CLASSES_ROOT, "TypeLib"},
    {HKEY_CLASSES_ROOT, "Component Categories"},
    {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion"},
    {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Code Store Database"},
    {HKEY_CLASSES_ROOT, ""},
    {HKEY_LOCAL_MACHINE, ""},
};

// Names and texts that mean something to the program.
const char* const kWords[] = {
    "",
    ".Owner",
    "Unknown Owner",
    "FileVersion",
    "CODEBASE",
    "InprocServer32",
    "Implemented Categories",
    "Contains",
    "Files",
    "DownloadInformation",
    "Version",
    "Control",
    "1.0",
    "2.0",
    "0",
    "9",
    "409",
    "win32",
    "win16",
    "FLAGS",
    "HELPDIR",
    "Generated Library",
    "{0B5E0000-0000-4000-8000-00000000000A}",
    "{0b5e0000-0000-4000-8000-00000000000a}",
    "{0B5E0000-0000-4000-8000-00000000000B}",
    "{0B5E0000-0000-4000-8000-0000000000AA}",
    "{7DD95801-9882-11CF-9FA9-00AA006C42C4}",
    "{",
    "C:/Windows/Downloaded Program Files/a.ocx",
    "C:\\Windows\\Downloaded Program Files\\a.ocx",
    "c:\\windows\\downloaded program files\\A.OCX",
    "C:/WINDOWS/OCCACHE/b.dll",
    "C:\\WINDOWS\\OCCACHE\\b.dll",
    "c:\\program files\\vendor\\c.ocx",
    "C:\\Program Files\\Vendor\\c.ocx",
    "C:/Windows/Downloaded Program Files/%s%n%x.ocx",
    "C:\\Windows\\Downloaded Program Files\\%s%n%x.ocx",
    "D:/elsewhere/d.ocx",
    "D:\\elsewhere\\d.ocx",
    "C:\\Windows\\Downloaded Program Files\\",
    "%SystemRoot%\\a.ocx",
};
const size_t kWordCount = sizeof kWords / sizeof kWords[0];

const DWORD kTypes[] = {REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ, REG_NONE};

const char* const kFilePaths[] = {
    "C:\\Windows\\Downloaded Program Files\\a.ocx",
    "C:\\WINDOWS\\OCCACHE\\b.dll",
    "C:\\Program Files\\Vendor\\c.ocx",
    "C:\\Windows\\Downloaded Program Files\\%s%n%x.ocx",
    "C:\\Windows\\Downloaded Program Files",
};
const size_t kFilePathCount = sizeof kFilePaths / sizeof kFilePaths[0];

const char* const kFixtures[] = {"unregister.ocx", "full.ocx", "noversion.dll"};

const int kAnswers[] = {IDYES, IDNO, IDOK, IDCANCEL};

const LONG kEnumFailures[] = {ERROR_ACCESS_DENIED,  ERROR_MORE_DATA,     ERROR_NOT_ENOUGH_MEMORY,
                              ERROR_INVALID_HANDLE, ERROR_NO_MORE_ITEMS, ERROR_KEY_DELETED};

const BYTE kRawTag = 0xF0;
const size_t kMaxData = 65535;

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at;
};

unsigned Byte(Reader& in)
{
    return in.at < in.size ? in.data[in.at++] : 0;
}

unsigned Number16(Reader& in)
{
    unsigned low = Byte(in);
    return low | Byte(in) << 8;
}

DWORD Number32(Reader& in)
{
    DWORD low = Number16(in);
    return low | static_cast<DWORD>(Number16(in)) << 16;
}

std::string Bytes(Reader& in, size_t length)
{
    length = std::min(length, in.size - in.at);
    std::string text(reinterpret_cast<const char*>(in.data + in.at), length);
    in.at += length;
    return text;
}

std::string Name(Reader& in, size_t limit, bool keyName)
{
    unsigned tag = Byte(in);
    if (tag < kRawTag)
        return kWords[tag % kWordCount];
    std::string name = Bytes(in, Number16(in) % (limit + 1));
    for (char& c : name) {
        if (c == '\0' || (keyName && c == '\\'))
            c = '?';
    }
    return name;
}

std::string Data(Reader& in)
{
    switch (Byte(in) % 5) {
    case 0:
        return Name(in, kMaxData - 1, false) + '\0';
    case 1:
        return Name(in, kMaxData, false);
    case 2: {
        DWORD number = Number32(in);
        return std::string(reinterpret_cast<const char*>(&number), sizeof number);
    }
    case 3:
        return Bytes(in, Number16(in));
    default: {
        std::string first = Name(in, 4096, false);
        std::string second = Name(in, 4096, false);
        return first + '\0' + second + '\0' + '\0';
    }
    }
}

// A key below one of the bases; answers its base.
const Base& KeyPath(Reader& in, unsigned maxDepth, std::string& path)
{
    const Base& base = kBases[Byte(in) % (sizeof kBases / sizeof kBases[0])];
    path = base.path;
    unsigned depth = Byte(in) % (maxDepth + 1);
    for (unsigned i = 0; i < depth; ++i) {
        std::string name = Name(in, 255, true);
        if (name.empty())
            continue;
        path += path.empty() ? name : "\\" + name;
    }
    return base;
}

void AddRegistryEntry(Reader& in)
{
    std::string path;
    const Base& base = KeyPath(in, 16, path);
    HKEY key;
    if (RegCreateKeyExA(base.root, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL) !=
        ERROR_SUCCESS)
        return;
    if (Byte(in) % 2 == 1) {
        std::string name = Name(in, 16383, false);
        unsigned tag = Byte(in);
        DWORD type =
            tag < kRawTag ? kTypes[tag % (sizeof kTypes / sizeof kTypes[0])] : Number32(in);
        std::string data = Data(in);
        RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                       static_cast<DWORD>(data.size()));
    }
    RegCloseKey(key);
}

void PlaceFile(Reader& in, const std::string& fixtureDir, std::vector<std::string>& files)
{
    const char* path = kFilePaths[Byte(in) % kFilePathCount];
    std::filesystem::path host = SimHostPath(path);
    std::error_code ignored;
    std::filesystem::create_directories(host.parent_path(), ignored);
    unsigned content = Byte(in) % 5;
    if (content < 3) {
        std::filesystem::copy_file(fixtureDir + "/" + kFixtures[content], host,
                                   std::filesystem::copy_options::overwrite_existing, ignored);
    } else if (content == 3) {
        std::ofstream(host, std::ios::binary) << Bytes(in, Number16(in) % 4097);
    } else {
        std::filesystem::create_directories(host, ignored);
    }
    files.push_back(path);
}

void PutByte(std::string& out, unsigned value)
{
    out += static_cast<char>(value & 0xFF);
}

void PutNumber16(std::string& out, unsigned value)
{
    PutByte(out, value);
    PutByte(out, value >> 8);
}

void PutNumber32(std::string& out, DWORD value)
{
    PutNumber16(out, value & 0xFFFF);
    PutNumber16(out, value >> 16);
}

void PutName(std::string& out, const std::string& name)
{
    PutByte(out, kRawTag);
    PutNumber16(out, static_cast<unsigned>(name.size()));
    out += name;
}

void PutKeyPath(std::string& out, HKEY root, const char* base,
                const std::vector<std::string>& names)
{
    size_t index = 0;
    while (index < sizeof kBases / sizeof kBases[0] &&
           (kBases[index].root != root || strcmp(kBases[index].path, base) != 0))
        ++index;
    PutByte(out, static_cast<unsigned>(index));
    PutByte(out, static_cast<unsigned>(names.size()));
    for (const std::string& name : names)
        PutName(out, name);
}

void PutKey(SeedWriter& seed, HKEY root, const char* base, const std::vector<std::string>& names)
{
    PutKeyPath(seed.opBytes, root, base, names);
    ++seed.ops;
}

} // namespace

FuzzMachine BuildMachine(const uint8_t* data, size_t size, const std::string& fixtureDir)
{
    Reader in = {data, size, 0};
    FuzzMachine machine;
    unsigned entries = Byte(in) % 65;
    for (unsigned i = 0; i < entries; ++i)
        AddRegistryEntry(in);
    unsigned files = Byte(in) % 4;
    for (unsigned i = 0; i < files; ++i)
        PlaceFile(in, fixtureDir, machine.files);
    unsigned steps = Byte(in) % 13;
    for (unsigned i = 0; i < steps; ++i) {
        int kind = static_cast<int>(Byte(in) % 5);
        machine.steps.push_back({kind, static_cast<int>(Byte(in))});
    }
    unsigned answers = Byte(in) % 17;
    for (unsigned i = 0; i < answers; ++i)
        machine.answers.push_back(kAnswers[Byte(in) % 4]);
    unsigned faults = Byte(in) % 4;
    for (unsigned i = 0; i < faults; ++i) {
        bool enumeration = Byte(in) % 2 == 1;
        std::string path;
        const Base& base = KeyPath(in, 4, path);
        DWORD index = Byte(in) % 64;
        LONG status = kEnumFailures[Byte(in) % (sizeof kEnumFailures / sizeof kEnumFailures[0])];
        if (enumeration)
            SimFailEnumAt(base.root, path.c_str(), index, status);
        else
            SimDenyKeyOpen(base.root, path.c_str());
    }
    return machine;
}

void SeedKey(SeedWriter& seed, HKEY root, const char* base, const std::vector<std::string>& names)
{
    PutKey(seed, root, base, names);
    PutByte(seed.opBytes, 0);
}

void SeedValue(SeedWriter& seed, HKEY root, const char* base, const std::vector<std::string>& names,
               const std::string& valueName, DWORD type, const std::string& data)
{
    PutKey(seed, root, base, names);
    PutByte(seed.opBytes, 1);
    PutName(seed.opBytes, valueName);
    PutByte(seed.opBytes, 0xFF);
    PutNumber32(seed.opBytes, type);
    PutByte(seed.opBytes, 3);
    PutNumber16(seed.opBytes, static_cast<unsigned>(data.size()));
    seed.opBytes += data;
}

void SeedFile(SeedWriter& seed, const char* windowsPath, int content)
{
    size_t index = 0;
    while (index < kFilePathCount && strcmp(kFilePaths[index], windowsPath) != 0)
        ++index;
    PutByte(seed.fileBytes, static_cast<unsigned>(index));
    PutByte(seed.fileBytes, static_cast<unsigned>(content));
    if (content == 3) {
        const std::string text = "not a program\r\n";
        PutNumber16(seed.fileBytes, static_cast<unsigned>(text.size()));
        seed.fileBytes += text;
    }
    ++seed.files;
}

void SeedStep(SeedWriter& seed, int kind, int index)
{
    PutByte(seed.stepBytes, static_cast<unsigned>(kind));
    PutByte(seed.stepBytes, static_cast<unsigned>(index));
    ++seed.steps;
}

void SeedFault(SeedWriter& seed, HKEY root, const char* base, const std::vector<std::string>& names,
               DWORD index, LONG status)
{
    size_t failure = 0;
    while (failure < sizeof kEnumFailures / sizeof kEnumFailures[0] &&
           kEnumFailures[failure] != status)
        ++failure;
    PutByte(seed.faultBytes, status == ERROR_SUCCESS ? 0 : 1);
    PutKeyPath(seed.faultBytes, root, base, names);
    PutByte(seed.faultBytes, index);
    PutByte(seed.faultBytes, static_cast<unsigned>(failure));
    ++seed.faults;
}

std::string SeedBytes(const SeedWriter& seed, const std::vector<int>& answers)
{
    std::string out;
    PutByte(out, static_cast<unsigned>(seed.ops));
    out += seed.opBytes;
    PutByte(out, static_cast<unsigned>(seed.files));
    out += seed.fileBytes;
    PutByte(out, static_cast<unsigned>(seed.steps));
    out += seed.stepBytes;
    PutByte(out, static_cast<unsigned>(answers.size()));
    for (int answer : answers) {
        size_t index = 0;
        while (index < 3 && kAnswers[index] != answer)
            ++index;
        PutByte(out, static_cast<unsigned>(index));
    }
    PutByte(out, static_cast<unsigned>(seed.faults));
    out += seed.faultBytes;
    return out;
}
