#include "e2e/fixture.h"

#include "app/control_ids.h"
#include "support/test_support.h"

#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>

// Every Delete leaves a restore folder; running its restore.cmd with the
// system's own cmd, regsvr32 and reg puts back what the Delete took away.

namespace e2e {
namespace {

const std::string kDownloadClass = "{E2E00000-0000-4000-8000-0000000000F1}";
const std::string kDownloadLib = "{E2E00000-0000-4000-8000-0000000000F2}";
const std::string kHiddenClass = "{E2E00000-0000-4000-8000-0000000000F3}";
const std::string kHiddenLib = "{E2E00000-0000-4000-8000-0000000000F4}";
const std::string kServerClass = "{E2E00000-0000-4000-8000-0000000000F5}";
const std::string kServerLib = "{E2E00000-0000-4000-8000-0000000000F6}";
const std::string kHostileClass = "{E2E00000-0000-4000-8000-0000000000F7}";
const std::string kHostileLib = "{E2E00000-0000-4000-8000-0000000000F8}";
const std::string kBystanderClass = "{E2E00000-0000-4000-8000-0000000000F9}";
const std::string kBystanderLib = "{E2E00000-0000-4000-8000-0000000000FA}";

// What an injected command would leave, and the key an injected registry
// line would make.
const char* const kInjectedFile = "C:\\injected.txt";
const char* const kInjectedKey = "E2EInjected";

// The option of reg import for the registry view of the program's bitness.
const char* const kRegistryView = sizeof(void*) == 4 ? "/reg:32" : "/reg:64";

std::string RemovedFolder()
{
    WCHAR base[MAX_PATH] = L"";
    if (SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base) != S_OK)
        ADD_FAILURE() << "no local application data folder";
    return Utf8(base) + "\\Burrowlens\\Removed";
}

// The names in a folder, sorted, without "." and "..".
std::vector<std::string> FolderEntries(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(Wide(folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string name = Utf8(found.cFileName);
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

void RemoveTree(const std::string& path)
{
    WideText wide = Wide(path);
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        for (const std::string& name : FolderEntries(path))
            RemoveTree(path + "\\" + name);
        RemoveDirectoryW(wide.c_str());
    } else {
        SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(wide.c_str());
    }
}

ULONGLONG Ticks(const FILETIME& time)
{
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

ULONGLONG Ticks(const SYSTEMTIME& time)
{
    FILETIME converted{};
    SystemTimeToFileTime(&time, &converted);
    return Ticks(converted);
}

std::string TimeText(ULONGLONG ticks)
{
    FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME parts{};
    FileTimeToSystemTime(&time, &parts);
    char text[48];
    snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%07llu", parts.wYear, parts.wMonth,
             parts.wDay, parts.wHour, parts.wMinute, parts.wSecond, ticks % 10000000);
    return text;
}

// A file as a restore has to bring it back.
struct FileState {
    bool exists = false;
    DWORD attributes = 0;
    ULONGLONG created = 0;
    ULONGLONG accessed = 0;
    ULONGLONG written = 0;
    std::string content;
    bool operator==(const FileState&) const = default;
};

void PrintTo(const FileState& state, std::ostream* out)
{
    if (!state.exists) {
        *out << "missing";
        return;
    }
    char attributes[16];
    snprintf(attributes, sizeof attributes, "0x%lx", static_cast<unsigned long>(state.attributes));
    *out << state.content.size() << " bytes, attributes " << attributes << ", created "
         << TimeText(state.created) << ", accessed " << TimeText(state.accessed) << ", written "
         << TimeText(state.written);
}

FileState ReadFileState(const std::string& path)
{
    FileState state;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data))
        return state;
    state.exists = true;
    state.attributes = data.dwFileAttributes;
    state.created = Ticks(data.ftCreationTime);
    state.accessed = Ticks(data.ftLastAccessTime);
    state.written = Ticks(data.ftLastWriteTime);
    state.content = ReadWhole(path);
    return state;
}

// Distinct times for each file, so that one file's times on another show.
// Access times lie in the future: on a relatime file system reading a file
// rewrites an older one.
FileTimes TimesOf(WORD n)
{
    return {Utc(2003, 4, 5, 6, 7, n), Utc(2003, 4, 5, 6, 7, n), Utc(2031, 1, 2, 3, 4, n)};
}

std::string SystemProgram(const char* name)
{
    WCHAR system[MAX_PATH] = L"";
    GetSystemDirectoryW(system, MAX_PATH);
    return Utf8(system) + "\\" + name;
}

std::string Quoted(const std::string& text)
{
    std::string quoted = "\"";
    quoted += text;
    quoted += '"';
    return quoted;
}

// Runs the system's own cmd with the arguments of /c and waits for it: its
// exit code, or -1. Outer quotes around the whole command keep the quotes of
// a path that holds parentheses, as "(2)" may.
DWORD RunCmd(const std::string& command, Where where = Where::current(),
             const std::string& cmd = SystemProgram("cmd.exe"))
{
    WideText program = Wide(cmd);
    WideText line = Wide("cmd.exe /c " + Quoted(command));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, L"C:\\", &startup, &process)) {
        ADD_FAILURE_AT(where.file_name(), where.line())
            << "cannot start cmd: error " << GetLastError();
        return static_cast<DWORD>(-1);
    }
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &code);
    } else {
        TerminateProcess(process.hProcess, code);
        ADD_FAILURE_AT(where.file_name(), where.line()) << "cmd did not end: " << command;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

// On 64-bit Windows a double-click runs the 64-bit cmd, not this program's.
DWORD RunRestoreScript(const std::string& folder, Where where = Where::current(),
                       bool nativeCmd = false)
{
    return RunCmd(Quoted(folder + "\\restore.cmd"), where,
                  nativeCmd ? "C:\\windows\\sysnative\\cmd.exe" : SystemProgram("cmd.exe"));
}

DWORD ImportRemovedKeys(const std::string& folder, Where where = Where::current())
{
    return RunCmd(Quoted(SystemProgram("reg.exe")) + " import " + Quoted(folder + "\\removed.reg") +
                      " " + kRegistryView,
                  where);
}

bool ProcessRunning(const wchar_t* exeName)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found;
         more = Process32NextW(snapshot, &entry))
        found = lstrcmpiW(entry.szExeFile, exeName) == 0;
    CloseHandle(snapshot);
    return found;
}

bool IsDigits(const std::string& text, size_t start, size_t count)
{
    for (size_t i = start; i < start + count; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9')
            return false;
    }
    return true;
}

// "2026-01-02 03.04.05 ": the time a restore folder's name starts with.
bool ReadFolderTime(const std::string& name, SYSTEMTIME& time)
{
    const struct {
        size_t at;
        size_t digits;
        char after;
        WORD SYSTEMTIME::*field;
    } parts[] = {
        {0, 4, '-', &SYSTEMTIME::wYear},    {5, 2, '-', &SYSTEMTIME::wMonth},
        {8, 2, ' ', &SYSTEMTIME::wDay},     {11, 2, '.', &SYSTEMTIME::wHour},
        {14, 2, '.', &SYSTEMTIME::wMinute}, {17, 2, ' ', &SYSTEMTIME::wSecond},
    };
    time = SYSTEMTIME{};
    for (const auto& part : parts) {
        if (!IsDigits(name, part.at, part.digits) || name.size() <= part.at + part.digits ||
            name[part.at + part.digits] != part.after)
            return false;
        time.*part.field = static_cast<WORD>(std::stoi(name.substr(part.at, part.digits)));
    }
    return true;
}

// The program asks about a download's other files in one question.
BoxView OtherFilesBox(const std::vector<std::string>& offered)
{
    std::string text = "This control was downloaded with other files\nthat nothing else is known "
                       "to use:\n";
    for (const std::string& file : offered)
        text += file + "\n";
    text += "\nDo you want to DELETE them too?";
    return {"Burrowlens", {text, {IDYES, IDNO}, IDNO, ""}};
}

BoxView FileAccessDeniedBox(const std::string& path)
{
    return {"Burrowlens",
            {"Unable to delete file:\n" + path + "\nAccess is denied.", {IDOK}, IDOK, ""}};
}

// Keys an injected line of a .reg file could make.
const struct {
    HKEY root;
    const char* parent;
} kInjectionTargets[] = {
    {HKEY_LOCAL_MACHINE, "SOFTWARE"},
    {HKEY_CURRENT_USER, "Software"},
    {HKEY_CLASSES_ROOT, ""},
};

void ExpectNothingInjected(Where where = Where::current())
{
    testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()), "injection");
    EXPECT_FALSE(FileExists(kInjectedFile)) << "a command of the restore folder ran";
    for (const auto& target : kInjectionTargets) {
        std::string path = std::string(target.parent) + (*target.parent ? "\\" : "") + kInjectedKey;
        EXPECT_FALSE(RegistryKeyExists(target.root, path)) << path;
    }
}

class RestoreTest : public ProgramTest {
  protected:
    void SetUp() override
    {
        ProgramTest::SetUp();
        ForgetTestRegistrations();
        // Without files; the list never runs empty, which a box would say.
        Register(DownloadedControl("bystander.ocx", kBystanderClass, kBystanderLib), 1);
        removed = RemovedFolder();
        RemoveTree(removed);
        DeleteFileW(Wide(kInjectedFile).c_str());
    }
    void TearDown() override
    {
        ForgetTestRegistrations();
        DeleteFileW(Wide(kInjectedFile).c_str());
        for (const auto& target : kInjectionTargets)
            DeleteRegistryTree(target.root, std::string(target.parent) +
                                                (*target.parent ? "\\" : "") + kInjectedKey);
    }

    // Selects the control's entry and clicks Delete; its dialogue follows.
    void StartDelete(const Control& control, Where where = Where::current())
    {
        testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()),
                                   "delete " + control.listed);
        ASSERT_TRUE(app.Settle());
        std::vector<std::string> list = app.ControlList();
        auto found = std::find(list.begin(), list.end(), control.listed);
        ASSERT_NE(list.end(), found) << control.listed;
        ASSERT_TRUE(app.Select(static_cast<int>(found - list.begin())));
        foldersBefore = FolderEntries(removed);
        GetSystemTime(&deleteStarted);
        app.Click(IDC_DELETE);
    }

    // Once the dialogue is over: the one finished restore folder the Delete
    // left, named after the time and the control's file; "" if there is none.
    std::string FinishDelete(const std::string& fileName, Where where = Where::current())
    {
        testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()),
                                   "restore folder of " + fileName);
        EXPECT_TRUE(app.Settle());
        for (HWND box : app.OwnedDialogs())
            ADD_FAILURE() << "a box is still open: " << Burrowlens::Inspect(box).text;
        SYSTEMTIME finished;
        GetSystemTime(&finished);
        std::vector<std::string> added;
        for (const std::string& name : FolderEntries(removed)) {
            if (std::find(foldersBefore.begin(), foldersBefore.end(), name) == foldersBefore.end())
                added.push_back(name);
        }
        if (added.size() != 1) {
            ADD_FAILURE() << added.size() << " new entries in " << removed;
            return "";
        }
        const std::string& name = added[0];
        SYSTEMTIME named;
        EXPECT_TRUE(ReadFolderTime(name, named)) << name;
        // The name has whole seconds.
        const ULONGLONG second = 10000000;
        EXPECT_LE(Ticks(deleteStarted) / second * second, Ticks(named)) << name;
        EXPECT_LE(Ticks(named), Ticks(finished)) << name;
        EXPECT_EQ(" " + fileName, name.substr(std::min<size_t>(name.size(), 19))) << name;
        return removed + "\\" + name;
    }

    std::string removed;
    std::vector<std::string> foldersBefore;
    SYSTEMTIME deleteStarted{};
    PlacedFiles files;
};

// A file a test places, with the attributes it gives it beyond Wine's own.
struct Seeded {
    const char* fixture;
    std::string path;
    DWORD attributes;
};

TEST_F(RestoreTest, DeletedControlsComeBackThroughTheSystemsOwnTools)
{
    const Control download = DownloadedControl("RoundTrip.ocx", kDownloadClass, kDownloadLib);
    const Control hidden =
        InstalledControl("Ωmega Works\\Hidden.ocx", "c:\\controls\\Ωmega works\\hidden.ocx",
                         kHiddenClass, kHiddenLib);
    // A folder whose name cmd would read as its own: the script names it by
    // its short name.
    const Control server = InstalledControl("Server & Co 100%!\\RoundTrip.exe",
                                            "c:\\controls\\server & co 100%!\\roundtrip.exe",
                                            kServerClass, kServerLib);
    const std::string helper = InDownloadFolder("RoundTrip Helper.dll");
    const std::string data = InDownloadFolder("Жук Ωmega.dat");
    const std::string inf = InDownloadFolder("RoundTrip.inf");
    Register(download, 1);
    Register(hidden, 1);
    Register(server, 1);
    const std::string unit = std::string(kDistributionUnits) + "\\" + download.clsid;
    SetRegistryText(HKEY_LOCAL_MACHINE, unit + "\\Contains\\Files", helper.c_str(), "");
    SetRegistryText(HKEY_LOCAL_MACHINE, unit + "\\Contains\\Files", data.c_str(), "");
    SetRegistryText(HKEY_LOCAL_MACHINE, unit + "\\DownloadInformation", "INF", inf);
    const Seeded seeded[] = {
        {"unregister.ocx", download.file, 0},
        {"helper.dll", helper, 0},
        {"noversion.dll", data, 0},
        {"download.inf", inf, 0},
        {"unregister.ocx", hidden.file, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
        {"server.exe", server.file, 0},
    };
    std::map<std::string, FileState> before;
    WORD second = 0;
    for (const Seeded& file : seeded) {
        files.Copy(file.fixture, file.path, TimesOf(++second));
        if (file.attributes != 0) {
            ASSERT_TRUE(SetFileAttributesW(Wide(file.path).c_str(), file.attributes));
        }
        before[file.path] = ReadFileState(file.path);
        ASSERT_EQ(file.attributes, before[file.path].attributes & file.attributes)
            << file.path << ": the file system keeps no such attributes";
    }
    for (const Control* control : {&download, &hidden}) {
        files.Expect(control->file + ".unregistered");
        files.Expect(control->file + ".registered");
    }
    const std::string record = server.file + ".cmdline";
    files.Expect(record);
    RegistrySnapshot registryBefore = Snapshot();
    ASSERT_TRUE(app.Start());

    std::vector<std::string> folders;
    StartDelete(download);
    ASSERT_TRUE(Converse(Yes(Box::DeleteFile), download));
    ASSERT_TRUE(AnswerBox(OtherFilesBox({helper, data, inf}), IDYES));
    folders.push_back(FinishDelete("RoundTrip.ocx"));

    StartDelete(hidden);
    ASSERT_TRUE(Converse(Yes(Box::Warning), hidden));
    ASSERT_TRUE(Converse(Yes(Box::DeleteFile), hidden));
    folders.push_back(FinishDelete("hidden.ocx"));

    StartDelete(server);
    ASSERT_TRUE(Converse(Yes(Box::Warning), server));
    // The server unregisters itself on its own, and Windows deletes no
    // program that is running.
    EXPECT_TRUE(WaitUntil([&] {
        return ReadWhole(record).find("/UnregServer") != std::string::npos &&
               !ProcessRunning(L"RoundTrip.exe");
    })) << "the server did not run to its end";
    ASSERT_TRUE(Converse(Yes(Box::DeleteFile), server));
    folders.push_back(FinishDelete("roundtrip.exe"));
    for (const std::string& folder : folders)
        ASSERT_FALSE(folder.empty());

    for (const Seeded& file : seeded)
        EXPECT_FALSE(FileExists(file.path)) << file.path;
    EXPECT_TRUE(FileExists(download.file + ".unregistered"));
    EXPECT_TRUE(FileExists(hidden.file + ".unregistered"));
    EXPECT_NE(registryBefore, Snapshot()) << "the registrations were left";

    for (const std::string& folder : folders)
        EXPECT_EQ(0u, RunRestoreScript(folder)) << folder;

    RegistrySnapshot registryAfter = Snapshot();
    EXPECT_EQ(RegistrySnapshot(), Difference(registryBefore, registryAfter)) << "not restored";
    EXPECT_EQ(RegistrySnapshot(), Difference(registryAfter, registryBefore)) << "added";
    for (const Seeded& file : seeded)
        EXPECT_EQ(before[file.path], ReadFileState(file.path)) << file.path;
    // Each control was registered again.
    EXPECT_TRUE(FileExists(download.file + ".registered"));
    EXPECT_TRUE(FileExists(hidden.file + ".registered"));
    std::string commandLine = ReadWhole(record);
    EXPECT_NE(std::string::npos, commandLine.find(" /RegServer")) << commandLine;
}

// On 64-bit Windows: each control goes from its own view alone, unregistered
// by a process of its own bitness, and its restore.cmd, run by the 64-bit
// cmd or the 32-bit one, puts back exactly what went, into that view and the
// System32 that holds the file.
TEST_F(RestoreTest, OnWow64EachViewIsRemovedAndRestoredApart)
{
    if (!RunningUnderWow64())
        GTEST_SKIP() << "only for the 32-bit program on 64-bit Windows (a 64-bit Wine prefix)";
    const std::vector<Wow64Control> controls = RegisterWow64Controls(files, TimesOf(1));
    std::map<std::string, FileState> filesBefore;
    for (const Wow64Control& one : controls)
        filesBefore[one.place] = ReadFileState(one.place);
    const RegistrySnapshot before = Snapshot();
    const std::string usage = std::string(kModuleUsage) + "\\" + kListedDownloadFolder;
    const std::string bothLib = "HKCR\\TypeLib\\" + controls[0].control.libid;
    const struct {
        size_t control;
        std::vector<std::string> removed; // the subtrees that go, as the snapshot names them
        const char* folderName;
        bool nativeCmd;
    } steps[] = {
        {3,
         {"HKLM64\\" + usage + "/Wide Download.ocx", "HKCR64\\CLSID\\" + controls[3].control.clsid,
          "HKLM64\\" + std::string(kDistributionUnits) + "\\" + controls[3].control.clsid,
          "HKCR\\TypeLib\\" + controls[3].control.libid},
         "Wide Download.ocx",
         true},
        {2, {"HKCR\\TypeLib\\" + controls[2].control.libid}, "e2e wide.ocx", false},
        {0, {bothLib + "\\1.0\\0\\win32"}, "e2e narrow.ocx", true},
        {1, {bothLib + "\\1.0\\0\\win64"}, "e2e narrow.ocx", false},
    };
    ASSERT_TRUE(app.Start());
    for (const auto& step : steps) {
        const Wow64Control& deleted = controls[step.control];
        SCOPED_TRACE(deleted.control.listed);
        StartDelete(deleted.control);
        if (!deleted.control.download) {
            ASSERT_TRUE(Converse(Yes(Box::Warning), deleted.control));
        }
        ASSERT_TRUE(Converse(Yes(Box::DeleteFile), deleted.control));
        const std::string folder = FinishDelete(step.folderName);
        ASSERT_FALSE(folder.empty());

        RegistrySnapshot expected;
        for (const std::string& tree : step.removed) {
            RegistrySnapshot lines = SubtreeLines(before, tree);
            EXPECT_FALSE(lines.empty()) << tree;
            expected.insert(lines.begin(), lines.end());
        }
        // A download's usage count goes with it; a library's stays with the file.
        RegistrySnapshot count =
            ValueLines(before, "HKLM64\\" + std::string(kSharedDlls), deleted.control.file);
        if (deleted.control.download)
            expected.insert(count.begin(), count.end());
        RegistrySnapshot after = Snapshot();
        EXPECT_EQ(expected, Difference(before, after));
        EXPECT_EQ(RegistrySnapshot(), Difference(after, before));
        for (const Wow64Control& one : controls)
            EXPECT_EQ(&one != &deleted, FileExists(one.place)) << one.place;
        EXPECT_TRUE(FileExists(deleted.place + ".unregistered"))
            << "unregistered by a process of its own bitness";

        EXPECT_EQ(0u, RunRestoreScript(folder, Where::current(), step.nativeCmd)) << folder;
        RegistrySnapshot restored = Snapshot();
        EXPECT_EQ(RegistrySnapshot(), Difference(before, restored)) << "not restored";
        EXPECT_EQ(RegistrySnapshot(), Difference(restored, before)) << "added";
        for (const Wow64Control& one : controls)
            EXPECT_EQ(filesBefore[one.place], ReadFileState(one.place)) << one.place;
        EXPECT_TRUE(FileExists(deleted.place + ".registered")) << "registered again";
        for (const char* marker : {".registered", ".unregistered"})
            DeleteFileW(Wide(deleted.place + marker).c_str());
        app.Click(IDC_REFRESH);
    }
}

// A machine to remove from: a download with two other files, a control an
// installer registered, a server and a download that others share.
struct RemovalMachine {
    Control download = DownloadedControl("Remove Me.ocx", kDownloadClass, kDownloadLib);
    std::vector<std::string> others = {InDownloadFolder("Remove Helper.dll"),
                                       InDownloadFolder("Remove Data.dat")};
    Control installed = InstalledControl("Remove Tool.ocx", "c:\\controls\\remove tool.ocx",
                                         kHiddenClass, kHiddenLib);
    Control server = InstalledControl("Remove Server.exe", "c:\\controls\\remove server.exe",
                                      kServerClass, kServerLib);
    Control shared = DownloadedControl("Remove Shared.ocx", kHostileClass, kHostileLib);
};

// What a removal takes of a control: all of a download's registration; a
// library's alone for a control an installer registered, its usage count staying.
RegistrySnapshot RegistrationOf(const RegistrySnapshot& before, const Control& control)
{
    RegistrySnapshot lines = SubtreeLines(before, "HKCR\\TypeLib\\" + control.libid);
    // A 64-bit program sees Wine's copy of the library in the 32-bit view go too.
    RegistrySnapshot mirrored =
        SubtreeLines(before, "HKLM\\SOFTWARE\\Wow6432Node\\Classes\\TypeLib\\" + control.libid);
    lines.insert(mirrored.begin(), mirrored.end());
    if (!control.download)
        return lines;
    for (const std::string& tree :
         {"HKLM\\" + std::string(kModuleUsage) + "\\" + control.listed,
          "HKLM\\" + std::string(kDistributionUnits) + "\\" + control.clsid,
          "HKCR\\CLSID\\" + control.clsid}) {
        RegistrySnapshot part = SubtreeLines(before, tree);
        lines.insert(part.begin(), part.end());
    }
    RegistrySnapshot count = ValueLines(before, "HKLM\\" + std::string(kSharedDlls), control.file);
    lines.insert(count.begin(), count.end());
    return lines;
}

struct RemoveCase {
    const char* name;
    Control RemovalMachine::*control;
    std::string switches;
    DWORD code;
    bool othersGo = false;
    // What stands in its way; it answers the text the refusal names it by.
    std::function<std::string(const RemovalMachine&, std::unique_ptr<DeniedKey>&,
                              std::vector<HANDLE>&)>
        fault = nullptr;
};

const RemoveCase kRemoveCases[] = {
    {"DownloadKeepsItsOtherFiles", &RemovalMachine::download, "", 0},
    {"DownloadWithItsOtherFiles", &RemovalMachine::download, "/files", 0, true},
    {"InstalledOnlyWithForce", &RemovalMachine::installed, "", 5},
    {"InstalledWithForce", &RemovalMachine::installed, "/FORCE", 0},
    {"ServerWithForce", &RemovalMachine::server, "-force", 0},
    {"SharedOnlyWithShared", &RemovalMachine::shared, "/files", 5},
    {"SharedWithShared", &RemovalMachine::shared, "/shared", 0},
    {"ReadOnlyFile", &RemovalMachine::download, "/files", 5, false,
     [](const RemovalMachine& m, std::unique_ptr<DeniedKey>&, std::vector<HANDLE>&) {
         SetFileAttributesW(Wide(m.download.file).c_str(), FILE_ATTRIBUTE_READONLY);
         return "Unable to delete file:\n" + m.download.file + "\nAccess is denied.";
     }},
    {"OtherFileHeldWithoutSharing", &RemovalMachine::download, "/files", 5, false,
     [](const RemovalMachine& m, std::unique_ptr<DeniedKey>&, std::vector<HANDLE>& held) {
         held.push_back(CreateFileW(Wide(m.others[1]).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
         return "Unable to delete file:\n" + m.others[1] + "\n" +
                SystemMessage(ERROR_SHARING_VIOLATION);
     }},
    {"KeyDeniesDelete", &RemovalMachine::download, "", 5, false,
     [](const RemovalMachine& m, std::unique_ptr<DeniedKey>& denied, std::vector<HANDLE>&) {
         const std::string key = "CLSID\\" + m.download.clsid + "\\InprocServer32";
         // Everyone may do all but delete it.
         denied = std::make_unique<DeniedKey>(HKEY_CLASSES_ROOT, key.c_str(), Where::current(),
                                              "D:(D;;SD;;;WD)(A;;KA;;;WD)");
         return "Unable to delete the registry key:\nHKEY_CLASSES_ROOT\\" + key + "\n" +
                SystemMessage(ERROR_ACCESS_DENIED);
     }},
};

void PrintTo(const RemoveCase& removal, std::ostream* out)
{
    *out << removal.name;
}

class RemoveTest : public RestoreTest, public testing::WithParamInterface<RemoveCase> {
  protected:
    void Seed()
    {
        files.Copy("unregister.ocx", machine.download.file, TimesOf(1));
        files.Copy("helper.dll", machine.others[0], TimesOf(2));
        files.Copy("noversion.dll", machine.others[1], TimesOf(3));
        files.Copy("unregister.ocx", machine.installed.file, TimesOf(4));
        files.Copy("server.exe", machine.server.file, TimesOf(5));
        files.Copy("unregister.ocx", machine.shared.file, TimesOf(6));
        Register(machine.download, 1);
        Register(machine.installed, 1);
        Register(machine.server, 1);
        Register(machine.shared, 2);
        const std::string unit = std::string(kDistributionUnits) + "\\" + machine.download.clsid;
        for (const std::string& other : machine.others)
            SetRegistryText(HKEY_LOCAL_MACHINE, unit + "\\Contains\\Files", other.c_str(), "");
        for (const std::string& path : AllFiles()) {
            files.Expect(path + ".unregistered");
            files.Expect(path + ".registered");
            files.Expect(path + ".cmdline");
        }
    }
    std::vector<std::string> AllFiles() const
    {
        return {machine.download.file,  machine.others[0],   machine.others[1],
                machine.installed.file, machine.server.file, machine.shared.file};
    }
    std::map<std::string, FileState> FileStates() const
    {
        std::map<std::string, FileState> states;
        for (const std::string& path : AllFiles())
            states[path] = ReadFileState(path);
        return states;
    }

    RemovalMachine machine;
};

// burrowlens.exe /remove, run as a script runs it: it asks nothing, removes
// what the dialog's Delete removes when answered the same way, or refuses
// before anything changes; its restore folder brings everything back.
TEST_P(RemoveTest, RemovesAsDeleteDoesOrChangesNothing)
{
    const RemoveCase& removal = GetParam();
    const Control& control = machine.*removal.control;
    Seed();
    std::unique_ptr<DeniedKey> denied;
    std::vector<HANDLE> held;
    std::string reason = removal.fault ? removal.fault(machine, denied, held) : "";
    const RegistrySnapshot before = Snapshot();
    const std::map<std::string, FileState> filesBefore = FileStates();

    Outcome run =
        RunProgram("/remove " + Quoted(control.listed) + " " + removal.switches, ErrorOutput::File);
    for (HANDLE file : held)
        CloseHandle(file);
    denied.reset();

    EXPECT_EQ(removal.code, run.code) << run.errors;
    EXPECT_EQ(std::vector<std::string>{}, run.windows);
    // Standard error ends its lines as Windows does.
    std::string lines;
    for (char c : reason)
        lines += c == '\n' ? std::string("\r\n") : std::string(1, c);
    if (!reason.empty()) {
        EXPECT_EQ(lines + "\r\n", run.errors);
    }
    // A whole snapshot takes seconds under 64-bit Wine: one each time.
    RegistrySnapshot after = Snapshot();
    if (removal.code != 0) {
        EXPECT_EQ("", run.output);
        EXPECT_EQ(RegistrySnapshot(), Difference(before, after));
        EXPECT_EQ(RegistrySnapshot(), Difference(after, before));
        EXPECT_EQ(filesBefore, FileStates());
        EXPECT_FALSE(FileExists(control.file + ".unregistered"));
        return;
    }
    EXPECT_EQ("", run.errors);
    EXPECT_EQ(RegistrationOf(before, control), Difference(before, after));
    EXPECT_EQ(RegistrySnapshot(), Difference(after, before));
    for (const std::string& path : AllFiles()) {
        bool others = path == machine.others[0] || path == machine.others[1];
        bool goes = path == control.file || (others && removal.othersGo);
        EXPECT_EQ(!goes, FileExists(path)) << path;
    }
    const std::string folder = run.output.substr(0, run.output.find("\r\n"));
    EXPECT_EQ(folder + "\r\n", run.output);
    EXPECT_EQ(0u, RunRestoreScript(folder)) << folder;
    RegistrySnapshot restored = Snapshot();
    EXPECT_EQ(RegistrySnapshot(), Difference(before, restored)) << "not restored";
    EXPECT_EQ(RegistrySnapshot(), Difference(restored, before)) << "added";
    EXPECT_EQ(filesBefore, FileStates());
}

INSTANTIATE_TEST_SUITE_P(Restore, RemoveTest, testing::ValuesIn(kRemoveCases),
                         [](const testing::TestParamInfo<RemoveCase>& info) {
                             return std::string(info.param.name);
                         });

// Entries that are none, or not one, or arguments that say nothing sure:
// nothing is removed.
TEST_F(RemoveTest, NamesThatAreNoEntryChangeNothing)
{
    Seed();
    const RegistrySnapshot before = Snapshot();
    const struct {
        std::string arguments;
        DWORD code;
    } runs[] = {
        {"/remove \"c:\\controls\\no such.ocx\"", 4},
        {"/remove \"" + machine.installed.listed + "\" /bits 64", 4},
        {"/remove \"" + machine.installed.listed + "\" /bits 16", 2},
        {"/remove \"" + machine.installed.listed + "\" /force /force", 2},
        {"/remove \"\" /force", 2},
        {"/remove", 2},
        {"/remove \"c:\\controls\\remove tool.ocx\"\" /force\"", 4},
        {"/remove \"%SystemRoot%\\remove tool.ocx\" /force", 4},
        {"/remove \"c:\\controls\\remove tool.ocx\nc:\\controls\\remove server.exe\" /force", 4},
        {"/remove \"" + std::string(300, 'x') + "\" /force", 4},
        {"/remove \"c:\\controls\\\xED\xA0\x80.ocx\" /force", 4},
    };
    for (const auto& one : runs) {
        SCOPED_TRACE(one.arguments);
        Outcome run = RunProgram(one.arguments, ErrorOutput::File);
        EXPECT_EQ(one.code, run.code) << run.errors;
        EXPECT_EQ("", run.output);
    }
    RegistrySnapshot after = Snapshot();
    EXPECT_EQ(RegistrySnapshot(), Difference(before, after));
    EXPECT_EQ(RegistrySnapshot(), Difference(after, before));
    EXPECT_FALSE(FileExists(machine.installed.file + ".unregistered"));
    if (!RunningUnderWow64())
        return;
    // Both views list the file: which one goes is for /bits to say.
    RegisterInView(In64BitView(machine.installed), 1);
    Outcome run =
        RunProgram("/remove \"" + machine.installed.listed + "\" /force", ErrorOutput::File);
    EXPECT_EQ(4u, run.code) << run.errors;
    EXPECT_FALSE(FileExists(machine.installed.file + ".unregistered"));
}

// The dialog's Delete checks first too: one box, before the control is
// unregistered, and nothing changes.
TEST_F(RemoveTest, DialogSaysWhyBeforeAnythingChanges)
{
    Seed();
    const Control& control = machine.download;
    const std::string key = "CLSID\\" + control.clsid + "\\InprocServer32";
    for (bool readOnly : {true, false}) {
        SCOPED_TRACE(readOnly ? "read-only file" : "key that denies delete");
        std::unique_ptr<DeniedKey> denied;
        if (readOnly)
            SetFileAttributesW(Wide(control.file).c_str(), FILE_ATTRIBUTE_READONLY);
        else
            denied = std::make_unique<DeniedKey>(HKEY_CLASSES_ROOT, key.c_str(), Where::current(),
                                                 "D:(D;;SD;;;WD)(A;;KA;;;WD)");
        const RegistrySnapshot before = Snapshot();
        ASSERT_TRUE(app.Start());
        StartDelete(control);
        ASSERT_TRUE(AnswerBox(
            readOnly ? FileAccessDeniedBox(control.file)
                     : BoxView{"Burrowlens",
                               {"Unable to delete the registry key:\nHKEY_CLASSES_ROOT\\" + key +
                                    "\n" + SystemMessage(ERROR_ACCESS_DENIED),
                                {IDOK},
                                IDOK,
                                ""}},
            IDOK));
        ASSERT_TRUE(app.Settle());
        EXPECT_TRUE(app.OwnedDialogs().empty());
        EXPECT_FALSE(FileExists(control.file + ".unregistered"));
        EXPECT_EQ(RegistrySnapshot(), Difference(before, Snapshot()));
        EXPECT_TRUE(FileExists(control.file));
        app.Click(IDC_EXIT);
        DWORD code;
        EXPECT_TRUE(app.WaitForExit(code));
        SetFileAttributesW(Wide(control.file).c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

// Text as the registry holds it: UTF-16, with its terminator unless asked.
std::vector<BYTE> Utf16(const std::string& utf8, bool terminated = true)
{
    WideText wide = Wide(utf8);
    if (terminated)
        wide.push_back(0);
    const BYTE* bytes = reinterpret_cast<const BYTE*>(wide.data());
    return std::vector<BYTE>(bytes, bytes + wide.size() * sizeof(WCHAR));
}

std::vector<BYTE> Counting(size_t count)
{
    std::vector<BYTE> bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<BYTE>(i * 7);
    return bytes;
}

// How Wine's reg import writes text data that does not end in a NUL code
// unit: it puts one there.
enum class WineImport {
    Same,
    // After the data.
    AddsTerminator,
    // Over the odd last byte, and one byte more of any value after it.
    EndsOddText,
};

struct HostileValue {
    std::string name;
    DWORD type;
    std::vector<BYTE> data;
    WineImport wine = WineImport::Same;
};

const std::vector<HostileValue>& HostileValues()
{
    static const std::vector<HostileValue> values = {
        {"", REG_SZ, Utf16("")},
        {"@", REG_SZ, Utf16("a name, not the default")},
        {"say \"hi\"", REG_SZ, Utf16("she said \"hi\"")},
        {"back\\slash\\", REG_SZ, Utf16("C:\\Program Files\\")},
        {"a=b", REG_SZ, Utf16("x=y")},
        {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\E2EInjected]", REG_SZ,
         Utf16("[HKEY_CURRENT_USER\\Software\\E2EInjected]")},
        {"two\nlines\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\E2EInjected]\r\n\"x\"=\"y\"", REG_SZ,
         Utf16("one\r\ntwo\n\r[HKEY_CURRENT_USER\\Software\\E2EInjected]\n\"x\"=\"y\"")},
        {"\" & echo INJECTED > C:\\injected.txt & \"", REG_SZ,
         Utf16("\" & echo INJECTED > C:\\injected.txt & \"")},
        {"100% & ^ !x! <|>", REG_SZ, Utf16("%PATH% & ^ !PATH! <|>")},
        {"tab\tand ;semicolon", REG_SZ, Utf16("\t;")},
        {"Ωμέγα Жук 東京", REG_SZ, Utf16("Ωμέγα Жук 東京")},
        {"expandable", REG_EXPAND_SZ, Utf16("%SystemRoot%\\System32")},
        {"strings", REG_MULTI_SZ, Utf16(std::string("one\0two\0", 8))},
        {"strings with one end", REG_MULTI_SZ, Utf16(std::string("one\0two", 7))},
        {"dword", REG_DWORD, {0x78, 0x56, 0x34, 0x12}},
        {"dword of 3 bytes", REG_DWORD, {1, 2, 3}},
        {"big-endian dword", REG_DWORD_BIG_ENDIAN, {0, 0, 0, 1}},
        {"qword", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 0x80}},
        {"binary long enough to wrap", REG_BINARY, Counting(200)},
        {"binary of no bytes", REG_BINARY, {}},
        {"none", REG_NONE, {1, 2}},
        {"none of no bytes", REG_NONE, {}},
        {"unknown type", 0x1234, {0xaa, 0xbb}},
        {"text with a NUL inside", REG_SZ, Utf16(std::string("ab\0cd", 5))},
        {"text of no bytes", REG_SZ, {}},
        {"text of odd length after its end", REG_SZ, {'a', 0, 0, 0, 'b'}},
        {"text without its end", REG_SZ, Utf16("ab", false), WineImport::AddsTerminator},
        {"expandable text without its end", REG_EXPAND_SZ, Utf16("%x%", false),
         WineImport::AddsTerminator},
        {"strings without their end", REG_MULTI_SZ, Utf16(std::string("a\0b", 3), false),
         WineImport::AddsTerminator},
        {"text of odd length", REG_SZ, {'a', 0, 'b'}, WineImport::EndsOddText},
    };
    return values;
}

// Keys below the hostile one, each with a value of its own; the brackets of
// the last make a path of three keys.
const char* const kHostileKeys[] = {
    "Quoted \"key\" = [1] % & ^ !",
    "Ωμέγα Жук 東京",
    "ends with ]",
    "@",
    "-leading dash",
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\E2EInjected]",
};

struct HostileTree {
    HKEY root;
    std::string path;
    std::string snapshotPath; // as a snapshot names it
};

std::vector<HostileTree> HostileTrees()
{
    std::string unit = std::string(kDistributionUnits) + "\\" + kHostileClass + "\\Hostile";
    std::string classKey = "CLSID\\" + kHostileClass + "\\Hostile";
    return {{HKEY_CLASSES_ROOT, classKey, "HKCR\\" + classKey},
            {HKEY_LOCAL_MACHINE, unit, "HKLM\\" + unit}};
}

void SeedHostileTree(const HostileTree& tree)
{
    for (const HostileValue& value : HostileValues())
        SetRegistryBytes(tree.root, tree.path, value.name.c_str(), value.type, value.data.data(),
                         static_cast<DWORD>(value.data.size()));
    CreateRegistryKey(tree.root, tree.path + "\\empty");
    for (const char* key : kHostileKeys)
        SetRegistryText(tree.root, tree.path + "\\" + key, "x", key);
}

// The value exactly, or as Wine's importer is known to write it back.
void ExpectImported(const HostileTree& tree, const HostileValue& value,
                    Where where = Where::current())
{
    testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()),
                               tree.snapshotPath + " value \"" + value.name + "\"");
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(tree.root, Wide(tree.path).c_str(), 0, KEY_READ, &key));
    std::vector<BYTE> read(value.data.size() + 16);
    DWORD size = static_cast<DWORD>(read.size());
    DWORD type = 0;
    LONG status =
        RegQueryValueExW(key, Wide(value.name).c_str(), nullptr, &type, read.data(), &size);
    RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS, status);
    read.resize(size);
    EXPECT_EQ(value.type, type);
    std::vector<BYTE> expected = value.data;
    switch (value.wine) {
    case WineImport::Same:
        break;
    case WineImport::AddsTerminator:
        expected.insert(expected.end(), {0, 0});
        break;
    case WineImport::EndsOddText:
        expected.back() = 0;
        expected.insert(expected.end(), {0, read.empty() ? BYTE(0) : read.back()});
        break;
    }
    EXPECT_EQ(expected, read);
}

TEST_F(RestoreTest, RegImportBringsBackEveryValueAndNameOfTheRemovedKeys)
{
    const Control control = DownloadedControl("Hostile.ocx", kHostileClass, kHostileLib);
    Register(control, 1);
    for (const HostileTree& tree : HostileTrees())
        SeedHostileTree(tree);
    RegistrySnapshot before = Snapshot();
    ASSERT_TRUE(app.Start());

    StartDelete(control);
    ASSERT_TRUE(Converse(Yes(Box::RegistryEntry), control));
    std::string folder = FinishDelete("Hostile.ocx");
    ASSERT_FALSE(folder.empty());
    for (const HostileTree& tree : HostileTrees())
        ASSERT_FALSE(RegistryKeyExists(tree.root, tree.path)) << tree.path;

    EXPECT_EQ(0u, ImportRemovedKeys(folder));

    for (const HostileTree& tree : HostileTrees()) {
        for (const HostileValue& value : HostileValues())
            ExpectImported(tree, value);
    }
    // Everything else comes back as it was, the values Wine rewrites aside.
    RegistrySnapshot after = Snapshot();
    for (const HostileTree& tree : HostileTrees()) {
        for (const HostileValue& value : HostileValues()) {
            if (value.wine == WineImport::Same)
                continue;
            for (RegistrySnapshot* snapshot : {&before, &after}) {
                for (const std::string& line : ValueLines(*snapshot, tree.snapshotPath, value.name))
                    snapshot->erase(line);
            }
        }
    }
    EXPECT_EQ(RegistrySnapshot(), Difference(before, after)) << "not restored";
    EXPECT_EQ(RegistrySnapshot(), Difference(after, before)) << "added";
    ExpectNothingInjected();
}

// A path the registry names with cmd's own characters in it.
struct Injection {
    const char* name;
    Control control;
    // Whether the file is there, to be saved and put back.
    bool file;
    std::vector<Exchange> dialogue;
    const char* folderName; // the file name the restore folder ends with
};

void PrintTo(const Injection& injection, std::ostream* out)
{
    *out << injection.name;
}

Control DownloadAt(const std::string& folder, const char* name)
{
    std::string file = std::string(kDownloadFolder) + "\\" + folder + "\\" + name;
    std::string listed = file;
    std::replace(listed.begin(), listed.end(), '\\', '/');
    return {true, file, listed, file, kHostileClass, kHostileLib};
}

// Installed controls are listed lower-cased.
Control InstalledAt(const std::string& folder, const char* name)
{
    std::string file = std::string(kInstallFolder) + "\\" + folder + "\\" + name;
    std::string listed = LowerCase(file);
    return {false, file, listed, listed, kHostileClass, kHostileLib};
}

const std::string kBreakOut = "\" & echo INJECTED > C:\\injected.txt & \"";

const Injection kInjections[] = {
    {"QuoteInDownloadPath", DownloadAt(kBreakOut, "Inj.ocx"), false,
     Dialogue(Yes(Box::RegistryEntry)), "Inj.ocx"},
    {"QuoteInTypeLibPath", InstalledAt(kBreakOut, "Inj.ocx"), false,
     Dialogue(Yes(Box::Warning), Yes(Box::RegistryEntry)), "inj.ocx"},
    {"PercentsInTypeLibPath", InstalledAt("%" + kBreakOut + "%", "Inj.ocx"), false,
     Dialogue(Yes(Box::Warning), Yes(Box::RegistryEntry)), "inj.ocx"},
    {"ExclamationMarksInDownloadPath", DownloadAt("!" + kBreakOut + "!", "Inj.ocx"), false,
     Dialogue(Yes(Box::RegistryEntry)), "Inj.ocx"},
    // A file can have all but the quote and '>' in its path. A short name
    // that starts with '%' could not stand in for the folder.
    {"CharactersOfCmdInFileNames", DownloadAt("Path %PATH% & ^& !x!", "50%!^&.ocx"), true,
     Dialogue(Yes(Box::DeleteFile)), "50____.ocx"},
};

class InjectionTest : public RestoreTest, public testing::WithParamInterface<Injection> {};

TEST_P(InjectionTest, RestoreRunsNothingThatTheRegistryNames)
{
    const Injection& injection = GetParam();
    const Control& control = injection.control;
    Register(control, 1);
    FileState file;
    if (injection.file) {
        files.Copy("unregister.ocx", control.file, TimesOf(1));
        files.Expect(control.file + ".unregistered");
        files.Expect(control.file + ".registered");
        file = ReadFileState(control.file);
    }
    RegistrySnapshot before = Snapshot();
    ASSERT_TRUE(app.Start());

    StartDelete(control);
    for (const Exchange& exchange : injection.dialogue)
        ASSERT_TRUE(Converse(exchange, control));
    std::string folder = FinishDelete(injection.folderName);
    ASSERT_FALSE(folder.empty());
    ASSERT_NE(before, Snapshot()) << "the registration was left";

    EXPECT_EQ(0u, RunRestoreScript(folder));

    ExpectNothingInjected();
    RegistrySnapshot after = Snapshot();
    EXPECT_EQ(RegistrySnapshot(), Difference(before, after)) << "not restored";
    EXPECT_EQ(RegistrySnapshot(), Difference(after, before)) << "added";
    EXPECT_EQ(file, ReadFileState(control.file));
}

INSTANTIATE_TEST_SUITE_P(Restore, InjectionTest, testing::ValuesIn(kInjections),
                         [](const testing::TestParamInfo<Injection>& info) {
                             return std::string(info.param.name);
                         });

// A line break in a key name has no escape in a .reg file: the Delete stops
// before anything changes.
TEST_F(RestoreTest, KeyNameWithALineBreakStopsTheDelete)
{
    const Control control = DownloadedControl("Unsaved.ocx", kHostileClass, kHostileLib);
    Register(control, 1);
    const std::string brokenKey = "CLSID\\" + kHostileClass + "\\line\r\nbreak";
    CreateRegistryKey(HKEY_CLASSES_ROOT, brokenKey);
    files.Copy("unregister.ocx", control.file, TimesOf(1));
    files.Expect(control.file + ".unregistered");
    FileState file = ReadFileState(control.file);
    RegistrySnapshot before = Snapshot();
    ASSERT_TRUE(app.Start());

    StartDelete(control);
    ASSERT_TRUE(AnswerBox(
        RestoreFailedBox("A restore file cannot name this safely (error 0):", brokenKey), IDOK));
    ASSERT_TRUE(app.Settle());

    EXPECT_EQ(0u, app.OwnedDialogs().size()) << "the Delete went on";
    EXPECT_EQ(RegistrySnapshot(), Difference(before, Snapshot()));
    EXPECT_EQ(file, ReadFileState(control.file));
    EXPECT_FALSE(FileExists(control.file + ".unregistered"));
    for (const std::string& name : FolderEntries(removed))
        EXPECT_EQ(0u, name.rfind("unfinished ", 0)) << name << " is taken for a finished folder";
}

} // namespace
} // namespace e2e
