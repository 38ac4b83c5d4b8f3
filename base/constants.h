#pragma once

#include <windows.h>

// Registry locations that more than one part of the program reads or changes.
#define MODULE_USAGE_PATH TEXT("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\ModuleUsage")
#define SHARED_DLLS_PATH TEXT("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs")
#define DISTRIBUTION_UNITS_PATH TEXT("SOFTWARE\\Microsoft\\Code Store Database\\Distribution Units")

// On 64-bit Windows the registry keeps a 32-bit and a 64-bit copy of most of
// HKLM\SOFTWARE (HKCR\TypeLib is one key that both share), and System32
// leads a 32-bit program to SysWOW64. Every control lives in one of the two;
// a Windows without WOW64 has one view, which is the 32-bit one for this
// 32-bit program.
enum RegistryView {
    VIEW_32 = 32,
    VIEW_64 = 64,
};

// Where a failed key open is reported, so the user can tell the three apart.
enum KeyOpenSite {
    SITE_MODULE_USAGE_SCAN = 446,
    SITE_TYPELIB_SCAN = 730,
    SITE_DOWNLOAD_CHECK = 1906,
};
