#include "app/app.h"
#include "app/control_ids.h"
#include "details/details.h"

HINSTANCE hInstance;
HANDLE detailHeap;

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    hInstance = instance;
    INT_PTR result = DialogBoxParamW(instance, IDD_MAIN, NULL, MainDialogProc, 0);
    FreeVersionApi();
    return static_cast<int>(result);
}
