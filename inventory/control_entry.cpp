#include "inventory/inventory.h"

#include "base/text.h"

#define ENTRY_MARK_64 TEXT(" (64-bit)")

static bool StartsWithFolder(const WCHAR* path, const WCHAR* folder, const WCHAR*& rest)
{
    size_t length = TextLength(folder);
    WCHAR head[MAX_PATH];
    if (TextLength(path) < length || length >= MAX_PATH)
        return false;
    for (size_t i = 0; i < length; ++i)
        head[i] = path[i];
    head[length] = 0;
    rest = path + length;
    return EqualsIgnoreCase(head, folder) && (*rest == 0 || *rest == '\\');
}

// A 64-bit path into System32 that does not fit through Sysnative has no
// path here: kept as it is, it would name its 32-bit namesake.
bool MapFilePath(const WCHAR* filePath, RegistryView view, WCHAR (&diskPath)[MAX_PATH])
{
    if (!CopyText(diskPath, filePath))
        return false;
    if (view != VIEW_64 || !IsWow64Machine())
        return true;
    WCHAR windows[MAX_PATH];
    WCHAR system[MAX_PATH];
    UINT length = GetSystemWindowsDirectoryW(windows, BufferLength(windows));
    const WCHAR* rest;
    if (length == 0 || length >= BufferLength(windows) ||
        !JoinText(system, windows, TEXT("\\System32")) || !StartsWithFolder(filePath, system, rest))
        return true;
    return JoinText(diskPath, windows, TEXT("\\Sysnative"), rest);
}

bool MakeControlEntry(const WCHAR* controlPath, RegistryView view, ControlEntry& entry)
{
    entry.view = view;
    if (!CopyText(entry.controlPath, controlPath))
        return false;
    CopyText(entry.filePath, controlPath);
    ConvertSlashes(entry.filePath);
    return MapFilePath(entry.filePath, view, entry.diskPath);
}

void FormatEntryText(const WCHAR* controlPath, RegistryView view, WCHAR (&text)[ENTRY_TEXT_SIZE])
{
    CopyText(text, controlPath);
    if (view == VIEW_64)
        AppendText(text, ENTRY_MARK_64);
}

bool ParseEntryText(const WCHAR* text, RegistryView view, ControlEntry& entry)
{
    WCHAR controlPath[ENTRY_TEXT_SIZE];
    if (!CopyText(controlPath, text))
        return false;
    if (view == VIEW_64) {
        size_t length = TextLength(controlPath);
        size_t mark = TextLength(ENTRY_MARK_64);
        if (length < mark || CompareText(controlPath + length - mark, ENTRY_MARK_64) != 0)
            return false;
        controlPath[length - mark] = 0;
    }
    return TextLength(controlPath) < MAX_PATH && MakeControlEntry(controlPath, view, entry);
}
