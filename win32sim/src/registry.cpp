#include "internal.h"
#include "win32sim.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <set>

// Calls of the operations the program uses to read and to delete
// (RegCreateKeyExW and RegSetValueExW, which only tests use, do not count). An A form counts once:
// through the W form it calls, or itself when it shares the W form's lookup.
static long g_programCalls = 0;

long SimRegistryCallCount()
{
    return g_programCalls;
}

namespace {

// Wine's server keeps subkeys and values sorted by their lower-case names, so
// that is the enumeration order: "_x" comes before "a". (Windows compares
// upper-cased names and would put it after "Z".) Beyond ASCII, characters
// fold as UpcaseChar folds them, so that names equal without regard to case
// are one entry.
WCHAR SortFold(WCHAR c)
{
    if (c >= 0x80)
        return UpcaseChar(c);
    return c >= u'A' && c <= u'Z' ? static_cast<WCHAR>(c + 0x20) : c;
}

struct NameLess {
    bool operator()(const std::u16string& a, const std::u16string& b) const
    {
        return std::lexicographical_compare(
            a.begin(), a.end(), b.begin(), b.end(),
            [](WCHAR x, WCHAR y) { return SortFold(x) < SortFold(y); });
    }
};

// Data as stored: string types hold UTF-16LE bytes.
struct Value {
    DWORD type;
    std::vector<BYTE> data;
};

struct Key {
    Key* parent = nullptr;
    bool deleted = false;
    std::map<std::u16string, std::shared_ptr<Key>, NameLess> subkeys;
    std::map<std::u16string, Value, NameLess> values;
};

struct Fault {
    HKEY root;
    std::u16string path;
    DWORD index;
    LONG status;
    std::function<void()> action;
};

std::shared_ptr<Key> g_machine, g_user;
bool g_wow64 = false;
std::set<HKEY> g_handles;
std::vector<Fault> g_deniedOpens, g_deniedDeletes, g_enumFailures, g_enumActions;
bool g_faultsSuspended = false;

} // namespace

struct HKEY__ {
    std::shared_ptr<Key> key;
    REGSAM access;
};

namespace {

bool IsPredefined(HKEY key)
{
    return key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE;
}

// Paths are split at '\'; empty parts between separators are skipped as Wine
// does, but a path may not start with one.
LONG SplitPath(LPCWSTR path, std::vector<std::u16string>& parts)
{
    parts.clear();
    if (!path)
        return ERROR_SUCCESS;
    if (*path == u'\\')
        return ERROR_BAD_PATHNAME;
    std::u16string part;
    for (LPCWSTR p = path;; ++p) {
        if (*p == u'\\' || *p == u'\0') {
            if (!part.empty())
                parts.push_back(part);
            part.clear();
            if (*p == u'\0')
                break;
        } else {
            part += *p;
        }
    }
    return ERROR_SUCCESS;
}

std::shared_ptr<Key> Child(const std::shared_ptr<Key>& key, const std::u16string& name, bool create)
{
    auto found = key->subkeys.find(name);
    if (found != key->subkeys.end())
        return found->second;
    if (!create)
        return nullptr;
    auto child = std::make_shared<Key>();
    child->parent = key.get();
    key->subkeys.emplace(name, child);
    return child;
}

std::shared_ptr<Key> Root(HKEY root)
{
    if (!g_machine) {
        g_machine = std::make_shared<Key>();
        g_user = std::make_shared<Key>();
    }
    if (root == HKEY_LOCAL_MACHINE)
        return g_machine;
    if (root == HKEY_CURRENT_USER)
        return g_user;
    // HKEY_CLASSES_ROOT is a view of HKLM\SOFTWARE\Classes, as under Wine.
    return Child(Child(g_machine, u"SOFTWARE", true), u"Classes", true);
}

// The key behind a handle and the access it was opened with, or null.
std::shared_ptr<Key> Resolve(HKEY key, REGSAM* access)
{
    if (IsPredefined(key)) {
        *access = KEY_ALL_ACCESS;
        return Root(key);
    }
    if (!g_handles.count(key))
        return nullptr;
    *access = key->access;
    return key->key;
}

std::shared_ptr<Key> Walk(std::shared_ptr<Key> key, const std::vector<std::u16string>& parts)
{
    for (const std::u16string& part : parts) {
        key = Child(key, part, false);
        if (!key)
            return nullptr;
    }
    return key;
}

bool FaultNames(const Fault& fault, const Key* key)
{
    std::vector<std::u16string> parts;
    SplitPath(fault.path.c_str(), parts);
    std::shared_ptr<Key> target = Walk(Root(fault.root), parts);
    return target && target.get() == key;
}

bool IsDenied(const std::vector<Fault>& faults, const Key* key)
{
    return !g_faultsSuspended && std::any_of(faults.begin(), faults.end(), [&](const Fault& fault) {
        return FaultNames(fault, key);
    });
}

HKEY NewHandle(std::shared_ptr<Key> key, REGSAM access)
{
    HKEY handle = new HKEY__{std::move(key), access};
    g_handles.insert(handle);
    return handle;
}

// Checks common to every call that uses an open key.
LONG Use(HKEY handle, REGSAM needed, std::shared_ptr<Key>& key)
{
    REGSAM access = 0;
    key = Resolve(handle, &access);
    if (!key)
        return ERROR_INVALID_HANDLE;
    if ((access & needed) != needed)
        return ERROR_ACCESS_DENIED;
    if (key->deleted)
        return ERROR_KEY_DELETED;
    return ERROR_SUCCESS;
}

bool SameName(const std::u16string& name, const char16_t* wanted)
{
    return EqualNoCase(name, wanted);
}

// Where a path from a handle starts and the names that lead on from there.
// From a predefined root the path is taken whole from its hive, so that the
// view can be applied: a 32-bit program on 64-bit Windows finds SOFTWARE's
// keys under SOFTWARE\Wow6432Node unless it asks for the 64-bit view, all
// but the TypeLib key of Classes, which both views share.
LONG StartOf(HKEY handle, LPCWSTR subKey, REGSAM access, std::shared_ptr<Key>& start,
             std::vector<std::u16string>& parts)
{
    LONG status = Use(handle, 0, start);
    if (status != ERROR_SUCCESS)
        return status;
    status = SplitPath(subKey, parts);
    if (status != ERROR_SUCCESS || !IsPredefined(handle) || handle == HKEY_CURRENT_USER)
        return status;
    start = Root(HKEY_LOCAL_MACHINE);
    if (handle == HKEY_CLASSES_ROOT)
        parts.insert(parts.begin(), {u"SOFTWARE", u"Classes"});
    bool shared =
        parts.size() >= 3 && SameName(parts[1], u"Classes") && SameName(parts[2], u"TypeLib");
    if (g_wow64 && !(access & KEY_WOW64_64KEY) && !parts.empty() &&
        SameName(parts[0], u"SOFTWARE") && !shared &&
        !(parts.size() >= 2 && SameName(parts[1], u"Wow6432Node")))
        parts.insert(parts.begin() + 1, u"Wow6432Node");
    return ERROR_SUCCESS;
}

// The existing key that a handle and a path below it name.
LONG FindKey(HKEY handle, LPCWSTR subKey, REGSAM access, std::shared_ptr<Key>& target)
{
    std::shared_ptr<Key> start;
    std::vector<std::u16string> parts;
    LONG status = StartOf(handle, subKey, access, start, parts);
    if (status != ERROR_SUCCESS)
        return status;
    target = Walk(start, parts);
    return target ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

// Faults and scripted actions that come before an enumeration call.
LONG BeforeEnumeration(HKEY handle, DWORD index)
{
    REGSAM access = 0;
    std::shared_ptr<Key> key = Resolve(handle, &access);
    if (!key || g_faultsSuspended)
        return ERROR_SUCCESS;
    for (Fault& fault : g_enumActions) {
        if (fault.action && fault.index == index && FaultNames(fault, key.get())) {
            std::function<void()> action = std::move(fault.action);
            fault.action = nullptr;
            action();
        }
    }
    for (const Fault& fault : g_enumFailures) {
        if (fault.index == index && FaultNames(fault, key.get()))
            return fault.status;
    }
    return ERROR_SUCCESS;
}

template <typename Map> typename Map::iterator At(Map& map, DWORD index)
{
    if (index >= map.size())
        return map.end();
    return std::next(map.begin(), index);
}

// The key an enumeration call walks, after the faults that come before it.
LONG EnumeratedKey(HKEY handle, DWORD index, REGSAM needed, std::shared_ptr<Key>& key)
{
    LONG status = BeforeEnumeration(handle, index);
    return status != ERROR_SUCCESS ? status : Use(handle, needed, key);
}

// The entries behind the A and W forms alike. What they answer stays valid
// until the registry changes.
LONG SubkeyAt(HKEY handle, DWORD index, const std::u16string** name)
{
    std::shared_ptr<Key> key;
    LONG status = EnumeratedKey(handle, index, KEY_ENUMERATE_SUB_KEYS, key);
    if (status != ERROR_SUCCESS)
        return status;
    auto entry = At(key->subkeys, index);
    if (entry == key->subkeys.end())
        return ERROR_NO_MORE_ITEMS;
    *name = &entry->first;
    return ERROR_SUCCESS;
}

LONG ValueAt(HKEY handle, DWORD index, const std::u16string** name, const Value** value)
{
    std::shared_ptr<Key> key;
    LONG status = EnumeratedKey(handle, index, KEY_QUERY_VALUE, key);
    if (status != ERROR_SUCCESS)
        return status;
    auto entry = At(key->values, index);
    if (entry == key->values.end())
        return ERROR_NO_MORE_ITEMS;
    *name = &entry->first;
    *value = &entry->second;
    return ERROR_SUCCESS;
}

LONG FindValue(HKEY handle, const std::u16string& name, const Value** value)
{
    std::shared_ptr<Key> key;
    LONG status = Use(handle, KEY_QUERY_VALUE, key);
    if (status != ERROR_SUCCESS)
        return status;
    auto entry = key->values.find(name);
    if (entry == key->values.end())
        return ERROR_FILE_NOT_FOUND;
    *value = &entry->second;
    return ERROR_SUCCESS;
}

LONG SetValue(HKEY handle, const std::u16string& name, DWORD type, const BYTE* data, DWORD dataSize)
{
    std::shared_ptr<Key> key;
    LONG status = Use(handle, KEY_SET_VALUE, key);
    if (status != ERROR_SUCCESS)
        return status;
    if (!MayChange())
        return ERROR_ACCESS_DENIED;
    key->values[name] = Value{type, std::vector<BYTE>(data, data + dataSize)};
    CountChange();
    return ERROR_SUCCESS;
}

bool IsString(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// A character is `unit` bytes: one for the A forms, two for the W forms. As
// in Wine, the last character of odd-length UTF-16 data is its last two
// bytes.
bool EndsUnterminated(const BYTE* data, size_t size, size_t unit)
{
    size_t last = std::min(size, unit);
    return std::any_of(data + size - last, data + size, [](BYTE b) { return b != 0; });
}

// NT adds the terminating NUL that a caller left out of the count when it
// sits right after the data; Wine does the same. It reads a character past,
// in whole characters from the start: an odd count looks at the character
// the last byte belongs to and the one after it.
DWORD CountWithTerminator(DWORD type, const BYTE* data, DWORD size, size_t unit)
{
    size_t characters = size / unit;
    if (!IsString(type) || characters == 0)
        return size;
    const BYTE* last = data + (characters - 1) * unit;
    const BYTE* next = last + unit;
    if (std::any_of(last, next, [](BYTE b) { return b != 0; }) &&
        std::all_of(next, next + unit, [](BYTE b) { return b == 0; }))
        return static_cast<DWORD>(size + unit);
    return size;
}

// Copies a value's data when it fits. NT then ends a string that was stored
// without its terminator with one, if the buffer has room for it.
LONG CopyData(DWORD type, const std::vector<BYTE>& bytes, size_t unit, LPBYTE data, DWORD size)
{
    if (bytes.size() > size)
        return ERROR_MORE_DATA;
    std::copy(bytes.begin(), bytes.end(), data);
    if (IsString(type) && EndsUnterminated(bytes.data(), bytes.size(), unit) &&
        bytes.size() + unit <= size)
        std::fill_n(data + bytes.size(), unit, BYTE{0});
    return ERROR_SUCCESS;
}

// What a query answers: the data when it is asked for and fits, the type and
// the size.
LONG AnswerValue(DWORD valueType, const std::vector<BYTE>& bytes, size_t unit, LPDWORD type,
                 LPBYTE data, LPDWORD dataSize)
{
    LONG status = data ? CopyData(valueType, bytes, unit, data, *dataSize) : ERROR_SUCCESS;
    if (type)
        *type = valueType;
    if (dataSize)
        *dataSize = static_cast<DWORD>(bytes.size());
    return status;
}

template <typename Char>
LONG CopyName(const std::basic_string<Char>& found, Char* name, DWORD nameSize)
{
    if (found.size() >= nameSize)
        return ERROR_MORE_DATA;
    std::copy(found.begin(), found.end(), name);
    name[found.size()] = 0;
    return ERROR_SUCCESS;
}

// The A forms see strings in the ANSI code page and their sizes in its bytes.
std::vector<BYTE> AnsiData(const Value& value)
{
    if (!IsString(value.type))
        return value.data;
    std::u16string text(value.data.size() / sizeof(WCHAR), u'\0');
    memcpy(text.data(), value.data.data(), text.size() * sizeof(WCHAR));
    std::string ansi = AnsiOf(text);
    return std::vector<BYTE>(ansi.begin(), ansi.end());
}

} // namespace

LONG WINAPI RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM access, PHKEY result)
{
    ++g_programCalls;
    std::shared_ptr<Key> target;
    LONG status = FindKey(key, subKey, access, target);
    if (status != ERROR_SUCCESS)
        return status;
    if (IsDenied(g_deniedOpens, target.get()) ||
        ((access & DELETE) && IsDenied(g_deniedDeletes, target.get())))
        return ERROR_ACCESS_DENIED;
    *result = NewHandle(target, access);
    return ERROR_SUCCESS;
}

// Wine creates subkeys whatever access the parent was opened with.
LONG WINAPI RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM access,
                            LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition)
{
    std::shared_ptr<Key> target;
    std::vector<std::u16string> parts;
    LONG status = StartOf(key, subKey, access, target, parts);
    if (status != ERROR_SUCCESS)
        return status;
    bool created = false;
    for (const std::u16string& part : parts) {
        std::shared_ptr<Key> next = Child(target, part, false);
        if (!next) {
            if (!created && !MayChange())
                return ERROR_ACCESS_DENIED;
            next = Child(target, part, true);
            created = true;
        }
        target = next;
    }
    if (created)
        CountChange();
    if (disposition)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = NewHandle(target, access);
    return ERROR_SUCCESS;
}

LONG WINAPI RegEnumKeyW(HKEY handle, DWORD index, LPWSTR name, DWORD nameSize)
{
    ++g_programCalls;
    const std::u16string* found = nullptr;
    LONG status = SubkeyAt(handle, index, &found);
    return status != ERROR_SUCCESS ? status : CopyName(*found, name, nameSize);
}

// Follows Wine's RegEnumValueW, which checks the name before the data, unlike
// its A form: a name that does not fit is left out, and data that does not
// fit leaves the name copied.
LONG WINAPI RegEnumValueW(HKEY handle, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD reserved,
                          LPDWORD type, LPBYTE data, LPDWORD dataSize)
{
    ++g_programCalls;
    if (!name || !nameSize || reserved || (data && !dataSize))
        return ERROR_INVALID_PARAMETER;
    const std::u16string* found = nullptr;
    const Value* value = nullptr;
    LONG status = ValueAt(handle, index, &found, &value);
    if (status != ERROR_SUCCESS)
        return status;
    if (CopyName(*found, name, *nameSize) != ERROR_SUCCESS) {
        AnswerValue(value->type, value->data, sizeof(WCHAR), type, nullptr, dataSize);
        return ERROR_MORE_DATA;
    }
    *nameSize = static_cast<DWORD>(found->size());
    return AnswerValue(value->type, value->data, sizeof(WCHAR), type, data, dataSize);
}

LONG WINAPI RegQueryValueExW(HKEY handle, LPCWSTR valueName, LPDWORD reserved, LPDWORD type,
                             LPBYTE data, LPDWORD dataSize)
{
    ++g_programCalls;
    if (reserved || (data && !dataSize))
        return ERROR_INVALID_PARAMETER;
    const Value* value = nullptr;
    LONG status = FindValue(handle, WideOf(valueName), &value);
    if (status != ERROR_SUCCESS)
        return status;
    return AnswerValue(value->type, value->data, sizeof(WCHAR), type, data, dataSize);
}

LONG WINAPI RegSetValueExW(HKEY handle, LPCWSTR valueName, DWORD, DWORD type, const BYTE* data,
                           DWORD dataSize)
{
    if (!data)
        dataSize = 0;
    dataSize = CountWithTerminator(type, data, dataSize, sizeof(WCHAR));
    return SetValue(handle, WideOf(valueName), type, data, dataSize);
}

LONG WINAPI RegDeleteKeyW(HKEY handle, LPCWSTR subKey)
{
    return RegDeleteKeyExW(handle, subKey, 0, 0);
}

// NT rule: only a key without subkeys can go. The parent needs no access of
// its own; "" names the key itself.
LONG WINAPI RegDeleteKeyExW(HKEY handle, LPCWSTR subKey, REGSAM view, DWORD)
{
    ++g_programCalls;
    if (!subKey)
        return ERROR_INVALID_PARAMETER;
    std::shared_ptr<Key> target;
    LONG status = FindKey(handle, subKey, view, target);
    if (status != ERROR_SUCCESS)
        return status;
    if (!target->subkeys.empty() || !target->parent || IsDenied(g_deniedDeletes, target.get()) ||
        !MayChange())
        return ERROR_ACCESS_DENIED;
    target->deleted = true;
    Key* owner = target->parent;
    for (auto it = owner->subkeys.begin(); it != owner->subkeys.end(); ++it) {
        if (it->second == target) {
            owner->subkeys.erase(it);
            break;
        }
    }
    CountChange();
    return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteValueW(HKEY handle, LPCWSTR valueName)
{
    ++g_programCalls;
    std::shared_ptr<Key> key;
    LONG status = Use(handle, KEY_SET_VALUE, key);
    if (status != ERROR_SUCCESS)
        return status;
    auto value = key->values.find(WideOf(valueName));
    if (value == key->values.end())
        return ERROR_FILE_NOT_FOUND;
    if (!MayChange())
        return ERROR_ACCESS_DENIED;
    key->values.erase(value);
    CountChange();
    return ERROR_SUCCESS;
}

LONG WINAPI RegQueryInfoKeyW(HKEY handle, LPWSTR keyClass, LPDWORD classLength, LPDWORD reserved,
                             LPDWORD subKeys, LPDWORD maxSubKeyLength, LPDWORD maxClassLength,
                             LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                             LPDWORD securityDescriptorSize, PFILETIME lastWriteTime)
{
    ++g_programCalls;
    if (reserved || (keyClass && !classLength))
        return ERROR_INVALID_PARAMETER;
    std::shared_ptr<Key> key;
    LONG status = Use(handle, KEY_QUERY_VALUE, key);
    if (status != ERROR_SUCCESS)
        return status;
    size_t longestSubkey = 0, longestName = 0, largestData = 0;
    for (const auto& [name, subkey] : key->subkeys)
        longestSubkey = std::max(longestSubkey, name.size());
    for (const auto& [name, value] : key->values) {
        longestName = std::max(longestName, name.size());
        largestData = std::max(largestData, value.data.size());
    }
    if (keyClass) {
        if (*classLength == 0)
            return ERROR_MORE_DATA;
        keyClass[0] = 0;
    }
    const std::pair<LPDWORD, size_t> answers[] = {
        {classLength, 0},
        {subKeys, key->subkeys.size()},
        {maxSubKeyLength, longestSubkey},
        {maxClassLength, 0},
        {values, key->values.size()},
        {maxValueNameLength, longestName},
        {maxValueLength, largestData},
        {securityDescriptorSize, 0},
    };
    for (const auto& [out, answer] : answers) {
        if (out)
            *out = static_cast<DWORD>(answer);
    }
    if (lastWriteTime)
        *lastWriteTime = FILETIME{0, 0};
    return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY key)
{
    ++g_programCalls;
    if (IsPredefined(key))
        return ERROR_SUCCESS;
    if (!g_handles.erase(key))
        return ERROR_INVALID_HANDLE;
    delete key;
    return ERROR_SUCCESS;
}

LONG WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result)
{
    std::u16string wide = WideFromAnsi(subKey);
    return RegOpenKeyExW(key, subKey ? wide.c_str() : nullptr, options, access, result);
}

LONG WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR, DWORD options,
                            REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result,
                            LPDWORD disposition)
{
    std::u16string wide = WideFromAnsi(subKey);
    return RegCreateKeyExW(key, subKey ? wide.c_str() : nullptr, reserved, nullptr, options, access,
                           security, result, disposition);
}

LONG WINAPI RegEnumKeyA(HKEY handle, DWORD index, LPSTR name, DWORD nameSize)
{
    ++g_programCalls;
    const std::u16string* found = nullptr;
    LONG status = SubkeyAt(handle, index, &found);
    return status != ERROR_SUCCESS ? status : CopyName(AnsiOf(*found), name, nameSize);
}

// Follows Wine's RegEnumValueA: the data is checked first and, when it does
// not fit, the name is left alone; a name that does not fit is still copied
// as far as it goes, and the sizes tell what the value holds.
LONG WINAPI RegEnumValueA(HKEY handle, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved,
                          LPDWORD type, LPBYTE data, LPDWORD dataSize)
{
    ++g_programCalls;
    if (!nameSize || reserved || (data && !dataSize))
        return ERROR_INVALID_PARAMETER;
    const std::u16string* found = nullptr;
    const Value* value = nullptr;
    LONG status = ValueAt(handle, index, &found, &value);
    if (status != ERROR_SUCCESS)
        return status;
    std::string ansiName = AnsiOf(*found);
    status = AnswerValue(value->type, AnsiData(*value), 1, type, data, dataSize);
    if (status != ERROR_SUCCESS)
        return status;
    if (CopyName(ansiName, name, *nameSize) == ERROR_SUCCESS) {
        *nameSize = static_cast<DWORD>(ansiName.size());
        return ERROR_SUCCESS;
    }
    if (*nameSize) {
        memcpy(name, ansiName.data(), *nameSize - 1);
        name[*nameSize - 1] = '\0';
    }
    return ERROR_MORE_DATA;
}

LONG WINAPI RegQueryValueExA(HKEY handle, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                             LPBYTE data, LPDWORD dataSize)
{
    ++g_programCalls;
    if (reserved || (data && !dataSize))
        return ERROR_INVALID_PARAMETER;
    const Value* value = nullptr;
    LONG status = FindValue(handle, WideFromAnsi(valueName), &value);
    if (status != ERROR_SUCCESS)
        return status;
    return AnswerValue(value->type, AnsiData(*value), 1, type, data, dataSize);
}

// Windows counts the terminator in ANSI bytes, then stores the converted
// text, NULs within it included, without looking for one again.
LONG WINAPI RegSetValueExA(HKEY handle, LPCSTR valueName, DWORD, DWORD type, const BYTE* data,
                           DWORD dataSize)
{
    if (!data)
        dataSize = 0;
    if (!IsString(type) || !dataSize)
        return SetValue(handle, WideFromAnsi(valueName), type, data, dataSize);
    int length = static_cast<int>(CountWithTerminator(type, data, dataSize, 1));
    std::u16string wide(static_cast<size_t>(length), u'\0');
    wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<LPCSTR>(data),
                                                        length, wide.data(), length)));
    return SetValue(handle, WideFromAnsi(valueName), type,
                    reinterpret_cast<const BYTE*>(wide.data()),
                    static_cast<DWORD>(wide.size() * sizeof(WCHAR)));
}

LONG WINAPI RegDeleteKeyA(HKEY handle, LPCSTR subKey)
{
    std::u16string wide = WideFromAnsi(subKey);
    return RegDeleteKeyW(handle, subKey ? wide.c_str() : nullptr);
}

LONG WINAPI RegDeleteValueA(HKEY handle, LPCSTR valueName)
{
    return RegDeleteValueW(handle, WideFromAnsi(valueName).c_str());
}

void SimDenyKeyDelete(HKEY root, const char* path)
{
    g_deniedDeletes.push_back(Fault{root, WideFromUtf8(path), 0, ERROR_ACCESS_DENIED, nullptr});
}

void SimDenyKeyOpen(HKEY root, const char* path)
{
    g_deniedOpens.push_back(Fault{root, WideFromUtf8(path), 0, ERROR_ACCESS_DENIED, nullptr});
}

void SimFailEnumAt(HKEY root, const char* path, DWORD index, LONG status)
{
    g_enumFailures.push_back(Fault{root, WideFromUtf8(path), index, status, nullptr});
}

void SimBeforeEnumAt(HKEY root, const char* path, DWORD index, std::function<void()> action)
{
    g_enumActions.push_back(
        Fault{root, WideFromUtf8(path), index, ERROR_SUCCESS, std::move(action)});
}

int SimOpenKeyCount()
{
    return static_cast<int>(g_handles.size());
}

void ResetRegistry()
{
    g_programCalls = 0;
    for (HKEY handle : g_handles)
        delete handle;
    g_handles.clear();
    g_machine.reset();
    g_user.reset();
    g_deniedOpens.clear();
    g_deniedDeletes.clear();
    g_enumFailures.clear();
    g_enumActions.clear();
    g_faultsSuspended = false;
    g_wow64 = false;
}

void SimSetWow64(bool wow64)
{
    g_wow64 = wow64;
}

bool SimIsWow64()
{
    return g_wow64;
}

void SimSuspendRegistryFaults(bool suspended)
{
    g_faultsSuspended = suspended;
}
