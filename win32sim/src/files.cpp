// Files seen through Windows paths. C: is a sandbox folder of the test run;
// Z: is the host's root, as Wine maps it. Names are looked up without regard
// to case, as on Windows, and either separator is accepted.

#include "internal.h"

#include <win32sim.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct TimeOverride {
    FILETIME creation, lastWrite, lastAccess;
};

std::string g_sandbox;
std::map<std::string, TimeOverride> g_times; // by host path
std::map<std::string, bool> g_readOnly;      // by host path
std::map<std::string, bool> g_inUse;         // by host path
int g_allocsBeforeFailure = -1;

const unsigned long long kTicksPerSecond = 10000000ULL;
const unsigned long long kEpochDifference = 11644473600ULL; // 1601 to 1970, seconds

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

// The entry of the folder whose name equals the component, ignoring case.
std::string MatchComponent(const std::string& folder, const std::string& component)
{
    DIR* dir = opendir(folder.empty() ? "/" : folder.c_str());
    if (dir == nullptr)
        return component;
    std::string match = component;
    while (dirent* entry = readdir(dir)) {
        if (strcasecmp(entry->d_name, component.c_str()) == 0) {
            match = entry->d_name;
            break;
        }
    }
    closedir(dir);
    return match;
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

struct FindHandle {
    int unused;
};

} // namespace

std::string HostPathOf(LPCSTR windowsPath)
{
    if (windowsPath == nullptr || !isalpha(static_cast<unsigned char>(windowsPath[0])) ||
        windowsPath[1] != ':')
        return std::string();
    char drive = static_cast<char>(toupper(static_cast<unsigned char>(windowsPath[0])));
    std::string host;
    if (drive == 'C')
        host = Sandbox();
    else if (drive != 'Z')
        return std::string();
    std::string rest = windowsPath + 2;
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find_first_of("\\/", start);
        if (end == std::string::npos)
            end = rest.size();
        std::string component = rest.substr(start, end - start);
        if (!component.empty())
            host += "/" + MatchComponent(host, component);
        start = end + 1;
    }
    return host.empty() ? "/" : host;
}

void ResetFiles()
{
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
    g_readOnly[HostPathOf(windowsPath)] = readOnly;
}

void SimSetFileInUse(const char* windowsPath, bool inUse)
{
    g_inUse[HostPathOf(windowsPath)] = inUse;
}

std::string SimHostPath(const char* windowsPath)
{
    return HostPathOf(windowsPath);
}

void SimSetFileTimes(const char* windowsPath, FILETIME creation, FILETIME lastWrite,
                     FILETIME lastAccess)
{
    g_times[HostPathOf(windowsPath)] = TimeOverride{creation, lastWrite, lastAccess};
}

HANDLE WINAPI FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findData)
{
    std::string host = HostPathOf(fileName);
    struct stat info;
    if (host.empty() || strpbrk(fileName, "*?") != nullptr || stat(host.c_str(), &info) != 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    // A trailing separator names no entry, as on Windows.
    size_t length = strlen(fileName);
    if (length > 3 && (fileName[length - 1] == '\\' || fileName[length - 1] == '/')) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }

    memset(findData, 0, sizeof *findData);
    bool readOnly = (info.st_mode & S_IWUSR) == 0;
    IsMarkedReadOnly(host, &readOnly);
    findData->dwFileAttributes =
        S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (readOnly)
        findData->dwFileAttributes |= FILE_ATTRIBUTE_READONLY;
    // Like Wine, the creation time is the last change unless a test sets it apart.
    findData->ftLastWriteTime = ToFileTime(info.st_mtim);
    findData->ftCreationTime = findData->ftLastWriteTime;
    findData->ftLastAccessTime = ToFileTime(info.st_atim);
    auto times = g_times.find(host);
    if (times != g_times.end()) {
        findData->ftCreationTime = times->second.creation;
        findData->ftLastWriteTime = times->second.lastWrite;
        findData->ftLastAccessTime = times->second.lastAccess;
    }
    unsigned long long size =
        S_ISDIR(info.st_mode) ? 0 : static_cast<unsigned long long>(info.st_size);
    findData->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    findData->nFileSizeLow = static_cast<DWORD>(size);
    std::string name = host.substr(host.find_last_of('/') + 1);
    strncpy(findData->cFileName, name.c_str(), MAX_PATH - 1);
    return new FindHandle();
}

BOOL WINAPI FindClose(HANDLE search)
{
    if (search == nullptr || search == INVALID_HANDLE_VALUE)
        return FALSE;
    delete static_cast<FindHandle*>(search);
    return TRUE;
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
