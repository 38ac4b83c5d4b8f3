#include "inventory/inventory.h"

#include <cstdlib>
#include <cstring>

// Texts go into blocks of this size that never move, so the sorted entries
// can point into them; each block begins with a pointer to the one before.
#define TEXT_BLOCK_SIZE 65536

void InitTextIndex(TextIndex& index)
{
    index = TextIndex{};
    index.heap = GetProcessHeap();
}

static WCHAR* StoreText(TextIndex& index, const WCHAR* text)
{
    size_t size = (TextLength(text) + 1) * sizeof *text;
    if (index.block == NULL || index.blockUsed + size > TEXT_BLOCK_SIZE) {
        BYTE* block = static_cast<BYTE*>(HeapAlloc(index.heap, 0, TEXT_BLOCK_SIZE));
        if (block == NULL)
            return NULL;
        memcpy(block, &index.block, sizeof index.block);
        index.block = block;
        index.blockUsed = sizeof index.block;
    }
    WCHAR* stored = reinterpret_cast<WCHAR*>(index.block + index.blockUsed);
    memcpy(stored, text, size);
    index.blockUsed += size;
    return stored;
}

bool AddIndexText(TextIndex& index, const WCHAR* key, const WCHAR* value)
{
    if (!MakeRoomForOneMore(index.heap, index.entries, index.count, index.capacity))
        return false;
    TextIndexEntry& entry = index.entries[index.count];
    entry.key = StoreText(index, key);
    entry.value = entry.key == NULL ? NULL : StoreText(index, value);
    if (entry.value == NULL)
        return false;
    entry.order = index.count++;
    return true;
}

// Code-unit order of the keys, and among equal keys the order of adding, so
// that the first one added is the first one found.
static int CompareEntries(const void* first, const void* second)
{
    const TextIndexEntry* a = static_cast<const TextIndexEntry*>(first);
    const TextIndexEntry* b = static_cast<const TextIndexEntry*>(second);
    if (int order = CompareText(a->key, b->key))
        return order;
    return a->order < b->order ? -1 : a->order > b->order;
}

void SortTextIndex(TextIndex& index)
{
    if (index.count > 1)
        qsort(index.entries, index.count, sizeof *index.entries, CompareEntries);
}

const WCHAR* FindIndexText(const TextIndex& index, const WCHAR* key)
{
    size_t low = 0, high = index.count;
    while (low < high) {
        size_t middle = low + (high - low) / 2;
        if (CompareText(index.entries[middle].key, key) < 0)
            low = middle + 1;
        else
            high = middle;
    }
    if (low < index.count && CompareText(index.entries[low].key, key) == 0)
        return index.entries[low].value;
    return NULL;
}

void FreeTextIndex(TextIndex& index)
{
    while (index.block != NULL) {
        BYTE* previous;
        memcpy(&previous, index.block, sizeof previous);
        HeapFree(index.heap, 0, index.block);
        index.block = previous;
    }
    if (index.entries != NULL)
        HeapFree(index.heap, 0, index.entries);
    InitTextIndex(index);
}
