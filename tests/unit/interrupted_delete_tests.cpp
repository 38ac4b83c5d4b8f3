#include "app/app.h"
#include "app/control_ids.h"
#include "details/details.h"
#include "inventory/inventory.h"
#include "registry_snapshot.h"
#include "removal/removal.h"
#include "support/reg_file.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <win32sim.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

// The power fails after any one change of a Delete. Once it is back, a new
// window lists the control again, unless the job was done, and deleting it
// once more ends where an uninterrupted Delete ends. A folder with a finished
// name is complete, and the one written before anything went holds every
// key, value and file the Delete took, as they were.

namespace {

typedef std::vector<std::string> Entries;
typedef std::vector<std::string> Problems;

const std::string kModuleUsagePath = Utf8(MODULE_USAGE_PATH);
const std::string kUnitsPath = Utf8(DISTRIBUTION_UNITS_PATH);
const std::string kSharedDllsPath = Utf8(SHARED_DLLS_PATH);
const std::string kDownloads = "C:\\Windows\\Downloaded Program Files\\";
const std::string kRemovedFolder =
    "C:\\users\\Burrowlens Tester\\AppData\\Local\\Burrowlens\\Removed\\";
// Where the restore folders lie, below the sandbox: not part of the machine's end state.
const std::string kProgramFolder = "users/Burrowlens Tester/AppData/Local/Burrowlens/";
const std::string kUnfinished = "unfinished ";

#define CLSID_UNREG "{0B5E1000-0000-4000-8000-00000000000A}"
#define CLSID_PLAIN "{0B5E1000-0000-4000-8000-00000000000B}"
#define CLSID_GONE "{0B5E1000-0000-4000-8000-00000000000C}"
#define CLSID_SIBLING "{0B5E1000-0000-4000-8000-0000000000F0}"
#define LIBID_UNREG "{0B5E1000-0000-4000-8000-0000000000AA}"
#define LIBID_VENDOR "{0B5E1000-0000-4000-8000-0000000000BB}"
#define LIBID_GONE "{0B5E1000-0000-4000-8000-0000000000CC}"
#define LIBID_SIBLING "{0B5E1000-0000-4000-8000-0000000000FF}"

std::string FileOf(std::string controlPath)
{
    std::replace(controlPath.begin(), controlPath.end(), '/', '\\');
    return controlPath;
}

// A copy of a fixture, or text that names the file, so that no two files
// read alike. Each file has times of its own, the same in every run, apart
// from the moment of the test.
void PlaceFile(const std::string& windowsPath, const char* fixture)
{
    std::filesystem::path host = SimHostPath(windowsPath.c_str());
    std::filesystem::create_directories(host.parent_path());
    if (fixture != NULL)
        std::filesystem::copy_file(FixtureHostPath(fixture), host);
    else
        std::ofstream(host, std::ios::binary) << "contents of " << windowsPath << "\r\n";
    DWORD seed = static_cast<DWORD>(std::hash<std::string>()(windowsPath));
    FILETIME creation = {seed, 0x01D5A000};
    FILETIME write = {seed, 0x01D5A001};
    SimSetFileTimes(windowsPath.c_str(), creation, write, write);
}

void RegisterClass(const char* clsid, const std::string& file, const char* libId)
{
    std::string key = std::string("CLSID\\") + clsid;
    SetRegistryText(HKEY_CLASSES_ROOT, key, "", "Generated Control");
    SetRegistryText(HKEY_CLASSES_ROOT, key + "\\InprocServer32", "", file);
    SetRegistryText(HKEY_CLASSES_ROOT, key + "\\InprocServer32", "ThreadingModel", "Apartment");
    SetRegistryText(HKEY_CLASSES_ROOT, key + "\\Implemented Categories\\{7DD95801}", "", "");
    if (libId != NULL)
        SetRegistryText(HKEY_CLASSES_ROOT, key + "\\TypeLib", "", libId);
}

// The usage key names the file as the list shows it; its unit lists the
// control's file and the others.
void RegisterDownload(const std::string& controlPath, const char* clsid, const char* libId,
                      const Entries& otherFiles = {}, const char* inf = NULL)
{
    std::string file = FileOf(controlPath);
    std::string usage = kModuleUsagePath + "\\" + controlPath;
    SetRegistryText(HKEY_LOCAL_MACHINE, usage, ".Owner", "Unknown Owner");
    SetRegistryText(HKEY_LOCAL_MACHINE, usage, "FileVersion", "1,0,0,1");
    SetRegistryText(HKEY_LOCAL_MACHINE, usage, clsid, "");
    RegisterClass(clsid, file, libId);
    std::string unit = kUnitsPath + "\\" + clsid;
    SetRegistryText(HKEY_LOCAL_MACHINE, unit, "", "Generated Control");
    SetRegistryText(HKEY_LOCAL_MACHINE, unit + "\\Contains\\Files", file.c_str(), "");
    for (const std::string& other : otherFiles)
        SetRegistryText(HKEY_LOCAL_MACHINE, unit + "\\Contains\\Files", other.c_str(), "");
    SetRegistryText(HKEY_LOCAL_MACHINE, unit + "\\DownloadInformation", "CODEBASE",
                    "http://example.invalid/x.cab");
    if (inf != NULL)
        SetRegistryText(HKEY_LOCAL_MACHINE, unit + "\\DownloadInformation", "INF", inf);
    SetRegistryText(HKEY_LOCAL_MACHINE, unit + "\\InstalledVersion", "", "1,0,0,1");
}

void RegisterTypeLib(const char* libId, const std::string& file)
{
    std::string version = std::string("TypeLib\\") + libId + "\\1.0";
    SetRegistryText(HKEY_CLASSES_ROOT, version, "", "Generated Library");
    SetRegistryText(HKEY_CLASSES_ROOT, version + "\\0\\win32", "", file);
    SetRegistryText(HKEY_CLASSES_ROOT, version + "\\FLAGS", "", "0");
    SetRegistryText(HKEY_CLASSES_ROOT, version + "\\HELPDIR", "", "C:\\Windows\\Help");
}

void SetUsageCount(const std::string& file, DWORD count)
{
    SetRegistryDword(HKEY_LOCAL_MACHINE, kSharedDllsPath, file.c_str(), count);
}

// Controls that no Delete may touch: a download whose unit shares a file
// with the one deleted, and one listed from its type library.
void BuildBystanders()
{
    CreateRegistryKey(HKEY_LOCAL_MACHINE, kModuleUsagePath);
    CreateRegistryKey(HKEY_LOCAL_MACHINE, kUnitsPath);
    CreateRegistryKey(HKEY_CLASSES_ROOT, "CLSID");
    CreateRegistryKey(HKEY_CLASSES_ROOT, "TypeLib");
    SetRegistryText(HKEY_LOCAL_MACHINE, kSharedDllsPath, "", "");
    const std::string sibling = "C:/Windows/Downloaded Program Files/sibling.ocx";
    PlaceFile(FileOf(sibling), NULL);
    PlaceFile(kDownloads + "shared.dll", NULL);
    RegisterDownload(sibling, CLSID_SIBLING, NULL, {kDownloads + "shared.dll"});
    SetUsageCount(FileOf(sibling), 1);
    PlaceFile("C:\\Windows\\System32\\other.dll", NULL);
    RegisterTypeLib(LIBID_SIBLING, "C:\\Windows\\System32\\other.dll");
    SetUsageCount("C:\\Windows\\System32\\other.dll", 3);
}

const std::string kUnreg = "C:/Windows/Downloaded Program Files/unreg.ocx";

// Two other files, one hidden, and an INF go with it; the file the sibling
// lists as well stays. Its class carries data of every kind removed.reg
// must give back byte for byte.
void BuildDownloadWithTypeLib()
{
    BuildBystanders();
    const std::string file = FileOf(kUnreg);
    const std::string helper = kDownloads + "unreghelp.dll";
    const std::string data = kDownloads + "Unreg Data\\unreg.dat";
    const std::string inf = kDownloads + "unreg.inf";
    PlaceFile(file, "unregister.ocx");
    PlaceFile(helper, NULL);
    PlaceFile(data, NULL);
    PlaceFile(inf, NULL);
    EXPECT_TRUE(
        SetFileAttributesW(Wide(helper).c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    RegisterDownload(kUnreg, CLSID_UNREG, LIBID_UNREG, {helper, data, kDownloads + "shared.dll"},
                     inf.c_str());
    RegisterTypeLib(LIBID_UNREG, file);
    SetUsageCount(file, 1);

    const std::string key = "CLSID\\" CLSID_UNREG;
    SetRegistryText(HKEY_CLASSES_ROOT, key, "Quoted \"name\\\"", "C:\\a \"b\"\\\nline two\r\tend");
    SetRegistryText(HKEY_CLASSES_ROOT, key, "Expand", "%SystemRoot%\\x.ocx", REG_EXPAND_SZ);
    const WCHAR multi[] = {'a', 0, 'b', 0, 0};
    SetRegistryBytes(HKEY_CLASSES_ROOT, key, "Multi", REG_MULTI_SZ, multi, sizeof multi);
    // NT adds the terminator a count leaves out when one follows the data:
    // the character after it keeps this one unterminated.
    const WCHAR unterminated[] = {'n', 'o', ' ', 'N', 'U', 'L', '!'};
    SetRegistryBytes(HKEY_CLASSES_ROOT, key, "Unterminated", REG_SZ, unterminated,
                     sizeof unterminated - sizeof(WCHAR));
    const BYTE shortNumber[] = {1, 2, 3};
    SetRegistryBytes(HKEY_CLASSES_ROOT, key, "Short number", REG_DWORD, shortNumber,
                     sizeof shortNumber);
    BYTE signature[100];
    for (size_t i = 0; i < sizeof signature; ++i)
        signature[i] = static_cast<BYTE>(i * 37);
    SetRegistryBytes(HKEY_CLASSES_ROOT, key + "\\Control", "Signature", REG_BINARY, signature,
                     sizeof signature);
    SetRegistryBytes(HKEY_CLASSES_ROOT, key + "\\Control", "Nothing", REG_NONE, NULL, 0);
    SetRegistryDword(HKEY_LOCAL_MACHINE, kUnitsPath + "\\" CLSID_UNREG, "SystemComponent", 0);
}

const std::string kPlain = "C:/Windows/Downloaded Program Files/plain.ocx";

void BuildDownloadWithoutTypeLib()
{
    BuildBystanders();
    PlaceFile(FileOf(kPlain), "unregister.ocx");
    RegisterDownload(kPlain, CLSID_PLAIN, NULL);
    SetUsageCount(FileOf(kPlain), 1);
}

const std::string kVendorFile = "C:\\Program Files\\Vendor Tools\\server.exe";

// Two versions, the newer one with only a 64-bit module, and a second
// locale that names the file too. The usage count stays with the file.
void BuildTypeLibControl()
{
    BuildBystanders();
    PlaceFile(kVendorFile, "server.exe");
    RegisterTypeLib(LIBID_VENDOR, kVendorFile);
    const std::string lib = "TypeLib\\" LIBID_VENDOR;
    SetRegistryText(HKEY_CLASSES_ROOT, lib + "\\1.0\\9\\win32", "", kVendorFile);
    SetRegistryText(HKEY_CLASSES_ROOT, lib + "\\1.1", "", "Generated Library 1.1");
    SetRegistryText(HKEY_CLASSES_ROOT, lib + "\\1.1\\0\\win64", "",
                    "C:\\Program Files\\Vendor Tools\\x64\\server.exe");
    SetRegistryText(HKEY_CLASSES_ROOT, lib + "\\1.1\\FLAGS", "", "0");
    SetRegistryText(HKEY_CLASSES_ROOT, lib + "\\1.1\\HELPDIR", "",
                    "C:\\Program Files\\Vendor Tools");
    SetUsageCount(kVendorFile, 1);
}

const std::string kGone = "C:/Windows/Downloaded Program Files/gone.ocx";

void BuildMissingFile()
{
    BuildBystanders();
    RegisterDownload(kGone, CLSID_GONE, LIBID_GONE);
    RegisterTypeLib(LIBID_GONE, FileOf(kGone));
    SetUsageCount(FileOf(kGone), 1);
}

// On 64-bit Windows the machine's registration has a twin in the 64-bit
// view: the same keys and values, and a win64 key beside each win32 one of
// its type libraries. Deleting the 32-bit entry leaves all of it as it was.
void CopyTree(HKEY from, HKEY to)
{
    std::vector<WCHAR> name(16384);
    std::vector<BYTE> data(65536);
    for (DWORD index = 0;; ++index) {
        DWORD nameSize = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = 0;
        if (RegEnumValueW(from, index, name.data(), &nameSize, NULL, &type, data.data(),
                          &dataSize) != ERROR_SUCCESS)
            break;
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(to, name.data(), 0, type, data.data(), dataSize));
    }
    for (DWORD index = 0;
         RegEnumKeyW(from, index, name.data(), static_cast<DWORD>(name.size())) == ERROR_SUCCESS;
         ++index) {
        HKEY source, target;
        if (RegOpenKeyExW(from, name.data(), 0, KEY_READ, &source) != ERROR_SUCCESS)
            continue;
        if (RegCreateKeyExW(to, name.data(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &target, NULL) ==
            ERROR_SUCCESS) {
            CopyTree(source, target);
            RegCloseKey(target);
        }
        RegCloseKey(source);
    }
}

void AddWin64Twins(const std::string& key)
{
    WCHAR name[MAX_PATH];
    std::vector<std::string> children;
    HKEY open;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, Wide(key).c_str(), 0, KEY_READ, &open) != ERROR_SUCCESS)
        return;
    for (DWORD index = 0; RegEnumKeyW(open, index, name, MAX_PATH) == ERROR_SUCCESS; ++index)
        children.push_back(Utf8(name));
    RegCloseKey(open);
    for (const std::string& child : children) {
        WCHAR file[MAX_PATH];
        if (LowerCase(child) == "win32" &&
            QueryRegistryText(HKEY_CLASSES_ROOT, Wide(key + "\\" + child).c_str(), VIEW_32,
                              TEXT(""), file))
            SetRegistryText(HKEY_CLASSES_ROOT, key + "\\win64", "", Utf8(file));
        else
            AddWin64Twins(key + "\\" + child);
    }
}

void MirrorInto64BitView()
{
    HKEY narrow, wide;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("SOFTWARE\\Wow6432Node"), 0,
                                           KEY_READ | KEY_WOW64_64KEY, &narrow));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("SOFTWARE"), 0,
                                           KEY_ALL_ACCESS | KEY_WOW64_64KEY, &wide));
    CopyTree(narrow, wide);
    RegCloseKey(wide);
    RegCloseKey(narrow);
    AddWin64Twins("TypeLib");
}

// The 64-bit view's part of a snapshot taken in it: what a Delete of a
// 32-bit entry must leave alone.
RegistrySnapshot Wide64Lines(const RegistrySnapshot& snapshot)
{
    RegistrySnapshot lines;
    for (const std::string& line : snapshot) {
        std::string key = LowerCase(line.substr(0, line.find('\t'))) + "\\";
        auto under = [&](const std::string& parent) { return key.rfind(parent, 0) == 0; };
        if ((under("hklm\\") && !under("hklm\\software\\wow6432node\\")) ||
            (under("hkcr\\") && !under("hkcr\\typelib\\")) ||
            key.find("\\win64\\") != std::string::npos)
            lines.insert(line);
    }
    return lines;
}

struct Machine {
    const char* kind;
    std::string entry; // as the list shows it
    const char* libId; // the type library whose 1.0\0\win32 names the file, or NULL
    void (*build)();
};

const Machine kMachines[] = {
    {"download with a type library and other files", kUnreg, LIBID_UNREG, BuildDownloadWithTypeLib},
    {"download without a type library", kPlain, NULL, BuildDownloadWithoutTypeLib},
    {"type-library control", LowerCase(kVendorFile), LIBID_VENDOR, BuildTypeLibControl},
    {"download whose file is missing", kGone, LIBID_GONE, BuildMissingFile},
};

// The registry byte for byte, by lower-cased key path ("hkcr\\clsid\\...")
// and value name, as registry names compare.
struct RawValue {
    std::string name;
    DWORD type;
    std::vector<BYTE> data;
};
struct RawKey {
    std::string path;
    std::map<std::string, RawValue> values;
};
typedef std::map<std::string, RawKey> RawRegistry;

void ReadRawKey(HKEY key, const std::string& path, RawRegistry& registry)
{
    RawKey& raw = registry[LowerCase(path)];
    raw.path = path;
    std::vector<WCHAR> name(16384);
    std::vector<BYTE> data(65536);
    for (DWORD index = 0;; ++index) {
        DWORD nameSize = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = 0;
        LONG status =
            RegEnumValueW(key, index, name.data(), &nameSize, NULL, &type, data.data(), &dataSize);
        if (status != ERROR_SUCCESS)
            break;
        std::string text = RegFileText(WideText(name.data(), nameSize));
        raw.values[LowerCase(text)] =
            RawValue{text, type, std::vector<BYTE>(data.begin(), data.begin() + dataSize)};
    }
    for (DWORD index = 0;
         RegEnumKeyW(key, index, name.data(), static_cast<DWORD>(name.size())) == ERROR_SUCCESS;
         ++index) {
        std::string child = path + "\\" + RegFileText(name.data());
        if (LowerCase(child) == "hklm\\software\\classes")
            continue;
        HKEY subkey;
        if (RegOpenKeyExW(key, name.data(), 0, KEY_READ, &subkey) == ERROR_SUCCESS) {
            ReadRawKey(subkey, child, registry);
            RegCloseKey(subkey);
        }
    }
}

// The files of C: but the program's own folder: the one that holds
// restore folders.
typedef std::map<std::string, std::string> HostFiles;

std::string HostFileText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::filesystem::path SandboxRoot()
{
    return std::filesystem::path(SimHostPath("C:\\Windows")).parent_path();
}

HostFiles ReadHostFiles()
{
    HostFiles files;
    const std::filesystem::path root = SandboxRoot();
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        std::string relative = entry.path().lexically_relative(root).generic_string();
        if (entry.is_regular_file() && relative.compare(0, kProgramFolder.size(), kProgramFolder))
            files[relative] = HostFileText(entry.path());
    }
    return files;
}

struct MachineState {
    RegistrySnapshot snapshot;
    RawRegistry raw;
    HostFiles files;
    // As FindFirstFileW reports them, for the files there are.
    std::map<std::string, WIN32_FIND_DATAW> found;
};

MachineState ReadMachine()
{
    MachineState state;
    state.snapshot = TakeSnapshot();
    ReadRawKey(HKEY_CLASSES_ROOT, "HKCR", state.raw);
    ReadRawKey(HKEY_LOCAL_MACHINE, "HKLM", state.raw);
    state.files = ReadHostFiles();
    for (const auto& file : state.files) {
        std::string windowsPath = "C:\\" + FileOf(file.first);
        HANDLE search = FindFirstFileW(Wide(windowsPath).c_str(), &state.found[file.first]);
        EXPECT_NE(INVALID_HANDLE_VALUE, search) << windowsPath;
        if (search != INVALID_HANDLE_VALUE)
            FindClose(search);
    }
    return state;
}

std::string Join(const std::vector<std::string>& items, const char* separator = ", ")
{
    std::string joined;
    for (const std::string& item : items)
        joined += (joined.empty() ? "" : separator) + item;
    return joined;
}

std::string Describe(const RegistrySnapshot& lines)
{
    return Join(std::vector<std::string>(lines.begin(), lines.end()), "\n    ");
}

// Fills a new main dialog from the registry, selects the entry and deletes
// it, every box answered Yes, with the power failing after cut changes
// (-1: it does not). False when the entry is not listed.
bool DeleteEntry(const std::string& entry, long cut, long& changes)
{
    bool listed = false;
    changes = 0;
    WithMainDialog([&](HWND dialog) {
        RefreshControlList(dialog);
        Entries items = ListBoxItems(dialog, IDC_CONTROL_LIST);
        auto found = std::find(items.begin(), items.end(), entry);
        if (found == items.end())
            return;
        listed = true;
        SendDlgItemMessageW(dialog, IDC_CONTROL_LIST, LB_SETCURSEL, found - items.begin(), 0);
        for (int i = 0; i < 12; ++i)
            SimAnswerMessageBox(IDYES);
        long start = SimChangeCount();
        SimCutAfterChanges(cut);
        DeleteSelectedControl(dialog);
        SimCutAfterChanges(-1);
        changes = SimChangeCount() - start;
    });
    return listed;
}

std::vector<std::string> FinishedFolders()
{
    std::vector<std::string> finished;
    for (const std::string& folder : RestoreFolders()) {
        if (std::filesystem::path(folder).filename().string().compare(0, kUnfinished.size(),
                                                                      kUnfinished))
            finished.push_back(folder);
    }
    return finished;
}

const RawValue* FindValue(const RawRegistry& registry, const std::string& key,
                          const std::string& name)
{
    auto found = registry.find(LowerCase(key));
    if (found == registry.end())
        return NULL;
    auto value = found->second.values.find(LowerCase(name));
    return value == found->second.values.end() ? NULL : &value->second;
}

// A finished folder is complete: removed.reg reads as regedit reads it and
// holds only what the registry held before its Delete, as it was; each
// saved file is there; restore.cmd ends by importing removed.reg, and
// README.txt is whole.
void CheckFinishedFolder(const std::string& folder, const RawRegistry& before, Problems& problems)
{
    const std::string name = std::filesystem::path(folder).filename().string();
    RegFile reg = ReadRegFile(folder + "/removed.reg");
    if (!reg.ok)
        problems.push_back(name + ": removed.reg does not read: " + reg.error);
    for (const std::string& key : reg.keys) {
        if (!before.count(LowerCase(key)))
            problems.push_back(name + ": removed.reg has a key that was not there: " + key);
    }
    for (const RegFileValue& value : reg.values) {
        std::string key = value.root + "\\" + value.path;
        const RawValue* was = FindValue(before, key, value.name);
        if (was == NULL || was->type != value.type || was->data != value.data)
            problems.push_back(name + ": removed.reg has a value that was not there as written: " +
                               key + " \"" + value.name + "\"");
    }

    std::string script = HostFileText(folder + "/restore.cmd");
    size_t lastLine = script.rfind("\r\n", script.size() >= 3 ? script.size() - 3 : 0);
    std::string last = script.substr(lastLine == std::string::npos ? 0 : lastLine + 2);
    const std::string view = sizeof(void*) == 4 || SimIsWow64() ? " /reg:32\r\n" : " /reg:64\r\n";
    if (last.find("\\reg.exe\" import ") == std::string::npos ||
        last.find("removed.reg") == std::string::npos || last.size() < view.size() ||
        last.compare(last.size() - view.size(), view.size(), view))
        problems.push_back(name + ": restore.cmd does not end by importing removed.reg");
    std::filesystem::path files = std::filesystem::path(folder) / "files";
    for (int n = 1; std::filesystem::exists(files / std::to_string(n)); ++n) {
        auto saved = std::filesystem::directory_iterator(files / std::to_string(n));
        if (std::distance(saved, std::filesystem::directory_iterator()) != 1)
            problems.push_back(name + ": files\\" + std::to_string(n) + " holds no single file");
        if (script.find("files\\" + std::to_string(n) + "\\*") == std::string::npos)
            problems.push_back(name + ": restore.cmd does not put back files\\" +
                               std::to_string(n));
    }
    std::string readme = HostFileText(folder + "/README.txt");
    if (readme.compare(0, 3, "\xEF\xBB\xBF") || readme.find("restore.cmd") == std::string::npos ||
        readme.size() < 2 || readme.compare(readme.size() - 2, 2, "\r\n"))
        problems.push_back(name + ": README.txt is not whole");
}

// The folder of the Delete that took the registry's and the files' "removed"
// part: every key, every value byte for byte, and every file with its
// content, write time and attributes but those that hide it from cmd.
void CheckFolderHoldsRemoved(const std::string& folder, const MachineState& original,
                             const MachineState& end, Problems& problems)
{
    const std::string name = std::filesystem::path(folder).filename().string();
    RegFile reg = ReadRegFile(folder + "/removed.reg");
    std::map<std::string, const RegFileValue*> written;
    std::set<std::string> keys;
    for (const std::string& key : reg.keys)
        keys.insert(LowerCase(key));
    for (const RegFileValue& value : reg.values)
        written[LowerCase(value.root + "\\" + value.path + "\t" + value.name)] = &value;
    for (const auto& [lowered, key] : original.raw) {
        bool keyGone = !end.raw.count(lowered);
        if (keyGone && !keys.count(lowered))
            problems.push_back(name + ": removed.reg lacks the key " + key.path);
        for (const auto& [loweredName, value] : key.values) {
            if (!keyGone && FindValue(end.raw, key.path, value.name) != NULL)
                continue;
            auto found = written.find(lowered + "\t" + loweredName);
            if (found == written.end() || found->second->type != value.type ||
                found->second->data != value.data)
                problems.push_back(name + ": removed.reg lacks, as it was, " + key.path + " \"" +
                                   value.name + "\"");
        }
    }

    std::map<std::string, std::filesystem::path> saved;
    std::filesystem::path files = std::filesystem::path(folder) / "files";
    for (int n = 1; std::filesystem::exists(files / std::to_string(n)); ++n) {
        for (const auto& entry : std::filesystem::directory_iterator(files / std::to_string(n)))
            saved[LowerCase(entry.path().filename().string())] = entry.path();
    }
    for (const auto& [relative, content] : original.files) {
        if (end.files.count(relative))
            continue;
        std::string fileName = std::filesystem::path(relative).filename().string();
        auto copy = saved.find(LowerCase(fileName));
        if (copy == saved.end() || HostFileText(copy->second) != content) {
            problems.push_back(name + ": no copy of " + relative);
            continue;
        }
        std::string copyPath = kRemovedFolder + name + "\\" +
                               FileOf(copy->second.lexically_relative(folder).generic_string());
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW(Wide(copyPath).c_str(), &found);
        if (search != INVALID_HANDLE_VALUE)
            FindClose(search);
        const WIN32_FIND_DATAW& was = original.found.at(relative);
        const DWORD kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE;
        if (search == INVALID_HANDLE_VALUE ||
            found.ftLastWriteTime.dwLowDateTime != was.ftLastWriteTime.dwLowDateTime ||
            found.ftLastWriteTime.dwHighDateTime != was.ftLastWriteTime.dwHighDateTime ||
            (found.dwFileAttributes & (kept | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) !=
                (was.dwFileAttributes & kept))
            problems.push_back(name + ": the copy of " + relative +
                               " lacks the original's time or attributes");
    }
}

// What an uninterrupted Delete of the machine does.
struct Reference {
    long changes = 0;
    MachineState original;
    MachineState end;
};

void BuildMachine(const Machine& machine, bool wow64)
{
    SimReset();
    SimSetWow64(wow64);
    machine.build();
    if (wow64)
        MirrorInto64BitView();
}

Reference RunUninterrupted(const Machine& machine, bool wow64)
{
    BuildMachine(machine, wow64);
    Reference reference;
    reference.original = ReadMachine();
    EXPECT_TRUE(DeleteEntry(machine.entry, -1, reference.changes)) << machine.entry;
    reference.end = ReadMachine();
    long changes;
    EXPECT_FALSE(DeleteEntry(machine.entry, -1, changes)) << "the entry is still listed";
    std::vector<std::string> finished = FinishedFolders();
    EXPECT_EQ(1u, finished.size());
    EXPECT_EQ(finished.size(), RestoreFolders().size());
    Problems problems;
    for (const std::string& folder : finished) {
        CheckFinishedFolder(folder, reference.original.raw, problems);
        CheckFolderHoldsRemoved(folder, reference.original, reference.end, problems);
    }
    EXPECT_EQ("", Join(problems, "\n")) << "uninterrupted";
    EXPECT_EQ(0, SimUnscriptedMessageBoxCount());
    if (wow64) {
        EXPECT_EQ(Wide64Lines(reference.original.snapshot), Wide64Lines(reference.end.snapshot));
    }
    return reference;
}

// The keys a type library keeps when the power fails after its module key
// went: its own key, and the version and locale keys below, with their
// own values, whichever of them are still there.
RegistrySnapshot LibraryAncestors(const RegistrySnapshot& snapshot, const char* libId)
{
    const std::string lib = std::string("HKCR\\TypeLib\\") + libId;
    RegistrySnapshot lines;
    for (const std::string& key : {lib, lib + "\\1.0", lib + "\\1.0\\0"}) {
        for (const std::string& line : SubtreeLines(snapshot, key)) {
            std::string keyOfLine = line.substr(0, line.find('\t'));
            if (LowerCase(keyOfLine) == LowerCase(key))
                lines.insert(line);
        }
    }
    return lines;
}

struct CutResult {
    bool limited = false;
    Problems problems;
};

CutResult RunCut(const Machine& machine, const Reference& reference, long cut, bool wow64)
{
    CutResult result;
    Problems& problems = result.problems;
    BuildMachine(machine, wow64);
    long changes;
    if (!DeleteEntry(machine.entry, cut, changes))
        problems.push_back("not listed before the Delete");
    std::vector<std::string> firstFinished = FinishedFolders();
    MachineState between = ReadMachine();
    if (machine.libId != NULL && !wow64) {
        std::string lib = std::string("TypeLib\\") + machine.libId;
        result.limited = RegistryKeyExists(HKEY_CLASSES_ROOT, lib) &&
                         !RegistryKeyExists(HKEY_CLASSES_ROOT, lib + "\\1.0\\0\\win32");
    }

    bool listed = DeleteEntry(machine.entry, -1, changes);
    bool done = between.snapshot == reference.end.snapshot && between.files == reference.end.files;
    if (!listed && !done && !result.limited)
        problems.push_back("no longer listed, yet the job was not done");
    MachineState end = ReadMachine();
    RegistrySnapshot wideBefore = Wide64Lines(reference.original.snapshot);
    RegistrySnapshot wideAfter = Wide64Lines(end.snapshot);
    if (wow64 && wideAfter != wideBefore)
        problems.push_back("the 64-bit view changed:\n    " +
                           Describe(Difference(wideBefore, wideAfter)) + "\n  to\n    " +
                           Describe(Difference(wideAfter, wideBefore)));

    RegistrySnapshot expected = reference.end.snapshot;
    if (result.limited) {
        RegistrySnapshot leftover = LibraryAncestors(between.snapshot, machine.libId);
        expected.insert(leftover.begin(), leftover.end());
    }
    RegistrySnapshot leftOver = Difference(end.snapshot, expected);
    RegistrySnapshot missing = Difference(expected, end.snapshot);
    if (!leftOver.empty())
        problems.push_back("left over in the registry:\n    " + Describe(leftOver));
    if (!missing.empty())
        problems.push_back("missing from the registry:\n    " + Describe(missing));
    std::set<std::string> paths;
    for (const HostFiles* files : std::initializer_list<const HostFiles*>{
             &reference.original.files, &reference.end.files, &end.files}) {
        for (const auto& file : *files)
            paths.insert(file.first);
    }
    for (const std::string& path : paths) {
        auto now = end.files.find(path);
        auto then = reference.end.files.find(path);
        if (now == end.files.end() && then != reference.end.files.end())
            problems.push_back(path + " went");
        else if (now != end.files.end() && then == reference.end.files.end())
            problems.push_back(path + " stays");
        else if (now != end.files.end() && now->second != then->second)
            problems.push_back(path + " changed");
    }

    // Only the folder of a finished first Delete can hold what the Delete
    // took; otherwise the second one wrote its folder before any change.
    std::vector<std::string> finished = FinishedFolders();
    if (firstFinished.size() > 1 || finished.size() > firstFinished.size() + (listed ? 1 : 0))
        problems.push_back("more finished folders than Deletes: " + Join(finished));
    if (finished.empty()) {
        problems.push_back("no finished restore folder");
    } else {
        CheckFolderHoldsRemoved(finished.front(), reference.original, reference.end, problems);
        CheckFinishedFolder(finished.front(), reference.original.raw, problems);
        if (finished.size() > 1)
            CheckFinishedFolder(finished.back(), between.raw, problems);
    }
    if (SimUnscriptedMessageBoxCount() != 0)
        problems.push_back("a box went unanswered");
    if (SimOpenKeyCount() != 0 || SimOpenHandleCount() != 0 || SimLoadedModuleCount() != 0)
        problems.push_back("a key, handle or module was left open");
    return result;
}

std::string Numbers(const std::vector<long>& numbers)
{
    std::vector<std::string> texts;
    for (long number : numbers)
        texts.push_back(std::to_string(number));
    return texts.empty() ? "none" : Join(texts);
}

} // namespace

TEST(InterruptedDeleteTest, DeleteAgainFinishesWhatACutShortDeleteBegan)
{
    auto start = std::chrono::steady_clock::now();
    // Then on 64-bit Windows, beside a twin in the 64-bit view, where the
    // library never goes whole.
    for (bool wow64 : {false, true}) {
        for (const Machine& machine : kMachines) {
            SCOPED_TRACE(testing::Message() << machine.kind << (wow64 ? ", 64-bit Windows" : ""));
            Reference reference = RunUninterrupted(machine, wow64);
            ASSERT_GT(reference.changes, 0);
            std::vector<long> limited;
            std::vector<long> failing;
            for (long cut = 1; cut <= reference.changes; ++cut) {
                CutResult result = RunCut(machine, reference, cut, wow64);
                if (result.limited)
                    limited.push_back(cut);
                if (!result.problems.empty()) {
                    failing.push_back(cut);
                    ADD_FAILURE() << "power cut after " << cut << " of " << reference.changes
                                  << " changes:\n  " << Join(result.problems, "\n  ");
                }
            }
            printf("%s%s: %ld changes; library keys left over after cuts %s; failing cuts %s\n",
                   machine.kind, wow64 ? " (64-bit Windows)" : "", reference.changes,
                   Numbers(limited).c_str(), Numbers(failing).c_str());
            // The registry deletes a key only once its subkeys are gone: a cut
            // after the module key, the version's locale key or the version key
            // went, and before the library's own key did, leaves those keys.
            EXPECT_EQ(machine.libId != NULL && !wow64 ? 3u : 0u, limited.size());
            if (limited.size() == 3) {
                EXPECT_EQ(limited[0] + 2, limited[2]);
            }
        }
    }
    SimReset();
    printf("%.2f s\n",
           std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
}
