#include "app/app.h"
#include "app/control_ids.h"
#include "details/details.h"

HINSTANCE hInstance;
HANDLE detailHeap;

// The command line is split from GetCommandLineW rather than the text handed
// to wWinMain: CommandLineToArgvW takes its first word as the program's
// name, by rules of its own, and makes up a name when the text is empty.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    hInstance = instance;
    int argc = 0;
    WCHAR** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    int result;
    if (argv == NULL)
        result = EXIT_BAD_ARGUMENTS;
    else if (argc > 1)
        result = RunCommandLine(argc - 1, argv + 1);
    else
        result = static_cast<int>(DialogBoxParamW(instance, IDD_MAIN, NULL, MainDialogProc, 0));
    if (argv != NULL)
        LocalFree(argv);
    FreeVersionApi();
    return result;
}
