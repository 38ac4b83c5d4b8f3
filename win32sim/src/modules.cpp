// Portable executables as the loader sees them: a valid PE image loads, its
// export table answers GetProcAddress, and a DllUnregisterServer found there
// yields a callable that records the call instead of running foreign code.
// Programs are not started; CreateProcessW records the command line. The
// system folder holds version.dll alone, answered by the stand-in's own
// functions.

#include "internal.h"

#include <win32sim.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

DWORD PeRead32(const std::vector<BYTE>& data, size_t offset)
{
    if (offset + 4 > data.size())
        return 0;
    DWORD value;
    memcpy(&value, &data[offset], 4);
    return value;
}

size_t PeFileOffset(const PeImage& image, DWORD rva)
{
    for (WORD i = 0; i < image.sectionCount; ++i) {
        size_t section = image.sections + i * 40u;
        DWORD virtualSize = PeRead32(image.bytes, section + 8);
        DWORD virtualAddress = PeRead32(image.bytes, section + 12);
        DWORD rawSize = PeRead32(image.bytes, section + 16);
        DWORD rawOffset = PeRead32(image.bytes, section + 20);
        DWORD extent = virtualSize > rawSize ? virtualSize : rawSize;
        if (rva >= virtualAddress && rva < virtualAddress + extent)
            return rawOffset + (rva - virtualAddress);
    }
    return 0;
}

bool ReadPeImage(const std::string& hostPath, PeImage* image)
{
    struct stat info;
    if (stat(hostPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    std::ifstream file(hostPath, std::ios::binary);
    // Only an image is read whole; anything else is known by its first bytes.
    char signature[2] = {};
    if (!file.read(signature, 2) || signature[0] != 'M' || signature[1] != 'Z')
        return false;
    file.seekg(0);
    image->bytes.resize(static_cast<size_t>(info.st_size));
    if (!file.read(reinterpret_cast<char*>(image->bytes.data()), info.st_size))
        return false;
    const std::vector<BYTE>& bytes = image->bytes;
    if (bytes.size() < 64 || bytes[0] != 'M' || bytes[1] != 'Z')
        return false;
    size_t pe = PeRead32(bytes, 60);
    if (PeRead32(bytes, pe) != 0x00004550)
        return false;
    image->sectionCount = static_cast<WORD>(PeRead32(bytes, pe + 6) & 0xffff);
    WORD optionalSize = static_cast<WORD>(PeRead32(bytes, pe + 20) & 0xffff);
    size_t optional = pe + 24;
    WORD magic = static_cast<WORD>(PeRead32(bytes, optional) & 0xffff);
    // 32-bit images only, as a 32-bit process loads them.
    if (magic != 0x10b)
        return false;
    image->directories = optional + 96;
    image->sections = optional + optionalSize;
    return true;
}

namespace {

struct Module {
    std::string path;
    std::vector<std::string> exports;
};

const char16_t kSystemFolder[] = u"C:\\Windows\\system32";

std::vector<std::string> g_unregisterCalls;
std::vector<std::string> g_commands;
std::string g_lastEntryModule;
int g_loadedModules = 0;
DWORD g_lastProcessId = 0;
std::vector<SimLibraryLoad> g_loads;
bool g_refuseSearchFlags = false;
bool g_versionDllRemoved = false;
// The system's version.dll stays loaded across resets, as it would in a
// process that keeps it: its handle is this object's address.
Module g_versionDll = {"C:\\Windows\\system32\\version.dll", {}};
// Windows File Protection's DLL, and the host paths of the files it protects.
Module g_sfcDll = {"C:\\Windows\\system32\\sfc.dll", {}};
std::set<std::string> g_protectedFiles;

std::vector<std::string> ExportNames(const PeImage& image)
{
    std::vector<std::string> names;
    DWORD exportRva = PeRead32(image.bytes, image.directories);
    size_t directory = PeFileOffset(image, exportRva);
    if (exportRva == 0 || directory == 0)
        return names;
    DWORD count = PeRead32(image.bytes, directory + 24);
    size_t table = PeFileOffset(image, PeRead32(image.bytes, directory + 32));
    for (DWORD i = 0; table != 0 && i < count; ++i) {
        size_t name = PeFileOffset(image, PeRead32(image.bytes, table + i * 4));
        if (name == 0 || name >= image.bytes.size())
            break;
        const char* text = reinterpret_cast<const char*>(&image.bytes[name]);
        names.push_back(std::string(text, strnlen(text, image.bytes.size() - name)));
    }
    return names;
}

HRESULT WINAPI RecordUnregisterServer()
{
    g_unregisterCalls.push_back(g_lastEntryModule);
    return 0;
}

bool IsSystemVersionDll(std::u16string path)
{
    std::replace(path.begin(), path.end(), u'/', u'\\');
    return EqualNoCase(path, std::u16string(kSystemFolder) + u"\\version.dll");
}

HMODULE LoadSystemVersionDll()
{
    if (g_versionDllRemoved) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HMODULE>(&g_versionDll);
}

template <typename Proc> FARPROC AsFarProc(Proc proc)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(proc));
}

} // namespace

void ResetModules()
{
    g_unregisterCalls.clear();
    g_commands.clear();
    g_lastEntryModule.clear();
    g_loadedModules = 0;
    g_loads.clear();
    g_refuseSearchFlags = false;
    g_versionDllRemoved = false;
    g_protectedFiles.clear();
}

BOOL WINAPI SfcIsFileProtected(HANDLE, LPCWSTR path)
{
    return g_protectedFiles.count(HostPathOf(path)) != 0;
}

// A bare name is looked for in the system folder when the flag says so, and
// nowhere else: the stand-in has no program folder to search.
HMODULE WINAPI LoadLibraryExW(LPCWSTR fileName, HANDLE, DWORD flags)
{
    if (fileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::u16string name = WideOf(fileName);
    g_loads.push_back({Utf8Of(name), flags});
    if (flags & LOAD_LIBRARY_SEARCH_SYSTEM32) {
        if (g_refuseSearchFlags) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        if (EqualNoCase(name, u"version.dll"))
            return LoadSystemVersionDll();
    }
    if (IsSystemVersionDll(name))
        return LoadSystemVersionDll();
    if (EqualNoCase(name, std::u16string(kSystemFolder) + u"\\sfc.dll"))
        return reinterpret_cast<HMODULE>(&g_sfcDll);
    std::string host = HostPathOf(fileName);
    struct stat info;
    if (host.empty() || stat(host.c_str(), &info) != 0) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    PeImage image;
    if (!ReadPeImage(host, &image)) {
        SetLastError(ERROR_BAD_EXE_FORMAT);
        return nullptr;
    }
    Module* module = new Module{Utf8Of(name), ExportNames(image)};
    ++g_loadedModules;
    return reinterpret_cast<HMODULE>(module);
}

UINT WINAPI GetSystemDirectoryW(LPWSTR buffer, UINT size)
{
    UINT length = sizeof kSystemFolder / sizeof kSystemFolder[0] - 1;
    if (size <= length)
        return length + 1;
    std::copy(kSystemFolder, kSystemFolder + length + 1, buffer);
    return length;
}

UINT WINAPI GetSystemWindowsDirectoryW(LPWSTR buffer, UINT size)
{
    const char16_t windows[] = u"C:\\Windows";
    UINT length = sizeof windows / sizeof windows[0] - 1;
    if (size <= length)
        return length + 1;
    std::copy(windows, windows + length + 1, buffer);
    return length;
}

HANDLE WINAPI GetCurrentProcess(void)
{
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
}

BOOL WINAPI IsWow64Process(HANDLE, BOOL* wow64)
{
    *wow64 = SimIsWow64() ? TRUE : FALSE;
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE, DWORD)
{
    return WAIT_OBJECT_0;
}

FARPROC WINAPI GetProcAddress(HMODULE handle, LPCSTR name)
{
    Module* module = reinterpret_cast<Module*>(handle);
    // An ordinal names no export the stand-in answers.
    if (module == nullptr || IS_INTRESOURCE(name)) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    if (module == &g_sfcDll && strcmp(name, "SfcIsFileProtected") == 0)
        return AsFarProc(&SfcIsFileProtected);
    if (module == &g_versionDll) {
        if (strcmp(name, "GetFileVersionInfoSizeW") == 0)
            return AsFarProc(&GetFileVersionInfoSizeW);
        if (strcmp(name, "GetFileVersionInfoW") == 0)
            return AsFarProc(&GetFileVersionInfoW);
        if (strcmp(name, "VerQueryValueW") == 0)
            return AsFarProc(&VerQueryValueW);
    }
    for (const std::string& exported : module->exports) {
        if (exported == name && exported == "DllUnregisterServer") {
            g_lastEntryModule = module->path;
            return AsFarProc(&RecordUnregisterServer);
        }
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

BOOL WINAPI FreeLibrary(HMODULE handle)
{
    if (handle == nullptr)
        return FALSE;
    if (reinterpret_cast<Module*>(handle) == &g_versionDll ||
        reinterpret_cast<Module*>(handle) == &g_sfcDll)
        return TRUE;
    delete reinterpret_cast<Module*>(handle);
    --g_loadedModules;
    return TRUE;
}

BOOL WINAPI CreateProcessW(LPCWSTR, LPWSTR commandLine, LPSECURITY_ATTRIBUTES,
                           LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW,
                           LPPROCESS_INFORMATION processInformation)
{
    if (commandLine == nullptr || processInformation == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    g_commands.push_back(Utf8Of(WideOf(commandLine)));
    // Process and thread ids share one numbering, multiples of four as on Windows.
    processInformation->hProcess = OpenProcessHandle();
    processInformation->hThread = OpenProcessHandle();
    processInformation->dwProcessId = g_lastProcessId += 4;
    processInformation->dwThreadId = g_lastProcessId += 4;
    return TRUE;
}

std::vector<std::string> SimUnregisterServerCalls()
{
    return g_unregisterCalls;
}

std::vector<std::string> SimProcessCommands()
{
    return g_commands;
}

int SimLoadedModuleCount()
{
    return g_loadedModules;
}

std::vector<SimLibraryLoad> SimLibraryLoads()
{
    return g_loads;
}

void SimRefuseSearchFlags()
{
    g_refuseSearchFlags = true;
}

void SimProtectFile(const char* windowsPath)
{
    g_protectedFiles.insert(SimHostPath(windowsPath));
}

void SimRemoveSystemVersionDll()
{
    g_versionDllRemoved = true;
}
