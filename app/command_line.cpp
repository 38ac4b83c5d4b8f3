#include "app/app.h"

#include "base/messages.h"
#include "inventory/inventory.h"

bool IsSwitch(const WCHAR* argument, const WCHAR* name)
{
    return (argument[0] == '/' || argument[0] == '-') && EqualsIgnoreCase(argument + 1, name);
}

static int ShowUsage(HANDLE errors, int status)
{
    if (errors != NULL)
        PrintError(errors, TEXT_USAGE);
    else
        MessageBoxW(NULL, TEXT_USAGE, TEXT_PRODUCT_NAME,
                    status == EXIT_REPORT_WRITTEN ? MB_ICONINFORMATION : MB_ICONERROR);
    return status;
}

int RunCommandLine(int argc, WCHAR** argv)
{
    HANDLE errors = OpenErrorOutput();
    if (argc == 2 && IsSwitch(argv[0], TEXT("report")) && !IsEmptyText(argv[1]))
        return WriteControlReport(argv[1], errors);
    if (IsSwitch(argv[0], TEXT("remove"))) {
        int status = RunRemoveCommand(argc, argv, errors);
        return status == EXIT_BAD_ARGUMENTS ? ShowUsage(errors, status) : status;
    }
    if (argc == 1 && IsSwitch(argv[0], TEXT("?")))
        return ShowUsage(errors, EXIT_REPORT_WRITTEN);
    return ShowUsage(errors, EXIT_BAD_ARGUMENTS);
}
