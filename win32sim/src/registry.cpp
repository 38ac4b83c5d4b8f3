#include "internal.h"
#include "win32sim.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <set>

// Calls of the seven operations the program uses (RegCreateKeyExA and
// RegSetValueExA, which only tests use, do not count).
static long g_programCalls = 0;

long SimRegistryCallCount()
{
    return g_programCalls;
}

namespace {

// Wine's server keeps subkeys and values sorted by their lower-case names, so
// that is the enumeration order: "_x" comes before "a". (Windows compares
// upper-cased names and would put it after "Z".) Bytes above 0x7F are
// compared as they are.
struct NameLess {
    bool operator()(const std::string& a, const std::string& b) const
    {
        return std::lexicographical_compare(
            a.begin(), a.end(), b.begin(), b.end(),
            [](unsigned char x, unsigned char y) { return std::tolower(x) < std::tolower(y); });
    }
};

struct Value {
    DWORD type;
    std::vector<BYTE> data;
};

struct Key {
    Key* parent = nullptr;
    bool deleted = false;
    std::map<std::string, std::shared_ptr<Key>, NameLess> subkeys;
    std::map<std::string, Value, NameLess> values;
};

struct Fault {
    HKEY root;
    std::string path;
    DWORD index;
    LONG status;
    std::function<void()> action;
};

std::shared_ptr<Key> g_machine, g_user;
std::set<HKEY> g_handles;
std::vector<Fault> g_deniedOpens, g_enumFailures, g_enumActions;
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
LONG SplitPath(LPCSTR path, std::vector<std::string>& parts)
{
    parts.clear();
    if (!path)
        return ERROR_SUCCESS;
    if (*path == '\\')
        return ERROR_BAD_PATHNAME;
    std::string part;
    for (const char* p = path;; ++p) {
        if (*p == '\\' || *p == '\0') {
            if (!part.empty())
                parts.push_back(part);
            part.clear();
            if (*p == '\0')
                break;
        } else {
            part += *p;
        }
    }
    return ERROR_SUCCESS;
}

std::shared_ptr<Key> Child(const std::shared_ptr<Key>& key, const std::string& name, bool create)
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
    return Child(Child(g_machine, "SOFTWARE", true), "Classes", true);
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

std::shared_ptr<Key> Walk(std::shared_ptr<Key> key, const std::vector<std::string>& parts)
{
    for (const std::string& part : parts) {
        key = Child(key, part, false);
        if (!key)
            return nullptr;
    }
    return key;
}

bool FaultNames(const Fault& fault, const Key* key)
{
    std::vector<std::string> parts;
    SplitPath(fault.path.c_str(), parts);
    std::shared_ptr<Key> target = Walk(Root(fault.root), parts);
    return target && target.get() == key;
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

// The existing key that a handle and a path below it name.
LONG FindKey(HKEY handle, LPCSTR subKey, std::shared_ptr<Key>& target)
{
    std::shared_ptr<Key> parent;
    LONG status = Use(handle, 0, parent);
    if (status != ERROR_SUCCESS)
        return status;
    std::vector<std::string> parts;
    status = SplitPath(subKey, parts);
    if (status != ERROR_SUCCESS)
        return status;
    target = Walk(parent, parts);
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

bool IsString(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// Copies a value's data when it fits. NT then ends a string that was stored
// without its terminator with one, if the buffer has room for it.
LONG CopyData(const Value& value, LPBYTE data, DWORD size)
{
    if (value.data.size() > size)
        return ERROR_MORE_DATA;
    std::copy(value.data.begin(), value.data.end(), data);
    if (IsString(value.type) && !value.data.empty() && value.data.back() &&
        value.data.size() < size)
        data[value.data.size()] = '\0';
    return ERROR_SUCCESS;
}

template <typename Map> typename Map::iterator At(Map& map, DWORD index)
{
    if (index >= map.size())
        return map.end();
    return std::next(map.begin(), index);
}

} // namespace

LONG WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM access, PHKEY result)
{
    ++g_programCalls;
    std::shared_ptr<Key> target;
    LONG status = FindKey(key, subKey, target);
    if (status != ERROR_SUCCESS)
        return status;
    for (const Fault& fault : g_deniedOpens) {
        if (!g_faultsSuspended && FaultNames(fault, target.get()))
            return ERROR_ACCESS_DENIED;
    }
    *result = NewHandle(target, access);
    return ERROR_SUCCESS;
}

// Wine creates subkeys whatever access the parent was opened with.
LONG WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM access,
                            LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition)
{
    std::shared_ptr<Key> target;
    LONG status = Use(key, 0, target);
    if (status != ERROR_SUCCESS)
        return status;
    std::vector<std::string> parts;
    status = SplitPath(subKey, parts);
    if (status != ERROR_SUCCESS)
        return status;
    bool created = false;
    for (const std::string& part : parts) {
        std::shared_ptr<Key> next = Child(target, part, false);
        if (!next) {
            next = Child(target, part, true);
            created = true;
        }
        target = next;
    }
    if (disposition)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = NewHandle(target, access);
    return ERROR_SUCCESS;
}

LONG WINAPI RegEnumKeyA(HKEY handle, DWORD index, LPSTR name, DWORD nameSize)
{
    ++g_programCalls;
    LONG status = BeforeEnumeration(handle, index);
    if (status != ERROR_SUCCESS)
        return status;
    std::shared_ptr<Key> key;
    status = Use(handle, KEY_ENUMERATE_SUB_KEYS, key);
    if (status != ERROR_SUCCESS)
        return status;
    auto entry = At(key->subkeys, index);
    if (entry == key->subkeys.end())
        return ERROR_NO_MORE_ITEMS;
    const std::string& found = entry->first;
    if (found.size() >= nameSize)
        return ERROR_MORE_DATA;
    memcpy(name, found.c_str(), found.size() + 1);
    return ERROR_SUCCESS;
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
    LONG status = BeforeEnumeration(handle, index);
    if (status != ERROR_SUCCESS)
        return status;
    std::shared_ptr<Key> key;
    status = Use(handle, KEY_QUERY_VALUE, key);
    if (status != ERROR_SUCCESS)
        return status;
    auto entry = At(key->values, index);
    if (entry == key->values.end())
        return ERROR_NO_MORE_ITEMS;
    const std::string& found = entry->first;
    const Value& value = entry->second;
    if (data)
        status = CopyData(value, data, *dataSize);
    if (status == ERROR_SUCCESS) {
        if (found.size() >= *nameSize) {
            status = ERROR_MORE_DATA;
            if (*nameSize) {
                memcpy(name, found.data(), *nameSize - 1);
                name[*nameSize - 1] = '\0';
            }
        } else {
            memcpy(name, found.c_str(), found.size() + 1);
            *nameSize = static_cast<DWORD>(found.size());
        }
    }
    if (type)
        *type = value.type;
    if (dataSize)
        *dataSize = static_cast<DWORD>(value.data.size());
    return status;
}

LONG WINAPI RegQueryValueExA(HKEY handle, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                             LPBYTE data, LPDWORD dataSize)
{
    ++g_programCalls;
    if (reserved || (data && !dataSize))
        return ERROR_INVALID_PARAMETER;
    std::shared_ptr<Key> key;
    LONG status = Use(handle, KEY_QUERY_VALUE, key);
    if (status != ERROR_SUCCESS)
        return status;
    auto entry = key->values.find(valueName ? valueName : "");
    if (entry == key->values.end())
        return ERROR_FILE_NOT_FOUND;
    const Value& value = entry->second;
    if (data)
        status = CopyData(value, data, *dataSize);
    if (type)
        *type = value.type;
    if (dataSize)
        *dataSize = static_cast<DWORD>(value.data.size());
    return status;
}

LONG WINAPI RegSetValueExA(HKEY handle, LPCSTR valueName, DWORD, DWORD type, const BYTE* data,
                           DWORD dataSize)
{
    std::shared_ptr<Key> key;
    LONG status = Use(handle, KEY_SET_VALUE, key);
    if (status != ERROR_SUCCESS)
        return status;
    if (!data)
        dataSize = 0;
    // NT adds the terminating NUL that a caller left out of the count when it
    // sits right after the data; Wine does the same. It reads one byte past.
    if (IsString(type) && dataSize && data[dataSize - 1] && !data[dataSize])
        ++dataSize;
    key->values[valueName ? valueName : ""] = Value{type, std::vector<BYTE>(data, data + dataSize)};
    return ERROR_SUCCESS;
}

// NT rule: only a key without subkeys can go. The parent needs no access of
// its own; "" names the key itself.
LONG WINAPI RegDeleteKeyA(HKEY handle, LPCSTR subKey)
{
    ++g_programCalls;
    if (!subKey)
        return ERROR_INVALID_PARAMETER;
    std::shared_ptr<Key> target;
    LONG status = FindKey(handle, subKey, target);
    if (status != ERROR_SUCCESS)
        return status;
    if (!target->subkeys.empty() || !target->parent)
        return ERROR_ACCESS_DENIED;
    target->deleted = true;
    Key* owner = target->parent;
    for (auto it = owner->subkeys.begin(); it != owner->subkeys.end(); ++it) {
        if (it->second == target) {
            owner->subkeys.erase(it);
            break;
        }
    }
    return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteValueA(HKEY handle, LPCSTR valueName)
{
    ++g_programCalls;
    std::shared_ptr<Key> key;
    LONG status = Use(handle, KEY_SET_VALUE, key);
    if (status != ERROR_SUCCESS)
        return status;
    if (!key->values.erase(valueName ? valueName : ""))
        return ERROR_FILE_NOT_FOUND;
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

void SimDenyKeyOpen(HKEY root, const char* path)
{
    g_deniedOpens.push_back(Fault{root, path, 0, ERROR_ACCESS_DENIED, nullptr});
}

void SimFailEnumAt(HKEY root, const char* path, DWORD index, LONG status)
{
    g_enumFailures.push_back(Fault{root, path, index, status, nullptr});
}

void SimBeforeEnumAt(HKEY root, const char* path, DWORD index, std::function<void()> action)
{
    g_enumActions.push_back(Fault{root, path, index, ERROR_SUCCESS, std::move(action)});
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
    g_enumFailures.clear();
    g_enumActions.clear();
    g_faultsSuspended = false;
}

void SimSuspendRegistryFaults(bool suspended)
{
    g_faultsSuspended = suspended;
}
