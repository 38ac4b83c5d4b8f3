// Version resources of real PE files: the resource directory is walked to
// RT_VERSION, and the VS_VERSIONINFO tree inside answers VerQueryValueW.
// String values are handed back where they stand in the caller's block, as
// UTF-16, as Windows does; the block's second half is what Windows keeps for
// the ANSI copies of the A functions.

#include "internal.h"

#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

const WORD kVersionResource = 16;

WORD Read16(const BYTE* data)
{
    WORD value;
    memcpy(&value, data, 2);
    return value;
}

// The first entry of a resource directory, or the one with the given id.
bool DirectoryEntry(const std::vector<BYTE>& image, size_t directory, int id, DWORD* offset)
{
    if (directory + 16 > image.size())
        return false;
    WORD named = Read16(&image[directory + 12]);
    WORD numbered = Read16(&image[directory + 14]);
    for (size_t i = 0; i < size_t(named) + numbered; ++i) {
        size_t entry = directory + 16 + i * 8;
        DWORD name = PeRead32(image, entry);
        if (id < 0 || (!(name & 0x80000000u) && name == static_cast<DWORD>(id))) {
            *offset = PeRead32(image, entry + 4);
            return true;
        }
    }
    return false;
}

// The version resource of the file as bytes; error code on failure.
DWORD LoadVersionResource(LPCWSTR fileName, std::vector<BYTE>* resource)
{
    std::string host = HostPathOf(fileName);
    struct stat info;
    if (host.empty() || stat(host.c_str(), &info) != 0)
        return ERROR_FILE_NOT_FOUND;
    if (S_ISDIR(info.st_mode))
        return ERROR_ACCESS_DENIED;
    PeImage pe;
    if (!ReadPeImage(host, &pe))
        return ERROR_RESOURCE_DATA_NOT_FOUND;
    const std::vector<BYTE>& image = pe.bytes;
    DWORD resourceRva = PeRead32(image, pe.directories + 2 * 8);
    size_t root = PeFileOffset(pe, resourceRva);
    if (resourceRva == 0 || root == 0)
        return ERROR_RESOURCE_DATA_NOT_FOUND;

    DWORD offset;
    if (!DirectoryEntry(image, root, kVersionResource, &offset) || !(offset & 0x80000000u))
        return ERROR_RESOURCE_TYPE_NOT_FOUND;
    size_t names = root + (offset & 0x7fffffffu);
    if (!DirectoryEntry(image, names, -1, &offset) || !(offset & 0x80000000u))
        return ERROR_RESOURCE_DATA_NOT_FOUND;
    size_t languages = root + (offset & 0x7fffffffu);
    if (!DirectoryEntry(image, languages, -1, &offset) || (offset & 0x80000000u))
        return ERROR_RESOURCE_DATA_NOT_FOUND;
    size_t dataEntry = root + offset;
    DWORD dataRva = PeRead32(image, dataEntry);
    DWORD dataSize = PeRead32(image, dataEntry + 4);
    size_t data = PeFileOffset(pe, dataRva);
    if (data == 0 || data + dataSize > image.size())
        return ERROR_RESOURCE_DATA_NOT_FOUND;
    resource->assign(image.begin() + static_cast<long>(data),
                     image.begin() + static_cast<long>(data + dataSize));
    return ERROR_SUCCESS;
}

// One node of the VS_VERSIONINFO tree, as offsets into the block.
struct Node {
    size_t start, length, key, value, valueLength, children;
    bool text;
};

size_t Align4(size_t offset)
{
    return (offset + 3) & ~static_cast<size_t>(3);
}

bool ReadNode(const BYTE* block, size_t start, size_t limit, Node* node)
{
    if (start + 6 > limit)
        return false;
    node->start = start;
    node->length = Read16(block + start);
    node->valueLength = Read16(block + start + 2);
    node->text = Read16(block + start + 4) == 1;
    if (node->length < 6 || start + node->length > limit)
        return false;
    node->key = start + 6;
    size_t end = node->key;
    while (end + 2 <= start + node->length && Read16(block + end) != 0)
        end += 2;
    node->value = Align4(end + 2);
    size_t valueBytes = node->text ? node->valueLength * 2 : node->valueLength;
    node->children = Align4(node->value + valueBytes);
    return true;
}

bool KeyEquals(const BYTE* block, const Node& node, const std::u16string& name)
{
    std::u16string key;
    for (size_t at = node.key; at + 2 <= node.start + node.length; at += 2) {
        WCHAR c = Read16(block + at);
        if (c == 0)
            return EqualNoCase(key, name);
        key += c;
    }
    return false;
}

} // namespace

DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR fileName, LPDWORD handle)
{
    if (handle != nullptr)
        *handle = 0;
    std::vector<BYTE> resource;
    DWORD status = LoadVersionResource(fileName, &resource);
    if (status != ERROR_SUCCESS) {
        SetLastError(status);
        return 0;
    }
    // Room for the resource and, behind it, the ANSI copies of its strings
    // that the A functions would make.
    return static_cast<DWORD>(resource.size() * 2 + 4);
}

BOOL WINAPI GetFileVersionInfoW(LPCWSTR fileName, DWORD, DWORD size, LPVOID data)
{
    std::vector<BYTE> resource;
    DWORD status = LoadVersionResource(fileName, &resource);
    if (status != ERROR_SUCCESS) {
        SetLastError(status);
        return FALSE;
    }
    size_t copied = resource.size() < size ? resource.size() : size;
    memcpy(data, resource.data(), copied);
    memset(static_cast<BYTE*>(data) + copied, 0, size - copied);
    return TRUE;
}

BOOL WINAPI VerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, UINT* length)
{
    const BYTE* bytes = static_cast<const BYTE*>(block);
    Node node;
    size_t total = Read16(bytes);
    if (!ReadNode(bytes, 0, total, &node))
        return FALSE;
    std::u16string path = WideOf(subBlock);
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find(u'\\', start);
        if (end == std::u16string::npos)
            end = path.size();
        std::u16string name = path.substr(start, end - start);
        start = end + 1;
        if (name.empty())
            continue;
        Node child;
        bool found = false;
        for (size_t at = node.children; at < node.start + node.length;
             at = Align4(child.start + child.length)) {
            if (!ReadNode(bytes, at, node.start + node.length, &child))
                break;
            if (KeyEquals(bytes, child, name)) {
                found = true;
                break;
            }
        }
        if (!found) {
            SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
            return FALSE;
        }
        node = child;
    }

    // A string's length is in characters and, as the resource compiler
    // stores it, counts the NUL; anything else's is in bytes.
    *buffer = const_cast<BYTE*>(bytes + node.value);
    if (length != nullptr)
        *length = static_cast<UINT>(node.valueLength);
    return TRUE;
}
