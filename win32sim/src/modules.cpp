// Portable executables as the loader sees them: a valid PE image loads, its
// export table answers GetProcAddress, and a DllUnregisterServer found there
// yields a callable that records the call instead of running foreign code.
// Programs are not started; WinExec records the command line.

#include "internal.h"

#include <win32sim.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
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
    image->bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
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

std::vector<std::string> g_unregisterCalls;
std::vector<std::string> g_commands;
std::string g_lastEntryModule;
int g_loadedModules = 0;

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

} // namespace

void ResetModules()
{
    g_unregisterCalls.clear();
    g_commands.clear();
    g_lastEntryModule.clear();
    g_loadedModules = 0;
}

HMODULE WINAPI LoadLibraryA(LPCSTR fileName)
{
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
    Module* module = new Module{fileName, ExportNames(image)};
    ++g_loadedModules;
    return reinterpret_cast<HMODULE>(module);
}

FARPROC WINAPI GetProcAddress(HMODULE handle, LPCSTR name)
{
    Module* module = reinterpret_cast<Module*>(handle);
    for (const std::string& exported : module->exports) {
        if (exported == name && exported == "DllUnregisterServer") {
            g_lastEntryModule = module->path;
            return reinterpret_cast<FARPROC>(
                reinterpret_cast<void (*)(void)>(&RecordUnregisterServer));
        }
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

BOOL WINAPI FreeLibrary(HMODULE handle)
{
    if (handle == nullptr)
        return FALSE;
    delete reinterpret_cast<Module*>(handle);
    --g_loadedModules;
    return TRUE;
}

UINT WINAPI WinExec(LPCSTR commandLine, UINT)
{
    g_commands.push_back(commandLine);
    return 33;
}

BOOL WINAPI DeleteFileA(LPCSTR fileName)
{
    std::string host = HostPathOf(fileName);
    struct stat info;
    if (host.empty() || stat(host.c_str(), &info) != 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    bool readOnly = (info.st_mode & S_IWUSR) == 0;
    IsMarkedReadOnly(host, &readOnly);
    if (S_ISDIR(info.st_mode) || readOnly) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (IsMarkedInUse(host)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    if (unlink(host.c_str()) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}

std::vector<std::string> SimUnregisterServerCalls()
{
    return g_unregisterCalls;
}

std::vector<std::string> SimWinExecCommands()
{
    return g_commands;
}

int SimLoadedModuleCount()
{
    return g_loadedModules;
}
