#include "removal/removal.h"

#include "base/text.h"
#include "inventory/inventory.h"

bool CreateOutputFile(OutputFile& out, const WCHAR* path, DWORD disposition)
{
    out.used = 0;
    out.error = 0;
    out.file = CreateFileW(path, GENERIC_WRITE, 0, NULL, disposition, FILE_ATTRIBUTE_NORMAL, NULL);
    if (out.file == INVALID_HANDLE_VALUE) {
        out.error = GetLastError();
        return false;
    }
    return true;
}

static void FlushOutput(OutputFile& out)
{
    if (out.used == 0 || out.error != 0)
        return;
    DWORD written = 0;
    if (!WriteFile(out.file, out.buffer, out.used, &written, NULL))
        out.error = GetLastError();
    else if (written != out.used)
        out.error = ERROR_DISK_FULL;
    out.used = 0;
}

void WriteBytes(OutputFile& out, const void* data, DWORD size)
{
    const BYTE* bytes = static_cast<const BYTE*>(data);
    while (size > 0 && out.error == 0) {
        DWORD room = sizeof out.buffer - out.used;
        DWORD part = size < room ? size : room;
        memcpy(out.buffer + out.used, bytes, part);
        out.used += part;
        bytes += part;
        size -= part;
        if (out.used == sizeof out.buffer)
            FlushOutput(out);
    }
}

void WriteWide(OutputFile& out, const WCHAR* text)
{
    WriteBytes(out, text, static_cast<DWORD>(TextLength(text) * sizeof(WCHAR)));
}

void WriteUtf8(OutputFile& out, const WCHAR* text)
{
    WriteUtf8Part(out, text, TextLength(text));
}

int ConvertUtf8Piece(const WCHAR* text, size_t length, char (&converted)[UTF8_PIECE_SIZE],
                     int& bytes)
{
    int part = length > UTF8_PIECE_SIZE / 4 ? UTF8_PIECE_SIZE / 4 : static_cast<int>(length);
    if (part < static_cast<int>(length) && text[part - 1] >= 0xD800 && text[part - 1] <= 0xDBFF)
        --part;
    bytes = WideCharToMultiByte(CP_UTF8, 0, text, part, converted, sizeof converted, NULL, NULL);
    return bytes > 0 ? part : 0;
}

void WriteUtf8Part(OutputFile& out, const WCHAR* text, size_t length)
{
    char converted[UTF8_PIECE_SIZE];
    while (length > 0 && out.error == 0) {
        int bytes;
        int part = ConvertUtf8Piece(text, length, converted, bytes);
        if (part == 0) {
            out.error = GetLastError() != 0 ? GetLastError() : ERROR_INVALID_DATA;
            return;
        }
        WriteBytes(out, converted, static_cast<DWORD>(bytes));
        text += part;
        length -= static_cast<size_t>(part);
    }
}

DWORD CloseOutputFile(OutputFile& out)
{
    FlushOutput(out);
    if (out.error == 0 && !FlushFileBuffers(out.file))
        out.error = GetLastError();
    if (!CloseHandle(out.file) && out.error == 0)
        out.error = GetLastError();
    out.file = INVALID_HANDLE_VALUE;
    return out.error;
}

bool ReadWholeFile(const WCHAR* path, BYTE*& data, DWORD& size, DWORD& error)
{
    data = NULL;
    size = 0;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return false;
    }
    LARGE_INTEGER length;
    bool read = false;
    error = ERROR_FILE_TOO_LARGE;
    if (GetFileSizeEx(file, &length) && length.QuadPart < 0x10000000) {
        size = static_cast<DWORD>(length.QuadPart);
        data = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, size + 2));
        DWORD got = 0;
        error = ERROR_NOT_ENOUGH_MEMORY;
        if (data != NULL) {
            read = ReadFile(file, data, size, &got, NULL) && got == size;
            error = read ? 0 : GetLastError() != 0 ? GetLastError() : ERROR_HANDLE_EOF;
        }
    }
    CloseHandle(file);
    if (!read && data != NULL) {
        HeapFree(GetProcessHeap(), 0, data);
        data = NULL;
    }
    return read;
}
