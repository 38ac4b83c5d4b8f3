// Files seen through Windows paths. C: is a sandbox folder of the test run;
// Z: is the host's root, as Wine maps it. Names are looked up without regard
// to case, as on Windows, and either separator is accepted. Host names are
// UTF-8; the stand-in compares them as UTF-16.

#include "internal.h"

#include <string_view>

#include <shlobj.h>
#include <win32sim.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct TimeOverride {
    FILETIME creation, lastWrite, lastAccess;
};

enum class HandleKind { File, Search, Process };

struct OpenHandle {
    HandleKind kind;
    std::string hostPath;
    int descriptor; // files only: the host file stays the one that was opened
    DWORD share;
    bool read, write, writeAttributes;
    // Searches of a folder: its entries, and the next one FindNextFileW gives.
    std::vector<std::string> entries = {};
    size_t next = 0;
};

std::string g_sandbox;
// Marks by host path, which travel with a file or folder that moves.
std::map<std::string, TimeOverride> g_times;
std::map<std::string, bool> g_readOnly;
std::map<std::string, bool> g_inUse;
std::map<std::string, DWORD> g_attributes; // HIDDEN, SYSTEM, ARCHIVE; files default to ARCHIVE
std::vector<std::u16string> g_deniedFolders;
long long g_writeBudget = -1;
DWORD g_writeError = 0;
HRESULT g_folderPathFailure = 0;
int g_allocsBeforeFailure = -1;
std::map<HANDLE, OpenHandle> g_handles;
// Never reused, not even across resets, so a stale handle stays invalid.
ULONG_PTR g_lastHandle = 0;

const unsigned long long kTicksPerSecond = 10000000ULL;
const unsigned long long kEpochDifference = 11644473600ULL; // 1601 to 1970, seconds
// Winerror.h's and winnt.h's, which the program has no use for.
const DWORD kErrorInvalidFunction = 1;
const DWORD kErrorNotSameDevice = 17;
const DWORD kErrorInvalidName = 123;
const DWORD kErrorDirectory = 267;
const DWORD kSynchronize = 0x00100000;
const DWORD kFileReadData = 0x0001;
const DWORD kFileWriteData = 0x0002;
const DWORD kGenericAll = 0x10000000;
const HRESULT kInvalidArgument = static_cast<HRESULT>(0x80070057);
const DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
const char16_t kLocalAppData[] = u"C:\\users\\Burrowlens Tester\\AppData\\Local";

void RemoveTree(const std::string& path);

void RemoveSandbox()
{
    if (g_sandbox.find("/win32sim-c-") != std::string::npos)
        RemoveTree(g_sandbox);
}

std::string Sandbox()
{
    if (g_sandbox.empty()) {
        // Memory-backed where the host has it: a Delete writes a restore
        // folder, and the property tests make thousands.
        char memory[] = "/dev/shm/win32sim-c-XXXXXX";
        char disk[] = "/tmp/win32sim-c-XXXXXX";
        const char* made = mkdtemp(memory);
        if (made == nullptr)
            made = mkdtemp(disk);
        g_sandbox = made != nullptr ? made : "/tmp";
        // Programs that never reset (the platform tests) leave nothing behind.
        static bool registered = false;
        if (!registered && made != nullptr)
            registered = atexit(RemoveSandbox) == 0;
    }
    return g_sandbox;
}

void RemoveTree(const std::string& path)
{
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr)
        return;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        std::string child = path + "/" + name;
        struct stat info;
        if (lstat(child.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            RemoveTree(child);
        else
            unlink(child.c_str());
    }
    closedir(dir);
    rmdir(path.c_str());
}

bool IsSeparator(WCHAR c)
{
    return c == u'\\' || c == u'/';
}

bool IsDriveLetter(WCHAR c)
{
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

// A path after its drive, as Win32 normalizes it: separators of either kind
// and any number, "." and ".." resolved (never above the root), trailing dots
// and spaces gone from the last name and one trailing dot from the others.
struct PathNames {
    std::vector<std::u16string> names;
    bool trailingSeparator;
};

bool OnlyDots(const std::u16string& name)
{
    return name.find_first_not_of(u'.') == std::u16string::npos;
}

PathNames NormalizeNames(const std::u16string& rest)
{
    std::vector<std::u16string> parts;
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = start;
        while (end < rest.size() && !IsSeparator(rest[end]))
            ++end;
        parts.push_back(rest.substr(start, end - start));
        start = end + 1;
    }
    PathNames path{{}, false};
    for (size_t i = 0; i < parts.size(); ++i) {
        std::u16string name = parts[i];
        bool last = i + 1 == parts.size();
        if (name == u"." || name == u"..") {
            if (name == u".." && !path.names.empty())
                path.names.pop_back();
            if (last)
                path.trailingSeparator = false;
            continue;
        }
        if (last) {
            size_t kept = name.find_last_not_of(u". ");
            name.erase(kept == std::u16string::npos ? 0 : kept + 1);
            if (name.empty())
                path.trailingSeparator = !path.names.empty();
        } else if (!OnlyDots(name) && name.back() == u'.') {
            name.pop_back();
        }
        if (!name.empty())
            path.names.push_back(name);
    }
    return path;
}

std::u16string Upper(std::u16string text)
{
    for (WCHAR& c : text)
        c = UpcaseChar(c);
    return text;
}

// The names that need no short name: up to eight characters, a dot and up to
// three more, none of them a space or one that 8.3 names exclude.
bool IsShortName(const std::u16string& name)
{
    size_t dot = name.find(u'.');
    size_t base = dot == std::u16string::npos ? name.size() : dot;
    if (base == 0 || base > 8)
        return false;
    if (dot != std::u16string::npos && (name.size() - dot - 1 == 0 || name.size() - dot - 1 > 3 ||
                                        name.find(u'.', dot + 1) != std::u16string::npos))
        return false;
    for (size_t i = 0; i < name.size(); ++i) {
        WCHAR c = name[i];
        if (i == dot)
            continue;
        if (c <= u' ' || c > u'~' ||
            std::u16string(u"\"*+,/:;<=>?[\\]|.").find(c) != std::u16string::npos)
            return false;
    }
    return true;
}

// PREFIX~N, optionally followed by .EXT, as Windows makes up short names.
struct ShortName {
    std::u16string prefix;
    size_t ordinal;
    bool hasExtension;
    std::u16string extension;
};

// The ordinal follows the last '~' before the dot, so a prefix may hold one.
bool ParseShortName(const std::u16string& name, ShortName* shortName)
{
    std::u16string upper = Upper(name);
    size_t dot = upper.find(u'.');
    size_t digitsEnd = dot == std::u16string::npos ? upper.size() : dot;
    size_t tilde = digitsEnd == 0 ? std::u16string::npos : upper.rfind(u'~', digitsEnd - 1);
    if (tilde == 0 || tilde == std::u16string::npos)
        return false;
    if (digitsEnd == tilde + 1 || digitsEnd > 8)
        return false;
    size_t ordinal = 0;
    for (size_t i = tilde + 1; i < digitsEnd; ++i) {
        if (upper[i] < u'0' || upper[i] > u'9')
            return false;
        ordinal = ordinal * 10 + (upper[i] - u'0');
    }
    if (ordinal == 0)
        return false;
    shortName->prefix = upper.substr(0, tilde);
    shortName->ordinal = ordinal;
    shortName->hasExtension = dot != std::u16string::npos;
    if (shortName->hasExtension) {
        shortName->extension = upper.substr(dot + 1);
        if (shortName->extension.empty() || shortName->extension.size() > 3 ||
            shortName->extension.find(u'.') != std::u16string::npos)
            return false;
    }
    return true;
}

// What a long name's short form is made from: the name before its last dot
// and up to three characters after it, upper-case, without spaces or dots,
// and '_' for what an 8.3 name cannot hold.
struct ShortStem {
    std::u16string base;
    std::u16string extension;
};

std::u16string ShortCharacters(const std::u16string& text)
{
    std::u16string out;
    for (WCHAR c : text) {
        if (c == u' ' || c == u'.')
            continue;
        bool legal = c > u' ' && c <= u'~' &&
                     std::u16string(u"\"*+,/:;<=>?[\\]|").find(c) == std::u16string::npos;
        out += legal ? c : u'_';
    }
    return out;
}

ShortStem ShortStemOf(const std::u16string& upper)
{
    size_t dot = upper.rfind(u'.');
    if (dot == std::u16string::npos || dot == 0)
        return ShortStem{ShortCharacters(upper), u""};
    return ShortStem{ShortCharacters(upper.substr(0, dot)),
                     ShortCharacters(upper.substr(dot + 1)).substr(0, 3)};
}

std::vector<std::string> FolderEntries(const std::string& folder)
{
    std::vector<std::string> entries;
    DIR* dir = opendir(folder.empty() ? "/" : folder.c_str());
    if (dir == nullptr)
        return entries;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            entries.push_back(name);
    }
    closedir(dir);
    return entries;
}

bool IsShortNameOf(const ShortName& shortName, const std::u16string& upper)
{
    if (IsShortName(upper))
        return false;
    ShortStem stem = ShortStemOf(upper);
    if (stem.base.compare(0, shortName.prefix.size(), shortName.prefix) != 0)
        return false;
    return !shortName.hasExtension || stem.extension == shortName.extension;
}

// Entries by upper-case name: the order that numbers short names.
std::vector<std::pair<std::u16string, std::string>> SortedEntries(const std::string& folder)
{
    std::vector<std::pair<std::u16string, std::string>> sorted;
    for (const std::string& entry : FolderEntries(folder))
        sorted.push_back({Upper(WideFromUtf8(entry)), entry});
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

// The host name of the folder's entry that the component names: the one
// equal to it but for case, or else the long name its short form stands for.
std::string MatchComponent(const std::string& folder, const std::u16string& component)
{
    std::vector<std::string> entries = FolderEntries(folder);
    for (const std::string& entry : entries) {
        if (EqualNoCase(WideFromUtf8(entry), component))
            return entry;
    }
    ShortName shortName;
    if (ParseShortName(component, &shortName)) {
        size_t seen = 0;
        for (const auto& [upper, entry] : SortedEntries(folder)) {
            if (IsShortNameOf(shortName, upper) && ++seen == shortName.ordinal)
                return entry;
        }
    }
    return Utf8Of(component);
}

// The short name that MatchComponent takes back to this entry of the folder,
// with as much of the stem as leaves room for the ordinal. Empty when the
// entry needs none, or when another entry bears that name.
std::u16string ShortNameOf(const std::string& folder, const std::string& entry)
{
    std::u16string upper = Upper(WideFromUtf8(entry));
    ShortStem stem = ShortStemOf(upper);
    if (IsShortName(upper) || stem.base.empty())
        return std::u16string();
    std::vector<std::pair<std::u16string, std::string>> sorted = SortedEntries(folder);
    for (size_t length = std::min<size_t>(6, stem.base.size()); length > 0; --length) {
        ShortName candidate{stem.base.substr(0, length), 0, !stem.extension.empty(),
                            stem.extension};
        for (const auto& [other, name] : sorted) {
            if (IsShortNameOf(candidate, other))
                ++candidate.ordinal;
            if (name == entry)
                break;
        }
        std::u16string text =
            candidate.prefix + u"~" + WideFromUtf8(std::to_string(candidate.ordinal));
        if (text.size() > 8)
            continue;
        if (candidate.hasExtension)
            text += u"." + candidate.extension;
        for (const auto& [other, name] : sorted) {
            if (other == text)
                return std::u16string();
        }
        return text;
    }
    return std::u16string();
}

// The host path and the normalized names of a Windows path on C: or Z:.
bool ResolvePath(LPCWSTR windowsPath, std::string* host, PathNames* names)
{
    // "\\?\C:\..." names the same file without MAX_PATH's limit.
    if (windowsPath != nullptr && std::u16string_view(windowsPath).substr(0, 4) == u"\\\\?\\")
        windowsPath += 4;
    if (windowsPath == nullptr || !IsDriveLetter(windowsPath[0]) || windowsPath[1] != u':')
        return false;
    WCHAR drive = UpcaseChar(windowsPath[0]);
    if (drive != u'C' && drive != u'Z')
        return false;
    *names = NormalizeNames(WideOf(windowsPath + 2));
    // A 32-bit program on 64-bit Windows: System32 leads to SysWOW64, and
    // Sysnative to the real System32.
    if (drive == u'C' && SimIsWow64() && names->names.size() >= 2 &&
        EqualNoCase(names->names[0], u"Windows")) {
        if (EqualNoCase(names->names[1], u"System32"))
            names->names[1] = u"SysWOW64";
        else if (EqualNoCase(names->names[1], u"Sysnative"))
            names->names[1] = u"System32";
    }
    *host = drive == u'C' ? Sandbox() : std::string();
    for (const std::u16string& name : names->names)
        *host += "/" + MatchComponent(*host, name);
    if (host->empty())
        *host = "/";
    return true;
}

std::string HostPathOfUtf8(const char* windowsPath)
{
    return windowsPath != nullptr ? HostPathOf(WideFromUtf8(windowsPath).c_str()) : std::string();
}

FILETIME ToFileTime(const timespec& time)
{
    unsigned long long ticks =
        (static_cast<unsigned long long>(time.tv_sec) + kEpochDifference) * kTicksPerSecond +
        static_cast<unsigned long long>(time.tv_nsec) / 100;
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

unsigned long long Ticks(const FILETIME& time)
{
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// What FindFirstFileW and GetFileInformationByHandle both report.
struct FileFacts {
    DWORD attributes;
    FILETIME creation, lastAccess, lastWrite;
    DWORD sizeHigh, sizeLow;
};

bool IsReadOnly(const std::string& host, const struct stat& info)
{
    auto mark = g_readOnly.find(host);
    return mark != g_readOnly.end() ? mark->second : (info.st_mode & S_IWUSR) == 0;
}

bool IsInUse(const std::string& host)
{
    auto mark = g_inUse.find(host);
    return mark != g_inUse.end() && mark->second;
}

// A file or folder without any of the attributes reads as NORMAL.
DWORD AttributesOf(const std::string& host, const struct stat& info)
{
    bool folder = S_ISDIR(info.st_mode);
    auto kept = g_attributes.find(host);
    DWORD attributes = kept != g_attributes.end() ? kept->second
                       : folder                   ? 0
                                                  : FILE_ATTRIBUTE_ARCHIVE;
    if (folder)
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if (IsReadOnly(host, info))
        attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
}

FileFacts FactsOf(const std::string& host, const struct stat& info)
{
    FileFacts facts;
    facts.attributes = AttributesOf(host, info);
    // Like Wine, the creation time is the last change unless it was set apart.
    facts.lastWrite = ToFileTime(info.st_mtim);
    facts.creation = facts.lastWrite;
    facts.lastAccess = ToFileTime(info.st_atim);
    auto times = g_times.find(host);
    if (times != g_times.end()) {
        facts.creation = times->second.creation;
        facts.lastWrite = times->second.lastWrite;
        facts.lastAccess = times->second.lastAccess;
    }
    unsigned long long size =
        S_ISDIR(info.st_mode) ? 0 : static_cast<unsigned long long>(info.st_size);
    facts.sizeHigh = static_cast<DWORD>(size >> 32);
    facts.sizeLow = static_cast<DWORD>(size);
    return facts;
}

bool IsAtOrBelow(const std::string& path, const std::string& folder)
{
    return path.compare(0, folder.size(), folder) == 0 &&
           (path.size() == folder.size() || path[folder.size()] == '/');
}

// Marks of a path and of everything below it go to the new path, or are
// dropped when there is none.
template <typename Marks>
void MoveMarksOf(Marks& marks, const std::string& from, const std::string& to)
{
    Marks moved;
    for (auto mark = marks.begin(); mark != marks.end();) {
        if (!IsAtOrBelow(mark->first, from)) {
            ++mark;
            continue;
        }
        if (!to.empty())
            moved[to + mark->first.substr(from.size())] = mark->second;
        mark = marks.erase(mark);
    }
    for (const auto& [path, mark] : moved)
        marks[path] = mark;
}

void MoveMarks(const std::string& from, const std::string& to)
{
    MoveMarksOf(g_times, from, to);
    MoveMarksOf(g_readOnly, from, to);
    MoveMarksOf(g_inUse, from, to);
    MoveMarksOf(g_attributes, from, to);
}

HANDLE AddHandle(const OpenHandle& open)
{
    // Multiples of four, as kernel handles are.
    g_lastHandle += 4;
    HANDLE handle = reinterpret_cast<HANDLE>(0x10000 + g_lastHandle);
    g_handles[handle] = open;
    return handle;
}

OpenHandle* FindHandle(HANDLE handle, HandleKind kind)
{
    auto found = g_handles.find(handle);
    return found != g_handles.end() && found->second.kind == kind ? &found->second : nullptr;
}

void RemoveHandle(HANDLE handle)
{
    auto found = g_handles.find(handle);
    if (found->second.kind == HandleKind::File)
        close(found->second.descriptor);
    g_handles.erase(found);
}

bool IsFolderHandle(const OpenHandle& open)
{
    struct stat info;
    return fstat(open.descriptor, &info) == 0 && S_ISDIR(info.st_mode);
}

// Only handles that read or write data take part in sharing: they refuse
// access that their sharing leaves out, and a handle whose sharing leaves
// out theirs.
bool SharesWithOpenHandles(const std::string& host, bool read, bool write, DWORD share)
{
    for (const auto& [handle, open] : g_handles) {
        if (open.kind != HandleKind::File || open.hostPath != host || !(open.read || open.write))
            continue;
        if ((read && !(open.share & FILE_SHARE_READ)) ||
            (write && !(open.share & FILE_SHARE_WRITE)) ||
            (open.read && !(share & FILE_SHARE_READ)) ||
            (open.write && !(share & FILE_SHARE_WRITE)))
            return false;
    }
    return true;
}

bool HeldWithoutDeleteSharing(const std::string& host)
{
    for (const auto& [handle, open] : g_handles) {
        if (open.kind == HandleKind::File && open.hostPath == host && (open.read || open.write) &&
            !(open.share & FILE_SHARE_DELETE))
            return true;
    }
    return false;
}

bool HoldsHandleBelow(const std::string& folder)
{
    for (const auto& [handle, open] : g_handles) {
        if (open.kind == HandleKind::File && open.hostPath != folder &&
            IsAtOrBelow(open.hostPath, folder))
            return true;
    }
    return false;
}

// Denied folders are resolved at each use: they may not exist when denied.
bool IsCreationDenied(const std::string& host)
{
    for (const std::u16string& folder : g_deniedFolders) {
        std::string denied = HostPathOf(folder.c_str());
        if (!denied.empty() && host != denied && IsAtOrBelow(host, denied))
            return true;
    }
    return false;
}

bool HasWildcard(LPCWSTR path)
{
    if (std::u16string_view(path).substr(0, 4) == u"\\\\?\\")
        path += 4;
    for (; *path != 0; ++path) {
        if (*path == u'*' || *path == u'?')
            return true;
    }
    return false;
}

// Where a path leads: its entry, which need not exist when its folder does.
struct Located {
    std::string host;
    PathNames names;
    bool exists;
    struct stat info;
};

// Answers 0, or the error Win32 gives for a path that leads nowhere.
DWORD Locate(LPCWSTR path, Located* located)
{
    if (path == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (HasWildcard(path))
        return kErrorInvalidName;
    if (!ResolvePath(path, &located->host, &located->names))
        return ERROR_PATH_NOT_FOUND;
    located->exists = stat(located->host.c_str(), &located->info) == 0;
    if (located->exists)
        return !S_ISDIR(located->info.st_mode) && located->names.trailingSeparator
                   ? kErrorInvalidName
                   : 0;
    std::string parent = located->host.substr(0, located->host.find_last_of('/'));
    struct stat folder;
    if (stat(parent.empty() ? "/" : parent.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode))
        return ERROR_PATH_NOT_FOUND;
    return 0;
}

BOOL Refuse(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

HANDLE RefuseHandle(DWORD error)
{
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

} // namespace

std::string HostPathOf(LPCWSTR windowsPath)
{
    std::string host;
    PathNames names;
    return ResolvePath(windowsPath, &host, &names) ? host : std::string();
}

// A started process's handles share CloseHandle with files.
HANDLE OpenProcessHandle()
{
    return AddHandle(OpenHandle{HandleKind::Process, std::string(), -1, 0, false, false, false});
}

void ResetFiles()
{
    while (!g_handles.empty())
        RemoveHandle(g_handles.begin()->first);
    RemoveSandbox();
    g_sandbox.clear();
    g_times.clear();
    g_readOnly.clear();
    g_inUse.clear();
    g_attributes.clear();
    g_deniedFolders.clear();
    g_writeBudget = -1;
    g_folderPathFailure = 0;
    g_allocsBeforeFailure = -1;
}

void SimSetFileReadOnly(const char* windowsPath, bool readOnly)
{
    g_readOnly[HostPathOfUtf8(windowsPath)] = readOnly;
}

void SimSetFileInUse(const char* windowsPath, bool inUse)
{
    g_inUse[HostPathOfUtf8(windowsPath)] = inUse;
}

void SimDenyFileCreate(const char* windowsFolder)
{
    g_deniedFolders.push_back(WideFromUtf8(windowsFolder));
}

void SimFailWritesAfter(long long bytes, DWORD error)
{
    g_writeBudget = bytes < 0 ? -1 : bytes;
    g_writeError = error;
}

void SimFailFolderPath(HRESULT result)
{
    g_folderPathFailure = result;
}

std::string SimHostPath(const char* windowsPath)
{
    return HostPathOfUtf8(windowsPath);
}

void SimSetFileTimes(const char* windowsPath, FILETIME creation, FILETIME lastWrite,
                     FILETIME lastAccess)
{
    g_times[HostPathOfUtf8(windowsPath)] = TimeOverride{creation, lastWrite, lastAccess};
}

int SimOpenHandleCount()
{
    return static_cast<int>(g_handles.size());
}

namespace {

// The entry as a search reports it; a drive's root has no short name.
void FillFindData(const std::string& host, const struct stat& info, bool root,
                  LPWIN32_FIND_DATAW findData)
{
    memset(findData, 0, sizeof *findData);
    FileFacts facts = FactsOf(host, info);
    findData->dwFileAttributes = facts.attributes;
    findData->ftCreationTime = facts.creation;
    findData->ftLastAccessTime = facts.lastAccess;
    findData->ftLastWriteTime = facts.lastWrite;
    findData->nFileSizeHigh = facts.sizeHigh;
    findData->nFileSizeLow = facts.sizeLow;
    size_t slash = host.find_last_of('/');
    std::string entry = host.substr(slash + 1);
    std::u16string name = WideFromUtf8(entry);
    name.resize(std::min<size_t>(name.size(), MAX_PATH - 1));
    std::copy(name.begin(), name.end(), findData->cFileName);
    if (!root) {
        std::u16string alternate = ShortNameOf(host.substr(0, slash), entry);
        std::copy(alternate.begin(), alternate.end(), findData->cAlternateFileName);
    }
}

// "folder\*": every entry of the folder, "." and ".." first but at a root,
// then the others in the host's order, as Wine gives them.
HANDLE ListFolder(const std::u16string& folder, LPWIN32_FIND_DATAW findData)
{
    std::string host;
    PathNames names;
    struct stat info;
    if (!ResolvePath(folder.c_str(), &host, &names) || HasWildcard(folder.c_str()) ||
        stat(host.c_str(), &info) != 0) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (!S_ISDIR(info.st_mode)) {
        SetLastError(ERROR_DIRECTORY);
        return INVALID_HANDLE_VALUE;
    }
    OpenHandle search{HandleKind::Search, host, -1, 0, false, false, false};
    if (!names.names.empty())
        search.entries = {".", ".."};
    for (const std::string& entry : FolderEntries(host))
        search.entries.push_back(entry);
    if (search.entries.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = AddHandle(search);
    FindNextFileW(handle, findData);
    return handle;
}

} // namespace

BOOL WINAPI FindNextFileW(HANDLE search, LPWIN32_FIND_DATAW findData)
{
    OpenHandle* open = FindHandle(search, HandleKind::Search);
    if (open == nullptr)
        return Refuse(ERROR_INVALID_HANDLE);
    if (open->next >= open->entries.size())
        return Refuse(ERROR_NO_MORE_FILES);
    const std::string& entry = open->entries[open->next++];
    std::string host = open->hostPath + "/" + entry;
    struct stat info;
    if (stat(host.c_str(), &info) != 0)
        return Refuse(ERROR_NO_MORE_FILES);
    bool dots = entry == "." || entry == "..";
    FillFindData(host, info, dots, findData);
    if (dots) {
        std::u16string name = WideFromUtf8(entry);
        std::fill(std::begin(findData->cFileName), std::end(findData->cFileName), 0);
        std::copy(name.begin(), name.end(), findData->cFileName);
    }
    return TRUE;
}

HANDLE WINAPI FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findData)
{
    std::u16string_view path = fileName != nullptr ? fileName : u"";
    if (path.size() >= 2 && path.substr(path.size() - 2) == u"\\*")
        return ListFolder(std::u16string(path.substr(0, path.size() - 2)), findData);
    std::string host;
    PathNames names;
    struct stat info;
    // A trailing separator names no entry, as on Windows.
    if (!ResolvePath(fileName, &host, &names) || HasWildcard(fileName) ||
        (names.trailingSeparator && !names.names.empty()) || stat(host.c_str(), &info) != 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    FillFindData(host, info, names.names.empty(), findData);
    return AddHandle(OpenHandle{HandleKind::Search, host, -1, 0, false, false, false});
}

BOOL WINAPI FindClose(HANDLE search)
{
    if (FindHandle(search, HandleKind::Search) == nullptr)
        return Refuse(ERROR_INVALID_HANDLE);
    RemoveHandle(search);
    return TRUE;
}

// A file made, or emptied by CREATE_ALWAYS, takes the attributes in the flags
// and ARCHIVE, and nothing of what bore its name before.
HANDLE WINAPI CreateFileW(LPCWSTR fileName, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES,
                          DWORD disposition, DWORD flags, HANDLE)
{
    if (fileName == nullptr ||
        (disposition != CREATE_NEW && disposition != CREATE_ALWAYS && disposition != OPEN_EXISTING))
        return RefuseHandle(ERROR_INVALID_PARAMETER);
    Located file;
    DWORD error = Locate(fileName, &file);
    if (error != 0)
        return RefuseHandle(error);
    bool read = access & (GENERIC_READ | kGenericAll | kFileReadData);
    bool write = access & (GENERIC_WRITE | kGenericAll | kFileWriteData);
    bool writeAttributes = write || (access & FILE_WRITE_ATTRIBUTES);
    bool folder = file.exists && S_ISDIR(file.info.st_mode);
    DWORD given = flags & (FILE_ATTRIBUTE_READONLY | kKeptAttributes);
    bool making = !file.exists || disposition == CREATE_ALWAYS;
    if (!file.exists) {
        if (disposition == OPEN_EXISTING)
            return RefuseHandle(ERROR_FILE_NOT_FOUND);
        if (file.names.trailingSeparator)
            return RefuseHandle(kErrorInvalidName);
        if (IsCreationDenied(file.host) || !MayChange())
            return RefuseHandle(ERROR_ACCESS_DENIED);
        int made = open(file.host.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
        if (made < 0)
            return RefuseHandle(ERROR_ACCESS_DENIED);
        close(made);
    } else {
        if (disposition == CREATE_NEW)
            return RefuseHandle(ERROR_FILE_EXISTS);
        if (folder && (!(flags & FILE_FLAG_BACKUP_SEMANTICS) || making))
            return RefuseHandle(ERROR_ACCESS_DENIED);
        if ((write || making) && IsReadOnly(file.host, file.info))
            return RefuseHandle(ERROR_ACCESS_DENIED);
        // A handle that only reads or writes attributes takes no part in
        // sharing; anything more conflicts with the process holding the file.
        DWORD attributesOnly = FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | kSynchronize;
        if (((access & ~attributesOnly) != 0 || making) &&
            (IsInUse(file.host) ||
             !SharesWithOpenHandles(file.host, read, write || making, share) ||
             ((access & DELETE) && HeldWithoutDeleteSharing(file.host))))
            return RefuseHandle(ERROR_SHARING_VIOLATION);
        if (making) {
            DWORD hidden = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
            if ((AttributesOf(file.host, file.info) & hidden & ~given) != 0 || !MayChange() ||
                truncate(file.host.c_str(), 0) != 0)
                return RefuseHandle(ERROR_ACCESS_DENIED);
        }
    }
    if (making) {
        MoveMarks(file.host, std::string());
        g_attributes[file.host] = FILE_ATTRIBUTE_ARCHIVE | (given & kKeptAttributes);
        if (given & FILE_ATTRIBUTE_READONLY)
            g_readOnly[file.host] = true;
        CountChange();
    }
    int mode = folder || !(read || write) ? O_PATH
               : read && write            ? O_RDWR
               : write                    ? O_WRONLY
                                          : O_RDONLY;
    int descriptor = open(file.host.c_str(), mode | O_CLOEXEC);
    if (descriptor < 0)
        return RefuseHandle(ERROR_ACCESS_DENIED);
    SetLastError(file.exists && making ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return AddHandle(
        OpenHandle{HandleKind::File, file.host, descriptor, share, read, write, writeAttributes});
}

BOOL WINAPI GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information)
{
    OpenHandle* open = FindHandle(file, HandleKind::File);
    struct stat info;
    if (open == nullptr || fstat(open->descriptor, &info) != 0)
        return Refuse(ERROR_INVALID_HANDLE);
    if (information == nullptr)
        return Refuse(ERROR_INVALID_PARAMETER);
    FileFacts facts = FactsOf(open->hostPath, info);
    information->dwFileAttributes = facts.attributes;
    information->ftCreationTime = facts.creation;
    information->ftLastAccessTime = facts.lastAccess;
    information->ftLastWriteTime = facts.lastWrite;
    information->dwVolumeSerialNumber = static_cast<DWORD>(info.st_dev);
    information->nFileSizeHigh = facts.sizeHigh;
    information->nFileSizeLow = facts.sizeLow;
    information->nNumberOfLinks = static_cast<DWORD>(info.st_nlink);
    unsigned long long index = static_cast<unsigned long long>(info.st_ino);
    information->nFileIndexHigh = static_cast<DWORD>(index >> 32);
    information->nFileIndexLow = static_cast<DWORD>(index);
    return TRUE;
}

// Search handles are not kernel handles: only FindClose closes them.
DWORD WINAPI FormatMessageW(DWORD, LPCVOID, DWORD messageId, DWORD, LPWSTR buffer, DWORD size,
                            va_list*)
{
    const std::pair<DWORD, const char16_t*> messages[] = {
        {ERROR_FILE_NOT_FOUND, u"The system cannot find the file specified.\r\n"},
        {ERROR_ACCESS_DENIED, u"Access is denied.\r\n"},
        {ERROR_SHARING_VIOLATION,
         u"The process cannot access the file because it is being used by another process.\r\n"},
    };
    for (const auto& [id, text] : messages) {
        std::u16string message = text;
        if (id != messageId)
            continue;
        if (message.size() >= size)
            return Refuse(ERROR_INSUFFICIENT_BUFFER);
        std::copy(message.c_str(), message.c_str() + message.size() + 1, buffer);
        return static_cast<DWORD>(message.size());
    }
    return Refuse(ERROR_MR_MID_NOT_FOUND);
}

DWORD WINAPI GetFinalPathNameByHandleW(HANDLE file, LPWSTR path, DWORD size, DWORD)
{
    OpenHandle* open = FindHandle(file, HandleKind::File);
    if (open == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    std::string sandbox = Sandbox();
    bool onC = open->hostPath.compare(0, sandbox.size(), sandbox) == 0;
    std::string rest = onC ? open->hostPath.substr(sandbox.size()) : open->hostPath;
    std::replace(rest.begin(), rest.end(), '/', '\\');
    std::u16string final = u"\\\\?\\" + std::u16string(onC ? u"C:" : u"Z:") + WideFromUtf8(rest);
    if (final.size() >= size)
        return static_cast<DWORD>(final.size() + 1);
    std::copy(final.c_str(), final.c_str() + final.size() + 1, path);
    return static_cast<DWORD>(final.size());
}

BOOL WINAPI CloseHandle(HANDLE handle)
{
    if (FindHandle(handle, HandleKind::File) == nullptr &&
        FindHandle(handle, HandleKind::Process) == nullptr)
        return Refuse(ERROR_INVALID_HANDLE);
    RemoveHandle(handle);
    return TRUE;
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD done, LPOVERLAPPED overlapped)
{
    OpenHandle* open = FindHandle(file, HandleKind::File);
    if (open == nullptr)
        return Refuse(ERROR_INVALID_HANDLE);
    if (overlapped != nullptr || done == nullptr || (buffer == nullptr && size != 0))
        return Refuse(ERROR_INVALID_PARAMETER);
    *done = 0;
    if (IsFolderHandle(*open))
        return Refuse(kErrorInvalidFunction);
    if (!open->read)
        return Refuse(ERROR_ACCESS_DENIED);
    while (*done < size) {
        ssize_t got = read(open->descriptor, static_cast<BYTE*>(buffer) + *done, size - *done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return Refuse(ERROR_ACCESS_DENIED);
        if (got == 0)
            break;
        *done += static_cast<DWORD>(got);
    }
    return TRUE;
}

// A write that does not fit on the disk writes what does, then fails.
BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD done,
                      LPOVERLAPPED overlapped)
{
    OpenHandle* open = FindHandle(file, HandleKind::File);
    if (open == nullptr)
        return Refuse(ERROR_INVALID_HANDLE);
    if (overlapped != nullptr || done == nullptr || (buffer == nullptr && size != 0))
        return Refuse(ERROR_INVALID_PARAMETER);
    *done = 0;
    if (IsFolderHandle(*open))
        return Refuse(kErrorInvalidFunction);
    if (!open->write || !MayChange())
        return Refuse(ERROR_ACCESS_DENIED);
    bool full = g_writeBudget >= 0 && size > g_writeBudget;
    DWORD fits = full ? static_cast<DWORD>(g_writeBudget) : size;
    while (*done < fits) {
        ssize_t put =
            write(open->descriptor, static_cast<const BYTE*>(buffer) + *done, fits - *done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return Refuse(ERROR_ACCESS_DENIED);
        *done += static_cast<DWORD>(put);
    }
    if (g_writeBudget >= 0)
        g_writeBudget -= fits;
    struct stat info;
    auto times = g_times.find(open->hostPath);
    if (fits > 0 && times != g_times.end() && fstat(open->descriptor, &info) == 0)
        times->second.lastWrite = ToFileTime(info.st_mtim);
    if (fits > 0)
        g_attributes[open->hostPath] |= FILE_ATTRIBUTE_ARCHIVE;
    if (full)
        return Refuse(g_writeError);
    CountChange();
    return TRUE;
}

BOOL WINAPI FlushFileBuffers(HANDLE file)
{
    OpenHandle* open = FindHandle(file, HandleKind::File);
    if (open == nullptr)
        return Refuse(ERROR_INVALID_HANDLE);
    return open->write ? TRUE : Refuse(ERROR_ACCESS_DENIED);
}

BOOL WINAPI GetFileSizeEx(HANDLE file, PLARGE_INTEGER size)
{
    OpenHandle* open = FindHandle(file, HandleKind::File);
    struct stat info;
    if (open == nullptr || fstat(open->descriptor, &info) != 0)
        return Refuse(ERROR_INVALID_HANDLE);
    if (size == nullptr)
        return Refuse(ERROR_INVALID_PARAMETER);
    size->QuadPart = S_ISDIR(info.st_mode) ? 0 : static_cast<LONGLONG>(info.st_size);
    return TRUE;
}

BOOL WINAPI SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* lastAccess,
                        const FILETIME* lastWrite)
{
    OpenHandle* open = FindHandle(file, HandleKind::File);
    struct stat info;
    if (open == nullptr || fstat(open->descriptor, &info) != 0)
        return Refuse(ERROR_INVALID_HANDLE);
    if (!open->writeAttributes || !MayChange())
        return Refuse(ERROR_ACCESS_DENIED);
    FileFacts facts = FactsOf(open->hostPath, info);
    TimeOverride times{facts.creation, facts.lastWrite, facts.lastAccess};
    // NULL and zero both leave a time as it is.
    auto set = [](FILETIME* time, const FILETIME* given) {
        if (given != nullptr && (given->dwLowDateTime != 0 || given->dwHighDateTime != 0))
            *time = *given;
    };
    set(&times.creation, creation);
    set(&times.lastAccess, lastAccess);
    set(&times.lastWrite, lastWrite);
    g_times[open->hostPath] = times;
    CountChange();
    return TRUE;
}

DWORD WINAPI GetFileAttributesW(LPCWSTR fileName)
{
    Located file;
    DWORD error = Locate(fileName, &file);
    if (error == 0 && !file.exists)
        error = ERROR_FILE_NOT_FOUND;
    if (error != 0) {
        SetLastError(error);
        return INVALID_FILE_ATTRIBUTES;
    }
    return AttributesOf(file.host, file.info);
}

BOOL WINAPI SetFileAttributesW(LPCWSTR fileName, DWORD attributes)
{
    Located file;
    DWORD error = Locate(fileName, &file);
    if (error == 0 && !file.exists)
        error = ERROR_FILE_NOT_FOUND;
    if (error != 0)
        return Refuse(error);
    if (!MayChange())
        return Refuse(ERROR_ACCESS_DENIED);
    g_readOnly[file.host] = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    g_attributes[file.host] = attributes & kKeptAttributes;
    CountChange();
    return TRUE;
}

BOOL WINAPI CreateDirectoryW(LPCWSTR pathName, LPSECURITY_ATTRIBUTES)
{
    Located folder;
    DWORD error = Locate(pathName, &folder);
    if (error != 0)
        return Refuse(error);
    if (folder.exists)
        return Refuse(ERROR_ALREADY_EXISTS);
    if (IsCreationDenied(folder.host) || !MayChange() || mkdir(folder.host.c_str(), 0777) != 0)
        return Refuse(ERROR_ACCESS_DENIED);
    MoveMarks(folder.host, std::string());
    CountChange();
    return TRUE;
}

BOOL WINAPI RemoveDirectoryW(LPCWSTR pathName)
{
    Located folder;
    DWORD error = Locate(pathName, &folder);
    if (error == 0 && !folder.exists)
        error = ERROR_FILE_NOT_FOUND;
    if (error != 0)
        return Refuse(error);
    if (!S_ISDIR(folder.info.st_mode))
        return Refuse(kErrorDirectory);
    if (folder.names.names.empty() || IsReadOnly(folder.host, folder.info))
        return Refuse(ERROR_ACCESS_DENIED);
    if (!FolderEntries(folder.host).empty())
        return Refuse(ERROR_DIR_NOT_EMPTY);
    if (!MayChange() || rmdir(folder.host.c_str()) != 0)
        return Refuse(ERROR_ACCESS_DENIED);
    MoveMarks(folder.host, std::string());
    CountChange();
    return TRUE;
}

BOOL WINAPI DeleteFileW(LPCWSTR fileName)
{
    Located file;
    DWORD error = Locate(fileName, &file);
    if (error == 0 && !file.exists)
        error = ERROR_FILE_NOT_FOUND;
    if (error != 0)
        return Refuse(error);
    if (S_ISDIR(file.info.st_mode) || IsReadOnly(file.host, file.info))
        return Refuse(ERROR_ACCESS_DENIED);
    if (IsInUse(file.host) || HeldWithoutDeleteSharing(file.host))
        return Refuse(ERROR_SHARING_VIOLATION);
    if (!MayChange() || unlink(file.host.c_str()) != 0)
        return Refuse(ERROR_ACCESS_DENIED);
    MoveMarks(file.host, std::string());
    CountChange();
    return TRUE;
}

BOOL WINAPI MoveFileW(LPCWSTR existingFileName, LPCWSTR newFileName)
{
    Located from, to;
    DWORD error = Locate(existingFileName, &from);
    if (error == 0 && !from.exists)
        error = ERROR_FILE_NOT_FOUND;
    if (error == 0)
        error = Locate(newFileName, &to);
    if (error != 0)
        return Refuse(error);
    if (from.names.names.empty() || to.names.names.empty())
        return Refuse(ERROR_ACCESS_DENIED);
    std::string target = to.host;
    if (to.exists) {
        // Another spelling of the same entry renames it; anything else is in the way.
        if (to.host != from.host)
            return Refuse(ERROR_ALREADY_EXISTS);
        target = to.host.substr(0, to.host.find_last_of('/') + 1) + Utf8Of(to.names.names.back());
    }
    bool folder = S_ISDIR(from.info.st_mode);
    if (!folder && (IsInUse(from.host) || HeldWithoutDeleteSharing(from.host)))
        return Refuse(ERROR_SHARING_VIOLATION);
    if ((folder && HoldsHandleBelow(from.host)) || IsCreationDenied(target) || !MayChange())
        return Refuse(ERROR_ACCESS_DENIED);
    if (rename(from.host.c_str(), target.c_str()) != 0)
        return Refuse(errno == EXDEV ? kErrorNotSameDevice : ERROR_ACCESS_DENIED);
    MoveMarks(from.host, target);
    for (auto& [handle, open] : g_handles) {
        if (IsAtOrBelow(open.hostPath, from.host))
            open.hostPath = target + open.hostPath.substr(from.host.size());
    }
    CountChange();
    return TRUE;
}

// Components that are 8.3 names already stay as they were given.
DWORD WINAPI GetShortPathNameW(LPCWSTR longPath, LPWSTR shortPath, DWORD size)
{
    Located file;
    DWORD error = Locate(longPath, &file);
    if (error == 0 && !file.exists)
        error = ERROR_FILE_NOT_FOUND;
    if (error != 0) {
        SetLastError(error == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : error);
        return 0;
    }
    std::u16string result{longPath[0], u':'};
    std::string folder = UpcaseChar(longPath[0]) == u'C' ? Sandbox() : std::string();
    for (const std::u16string& name : file.names.names) {
        std::string entry = MatchComponent(folder, name);
        std::u16string shortName = IsShortName(name) ? name : ShortNameOf(folder, entry);
        result += u"\\" + (shortName.empty() ? WideFromUtf8(entry) : shortName);
        folder += "/" + entry;
    }
    if (file.names.names.empty() || file.names.trailingSeparator)
        result += u'\\';
    if (shortPath == nullptr || size < result.size() + 1)
        return static_cast<DWORD>(result.size() + 1);
    std::copy(result.begin(), result.end(), shortPath);
    shortPath[result.size()] = 0;
    return static_cast<DWORD>(result.size());
}

// The profile is the machine's, not the program's: making it is no change a
// test counts, and no fault but SimFailFolderPath stops it.
HRESULT WINAPI SHGetFolderPathW(HWND, int folder, HANDLE, DWORD, LPWSTR path)
{
    if (path != nullptr)
        path[0] = 0;
    if (g_folderPathFailure != 0)
        return g_folderPathFailure;
    if (path == nullptr || (folder & ~CSIDL_FLAG_CREATE) != CSIDL_LOCAL_APPDATA)
        return kInvalidArgument;
    std::string host = Sandbox();
    for (const std::u16string& name : NormalizeNames(kLocalAppData + 2).names) {
        host += "/" + MatchComponent(host, name);
        struct stat info;
        if (stat(host.c_str(), &info) != 0 &&
            (!(folder & CSIDL_FLAG_CREATE) || mkdir(host.c_str(), 0777) != 0))
            return E_FAIL;
    }
    std::copy(std::begin(kLocalAppData), std::end(kLocalAppData), path);
    return S_OK;
}

// A path without a drive is taken from the current folder, the root of C:;
// every drive's current folder is its root.
DWORD WINAPI GetFullPathNameW(LPCWSTR fileName, DWORD size, LPWSTR buffer, LPWSTR* filePart)
{
    if (fileName == nullptr || fileName[0] == 0) {
        SetLastError(kErrorInvalidName);
        return 0;
    }
    bool hasDrive = IsDriveLetter(fileName[0]) && fileName[1] == u':';
    PathNames names = NormalizeNames(WideOf(hasDrive ? fileName + 2 : fileName));
    std::u16string full{hasDrive ? UpcaseChar(fileName[0]) : u'C', u':', u'\\'};
    for (size_t i = 0; i < names.names.size(); ++i)
        full += (i == 0 ? u"" : u"\\") + names.names[i];
    if (names.trailingSeparator && !names.names.empty())
        full += u'\\';
    if (size < full.size() + 1)
        return static_cast<DWORD>(full.size() + 1);
    std::copy(full.begin(), full.end(), buffer);
    buffer[full.size()] = 0;
    if (filePart != nullptr)
        *filePart = full.back() == u'\\' ? nullptr : buffer + full.find_last_of(u'\\') + 1;
    return static_cast<DWORD>(full.size());
}

// The offset in force now applies to every time, as Windows does it.
BOOL WINAPI FileTimeToLocalFileTime(const FILETIME* fileTime, LPFILETIME localFileTime)
{
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    long long offset =
        static_cast<long long>(local.tm_gmtoff) * static_cast<long long>(kTicksPerSecond);
    unsigned long long ticks = Ticks(*fileTime) + static_cast<unsigned long long>(offset);
    localFileTime->dwLowDateTime = static_cast<DWORD>(ticks);
    localFileTime->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return TRUE;
}

BOOL WINAPI FileTimeToSystemTime(const FILETIME* fileTime, LPSYSTEMTIME systemTime)
{
    unsigned long long ticks = Ticks(*fileTime);
    if (ticks >= 0x8000000000000000ULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    unsigned long long seconds = ticks / kTicksPerSecond;
    long long days = static_cast<long long>(seconds / 86400);
    unsigned long long daySeconds = seconds % 86400;
    // Days since 1601-01-01, a Monday, to a civil date.
    long long z = days + 584694; // days since 0000-03-01
    long long era = z / 146097;
    long long doe = z - era * 146097;
    long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long long mp = (5 * doy + 2) / 153;
    long long day = doy - (153 * mp + 2) / 5 + 1;
    long long month = mp < 10 ? mp + 3 : mp - 9;
    long long year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    systemTime->wYear = static_cast<WORD>(year);
    systemTime->wMonth = static_cast<WORD>(month);
    systemTime->wDay = static_cast<WORD>(day);
    systemTime->wDayOfWeek = static_cast<WORD>((days + 1) % 7);
    systemTime->wHour = static_cast<WORD>(daySeconds / 3600);
    systemTime->wMinute = static_cast<WORD>(daySeconds / 60 % 60);
    systemTime->wSecond = static_cast<WORD>(daySeconds % 60);
    systemTime->wMilliseconds = static_cast<WORD>(ticks / 10000 % 1000);
    return TRUE;
}

LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes)
{
    if (heap == nullptr)
        return nullptr;
    if (g_allocsBeforeFailure >= 0 && g_allocsBeforeFailure-- == 0)
        return nullptr;
    void* memory = malloc(bytes == 0 ? 1 : bytes);
    if (memory != nullptr && (flags & HEAP_ZERO_MEMORY))
        memset(memory, 0, bytes);
    return memory;
}

BOOL WINAPI HeapFree(HANDLE heap, DWORD, LPVOID memory)
{
    if (heap == nullptr)
        return FALSE;
    free(memory);
    return TRUE;
}

void SimFailHeapAlloc(int succeeding)
{
    g_allocsBeforeFailure = succeeding;
}
