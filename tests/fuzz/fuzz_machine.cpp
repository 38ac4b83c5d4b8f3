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
    const WCHAR* path;
    REGSAM view = 0; // on 64-bit Windows, the 64-bit view where it says so
};

// The keys the program reads, their parents, and the roots.
const Base kBases[] = {
    {HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH},
    {HKEY_LOCAL_MACHINE, DISTRIBUTION_UNITS_PATH},
    {HKEY_LOCAL_MACHINE, SHARED_DLLS_PATH},
    {HKEY_CLASSES_ROOT, TEXT("CLSID")},
    {HKEY_CLASSES_ROOT, TEXT("TypeLib")},
    {HKEY_CLASSES_ROOT, TEXT("Component Categories")},
    {HKEY_LOCAL_MACHINE, TEXT("SOFTWARE\\Microsoft\\Windows\\CurrentVersion")},
    {HKEY_LOCAL_MACHINE, TEXT("SOFTWARE\\Microsoft\\Code Store Database")},
    {HKEY_CLASSES_ROOT, TEXT("")},
    {HKEY_LOCAL_MACHINE, TEXT("")},
    {HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH, KEY_WOW64_64KEY},
    {HKEY_LOCAL_MACHINE, DISTRIBUTION_UNITS_PATH, KEY_WOW64_64KEY},
    {HKEY_LOCAL_MACHINE, SHARED_DLLS_PATH, KEY_WOW64_64KEY},
    {HKEY_CLASSES_ROOT, TEXT("CLSID"), KEY_WOW64_64KEY},
};

// Names and texts that mean something to the program. The paths name the
// placed files in other ways: another case (Greek and fullwidth letters
// fold too), '/', a trailing dot, a short name; and look-alikes name
// other files (U+0441 is a Cyrillic letter, U+FF41 a fullwidth one).
const WCHAR* const kWords[] = {
    TEXT(""),
    TEXT(".Owner"),
    TEXT("Unknown Owner"),
    TEXT("FileVersion"),
    TEXT("CODEBASE"),
    TEXT("InprocServer32"),
    TEXT("Implemented Categories"),
    TEXT("Contains"),
    TEXT("Files"),
    TEXT("DownloadInformation"),
    TEXT("Version"),
    TEXT("Control"),
    TEXT("1.0"),
    TEXT("2.0"),
    TEXT("0"),
    TEXT("9"),
    TEXT("409"),
    TEXT("win32"),
    TEXT("win16"),
    TEXT("win64"),
    TEXT("C:\\Windows\\System32\\d.ocx"),
    TEXT("FLAGS"),
    TEXT("HELPDIR"),
    TEXT("Generated Library"),
    TEXT("{0B5E0000-0000-4000-8000-00000000000A}"),
    TEXT("{0b5e0000-0000-4000-8000-00000000000a}"),
    TEXT("{0B5E0000-0000-4000-8000-00000000000B}"),
    TEXT("{0B5E0000-0000-4000-8000-0000000000AA}"),
    TEXT("{7DD95801-9882-11CF-9FA9-00AA006C42C4}"),
    TEXT("{"),
    TEXT("C:/Windows/Downloaded Program Files/a.ocx"),
    TEXT("C:\\Windows\\Downloaded Program Files\\a.ocx"),
    TEXT("c:\\windows\\downloaded program files\\A.OCX"),
    TEXT("C:/Windows/Downloaded Program Files/\xFF41.ocx"),
    TEXT("C:/Windows/Downloaded Program Files/\xFF21.OCX"),
    TEXT("C:/WINDOWS/OCCACHE/b.dll"),
    TEXT("C:\\WINDOWS\\OCCACHE\\b.dll"),
    TEXT("C:\\WINDOWS\\OCCACHE\\b.dll."),
    TEXT("c:\\program files\\vendor\\c.ocx"),
    TEXT("C:\\Program Files\\Vendor\\c.ocx"),
    TEXT("C:\\PROGRA~1\\Vendor\\c.ocx"),
    TEXT("c:/progra~1/vendor/C.OCX. ."),
    TEXT("C:\\Program Files\\Vendor\\\x0441.ocx"),
    TEXT("C:/Program Files/Vendor/\x0441.ocx"),
    TEXT("C:\\Program Files\\Vendor\\\x03A9mega.ocx"),
    TEXT("C:/Program Files/Vendor/\x03C9MEGA.OCX"),
    TEXT("C:\\Program Files\\Vendor\\\xD800.ocx"),
    TEXT("C:\\Program Files\\Vendor\\\xDBFF\xDFFF\xFFFF.ocx"),
    TEXT("C:/Windows/Downloaded Program Files/%s%n%x.ocx"),
    TEXT("C:\\Windows\\Downloaded Program Files\\%s%n%x.ocx"),
    TEXT("D:/elsewhere/d.ocx"),
    TEXT("D:\\elsewhere\\d.ocx"),
    TEXT("C:\\Windows\\Downloaded Program Files\\"),
    TEXT("%SystemRoot%\\a.ocx"),
};
const size_t kWordCount = sizeof kWords / sizeof kWords[0];

// Text the ANSI code page cannot carry, or carries as something else.
const WCHAR* const kAwkward[] = {
    // Unpaired surrogates, pairs beyond the BMP, noncharacters, private use
    TEXT("\xD800"),
    TEXT("\xDBFF"),
    TEXT("\xDC00"),
    TEXT("\xDFFF"),
    TEXT("\xDBFF\xDFFF"),
    TEXT("\xD800\xDC00"),
    TEXT("\xD83D\xDE00"),
    TEXT("\xFFFF"),
    TEXT("\xFFFE"),
    TEXT("\xFEFF"),
    TEXT("\xFFFD"),
    TEXT("\xE000"),
    TEXT("\xF8FF"),
    TEXT("\x200B"),
    TEXT("\x00AD"),
    TEXT("\x00A0"),
    // Latin letters whose case or code page place is awkward
    TEXT("\x00E9"),
    TEXT("\x00C9"),
    TEXT("\x00FF"),
    TEXT("\x0178"),
    TEXT("\x00DF"),
    TEXT("\x00B5"),
    TEXT("\x20AC"),
    TEXT("\x0130"),
    TEXT("\x0131"),
    TEXT("\x017F"),
    // Greek and Cyrillic, look-alikes of A, O, C and E among them
    TEXT("\x0391"),
    TEXT("\x03B1"),
    TEXT("\x039F"),
    TEXT("\x03BF"),
    TEXT("\x03A9"),
    TEXT("\x03C9"),
    TEXT("\x03C2"),
    TEXT("\x03C3"),
    TEXT("\x03A3"),
    TEXT("\x0410"),
    TEXT("\x0430"),
    TEXT("\x0421"),
    TEXT("\x0441"),
    TEXT("\x041E"),
    TEXT("\x043E"),
    TEXT("\x0415"),
    TEXT("\x0435"),
    TEXT("\x0416"),
    TEXT("\x0436"),
    TEXT("\x0401"),
    TEXT("\x0451"),
    // Fullwidth letters, separators and look-alikes of them
    TEXT("\xFF21"),
    TEXT("\xFF41"),
    TEXT("\xFF23"),
    TEXT("\xFF43"),
    TEXT("\xFF3C"),
    TEXT("\xFF0F"),
    TEXT("\xFF1A"),
    TEXT("\xFF0E"),
    TEXT("\xFF05"),
    TEXT("\x2215"),
    TEXT("\x2044"),
    TEXT("\xFE68"),
    TEXT("\x2024"),
    // What paths and formats make of text
    TEXT("%s"),
    TEXT("%n"),
    TEXT("~1"),
    TEXT(". "),
};
const size_t kAwkwardCount = sizeof kAwkward / sizeof kAwkward[0];

const DWORD kTypes[] = {REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ, REG_NONE};

const char* const kFilePaths[] = {
    "C:\\Windows\\Downloaded Program Files\\a.ocx",
    "C:\\WINDOWS\\OCCACHE\\b.dll",
    "C:\\Program Files\\Vendor\\c.ocx",
    "C:\\Windows\\Downloaded Program Files\\%s%n%x.ocx",
    "C:\\Windows\\Downloaded Program Files",
    "C:\\Program Files\\Vendor\\\u0441.ocx",
    "C:\\Program Files\\Vendor\\\u03A9mega.ocx",
    "C:\\Windows\\Downloaded Program Files\\\uFF41.ocx",
    // On 64-bit Windows two files: the 32-bit one and the real System32's.
    "C:\\Windows\\System32\\d.ocx",
    "C:\\Windows\\Sysnative\\d.ocx",
};
const size_t kFilePathCount = sizeof kFilePaths / sizeof kFilePaths[0];

const char* const kFixtures[] = {"unregister.ocx", "full.ocx", "noversion.dll"};

const int kAnswers[] = {IDYES, IDNO, IDOK, IDCANCEL};

const LONG kEnumFailures[] = {ERROR_ACCESS_DENIED,  ERROR_MORE_DATA,     ERROR_NOT_ENOUGH_MEMORY,
                              ERROR_INVALID_HANDLE, ERROR_NO_MORE_ITEMS, ERROR_KEY_DELETED};

const BYTE kRawTag = 0xF0;
const BYTE kAwkwardTag = 0x80;
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

WideText Unit(Reader& in)
{
    unsigned tag = Byte(in);
    if (tag < kAwkwardTag)
        return WideText(1, static_cast<WCHAR>(tag));
    if (tag < kRawTag)
        return kAwkward[(tag - kAwkwardTag) % kAwkwardCount];
    return WideText(1, static_cast<WCHAR>(Number16(in)));
}

WideText Name(Reader& in, size_t limit, bool keyName)
{
    unsigned tag = Byte(in);
    if (tag < kRawTag)
        return kWords[tag % kWordCount];
    unsigned count = Number16(in) % (limit + 1);
    WideText name;
    for (unsigned i = 0; i < count && name.size() < limit && in.at < in.size; ++i)
        name += Unit(in);
    name.resize(std::min(name.size(), limit));
    for (WCHAR& c : name) {
        if (c == 0 || (keyName && c == '\\'))
            c = '?';
    }
    return name;
}

std::string TextBytes(const WideText& text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(WCHAR));
}

// NT reads the character after string data to see whether the caller left
// out the NUL; what follows the data in memory is part of the value.
struct ValueData {
    std::string bytes;
    char after;
};

ValueData Data(Reader& in)
{
    const size_t maxUnits = kMaxData / sizeof(WCHAR);
    switch (Byte(in) % 5) {
    case 0:
        return {TextBytes(Name(in, maxUnits - 1, false) + WCHAR(0)), 0};
    case 1:
        return {TextBytes(Name(in, maxUnits, false)), 0};
    case 2: {
        DWORD number = Number32(in);
        return {std::string(reinterpret_cast<const char*>(&number), sizeof number), 0};
    }
    case 3:
        return {Bytes(in, Number16(in)), '\xFF'};
    default: {
        WideText first = Name(in, 2048, false);
        WideText second = Name(in, 2048, false);
        return {TextBytes(first + WCHAR(0) + second + WCHAR(0) + WCHAR(0)), 0};
    }
    }
}

// A key below one of the bases; answers its base.
const Base& KeyPath(Reader& in, unsigned maxDepth, WideText& path)
{
    const Base& base = kBases[Byte(in) % (sizeof kBases / sizeof kBases[0])];
    path = base.path;
    unsigned depth = Byte(in) % (maxDepth + 1);
    for (unsigned i = 0; i < depth; ++i) {
        WideText name = Name(in, 255, true);
        if (name.empty())
            continue;
        if (!path.empty())
            path += '\\';
        path += name;
    }
    return base;
}

std::string Utf8Path(const WideText& path)
{
    int length = WideCharToMultiByte(CP_UTF8, 0, path.c_str(), -1, NULL, 0, NULL, NULL);
    std::string utf8(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, path.c_str(), -1, &utf8[0], length, NULL, NULL);
    utf8.resize(utf8.find('\0'));
    return utf8;
}

void AddRegistryEntry(Reader& in)
{
    WideText path;
    const Base& base = KeyPath(in, 16, path);
    HKEY key;
    if (RegCreateKeyExW(base.root, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS | base.view, NULL, &key,
                        NULL) != ERROR_SUCCESS)
        return;
    if (Byte(in) % 2 == 1) {
        WideText name = Name(in, 16383, false);
        unsigned tag = Byte(in);
        DWORD type =
            tag < kRawTag ? kTypes[tag % (sizeof kTypes / sizeof kTypes[0])] : Number32(in);
        ValueData data = Data(in);
        std::string memory = data.bytes + std::string(sizeof(WCHAR), data.after);
        RegSetValueExW(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(memory.data()),
                       static_cast<DWORD>(data.bytes.size()));
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

void PutName(std::string& out, const WideText& name)
{
    PutByte(out, kRawTag);
    PutNumber16(out, static_cast<unsigned>(name.size()));
    for (WCHAR c : name) {
        if (c != 0 && c < kAwkwardTag) {
            PutByte(out, c);
        } else {
            PutByte(out, kRawTag);
            PutNumber16(out, c);
        }
    }
}

void PutKeyPath(std::string& out, HKEY root, const WCHAR* base, const std::vector<WideText>& names)
{
    size_t index = 0;
    while (index < sizeof kBases / sizeof kBases[0] &&
           (kBases[index].root != root || WideText(kBases[index].path) != base))
        ++index;
    PutByte(out, static_cast<unsigned>(index));
    PutByte(out, static_cast<unsigned>(names.size()));
    for (const WideText& name : names)
        PutName(out, name);
}

void PutKey(SeedWriter& seed, HKEY root, const WCHAR* base, const std::vector<WideText>& names)
{
    PutKeyPath(seed.opBytes, root, base, names);
    ++seed.ops;
}

} // namespace

FuzzMachine BuildMachine(const uint8_t* data, size_t size, const std::string& fixtureDir)
{
    Reader in = {data, size, 0};
    FuzzMachine machine;
    // The first byte says, beyond the count, whether it is 64-bit Windows.
    unsigned first = Byte(in);
    SimSetWow64(first / 65 % 2 == 1);
    unsigned entries = first % 65;
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
        WideText path;
        const Base& base = KeyPath(in, 4, path);
        DWORD index = Byte(in) % 64;
        LONG status = kEnumFailures[Byte(in) % (sizeof kEnumFailures / sizeof kEnumFailures[0])];
        // The stand-in takes fault paths in UTF-8, where an unpaired
        // surrogate becomes U+FFFD: such a fault names some other key.
        if (enumeration)
            SimFailEnumAt(base.root, Utf8Path(path).c_str(), index, status);
        else
            SimDenyKeyOpen(base.root, Utf8Path(path).c_str());
    }
    return machine;
}

void SeedKey(SeedWriter& seed, HKEY root, const WCHAR* base, const std::vector<WideText>& names)
{
    PutKey(seed, root, base, names);
    PutByte(seed.opBytes, 0);
}

void SeedValue(SeedWriter& seed, HKEY root, const WCHAR* base, const std::vector<WideText>& names,
               const WideText& valueName, DWORD type, const std::string& data)
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

void SeedFault(SeedWriter& seed, HKEY root, const WCHAR* base, const std::vector<WideText>& names,
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
