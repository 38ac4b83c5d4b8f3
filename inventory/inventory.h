#pragma once

#include "base/constants.h"

#include <windows.h>

#include <cstring>

// Whether this 32-bit program runs on 64-bit Windows, where the registry
// and the system folder have a 64-bit view beside its own.
bool IsWow64Machine();
// The access flag that opens a key in the view: none where there is only one.
REGSAM ViewAccess(RegistryView view);

// Registry access shared by every part of the program. A NULL path reads
// the key itself, without opening it again.
BOOL QueryRegistryValue(HKEY key, const WCHAR* path, RegistryView view, const WCHAR* valueName,
                        WCHAR (&output)[MAX_PATH], DWORD* valueType = NULL);
// As QueryRegistryValue, for callers that need text: a number is no text.
BOOL QueryRegistryText(HKEY key, const WCHAR* path, RegistryView view, const WCHAR* valueName,
                       WCHAR (&output)[MAX_PATH]);
// A key of ModuleUsage's kind in the view. On 64-bit Windows a view without
// the key is empty (ERROR_SUCCESS with key NULL, which CloseViewKey passes
// over) unless neither view has it: then the 32-bit view reports it missing.
LONG OpenViewKey(HKEY root, const WCHAR* path, RegistryView view, HKEY& key);
void CloseViewKey(HKEY key);

// One entry of the control list, settled once from what the scan found and
// handed on whole, so that no step reads the view or the file from the text.
struct ControlEntry {
    RegistryView view;
    WCHAR controlPath[MAX_PATH]; // as the registry names it: downloads with '/'
    WCHAR filePath[MAX_PATH];    // with '\', as the registry's values name the file
    WCHAR diskPath[MAX_PATH];    // where this program reaches the file
};
// Room for a control path and the mark of the 64-bit view.
#define ENTRY_TEXT_SIZE (MAX_PATH + 16)
// False when the path cannot be an entry's: too long for its buffers.
bool MakeControlEntry(const WCHAR* controlPath, RegistryView view, ControlEntry& entry);
// The text the list shows: the control path, marked when it is 64-bit.
void FormatEntryText(const WCHAR* controlPath, RegistryView view, WCHAR (&text)[ENTRY_TEXT_SIZE]);
// The entry back from the list's text and the view it keeps beside it.
bool ParseEntryText(const WCHAR* text, RegistryView view, ControlEntry& entry);
// The same file as a process of the view reaches it: a 64-bit path into
// System32 goes through Sysnative, as System32 would lead here to SysWOW64.
// False when that path does not fit.
bool MapFilePath(const WCHAR* filePath, RegistryView view, WCHAR (&diskPath)[MAX_PATH]);
void AppendKeyName(WCHAR (&path)[MAX_PATH], const WCHAR* name);
void ConvertSlashes(WCHAR* text);

// UTF-16 text rules: only 'A' to 'Z' ever change case, and every other code
// unit, surrogates included, is compared as it is.
void LowerCaseAscii(WCHAR* text);
bool ContainsText(const WCHAR* text, const WCHAR* pattern);
bool EqualsIgnoreCase(const WCHAR* first, const WCHAR* second);
bool IsEmptyText(const WCHAR* text);
size_t TextLength(const WCHAR* text);
// Code-unit order, as strcmp gives byte order.
int CompareText(const WCHAR* first, const WCHAR* second);
const WCHAR* FindChar(const WCHAR* text, WCHAR c);
const WCHAR* FindLastChar(const WCHAR* text, WCHAR c);
bool ContainsAnyOf(const WCHAR* text, const WCHAR* set);

// The control list scan hands its caller each entry it finds with its view,
// and each key it could not open with the status and the site of the open.
// The walk of the type libraries, which takes a while, is bracketed by
// busy(true) and busy(false) once their key is open. Any of the functions
// may be NULL.
struct ScanSink {
    void (*addEntry)(void* context, const WCHAR* entry, RegistryView view);
    void (*keyOpenFailed)(void* context, LONG status, int site);
    void (*busy)(void* context, bool busy);
    void* context;
    // For a caller that indexes what the type-library pass reads (NULL
    // otherwise): each library in turn, and whether it could be opened; then
    // each of its versions with the file of each view as the registry gives
    // it, download or not, or NULL when it names none.
    void (*typeLib)(void* context, const WCHAR* libId, bool opened);
    void (*typeLibModule)(void* context, const WCHAR* version, const WCHAR* file,
                          RegistryView view);
};
// keyPath names ModuleUsage in the view (see OpenViewKey).
BOOL ScanDownloadedControls(const ScanSink& sink, HKEY root, WCHAR (&keyPath)[MAX_PATH],
                            const WCHAR* keyName, RegistryView view);
// The files of the type libraries: the win32 and win16 ones as 32-bit
// entries and, on 64-bit Windows, the win64 ones as 64-bit entries.
BOOL ScanTypeLibControls(const ScanSink& sink, HKEY root, WCHAR (&keyPath)[MAX_PATH],
                         const WCHAR* keyName);
// Both, as a refresh of the list makes them: the downloads under each view's
// ModuleUsage, then the files of the type libraries.
void ScanControlList(const ScanSink& sink);
// The text that reports a key that could not be opened.
void FormatKeyOpenError(WCHAR (&message)[80], LONG status, int site);
// Whether the view's ModuleUsage names the path; FALSE, with the status of
// the open, when ModuleUsage cannot be opened.
BOOL CheckDownloadedControl(const WCHAR* controlPath, RegistryView view, LONG& openStatus);
// Whether a file path (with '\') lies in a download cache folder.
bool IsInDownloadCache(const WCHAR* filePath);

// Room for one more item in an array from the heap, which doubles from 256
// items; false, with the array as it was, when there is no memory for it.
template <typename Item>
bool MakeRoomForOneMore(HANDLE heap, Item*& items, size_t count, size_t& capacity)
{
    if (count < capacity)
        return true;
    if (capacity > static_cast<size_t>(-1) / (2 * sizeof *items))
        return false;
    size_t grown = capacity == 0 ? 256 : capacity * 2;
    Item* moved = static_cast<Item*>(HeapAlloc(heap, 0, grown * sizeof *items));
    if (moved == NULL)
        return false;
    if (items != NULL) {
        memcpy(moved, items, count * sizeof *items);
        HeapFree(heap, 0, items);
    }
    items = moved;
    capacity = grown;
    return true;
}

// Texts read once by a registry walk and looked up by key (folded by the
// caller). Among equal keys the first one added answers, as the walk that
// stops at the first match would. Freed with FreeTextIndex.
struct TextIndexEntry {
    const WCHAR* key;
    const WCHAR* value;
    size_t order;
};
struct TextIndex {
    HANDLE heap;
    BYTE* block; // the newest block of text
    size_t blockUsed;
    TextIndexEntry* entries;
    size_t count;
    size_t capacity;
};
void InitTextIndex(TextIndex& index);
// False when there is no memory for it.
bool AddIndexText(TextIndex& index, const WCHAR* key, const WCHAR* value);
// Once every text is added, before the first lookup.
void SortTextIndex(TextIndex& index);
const WCHAR* FindIndexText(const TextIndex& index, const WCHAR* key);
void FreeTextIndex(TextIndex& index);

// The names under ModuleUsage, read once for the type-library pass of one
// refresh, so that each of its paths is checked without a walk of its own.
// The answers are those of IsDownloadedControl at the time of reading.
using ModuleUsageIndex = TextIndex;
// ERROR_SUCCESS, the status of opening the view's ModuleUsage, or
// ERROR_NOT_ENOUGH_MEMORY; on failure nothing is left to free.
LONG ReadModuleUsageIndex(ModuleUsageIndex& index, RegistryView view);
BOOL IsIndexedDownload(const ModuleUsageIndex& index, const WCHAR* controlPath);
void FreeModuleUsageIndex(ModuleUsageIndex& index);
