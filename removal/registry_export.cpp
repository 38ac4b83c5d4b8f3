#include "removal/removal.h"

#include "base/messages.h"
#include "base/text.h"
#include "details/details.h"
#include "inventory/inventory.h"

// Key paths below a root; deeper ones are refused rather than cut, as a cut
// path would name another key.
typedef WCHAR KeyPath[1024];

#define REG_FILE_HEADER TEXT("Windows Registry Editor Version 5.00")

// The walk over what a Delete may remove hands every key and value to a
// sink: once to write removed.reg, once more to check what was written
// against the registry as it is then.
struct ExportSink {
    bool (*key)(void* context, const WCHAR* rootName, const WCHAR* path);
    bool (*value)(void* context, const WCHAR* name, DWORD type, const BYTE* data, DWORD size);
    void* context;
};

static const WCHAR* RootName(HKEY root)
{
    return root == HKEY_CLASSES_ROOT ? TEXT("HKEY_CLASSES_ROOT") : TEXT("HKEY_LOCAL_MACHINE");
}

// One value of an open key; false when it is not there.
static bool ExportOneValue(HKEY key, const WCHAR* name, const ExportSink& sink,
                           RestoreFailure& failure, const WCHAR* path)
{
    DWORD type = REG_NONE;
    DWORD size = 0;
    LONG status = RegQueryValueExW(key, name, NULL, &type, NULL, &size);
    if (status == ERROR_FILE_NOT_FOUND)
        return true;
    BYTE* data = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, size + 1));
    if (status == ERROR_SUCCESS && data == NULL)
        status = ERROR_NOT_ENOUGH_MEMORY;
    if (status == ERROR_SUCCESS)
        status = RegQueryValueExW(key, name, NULL, &type, data, &size);
    bool exported = status == ERROR_SUCCESS && sink.value(sink.context, name, type, data, size);
    if (data != NULL)
        HeapFree(GetProcessHeap(), 0, data);
    if (!exported && failure.reason == NULL)
        SetRestoreFailure(failure, FORMAT_RESTORE_REGISTRY, static_cast<DWORD>(status), path);
    return exported;
}

static bool ExportValues(HKEY key, const ExportSink& sink, RestoreFailure& failure,
                         const WCHAR* path)
{
    DWORD count = 0;
    DWORD longestName = 0;
    DWORD largestData = 0;
    LONG status = RegQueryInfoKeyW(key, NULL, NULL, NULL, NULL, NULL, NULL, &count, &longestName,
                                   &largestData, NULL, NULL);
    HANDLE heap = GetProcessHeap();
    WCHAR* name = NULL;
    BYTE* data = NULL;
    if (status == ERROR_SUCCESS) {
        name = static_cast<WCHAR*>(HeapAlloc(heap, 0, (longestName + 1) * sizeof(WCHAR)));
        data = static_cast<BYTE*>(HeapAlloc(heap, 0, largestData + 1));
        if (name == NULL || data == NULL)
            status = ERROR_NOT_ENOUGH_MEMORY;
    }
    bool exported = status == ERROR_SUCCESS;
    for (DWORD index = 0; exported; ++index) {
        DWORD nameSize = longestName + 1;
        DWORD dataSize = largestData;
        DWORD type = REG_NONE;
        status = RegEnumValueW(key, index, name, &nameSize, NULL, &type, data, &dataSize);
        if (status == ERROR_NO_MORE_ITEMS) {
            status = ERROR_SUCCESS;
            break;
        }
        exported = status == ERROR_SUCCESS && sink.value(sink.context, name, type, data, dataSize);
    }
    if (name != NULL)
        HeapFree(heap, 0, name);
    if (data != NULL)
        HeapFree(heap, 0, data);
    if (!exported && failure.reason == NULL)
        SetRestoreFailure(failure, FORMAT_RESTORE_REGISTRY, static_cast<DWORD>(status), path);
    return exported;
}

// The key at path (its length is used) with its values, then its subkeys.
static bool ExportTree(HKEY root, KeyPath& path, RegistryView view, const ExportSink& sink,
                       RestoreFailure& failure, bool top)
{
    HKEY key;
    LONG status = RegOpenKeyExW(root, path, 0, KEY_READ | ViewAccess(view), &key);
    if (status == ERROR_FILE_NOT_FOUND && top)
        return true;
    if (status != ERROR_SUCCESS) {
        SetRestoreFailure(failure, FORMAT_RESTORE_REGISTRY, static_cast<DWORD>(status), path);
        return false;
    }
    bool exported = sink.key(sink.context, RootName(root), path);
    if (!exported)
        SetRestoreFailure(failure, FORMAT_RESTORE_NAME, 0, path);
    exported = exported && ExportValues(key, sink, failure, path);
    size_t length = TextLength(path);
    WCHAR name[MAX_PATH];
    for (DWORD index = 0; exported; ++index) {
        status = RegEnumKeyW(key, index, name, BufferLength(name));
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS || !AppendText(path, TEXT("\\")) || !AppendText(path, name)) {
            SetRestoreFailure(failure, FORMAT_RESTORE_REGISTRY, static_cast<DWORD>(status), path);
            exported = false;
            break;
        }
        exported = ExportTree(root, path, view, sink, failure, false);
        path[length] = 0;
    }
    RegCloseKey(key);
    return exported;
}

// The name as the key itself spells it: a class named by a usage value in
// other letters must come back under the spelling it had.
static void FindKeySpelling(HKEY root, const WCHAR* parent, const WCHAR* name, RegistryView view,
                            WCHAR (&spelling)[MAX_PATH])
{
    CopyText(spelling, name);
    HKEY key;
    if (RegOpenKeyExW(root, parent, 0, KEY_READ | ViewAccess(view), &key) != ERROR_SUCCESS)
        return;
    WCHAR found[MAX_PATH];
    for (DWORD index = 0; RegEnumKeyW(key, index, found, BufferLength(found)) == ERROR_SUCCESS;
         ++index) {
        if (EqualsIgnoreCase(found, name)) {
            CopyText(spelling, found);
            break;
        }
    }
    RegCloseKey(key);
}

static bool ExportTreeAt(HKEY root, const WCHAR* parent, const WCHAR* given, RegistryView view,
                         const ExportSink& sink, RestoreFailure& failure)
{
    KeyPath path;
    // A name that would reach another key deeper down is no key of this control.
    if (IsEmptyText(given) || FindChar(given, '\\') != NULL)
        return true;
    WCHAR name[MAX_PATH];
    FindKeySpelling(root, parent, given, view, name);
    if (!CopyText(path, parent) || !AppendText(path, TEXT("\\")) || !AppendText(path, name)) {
        SetRestoreFailure(failure, FORMAT_RESTORE_NAME, 0, name);
        return false;
    }
    return ExportTree(root, path, view, sink, failure, true);
}

// Every key and value the Delete of the plan may remove, in a fixed order,
// all from the entry's view. The whole type library is kept, whatever part
// of it the Delete leaves: importing it again changes nothing else.
static bool WalkRemovedKeys(const RemovalPlan& plan, const ExportSink& sink,
                            RestoreFailure& failure)
{
    const ControlEntry& entry = plan.entry;
    if (plan.downloaded) {
        if (!ExportTreeAt(HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH, entry.controlPath, entry.view,
                          sink, failure))
            return false;
        if (plan.hasClsid && (!ExportTreeAt(HKEY_LOCAL_MACHINE, DISTRIBUTION_UNITS_PATH, plan.clsid,
                                            entry.view, sink, failure) ||
                              !ExportTreeAt(HKEY_CLASSES_ROOT, TEXT("CLSID"), plan.clsid,
                                            entry.view, sink, failure)))
            return false;
    }
    if (plan.hasTypeLib &&
        !ExportTreeAt(HKEY_CLASSES_ROOT, TEXT("TypeLib"), plan.libId, entry.view, sink, failure))
        return false;
    if (IsEmptyText(entry.filePath))
        return true;
    HKEY sharedDlls;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, SHARED_DLLS_PATH, 0,
                                KEY_READ | ViewAccess(entry.view), &sharedDlls);
    if (status == ERROR_FILE_NOT_FOUND)
        return true;
    if (status != ERROR_SUCCESS) {
        SetRestoreFailure(failure, FORMAT_RESTORE_REGISTRY, static_cast<DWORD>(status),
                          SHARED_DLLS_PATH);
        return false;
    }
    bool exported = true;
    DWORD type;
    if (RegQueryValueExW(sharedDlls, entry.filePath, NULL, &type, NULL, NULL) == ERROR_SUCCESS) {
        exported = sink.key(sink.context, RootName(HKEY_LOCAL_MACHINE), SHARED_DLLS_PATH) &&
                   ExportOneValue(sharedDlls, entry.filePath, sink, failure, SHARED_DLLS_PATH);
    }
    RegCloseKey(sharedDlls);
    return exported;
}

// Writing ----------------------------------------------------------------

struct RegWriter {
    OutputFile* out;
    DWORD column;
};

static void WriteText(RegWriter& writer, const WCHAR* text)
{
    WriteWide(*writer.out, text);
    writer.column += static_cast<DWORD>(TextLength(text));
}

static void WriteQuoted(RegWriter& writer, const WCHAR* text, size_t length)
{
    WriteText(writer, TEXT("\""));
    for (size_t i = 0; i < length; ++i) {
        WCHAR one[2] = {text[i], 0};
        switch (text[i]) {
        case '\\':
            WriteText(writer, TEXT("\\\\"));
            break;
        case '"':
            WriteText(writer, TEXT("\\\""));
            break;
        case '\n':
            WriteText(writer, TEXT("\\n"));
            break;
        case '\r':
            WriteText(writer, TEXT("\\r"));
            break;
        default:
            WriteText(writer, one);
        }
    }
    WriteText(writer, TEXT("\""));
}

static bool WriteKeyHeader(void* context, const WCHAR* rootName, const WCHAR* path)
{
    // No escape exists for a line break in a key name: it would start a line
    // of its own, and that line could name any key.
    if (ContainsAnyOf(path, TEXT("\r\n")))
        return false;
    RegWriter& writer = *static_cast<RegWriter*>(context);
    WriteText(writer, TEXT("\r\n["));
    WriteText(writer, rootName);
    WriteText(writer, TEXT("\\"));
    WriteText(writer, path);
    WriteText(writer, TEXT("]\r\n"));
    return true;
}

// Text that a quoted string gives back byte for byte: one terminator at the
// end, and none before it.
static bool IsPlainString(const BYTE* data, DWORD size)
{
    if (size < sizeof(WCHAR) || size % sizeof(WCHAR) != 0)
        return false;
    DWORD count = size / sizeof(WCHAR);
    for (DWORD i = 0; i < count; ++i) {
        WCHAR c;
        memcpy(&c, data + i * sizeof(WCHAR), sizeof c);
        if ((c == 0) != (i == count - 1))
            return false;
    }
    return true;
}

static bool WriteValueLine(void* context, const WCHAR* name, DWORD type, const BYTE* data,
                           DWORD size)
{
    RegWriter& writer = *static_cast<RegWriter*>(context);
    writer.column = 0;
    if (IsEmptyText(name))
        WriteText(writer, TEXT("@"));
    else
        WriteQuoted(writer, name, TextLength(name));
    WriteText(writer, TEXT("="));
    WCHAR number[32];
    if (type == REG_SZ && IsPlainString(data, size)) {
        WriteQuoted(writer, reinterpret_cast<const WCHAR*>(data), size / sizeof(WCHAR) - 1);
    } else if (type == REG_DWORD && size == sizeof(DWORD)) {
        DWORD value;
        memcpy(&value, data, sizeof value);
        FormatText(number, TEXT("dword:%08x"), value);
        WriteText(writer, number);
    } else {
        if (type == REG_BINARY)
            CopyText(number, TEXT("hex:"));
        else
            FormatText(number, TEXT("hex(%x):"), type);
        WriteText(writer, number);
        for (DWORD i = 0; i < size; ++i) {
            FormatText(number, i + 1 < size ? TEXT("%02x,") : TEXT("%02x"), data[i]);
            WriteText(writer, number);
            // Lines wrap as regedit wraps them.
            if (i + 1 < size && writer.column > 76) {
                WriteText(writer, TEXT("\\\r\n  "));
                writer.column = 2;
            }
        }
    }
    WriteText(writer, TEXT("\r\n"));
    return true;
}

// Reading back --------------------------------------------------------------

// The file as written, one record at a time: a key header or a value.
struct RegReader {
    const WCHAR* next;
    const WCHAR* end;
    bool matched;
    BYTE* data; // room for the largest value the file holds
};

static bool ReadLine(RegReader& reader, const WCHAR*& line, size_t& length)
{
    if (reader.next >= reader.end)
        return false;
    line = reader.next;
    const WCHAR* p = line;
    while (p < reader.end && *p != '\r')
        ++p;
    length = static_cast<size_t>(p - line);
    reader.next = p + (p + 1 < reader.end && p[1] == '\n' ? 2 : 1);
    return true;
}

static bool NextNonEmptyLine(RegReader& reader, const WCHAR*& line, size_t& length)
{
    while (ReadLine(reader, line, length)) {
        if (length != 0)
            return true;
    }
    return false;
}

static bool CheckKeyHeader(void* context, const WCHAR* rootName, const WCHAR* path)
{
    RegReader& reader = *static_cast<RegReader*>(context);
    const WCHAR* line;
    size_t length;
    if (!NextNonEmptyLine(reader, line, length) || line[0] != '[' || line[length - 1] != ']')
        return false;
    size_t rootLength = TextLength(rootName);
    size_t pathLength = TextLength(path);
    return length == rootLength + pathLength + 3 &&
           memcmp(line + 1, rootName, rootLength * sizeof(WCHAR)) == 0 &&
           line[1 + rootLength] == '\\' &&
           memcmp(line + 2 + rootLength, path, pathLength * sizeof(WCHAR)) == 0;
}

// A quoted text at p, unescaped into out; answers the character after it.
static const WCHAR* ReadQuoted(const WCHAR* p, const WCHAR* end, WCHAR* out, size_t& count)
{
    count = 0;
    if (p >= end || *p != '"')
        return NULL;
    for (++p; p < end && *p != '"'; ++p) {
        WCHAR c = *p;
        if (c == '\\') {
            if (++p >= end)
                return NULL;
            c = *p == 'n' ? '\n' : *p == 'r' ? '\r' : *p;
            if (c != '\n' && c != '\r' && c != '\\' && c != '"')
                return NULL;
        }
        out[count++] = c;
    }
    return p < end ? p + 1 : NULL;
}

static int HexDigit(WCHAR c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

static bool ReadNumber(const WCHAR*& p, const WCHAR* end, DWORD& value, WCHAR stop)
{
    value = 0;
    const WCHAR* start = p;
    for (; p < end && HexDigit(*p) >= 0 && p - start < 8; ++p)
        value = value * 16 + static_cast<DWORD>(HexDigit(*p));
    return p > start && p < end && *p == stop;
}

static bool CheckValueLine(void* context, const WCHAR* name, DWORD type, const BYTE* data,
                           DWORD size)
{
    RegReader& reader = *static_cast<RegReader*>(context);
    const WCHAR* line;
    size_t length;
    if (!NextNonEmptyLine(reader, line, length))
        return false;
    const WCHAR* end = line + length;
    const WCHAR* p = line;
    // The name: its text lands in the data buffer, which is large enough for
    // any line of the file.
    WCHAR* text = reinterpret_cast<WCHAR*>(reader.data);
    size_t count = 0;
    if (*p == '@')
        ++p;
    else if ((p = ReadQuoted(p, end, text, count)) == NULL)
        return false;
    if (count != TextLength(name) || memcmp(text, name, count * sizeof(WCHAR)) != 0 || p >= end ||
        *p++ != '=')
        return false;

    DWORD readType;
    DWORD readSize = 0;
    if (p < end && *p == '"') {
        if (ReadQuoted(p, end, text, count) != end)
            return false;
        text[count] = 0;
        readType = REG_SZ;
        readSize = static_cast<DWORD>((count + 1) * sizeof(WCHAR));
    } else if (end - p > 6 && memcmp(p, TEXT("dword:"), 6 * sizeof(WCHAR)) == 0) {
        p += 6;
        DWORD value = 0;
        if (end - p != 8)
            return false;
        for (; p < end; ++p) {
            if (HexDigit(*p) < 0)
                return false;
            value = value * 16 + static_cast<DWORD>(HexDigit(*p));
        }
        readType = REG_DWORD;
        readSize = sizeof value;
        memcpy(reader.data, &value, sizeof value);
    } else {
        if (end - p >= 4 && memcmp(p, TEXT("hex:"), 4 * sizeof(WCHAR)) == 0) {
            readType = REG_BINARY;
            p += 4;
        } else if (end - p >= 4 && memcmp(p, TEXT("hex("), 4 * sizeof(WCHAR)) == 0) {
            p += 4;
            if (!ReadNumber(p, end, readType, ')') || ++p >= end || *p++ != ':')
                return false;
        } else {
            return false;
        }
        // Bytes, with lines continued by a trailing backslash.
        for (;;) {
            if (p == end)
                break;
            if (*p == '\\' && p + 1 == end) {
                if (!ReadLine(reader, line, length) || length < 2 || line[0] != ' ' ||
                    line[1] != ' ')
                    return false;
                p = line + 2;
                end = line + length;
                continue;
            }
            if (end - p < 2 || HexDigit(p[0]) < 0 || HexDigit(p[1]) < 0)
                return false;
            reader.data[readSize++] = static_cast<BYTE>(HexDigit(p[0]) * 16 + HexDigit(p[1]));
            p += 2;
            if (p < end && *p == ',')
                ++p;
        }
    }
    return readType == type && readSize == size && memcmp(reader.data, data, size) == 0;
}

bool ExportRemovedKeys(const RemovalPlan& plan, const WCHAR* regPath, RestoreFailure& failure)
{
    OutputFile* out = static_cast<OutputFile*>(HeapAlloc(GetProcessHeap(), 0, sizeof(OutputFile)));
    if (out == NULL) {
        SetRestoreFailure(failure, FORMAT_RESTORE_WRITE, ERROR_NOT_ENOUGH_MEMORY, regPath);
        return false;
    }
    bool written = CreateOutputFile(*out, regPath);
    if (!written) {
        SetRestoreFailure(failure, FORMAT_RESTORE_WRITE, out->error, regPath);
    } else {
        const WCHAR byteOrderMark[] = {0xFEFF, 0};
        WriteWide(*out, byteOrderMark);
        WriteWide(*out, REG_FILE_HEADER TEXT("\r\n"));
        RegWriter writer = {out, 0};
        ExportSink sink = {WriteKeyHeader, WriteValueLine, &writer};
        written = WalkRemovedKeys(plan, sink, failure);
        WriteWide(*out, TEXT("\r\n"));
        DWORD error = CloseOutputFile(*out);
        if (written && error != 0) {
            SetRestoreFailure(failure, FORMAT_RESTORE_WRITE, error, regPath);
            written = false;
        }
    }
    HeapFree(GetProcessHeap(), 0, out);
    if (!written)
        return false;

    BYTE* file;
    DWORD size;
    DWORD error;
    if (!ReadWholeFile(regPath, file, size, error)) {
        SetRestoreFailure(failure, FORMAT_RESTORE_CHECK, error, regPath);
        return false;
    }
    // Every byte a value line names is at least two characters of the file.
    RegReader reader = {};
    reader.data = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, size + sizeof(WCHAR)));
    const WCHAR* text = reinterpret_cast<const WCHAR*>(file);
    const WCHAR* line;
    size_t length;
    bool checked = reader.data != NULL && size % sizeof(WCHAR) == 0 && size >= sizeof(WCHAR) &&
                   text[0] == 0xFEFF;
    if (checked) {
        reader.next = text + 1;
        reader.end = text + size / sizeof(WCHAR);
        checked = ReadLine(reader, line, length) && length == TextLength(REG_FILE_HEADER) &&
                  memcmp(line, REG_FILE_HEADER, length * sizeof(WCHAR)) == 0;
    }
    if (checked) {
        ExportSink sink = {CheckKeyHeader, CheckValueLine, &reader};
        RestoreFailure ignored = {};
        checked = WalkRemovedKeys(plan, sink, ignored) && !NextNonEmptyLine(reader, line, length);
    }
    if (reader.data != NULL)
        HeapFree(GetProcessHeap(), 0, reader.data);
    HeapFree(GetProcessHeap(), 0, file);
    if (!checked)
        SetRestoreFailure(failure, FORMAT_RESTORE_CHECK, 0, regPath);
    return checked;
}
