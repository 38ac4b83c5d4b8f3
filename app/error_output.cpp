#include "app/app.h"

#include "inventory/inventory.h"
#include "removal/removal.h"

HANDLE OpenErrorOutput()
{
    return OpenOutput(STD_ERROR_HANDLE);
}

HANDLE OpenOutput(DWORD which)
{
    // A program of the GUI subsystem has a standard error only when its
    // caller hands one down, redirected to a file or a pipe; otherwise it can
    // borrow the console of the program that started it, when there is one.
    HANDLE output = GetStdHandle(which);
    if (output != NULL && output != INVALID_HANDLE_VALUE)
        return output;
    if (!AttachConsole(ATTACH_PARENT_PROCESS) && GetLastError() != ERROR_ACCESS_DENIED)
        return NULL;
    output = CreateFileW(TEXT("CONOUT$"), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    return output == INVALID_HANDLE_VALUE ? NULL : output;
}

// A file or a pipe gets UTF-8 with CRLF line ends; what cannot be written is
// lost, as there is nowhere left to say so.
static void WriteErrorBytes(HANDLE output, const WCHAR* text, size_t length)
{
    char converted[UTF8_PIECE_SIZE];
    while (length > 0) {
        int bytes;
        int part = ConvertUtf8Piece(text, length, converted, bytes);
        DWORD written;
        if (part == 0 || !WriteFile(output, converted, static_cast<DWORD>(bytes), &written, NULL))
            return;
        text += part;
        length -= static_cast<size_t>(part);
    }
}

void PrintError(HANDLE output, const WCHAR* text)
{
    DWORD mode;
    if (GetConsoleMode(output, &mode)) {
        DWORD written;
        WriteConsoleW(output, text, static_cast<DWORD>(TextLength(text)), &written, NULL);
        WriteConsoleW(output, TEXT("\n"), 1, &written, NULL);
        return;
    }
    for (;;) {
        const WCHAR* lineEnd = FindChar(text, '\n');
        size_t length = lineEnd != NULL ? static_cast<size_t>(lineEnd - text) : TextLength(text);
        WriteErrorBytes(output, text, length);
        DWORD written;
        WriteFile(output, "\r\n", 2, &written, NULL);
        if (lineEnd == NULL)
            return;
        text = lineEnd + 1;
    }
}
