#pragma once

#include <windows.h>

// Registry locations that more than one part of the program reads or changes.
#define MODULE_USAGE_PATH TEXT("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\ModuleUsage")
#define SHARED_DLLS_PATH TEXT("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs")
#define DISTRIBUTION_UNITS_PATH TEXT("SOFTWARE\\Microsoft\\Code Store Database\\Distribution Units")

// Where a failed key open is reported, so the user can tell the three apart.
enum KeyOpenSite {
    SITE_MODULE_USAGE_SCAN = 446,
    SITE_TYPELIB_SCAN = 730,
    SITE_DOWNLOAD_CHECK = 1906,
};
