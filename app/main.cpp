#include "app/app.h"
#include "app/control_ids.h"

HINSTANCE hInstance;
HANDLE detailHeap;

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    hInstance = instance;
    return static_cast<int>(DialogBoxParamA(instance, IDD_MAIN, NULL, MainDialogProc, 0));
}
