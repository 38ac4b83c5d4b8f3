#pragma once

#include <windows.h>

// True when the selected control was removed and the list needs a refresh.
BOOL DeleteSelectedControl(HWND window);
