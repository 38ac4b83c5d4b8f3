// Version resources of real PE files: the resource directory is walked to
// RT_VERSION, and the VS_VERSIONINFO tree inside answers VerQueryValueA. The
// A functions hand strings back in ANSI, converted into the second half of
// the caller's block, as Windows does.

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
DWORD LoadVersionResource(LPCSTR fileName, std::vector<BYTE>* resource)
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

bool KeyEquals(const BYTE* block, const Node& node, const std::string& name)
{
    size_t i = 0;
    for (; i < name.size(); ++i) {
        WORD c = Read16(block + node.key + i * 2);
        if (c == 0 || c > 0xff || tolower(c) != tolower(static_cast<unsigned char>(name[i])))
            return false;
    }
    return Read16(block + node.key + i * 2) == 0;
}

} // namespace

DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR fileName, LPDWORD handle)
{
    if (handle != nullptr)
        *handle = 0;
    std::vector<BYTE> resource;
    DWORD status = LoadVersionResource(fileName, &resource);
    if (status != ERROR_SUCCESS) {
        SetLastError(status);
        return 0;
    }
    // Room for the resource and, behind it, the ANSI copies of its strings.
    return static_cast<DWORD>(resource.size() * 2 + 4);
}

BOOL WINAPI GetFileVersionInfoA(LPCSTR fileName, DWORD, DWORD size, LPVOID data)
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

BOOL WINAPI VerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, UINT* length)
{
    const BYTE* bytes = static_cast<const BYTE*>(block);
    Node node;
    size_t total = Read16(bytes);
    if (!ReadNode(bytes, 0, total, &node))
        return FALSE;
    std::string path = subBlock;
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos)
            end = path.size();
        std::string name = path.substr(start, end - start);
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

    if (!node.text) {
        *buffer = const_cast<BYTE*>(bytes + node.value);
        *length = static_cast<UINT>(node.valueLength);
        return TRUE;
    }
    // The ANSI copy goes to the same place in the block's second half.
    BYTE* ansi = const_cast<BYTE*>(bytes) + total + 4 + node.value / 2;
    size_t count = node.valueLength;
    for (size_t i = 0; i < count; ++i) {
        WORD c = Read16(bytes + node.value + i * 2);
        ansi[i] = static_cast<BYTE>(c < 0x100 ? c : '?');
    }
    // Text stored without its terminator gets one where the block has room.
    if ((count == 0 || ansi[count - 1] != 0) && total + 4 + node.value / 2 + count < total * 2 + 4)
        ansi[count] = 0;
    *buffer = ansi;
    *length = static_cast<UINT>(count);
    return TRUE;
}
