#pragma once

#include <windows.h>

// Shared by the C++ sources and the resource script, so it holds only
// preprocessor definitions.

// The main dialog template is named by a string; the resource script uses
// the bare name, so the C++ spelling is hidden from it.
#ifndef RC_INVOKED
#define IDD_MAIN TEXT("IDD_MAIN")
#endif
#define IDD_ABOUT 101
#define IDI_PROGRAM 102
#define IDB_BANNER 128
// The banner drawn for 150 % and 200 % displays.
#define IDB_BANNER_150 129
#define IDB_BANNER_200 130

#define IDC_EXIT 2
#define IDC_ABOUT 3
#define IDC_DELETE 4
#define IDC_REFRESH 5
#define IDC_CONTROL_LIST 103
#define IDC_BANNER 128
#define IDC_PUBLISHER 1000
#define IDC_USAGE_COUNT 1001
#define IDC_FILE_TYPE 1005
#define IDC_CATEGORIES 1006
#define IDC_LAST_CHANGE 1007
#define IDC_VERSION 1008
#define IDC_COPYRIGHT 1009
#define IDC_INSTALLED 1010
#define IDC_LAST_ACCESS 1011
#define IDC_FILE_INFO_GROUP 1012
#define IDC_ORIGIN 1013
#define IDC_DETAILS_GROUP 1014
// <windows.h> still defines the long-obsolete IDC_SIZE cursor; the size
// field takes the name.
#undef IDC_SIZE
#define IDC_SIZE 1072
#define IDC_CONTROL_NAME 1074
#define IDC_FILE_INFO_LIST 1075
#define IDC_FILE_INFO_VALUE 1076

// Posted by the main dialog to itself; both parameters are 0.
#define WM_REFRESH_LIST 0x8000
