#include "removal/removal.h"

BOOL DeleteSelectedControl(HWND)
{
    return FALSE;
}
