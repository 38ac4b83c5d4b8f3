// Seeds the registry of a Wine prefix (or a Windows machine) for the refresh
// benchmark:
//   T type libraries; the first tenth name files in the download cache
//     folder, the others files in system32;
//   M downloads under ModuleUsage, files in the download cache folder (the
//     same files as those type libraries, as far as both go), each naming a
//     class of its own that points at the type library of its file;
//   C further classes, pointing at type libraries of the first half, so that
//     the later type libraries have no class and a selection of one of them
//     walks every class.
// Names are numbered with leading zeros, so enumeration order is numeric order.
// With "wow64", on 64-bit Windows, every other library names a win64 file
// instead, and every other download and its class are in the 64-bit view.
//
//   refresh_seed T M C [wow64]

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

static bool failed = false;

static void SetText(HKEY root, const std::string& path, const char* name, const std::string& text,
                    REGSAM view = 0)
{
    HKEY key;
    LONG status = RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_WRITE | view, nullptr,
                                  &key, nullptr);
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                static_cast<DWORD>(text.size() + 1));
        RegCloseKey(key);
    }
    if (status != ERROR_SUCCESS && !failed) {
        fprintf(stderr, "refresh_seed: cannot write %s: error %ld\n", path.c_str(), status);
        failed = true;
    }
}

static std::string Id(const char* prefix, int n)
{
    char text[64];
    snprintf(text, sizeof text, "{%s-0000-4000-8000-%012d}", prefix, n);
    return text;
}

static std::string DownloadFile(int n, char separator)
{
    char text[MAX_PATH];
    snprintf(text, sizeof text, "C:%cwindows%cDownloaded Program Files%cbench%06d.ocx", separator,
             separator, separator, n);
    return text;
}

int main(int argc, char** argv)
{
    bool wow64 = argc == 5 && strcmp(argv[4], "wow64") == 0;
    if (argc != 4 && !wow64) {
        fprintf(stderr, "usage: refresh_seed T M C [wow64]\n");
        return 2;
    }
    int typeLibs = atoi(argv[1]), downloads = atoi(argv[2]), classes = atoi(argv[3]);
    auto wide = [&](int i) { return wow64 && i % 2 == 1; };
    int cached = typeLibs / 10;

    for (int i = 0; i < typeLibs; ++i) {
        std::string key = "TypeLib\\" + Id("BE0C0001", i) + "\\1.0";
        SetText(HKEY_CLASSES_ROOT, key, "", "Bench library " + std::to_string(i));
        char file[MAX_PATH];
        snprintf(file, sizeof file, "C:\\windows\\system32\\bench%06d.dll", i);
        SetText(HKEY_CLASSES_ROOT, key + (wide(i) ? "\\0\\win64" : "\\0\\win32"), "",
                i < cached ? DownloadFile(i, '\\') : file);
    }
    const std::string moduleUsage = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\ModuleUsage\\";
    for (int i = 0; i < downloads; ++i) {
        std::string clsid = Id("BE0C0002", i);
        REGSAM view = wide(i) ? KEY_WOW64_64KEY : 0;
        SetText(HKEY_LOCAL_MACHINE, moduleUsage + DownloadFile(i, '/'), clsid.c_str(), "", view);
        SetText(HKEY_LOCAL_MACHINE, moduleUsage + DownloadFile(i, '/'), ".Owner", "Unknown Owner",
                view);
        SetText(HKEY_CLASSES_ROOT, "CLSID\\" + clsid + "\\TypeLib", "", Id("BE0C0001", i), view);
    }
    int half = typeLibs / 2 > 0 ? typeLibs / 2 : 1;
    for (int i = 0; i < classes; ++i)
        SetText(HKEY_CLASSES_ROOT, "CLSID\\" + Id("BE0C0003", i) + "\\TypeLib", "",
                Id("BE0C0001", i % half));

    printf("seeded T=%d (%d in the download cache), M=%d, C=%d\n", typeLibs, cached, downloads,
           classes);
    return failed ? 1 : 0;
}
