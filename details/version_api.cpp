#include "details/details.h"

#include "base/text.h"

// version.dll is not one of the DLLs Windows always maps from its own
// folder, so a static import would load the first version.dll found beside
// the program -- in a Downloads folder, say -- into an elevated process. It
// is loaded from the system folder and nowhere else.

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

typedef DWORD(WINAPI* GetSizeProc)(LPCWSTR, LPDWORD);
typedef BOOL(WINAPI* GetInfoProc)(LPCWSTR, DWORD, DWORD, LPVOID);
typedef BOOL(WINAPI* QueryProc)(LPCVOID, LPCWSTR, LPVOID*, UINT*);

static HMODULE versionModule;
static GetSizeProc getSize;
static GetInfoProc getInfo;
static QueryProc query;

// By full path even with the search flag: a name alone would answer any
// DLL of that name already loaded into the process, wherever it came from.
// The flag keeps the DLL's own imports in the system folder too; systems
// without the search flags refuse it as an invalid parameter, and there the
// DLL's own folder, the system folder, is searched instead.
HMODULE LoadSystemLibrary(const WCHAR* fileName)
{
    WCHAR path[MAX_PATH];
    UINT length = GetSystemDirectoryW(path, BufferLength(path));
    if (length == 0 || length >= BufferLength(path) || !AppendText(path, TEXT("\\")) ||
        !AppendText(path, fileName))
        return NULL;
    HMODULE module = LoadLibraryExW(path, NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == NULL && GetLastError() == ERROR_INVALID_PARAMETER)
        module = LoadLibraryExW(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
    return module;
}

template <typename Proc> static Proc Resolve(HMODULE module, const char* name)
{
    return reinterpret_cast<Proc>(reinterpret_cast<void (*)(void)>(GetProcAddress(module, name)));
}

// A failure is not remembered: the next file shown tries again.
static bool HaveVersionApi()
{
    if (versionModule != NULL)
        return true;
    HMODULE module = LoadSystemLibrary(TEXT("version.dll"));
    if (module == NULL)
        return false;
    getSize = Resolve<GetSizeProc>(module, "GetFileVersionInfoSizeW");
    getInfo = Resolve<GetInfoProc>(module, "GetFileVersionInfoW");
    query = Resolve<QueryProc>(module, "VerQueryValueW");
    if (getSize == NULL || getInfo == NULL || query == NULL) {
        FreeLibrary(module);
        return false;
    }
    versionModule = module;
    return true;
}

DWORD ReadVersionInfoSize(const WCHAR* path)
{
    DWORD ignored;
    return HaveVersionApi() ? getSize(path, &ignored) : 0;
}

BOOL ReadVersionInfo(const WCHAR* path, DWORD size, void* block)
{
    return HaveVersionApi() && getInfo(path, 0, size, block);
}

BOOL QueryVersionValue(const void* block, const WCHAR* name, void** value, UINT* length)
{
    return HaveVersionApi() && query(block, name, value, length);
}

void FreeVersionApi()
{
    if (versionModule != NULL)
        FreeLibrary(versionModule);
    versionModule = NULL;
}
