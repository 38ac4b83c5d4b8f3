#include "inventory/inventory.h"

#include "base/text.h"

#include <cstdlib>

// Names go into blocks of this size that never move, so the sorted array
// can point into them; each block begins with a pointer to the one before.
#define NAME_BLOCK_SIZE 65536
#define FIRST_NAME_CAPACITY 256

static bool StoreName(ModuleUsageIndex& index, const WCHAR* name)
{
    size_t size = (TextLength(name) + 1) * sizeof *name;
    if (index.block == NULL || index.blockUsed + size > NAME_BLOCK_SIZE) {
        WCHAR* block = static_cast<WCHAR*>(HeapAlloc(index.heap, 0, NAME_BLOCK_SIZE));
        if (block == NULL)
            return false;
        memcpy(block, &index.block, sizeof index.block);
        index.block = block;
        index.blockUsed = sizeof index.block;
    }
    if (index.count == index.capacity) {
        if (index.capacity > static_cast<size_t>(-1) / (2 * sizeof *index.names))
            return false;
        size_t capacity = index.capacity == 0 ? FIRST_NAME_CAPACITY : index.capacity * 2;
        const WCHAR** names =
            static_cast<const WCHAR**>(HeapAlloc(index.heap, 0, capacity * sizeof *names));
        if (names == NULL)
            return false;
        if (index.names != NULL) {
            memcpy(names, index.names, index.count * sizeof *names);
            HeapFree(index.heap, 0, index.names);
        }
        index.names = names;
        index.capacity = capacity;
    }
    WCHAR* stored =
        reinterpret_cast<WCHAR*>(reinterpret_cast<BYTE*>(index.block) + index.blockUsed);
    memcpy(stored, name, size);
    index.blockUsed += size;
    index.names[index.count++] = stored;
    return true;
}

// Code-unit order, the same for sorting and searching; the names are folded
// already, so equal means equal under EqualsIgnoreCase.
static int CompareNames(const void* first, const void* second)
{
    return CompareText(*static_cast<const WCHAR* const*>(first),
                       *static_cast<const WCHAR* const*>(second));
}

LONG ReadModuleUsageIndex(ModuleUsageIndex& index)
{
    index = ModuleUsageIndex{};
    index.heap = GetProcessHeap();
    HKEY moduleUsage;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH, 0, KEY_READ, &moduleUsage);
    if (status != ERROR_SUCCESS)
        return status;

    // The walk of IsDownloadedControl, ending where it ends, so the index
    // holds exactly the names that a walk per path would compare.
    WCHAR name[MAX_PATH];
    for (DWORD i = 0; RegEnumKeyW(moduleUsage, i, name, BufferLength(name)) == ERROR_SUCCESS; ++i) {
        ConvertSlashes(name);
        LowerCaseAscii(name);
        if (!StoreName(index, name)) {
            status = ERROR_NOT_ENOUGH_MEMORY;
            break;
        }
    }
    RegCloseKey(moduleUsage);
    if (status != ERROR_SUCCESS) {
        FreeModuleUsageIndex(index);
        return status;
    }
    if (index.count > 1)
        qsort(index.names, index.count, sizeof *index.names, CompareNames);
    return ERROR_SUCCESS;
}

BOOL IsIndexedDownload(const ModuleUsageIndex& index, const WCHAR* controlPath)
{
    WCHAR filePath[MAX_PATH];
    CopyText(filePath, controlPath);
    ConvertSlashes(filePath);
    LowerCaseAscii(filePath);
    if (!IsInDownloadCache(filePath) || index.count == 0)
        return FALSE;
    const WCHAR* key = filePath;
    return bsearch(&key, index.names, index.count, sizeof *index.names, CompareNames) != NULL;
}

void FreeModuleUsageIndex(ModuleUsageIndex& index)
{
    while (index.block != NULL) {
        WCHAR* previous;
        memcpy(&previous, index.block, sizeof previous);
        HeapFree(index.heap, 0, index.block);
        index.block = previous;
    }
    if (index.names != NULL)
        HeapFree(index.heap, 0, index.names);
    index = ModuleUsageIndex{};
}
