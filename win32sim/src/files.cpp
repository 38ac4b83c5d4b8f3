// Files seen through Windows paths. C: is a sandbox folder of the test run;
// Z: is the host's root, as Wine maps it. Names are looked up without regard
// to case, as on Windows, and either separator is accepted. Host names are
// UTF-8; the stand-in compares them as UTF-16.

#include "internal.h"

#include <win32sim.h>

#include <algorithm>
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
};

std::string g_sandbox;
std::map<std::string, TimeOverride> g_times; // by host path
std::map<std::string, bool> g_readOnly;      // by host path
std::map<std::string, bool> g_inUse;         // by host path
int g_allocsBeforeFailure = -1;
std::map<HANDLE, OpenHandle> g_handles;
// Never reused, not even across resets, so a stale handle stays invalid.
ULONG_PTR g_lastHandle = 0;

const unsigned long long kTicksPerSecond = 10000000ULL;
const unsigned long long kEpochDifference = 11644473600ULL; // 1601 to 1970, seconds
// Winerror.h's ERROR_INVALID_NAME and winnt.h's SYNCHRONIZE, which the
// program has no use for.
const DWORD kErrorInvalidName = 123;
const DWORD kSynchronize = 0x00100000;

std::string Sandbox()
{
    if (g_sandbox.empty()) {
        char pattern[] = "/tmp/win32sim-c-XXXXXX";
        const char* made = mkdtemp(pattern);
        g_sandbox = made != nullptr ? made : "/tmp";
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

bool ParseShortName(const std::u16string& name, ShortName* shortName)
{
    std::u16string upper = Upper(name);
    size_t tilde = upper.find(u'~');
    if (tilde == 0 || tilde == std::u16string::npos)
        return false;
    size_t dot = upper.find(u'.', tilde);
    size_t digitsEnd = dot == std::u16string::npos ? upper.size() : dot;
    if (digitsEnd == tilde + 1 || digitsEnd > 8)
        return false;
    size_t ordinal = 0;
    for (size_t i = tilde + 1; i < digitsEnd; ++i) {
        if (upper[i] < u'0' || upper[i] > u'9')
            return false;
        ordinal = ordinal * 10 + (upper[i] - u'0');
    }
    if (ordinal == 0 || upper.find(u'.') < tilde)
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
    std::u16string squeezed = upper;
    squeezed.erase(std::remove(squeezed.begin(), squeezed.end(), u' '), squeezed.end());
    if (squeezed.compare(0, shortName.prefix.size(), shortName.prefix) != 0)
        return false;
    if (!shortName.hasExtension)
        return true;
    size_t dot = upper.rfind(u'.');
    return dot != std::u16string::npos && upper.substr(dot + 1, 3) == shortName.extension;
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
        std::vector<std::pair<std::u16string, std::string>> sorted;
        for (const std::string& entry : entries)
            sorted.push_back({Upper(WideFromUtf8(entry)), entry});
        std::sort(sorted.begin(), sorted.end());
        size_t seen = 0;
        for (const auto& [upper, entry] : sorted) {
            if (IsShortNameOf(shortName, upper) && ++seen == shortName.ordinal)
                return entry;
        }
    }
    return Utf8Of(component);
}

// The host path and the normalized names of a Windows path on C: or Z:.
bool ResolvePath(LPCWSTR windowsPath, std::string* host, PathNames* names)
{
    if (windowsPath == nullptr || !IsDriveLetter(windowsPath[0]) || windowsPath[1] != u':')
        return false;
    WCHAR drive = UpcaseChar(windowsPath[0]);
    if (drive != u'C' && drive != u'Z')
        return false;
    *names = NormalizeNames(WideOf(windowsPath + 2));
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

FileFacts FactsOf(const std::string& host, const struct stat& info)
{
    FileFacts facts;
    bool readOnly = (info.st_mode & S_IWUSR) == 0;
    IsMarkedReadOnly(host, &readOnly);
    facts.attributes = S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (readOnly)
        facts.attributes |= FILE_ATTRIBUTE_READONLY;
    // Like Wine, the creation time is the last change unless a test sets it apart.
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

HANDLE AddHandle(HandleKind kind, const std::string& hostPath, int descriptor)
{
    // Multiples of four, as kernel handles are.
    g_lastHandle += 4;
    HANDLE handle = reinterpret_cast<HANDLE>(0x10000 + g_lastHandle);
    g_handles[handle] = OpenHandle{kind, hostPath, descriptor};
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

bool HasWildcard(LPCWSTR path)
{
    for (; *path != 0; ++path) {
        if (*path == u'*' || *path == u'?')
            return true;
    }
    return false;
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
    return AddHandle(HandleKind::Process, std::string(), -1);
}

void ResetFiles()
{
    while (!g_handles.empty())
        RemoveHandle(g_handles.begin()->first);
    if (!g_sandbox.empty())
        RemoveTree(g_sandbox);
    g_sandbox.clear();
    g_times.clear();
    g_readOnly.clear();
    g_inUse.clear();
    g_allocsBeforeFailure = -1;
}

bool IsMarkedReadOnly(const std::string& hostPath, bool* readOnly)
{
    auto mark = g_readOnly.find(hostPath);
    if (mark == g_readOnly.end())
        return false;
    *readOnly = mark->second;
    return true;
}

bool IsMarkedInUse(const std::string& hostPath)
{
    auto mark = g_inUse.find(hostPath);
    return mark != g_inUse.end() && mark->second;
}

void SimSetFileReadOnly(const char* windowsPath, bool readOnly)
{
    g_readOnly[HostPathOfUtf8(windowsPath)] = readOnly;
}

void SimSetFileInUse(const char* windowsPath, bool inUse)
{
    g_inUse[HostPathOfUtf8(windowsPath)] = inUse;
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

HANDLE WINAPI FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findData)
{
    std::string host;
    PathNames names;
    struct stat info;
    // A trailing separator names no entry, as on Windows.
    if (!ResolvePath(fileName, &host, &names) || HasWildcard(fileName) ||
        (names.trailingSeparator && !names.names.empty()) || stat(host.c_str(), &info) != 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }

    memset(findData, 0, sizeof *findData);
    FileFacts facts = FactsOf(host, info);
    findData->dwFileAttributes = facts.attributes;
    findData->ftCreationTime = facts.creation;
    findData->ftLastAccessTime = facts.lastAccess;
    findData->ftLastWriteTime = facts.lastWrite;
    findData->nFileSizeHigh = facts.sizeHigh;
    findData->nFileSizeLow = facts.sizeLow;
    std::u16string name = WideFromUtf8(host.substr(host.find_last_of('/') + 1));
    name.resize(std::min<size_t>(name.size(), MAX_PATH - 1));
    std::copy(name.begin(), name.end(), findData->cFileName);
    return AddHandle(HandleKind::Search, host, -1);
}

BOOL WINAPI FindClose(HANDLE search)
{
    if (FindHandle(search, HandleKind::Search) == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    RemoveHandle(search);
    return TRUE;
}

HANDLE WINAPI CreateFileW(LPCWSTR fileName, DWORD access, DWORD, LPSECURITY_ATTRIBUTES,
                          DWORD disposition, DWORD flags, HANDLE)
{
    if (fileName == nullptr || disposition != OPEN_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (HasWildcard(fileName)) {
        SetLastError(kErrorInvalidName);
        return INVALID_HANDLE_VALUE;
    }
    std::string host;
    PathNames names;
    if (!ResolvePath(fileName, &host, &names)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    struct stat info;
    if (stat(host.c_str(), &info) != 0) {
        struct stat folder;
        std::string parent = host.substr(0, host.find_last_of('/'));
        bool folderExists =
            stat(parent.empty() ? "/" : parent.c_str(), &folder) == 0 && S_ISDIR(folder.st_mode);
        SetLastError(folderExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (!S_ISDIR(info.st_mode) && names.trailingSeparator) {
        SetLastError(kErrorInvalidName);
        return INVALID_HANDLE_VALUE;
    }
    if (S_ISDIR(info.st_mode) && !(flags & FILE_FLAG_BACKUP_SEMANTICS)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    // A handle that reads attributes only takes no part in sharing; one that
    // reads or writes data conflicts with the process holding the file.
    if ((access & ~static_cast<DWORD>(FILE_READ_ATTRIBUTES | kSynchronize)) != 0 &&
        IsMarkedInUse(host)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    int descriptor = open(host.c_str(), O_PATH | O_CLOEXEC);
    if (descriptor < 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return AddHandle(HandleKind::File, host, descriptor);
}

BOOL WINAPI GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information)
{
    OpenHandle* open = FindHandle(file, HandleKind::File);
    struct stat info;
    if (open == nullptr || fstat(open->descriptor, &info) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (information == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
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
BOOL WINAPI CloseHandle(HANDLE handle)
{
    if (FindHandle(handle, HandleKind::File) == nullptr &&
        FindHandle(handle, HandleKind::Process) == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    RemoveHandle(handle);
    return TRUE;
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
