// How long one selection change takes on the type-library route, where the
// file's type library and class are found only by walking every registered
// one. Seeds T type libraries and C classes, the control's own last in
// enumeration order, then shows its details a few times.
//
//   details_bench [T] [C]      (defaults 1000 and 10000)

#include "app/app.h"
#include "app/control_ids.h"
#include "details/details.h"
#include "support/test_support.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#ifndef _WIN32
#include <win32sim.h>
#endif

static std::string Id(const char* prefix, int n)
{
    char text[64];
    snprintf(text, sizeof text, "{%s-0000-4000-8000-%012d}", prefix, n);
    return text;
}

int main(int argc, char** argv)
{
    int typeLibs = argc > 1 ? atoi(argv[1]) : 1000;
    int classes = argc > 2 ? atoi(argv[2]) : 10000;
    const char* file = "c:\\bench\\last.ocx";

    for (int i = 0; i < typeLibs; ++i) {
        std::string key = "TypeLib\\" + Id("BE0C0001", i) + "\\1.0";
        SetRegistryText(HKEY_CLASSES_ROOT, key, "", "Bench library");
        SetRegistryText(HKEY_CLASSES_ROOT, key + "\\0\\win32", "",
                        i == typeLibs - 1 ? file : "c:\\bench\\other" + std::to_string(i) + ".dll");
    }
    for (int i = 0; i < classes; ++i)
        SetRegistryText(HKEY_CLASSES_ROOT, "CLSID\\" + Id("BE0C0002", i) + "\\TypeLib", "",
                        Id("BE0C0001", i == classes - 1 ? typeLibs - 1 : 0));

    const int rounds = 5;
    double seconds = 0;
    long calls = 0;
    WithMainDialog([&](HWND dialog) {
        SendDlgItemMessageW(dialog, IDC_CONTROL_LIST, LB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(Wide(file).c_str()));
        SendDlgItemMessageW(dialog, IDC_CONTROL_LIST, LB_SETCURSEL, 0, 0);
#ifndef _WIN32
        long before = SimRegistryCallCount();
#endif
        auto start = std::chrono::steady_clock::now();
        for (int round = 0; round < rounds; ++round)
            ShowControlDetails(dialog, VersionStringTable, GetProcessHeap());
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
#ifndef _WIN32
        calls = (SimRegistryCallCount() - before) / rounds;
#endif
        printf("origin: %s\n", DialogItemText(dialog, IDC_ORIGIN).c_str());
    });
    printf("T=%d C=%d: %.3f s per selection change", typeLibs, classes, seconds / rounds);
    if (calls != 0)
        printf(", %ld registry calls", calls);
    printf("\n");

    for (int i = 0; i < typeLibs; ++i)
        DeleteRegistryTree(HKEY_CLASSES_ROOT, "TypeLib\\" + Id("BE0C0001", i));
    for (int i = 0; i < classes; ++i)
        DeleteRegistryTree(HKEY_CLASSES_ROOT, "CLSID\\" + Id("BE0C0002", i));
    return 0;
}
