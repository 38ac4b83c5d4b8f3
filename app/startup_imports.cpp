#include <windows.h>

// GCC's 32-bit start-up code (crtbegin.o) asks whether its runtime DLL is
// loaded, by a fixed ASCII name, before it registers the exception frames;
// it would import GetModuleHandleA and LoadLibraryA for that alone. Its two
// import slots are filled here with W calls instead, so that the program
// imports no ANSI function at all. The runtime is linked in, so the DLL is
// never found and LoadLibraryA is never called, but both behave as before.
#if defined(_WIN32) && !defined(_WIN64)

// A name that is not ASCII cannot be one crtbegin.o asks for.
static bool WidenAscii(LPCSTR name, WCHAR (&wide)[MAX_PATH])
{
    size_t i = 0;
    for (; name[i] != '\0'; ++i) {
        if (i == MAX_PATH - 1 || static_cast<unsigned char>(name[i]) >= 0x80)
            return false;
        wide[i] = static_cast<WCHAR>(name[i]);
    }
    wide[i] = 0;
    return true;
}

static HMODULE WINAPI GetModuleHandleAscii(LPCSTR name)
{
    WCHAR wide[MAX_PATH];
    if (name == NULL)
        return GetModuleHandleW(NULL);
    if (!WidenAscii(name, wide)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return NULL;
    }
    return GetModuleHandleW(wide);
}

static HMODULE WINAPI LoadLibraryAscii(LPCSTR name)
{
    WCHAR wide[MAX_PATH];
    if (name == NULL || !WidenAscii(name, wide)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return NULL;
    }
    return LoadLibraryW(wide);
}

extern "C" {
extern HMODULE(WINAPI* const importGetModuleHandleA)(LPCSTR) __asm__("__imp__GetModuleHandleA@4");
extern HMODULE(WINAPI* const importLoadLibraryA)(LPCSTR) __asm__("__imp__LoadLibraryA@4");
HMODULE(WINAPI* const importGetModuleHandleA)(LPCSTR) = GetModuleHandleAscii;
HMODULE(WINAPI* const importLoadLibraryA)(LPCSTR) = LoadLibraryAscii;
}

#endif
