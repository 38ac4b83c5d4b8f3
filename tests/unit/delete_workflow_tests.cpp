#include "app/app.h"
#include "app/control_ids.h"
#include "base/text.h"
#include "details/details.h"
#include "inventory/inventory.h"
#include "registry_snapshot.h"
#include "removal/removal.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <win32sim.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#define CLSID_X "{0B5E0000-0000-4000-8000-00000000000A}"
#define CLSID_SIBLING "{0B5E0000-0000-4000-8000-00000000000B}"
#define LIBID_X "{0B5E0000-0000-4000-8000-0000000000AA}"
#define LIBID_SIBLING "{0B5E0000-0000-4000-8000-0000000000BB}"
// Enumerated before LIBID_X, as the registry sorts names.
#define LIBID_SECOND "{0B5E0000-0000-4000-8000-0000000000A0}"

typedef std::vector<std::string> Entries;

static const UINT kQuestion = MB_YESNO | MB_DEFBUTTON2;
static const UINT kWarning = MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION;

static const std::string kModuleUsagePath = Utf8(MODULE_USAGE_PATH);
static const std::string kUnitsPath = Utf8(DISTRIBUTION_UNITS_PATH);
static const std::string kSharedDllsPath = Utf8(SHARED_DLLS_PATH);
static const std::string kModuleUsageKey = "HKLM\\" + kModuleUsagePath + "\\";
static const std::string kUnitsKey = "HKLM\\" + kUnitsPath + "\\";
static const std::string kSharedDllsKey = "HKLM\\" + kSharedDllsPath;

// A control that unregisters itself, as the list shows it and as a file.
static const std::string kDownload = "C:/Windows/Downloaded Program Files/unreg.ocx";
static const std::string kDownloadFile = "C:\\Windows\\Downloaded Program Files\\unreg.ocx";
// A control listed from its type library: the scan lists such paths lower-cased.
static const std::string kOther = "c:\\program files\\vendor tools\\unreg.ocx";
static const std::string kOtherRegistered = "C:\\Program Files\\Vendor Tools\\unreg.ocx";

static const std::string kSiblingDownload = "C:/Windows/Downloaded Program Files/sibling.ocx";
static const std::string kSiblingFile = "C:\\Windows\\Downloaded Program Files\\sibling.ocx";
static const std::string kSiblingOther = "c:\\windows\\system32\\other.dll";
static const Entries kSiblingEntries = {kSiblingDownload, kSiblingOther};

static std::string FileOf(std::string controlPath)
{
    std::replace(controlPath.begin(), controlPath.end(), '/', '\\');
    return controlPath;
}

struct Box {
    std::string text;
    std::string caption;
    UINT type;
};

static Box Warning(const std::string& path)
{
    return {"WARNING!!!  The file:\n" + path +
                "\nwas *NOT* installed from the Web!\nIt is most likely needed for an "
                "application.\n\nAre you *SURE* you want to delete it?",
            "Warning!", kWarning};
}
static Box DeleteQuestion(const std::string& file)
{
    return {"Are you sure you want to DELETE\n" + file + "?", "Burrowlens", kQuestion};
}
static Box SharedQuestion(const std::string& file)
{
    return {"Other programs may rely on this\ncontrol to function properly.\n\n"
            "Are you SURE you want to DELETE\n" +
                file + "?",
            "Burrowlens", kQuestion};
}
static Box RegistryQuestion(const std::string& file)
{
    return {"Are you sure you want to delete\nthe registry entry for\n" + file + "?", "Burrowlens",
            kQuestion};
}
static Box AccessDenied(const std::string& file)
{
    return {"Unable to delete file:\n" + file + "\nAccess is denied.", "Burrowlens", MB_OK};
}

static void ExpectBoxes(HWND owner, const std::vector<Box>& expected, int line)
{
    SCOPED_TRACE(testing::Message() << "boxes expected at line " << line);
    const std::vector<SimMessageBox>& boxes = SimMessageBoxes();
    ASSERT_EQ(expected.size(), boxes.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "box " << i);
        EXPECT_EQ(expected[i].text, boxes[i].text);
        EXPECT_EQ(expected[i].caption, boxes[i].caption);
        EXPECT_EQ(expected[i].type, boxes[i].type);
        EXPECT_EQ(owner, boxes[i].owner);
    }
}

static RegistrySnapshot Join(std::initializer_list<RegistrySnapshot> parts)
{
    RegistrySnapshot all;
    for (const RegistrySnapshot& part : parts)
        all.insert(part.begin(), part.end());
    return all;
}

static void Answer(std::initializer_list<int> answers)
{
    for (int answer : answers)
        SimAnswerMessageBox(answer);
}

// A copy of a fixture, or a text file when there is none.
static void PlaceFile(const std::string& windowsPath, const char* fixture)
{
    std::filesystem::path host = SimHostPath(windowsPath.c_str());
    std::filesystem::create_directories(host.parent_path());
    if (fixture != NULL) {
        std::filesystem::copy_file(FixtureHostPath(fixture), host);
    } else {
        std::ofstream(host) << "not a program\r\n";
    }
}

static bool FileStays(const std::string& windowsPath)
{
    return std::filesystem::exists(SimHostPath(windowsPath.c_str()));
}

// The ModuleUsage key is named by the path as the list shows it; without a
// class the key has only its owner.
static void RegisterDownload(const std::string& controlPath, const char* clsid)
{
    std::string file = FileOf(controlPath);
    std::string usage = kModuleUsagePath + "\\" + controlPath;
    SetRegistryText(HKEY_LOCAL_MACHINE, usage, ".Owner", "Unknown Owner");
    if (clsid == NULL)
        return;
    SetRegistryText(HKEY_LOCAL_MACHINE, usage, clsid, "");
    std::string classKey = std::string("CLSID\\") + clsid;
    SetRegistryText(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32", "", file);
    SetRegistryText(HKEY_CLASSES_ROOT, classKey + "\\Implemented Categories\\{7DD95801}", "", "");
    std::string unit = kUnitsPath + "\\" + clsid;
    SetRegistryText(HKEY_LOCAL_MACHINE, unit + "\\Contains\\Files", file.c_str(), "");
    SetRegistryText(HKEY_LOCAL_MACHINE, unit + "\\DownloadInformation", "CODEBASE",
                    "http://example.invalid/unreg.cab");
}

static void RegisterTypeLib(const char* libId, const std::string& file)
{
    std::string lib = std::string("TypeLib\\") + libId;
    SetRegistryText(HKEY_CLASSES_ROOT, lib + "\\1.0", "", "Lib");
    SetRegistryText(HKEY_CLASSES_ROOT, lib + "\\1.0\\0\\win32", "", file);
    SetRegistryText(HKEY_CLASSES_ROOT, lib + "\\1.0\\FLAGS", "", "0");
    SetRegistryText(HKEY_CLASSES_ROOT, lib + "\\1.0\\HELPDIR", "", "C:\\");
    SetRegistryText(HKEY_CLASSES_ROOT, lib + "\\2.0\\9\\win32", "", file);
}

static void SetUsageCount(const std::string& file, DWORD count)
{
    SetRegistryDword(HKEY_LOCAL_MACHINE, kSharedDllsPath, file.c_str(), count);
}

struct Outcome {
    BOOL result = FALSE;
    HWND dialog = NULL;
    Entries listBefore;
    Entries listAfter;
    RegistrySnapshot removed;
};

static Entries Without(Entries entries, const std::string& entry)
{
    auto found = std::find(entries.begin(), entries.end(), entry);
    if (found == entries.end())
        ADD_FAILURE() << entry << " was not in the list";
    else
        entries.erase(found);
    return entries;
}

// Every test starts from a machine with the parent keys and two controls that
// no deletion may touch: one download and one listed from its type library.
class DeleteWorkflowTest : public testing::Test {
  protected:
    void SetUp() override
    {
        Reset();
    }
    void TearDown() override
    {
        EXPECT_EQ(0, SimUnscriptedMessageBoxCount());
        EXPECT_EQ(0, SimStallCount());
        EXPECT_EQ(0, SimOpenKeyCount());
        EXPECT_EQ(0, SimLoadedModuleCount());
        EXPECT_EQ(0, SimOpenHandleCount());
    }

    void Reset(bool wow64 = false)
    {
        SimReset();
        SimSetWow64(wow64);
        CreateRegistryKey(HKEY_LOCAL_MACHINE, kModuleUsagePath);
        CreateRegistryKey(HKEY_LOCAL_MACHINE, kSharedDllsPath);
        CreateRegistryKey(HKEY_LOCAL_MACHINE, kUnitsPath);
        CreateRegistryKey(HKEY_CLASSES_ROOT, "CLSID");
        CreateRegistryKey(HKEY_CLASSES_ROOT, "TypeLib");
        RegisterDownload(kSiblingDownload, CLSID_SIBLING);
        SetUsageCount(kSiblingFile, 1);
        RegisterTypeLib(LIBID_SIBLING, "C:\\Windows\\System32\\other.dll");
        SetUsageCount("C:\\Windows\\System32\\other.dll", 3);
        before.clear();
        after.clear();
        atFirstBox = nullptr;
    }

    // Runs the Delete command on the entry, added to the list after the
    // others and selected; an empty entry leaves the list without a selection.
    Outcome Delete(const std::string& entry, const Entries& others = kSiblingEntries)
    {
        return Run([&](HWND dialog) {
            for (const std::string& other : others)
                SendDlgItemMessageW(dialog, IDC_CONTROL_LIST, LB_ADDSTRING, 0,
                                    reinterpret_cast<LPARAM>(Wide(other).c_str()));
            if (!entry.empty()) {
                LRESULT index = SendDlgItemMessageW(dialog, IDC_CONTROL_LIST, LB_ADDSTRING, 0,
                                                    reinterpret_cast<LPARAM>(Wide(entry).c_str()));
                SendDlgItemMessageW(dialog, IDC_CONTROL_LIST, LB_SETCURSEL, index, 0);
            }
        });
    }

    // As Delete, on the list that the program's own scan of the registry
    // fills; the entry has to be one that the scan listed.
    Outcome DeleteListed(const std::string& entry)
    {
        return Run([&](HWND dialog) {
            RefreshControlList(dialog);
            Entries items = ListBoxItems(dialog, IDC_CONTROL_LIST);
            auto found = std::find(items.begin(), items.end(), entry);
            EXPECT_NE(items.end(), found) << entry << " is not listed";
            SendDlgItemMessageW(dialog, IDC_CONTROL_LIST, LB_SETCURSEL,
                                found == items.end() ? -1 : found - items.begin(), 0);
        });
    }

    Outcome Run(const std::function<void(HWND)>& fillList)
    {
        Outcome outcome;
        WithMainDialog([&](HWND dialog) {
            fillList(dialog);
            if (atFirstBox)
                AtNextMessageBox(dialog, atFirstBox);
            outcome.dialog = dialog;
            outcome.listBefore = ListBoxItems(dialog, IDC_CONTROL_LIST);
            before = Registry();
            outcome.result = DeleteSelectedControl(dialog);
            after = Registry();
            outcome.listAfter = ListBoxItems(dialog, IDC_CONTROL_LIST);
        });
        outcome.removed = Difference(before, after);
        EXPECT_EQ(RegistrySnapshot(), Difference(after, before)) << "a deletion adds nothing";
        EXPECT_EQ(0, SimOpenHandleCount()) << "a deletion closes every file and process handle";
        EXPECT_EQ(0, SimOpenKeyCount());
        return outcome;
    }

    // The registry as it is, whatever faults the Delete meets.
    static RegistrySnapshot Registry()
    {
        SimSuspendRegistryFaults(true);
        RegistrySnapshot lines = TakeSnapshot();
        SimSuspendRegistryFaults(false);
        return lines;
    }

    // Everything a download brings along.
    RegistrySnapshot DownloadRegistration(const std::string& controlPath, const char* clsid,
                                          const char* libId) const
    {
        return Join({SubtreeLines(before, kModuleUsageKey + controlPath),
                     SubtreeLines(before, kUnitsKey + clsid),
                     SubtreeLines(before, std::string("HKCR\\CLSID\\") + clsid),
                     ValueLines(before, kSharedDllsKey, FileOf(controlPath)),
                     SubtreeLines(before, std::string("HKCR\\TypeLib\\") + libId)});
    }

    // A refusal or failure before the registry clean-up.
    void ExpectRegistryAndListKept(const Outcome& outcome, int line) const
    {
        SCOPED_TRACE(testing::Message() << "called from line " << line);
        EXPECT_FALSE(outcome.result);
        EXPECT_EQ(RegistrySnapshot(), outcome.removed);
        EXPECT_EQ(outcome.listBefore, outcome.listAfter);
    }

    RegistrySnapshot before, after;
    // A fault for the steps after the restore folder: a download's first
    // box is the DELETE question, which comes once the folder is written.
    std::function<void()> atFirstBox;
};

static std::string NewRestoreScript(std::vector<std::string>& seen)
{
    for (const std::string& folder : RestoreFolders()) {
        if (std::find(seen.begin(), seen.end(), folder) != seen.end())
            continue;
        seen.push_back(folder);
        std::ifstream in(folder + "/restore.cmd", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    ADD_FAILURE() << "no new restore folder";
    return "";
}

// 64-bit Windows: a library registered for both bitnesses, whose files share
// a name in SysWOW64 and System32, and a download registered in both views
// under one text. Each entry is listed, read, removed and saved for restoring
// in its own view alone.
TEST_F(DeleteWorkflowTest, OnWow64EachEntryIsReadAndRemovedInItsOwnView)
{
    Reset(true);
    const std::string narrow = "c:\\windows\\system32\\narrow.ocx";
    const std::string narrow64 = narrow + " (64-bit)";
    const std::string download64 = kDownload + " (64-bit)";
    const std::string lib = std::string("TypeLib\\") + LIBID_X + "\\1.0";
    SetRegistryText(HKEY_CLASSES_ROOT, lib, "", "Lib");
    SetRegistryText(HKEY_CLASSES_ROOT, lib + "\\0\\win32", "", "C:\\Windows\\System32\\narrow.ocx");
    SetRegistryText(HKEY_CLASSES_ROOT, lib + "\\0\\win64", "", "C:\\Windows\\System32\\narrow.ocx");
    SetRegistryText(HKEY_CLASSES_ROOT, lib + "\\FLAGS", "", "0");
    PlaceFile("C:\\Windows\\SysWOW64\\narrow.ocx", "unregister.ocx");
    PlaceFile("C:\\Windows\\Sysnative\\narrow.ocx", "noversion.dll");
    PlaceFile(kDownloadFile, "unregister.ocx");
    RegisterDownload(kDownload, CLSID_X);
    SeedRegistryView(KEY_WOW64_64KEY);
    CreateRegistryKey(HKEY_LOCAL_MACHINE, kSharedDllsPath);
    RegisterDownload(kDownload, CLSID_X);
    SeedRegistryView(0);

    WithMainDialog([&](HWND dialog) {
        RefreshControlList(dialog);
        Entries expected = {kDownload, download64, kSiblingDownload,
                            narrow,    narrow64,   kSiblingOther};
        Entries listed = ListBoxItems(dialog, IDC_CONTROL_LIST);
        std::sort(expected.begin(), expected.end());
        std::sort(listed.begin(), listed.end());
        EXPECT_EQ(expected, listed);
        EXPECT_TRUE(SimMessageBoxes().empty());
        const struct {
            const std::string& entry;
            const char* version;
            const char* origin;
        } shown[] = {{narrow, "5.1.2600.0", "Not Downloaded"},
                     {narrow64, "Unknown", "Not Downloaded"},
                     {download64, "5.1.2600.0", "Download from Net"}};
        for (const auto& one : shown) {
            Entries items = ListBoxItems(dialog, IDC_CONTROL_LIST);
            SendDlgItemMessageW(dialog, IDC_CONTROL_LIST, LB_SETCURSEL,
                                std::find(items.begin(), items.end(), one.entry) - items.begin(),
                                0);
            ShowControlDetails(dialog, VersionStringTable, GetProcessHeap());
            EXPECT_EQ(one.version, DialogItemText(dialog, IDC_VERSION)) << one.entry;
            EXPECT_EQ(one.origin, DialogItemText(dialog, IDC_ORIGIN)) << one.entry;
        }
    });

    std::vector<std::string> folders;
    Answer({IDYES, IDYES});
    Outcome outcome = DeleteListed(narrow);
    EXPECT_TRUE(outcome.result);
    EXPECT_EQ(SubtreeLines(before, "HKCR\\" + lib + "\\0\\win32"), outcome.removed);
    EXPECT_FALSE(FileStays("C:\\Windows\\SysWOW64\\narrow.ocx"));
    EXPECT_TRUE(FileStays("C:\\Windows\\Sysnative\\narrow.ocx"));
    EXPECT_EQ(1u, SimUnregisterServerCalls().size());
    std::string script = NewRestoreScript(folders);
    for (const char* line :
         {"move \"%%F\" \"C:\\Windows\\SysWOW64\\\"", "\"%SystemRoot%\\SysWOW64\\regsvr32.exe\" /s",
          "if defined PROCESSOR_ARCHITEW6432 set \"SYSTEM64=%SystemRoot%\\Sysnative\"",
          "\"%SYSTEM64%\\reg.exe\" import removed.reg /reg:32"})
        EXPECT_NE(std::string::npos, script.find(line)) << line << " in\n" << script;

    Answer({IDYES, IDYES});
    outcome = DeleteListed(narrow64);
    EXPECT_TRUE(outcome.result);
    EXPECT_EQ(SubtreeLines(before, "HKCR\\TypeLib\\" LIBID_X), outcome.removed);
    EXPECT_FALSE(FileStays("C:\\Windows\\Sysnative\\narrow.ocx"));
    EXPECT_EQ(1u, SimUnregisterServerCalls().size()) << "a 64-bit DLL is not loaded here";
    EXPECT_EQ(std::vector<std::string>{"\"C:\\Windows\\Sysnative\\regsvr32.exe\" /u /s \"" +
                                       narrow + "\""},
              SimProcessCommands());
    script = NewRestoreScript(folders);
    for (const char* line : {"move \"%%F\" \"%SYSTEM64%\\\"", "\"%SYSTEM64%\\regsvr32.exe\" /s",
                             "\"%SYSTEM64%\\reg.exe\" import removed.reg /reg:64"})
        EXPECT_NE(std::string::npos, script.find(line)) << line << " in\n" << script;

    Answer({IDYES, IDYES});
    outcome = DeleteListed(download64);
    EXPECT_TRUE(outcome.result);
    EXPECT_EQ(DownloadRegistration(kDownload, CLSID_X, LIBID_X), outcome.removed)
        << "the 64-bit view shows as HKLM\\SOFTWARE and HKCR";
    EXPECT_EQ(1, std::count(outcome.listAfter.begin(), outcome.listAfter.end(), kDownload));

    // Without its 32-bit ModuleUsage the machine is not in error.
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, kModuleUsagePath);
    size_t boxes = SimMessageBoxes().size();
    WithMainDialog([&](HWND dialog) { RefreshControlList(dialog); });
    EXPECT_EQ(boxes, SimMessageBoxes().size());
}

// Names outside the ANSI code page are listed, unregistered, asked about and
// removed as the ASCII ones are.
TEST_F(DeleteWorkflowTest, DownloadIsUnregisteredDeletedAndForgotten)
{
    for (const char* name : {"unreg.ocx", "Жук/Жук.ocx"}) {
        SCOPED_TRACE(name);
        Reset();
        const std::string entry = "C:/Windows/Downloaded Program Files/" + std::string(name);
        const std::string file = FileOf(entry);
        PlaceFile(file, "unregister.ocx");
        RegisterDownload(entry, CLSID_X);
        RegisterTypeLib(LIBID_X, file);
        SetUsageCount(file, 1);
        Answer({IDYES});

        Outcome outcome = DeleteListed(entry);

        EXPECT_TRUE(outcome.result);
        EXPECT_EQ(Without(outcome.listBefore, entry), outcome.listAfter);
        EXPECT_EQ(Entries({kSiblingDownload, kSiblingOther}), outcome.listAfter);
        ExpectBoxes(outcome.dialog, {DeleteQuestion(file)}, __LINE__);
        EXPECT_TRUE(SimBeepHistory().empty());
        // The loader gets the path as listed; the question and the deletion the file path.
        EXPECT_EQ(Entries({file}), SimUnregisterServerCalls());
        EXPECT_TRUE(SimProcessCommands().empty());
        EXPECT_FALSE(FileStays(file));
        EXPECT_EQ(DownloadRegistration(entry, CLSID_X, LIBID_X), outcome.removed);
    }
}

// A download's other files are offered in one question that defaults to No.
// A file that something else uses is never offered: one with a usage count
// above 1, one that another download lists, one that another entry names.
TEST_F(DeleteWorkflowTest, OtherFilesOfADownloadGoOnlyOnYes)
{
    const std::string helper = "C:\\Windows\\Downloaded Program Files\\helper.dll";
    const std::string inf = "C:\\Windows\\Downloaded Program Files\\unreg.inf";
    const std::string counted = "C:\\Windows\\System32\\counted.dll";
    const std::string named = "C:\\Apps\\named.dll";
    const Box question = {"This control was downloaded with other files\nthat nothing else is "
                          "known to use:\n" +
                              helper + "\n" + inf + "\n\nDo you want to DELETE them too?",
                          "Burrowlens", kQuestion};
    for (int answer : {IDYES, IDNO, IDCANCEL}) {
        SCOPED_TRACE(testing::Message() << "answer " << answer);
        Reset();
        PlaceFile(kDownloadFile, "unregister.ocx");
        RegisterDownload(kDownload, CLSID_X);
        SetUsageCount(kDownloadFile, 1);
        const std::string files = kUnitsPath + "\\" CLSID_X "\\Contains\\Files";
        for (const std::string& other : {helper, counted, named, kSiblingFile}) {
            PlaceFile(other, NULL);
            SetRegistryText(HKEY_LOCAL_MACHINE, files, other.c_str(), "");
        }
        SetUsageCount(counted, 2);
        PlaceFile(inf, NULL);
        SetRegistryText(HKEY_LOCAL_MACHINE, kUnitsPath + "\\" CLSID_X "\\DownloadInformation",
                        "INF", inf);
        Answer({IDYES, answer});

        Outcome outcome = Delete(kDownload, {kSiblingDownload, kSiblingOther, LowerCase(named)});

        EXPECT_TRUE(outcome.result);
        ExpectBoxes(outcome.dialog, {DeleteQuestion(kDownloadFile), question}, __LINE__);
        EXPECT_FALSE(FileStays(kDownloadFile));
        EXPECT_EQ(answer != IDYES, FileStays(helper));
        EXPECT_EQ(answer != IDYES, FileStays(inf));
        for (const std::string& kept : {counted, named, kSiblingFile})
            EXPECT_TRUE(FileStays(kept)) << kept;
        EXPECT_EQ(DownloadRegistration(kDownload, CLSID_X, LIBID_X), outcome.removed);
    }
}

TEST_F(DeleteWorkflowTest, OtherControlIsWarnedAboutAndKeepsItsUsageCount)
{
    for (const char* folder : {"Vendor Tools", "Ωmega 東京"}) {
        SCOPED_TRACE(folder);
        Reset();
        const std::string registered = "C:\\Program Files\\" + std::string(folder) + "\\unreg.ocx";
        const std::string entry = LowerCase(registered);
        PlaceFile(registered, "server.exe");
        RegisterTypeLib(LIBID_X, registered);
        SetUsageCount(registered, 1);
        // Usage outside a download cache does not make a download.
        SetRegistryText(HKEY_LOCAL_MACHINE,
                        kModuleUsagePath + "\\C:/Program Files/" + folder + "/unreg.ocx", ".Owner",
                        "x");
        Answer({IDYES, IDYES});

        Outcome outcome = DeleteListed(entry);

        EXPECT_TRUE(outcome.result);
        EXPECT_EQ(Without(outcome.listBefore, entry), outcome.listAfter);
        EXPECT_EQ(Entries({kSiblingDownload, kSiblingOther}), outcome.listAfter);
        ExpectBoxes(outcome.dialog, {Warning(entry), DeleteQuestion(entry)}, __LINE__);
        EXPECT_EQ(std::vector<UINT>({MB_ICONHAND, MB_ICONHAND}), SimBeepHistory());
        // Without DllUnregisterServer the program unregisters itself; the
        // quotes keep Windows from starting "c:\program".
        EXPECT_EQ(Entries({"\"" + entry + "\" /UnregServer"}), SimProcessCommands());
        EXPECT_TRUE(SimUnregisterServerCalls().empty());
        EXPECT_FALSE(FileStays(registered));
        EXPECT_EQ(SubtreeLines(before, "HKCR\\TypeLib\\" LIBID_X), outcome.removed);
    }
}

// Through the ANSI code page "Ωmega" reads as "Omega": a registration of a
// file that is not there would name a real control's file.
TEST_F(DeleteWorkflowTest, LookAlikeRegistrationNeverReachesTheRealControl)
{
    const std::string real = "C:\\Program Files\\Omega\\Omega.dll";
    const std::string lookAlike = "C:\\Program Files\\Ωmega\\Omega.dll";
    const std::string entry = LowerCase(lookAlike);
    PlaceFile(real, "unregister.ocx");
    RegisterTypeLib(LIBID_X, real);
    SetUsageCount(real, 1);
    RegisterTypeLib(LIBID_SECOND, lookAlike);
    Answer({IDYES, IDYES});

    Outcome outcome = DeleteListed(entry);

    EXPECT_TRUE(outcome.result);
    EXPECT_EQ(Entries({kSiblingDownload, LowerCase(real), kSiblingOther}), outcome.listAfter);
    EXPECT_EQ(Without(outcome.listBefore, entry), outcome.listAfter);
    ExpectBoxes(outcome.dialog, {Warning(entry), RegistryQuestion(entry)}, __LINE__);
    std::vector<SimLibraryLoad> loads = SimLibraryLoads();
    ASSERT_EQ(1u, loads.size());
    EXPECT_EQ(entry, loads[0].path);
    EXPECT_TRUE(SimUnregisterServerCalls().empty());
    EXPECT_TRUE(SimProcessCommands().empty());
    EXPECT_TRUE(FileStays(real));
    EXPECT_EQ(SubtreeLines(before, "HKCR\\TypeLib\\" LIBID_SECOND), outcome.removed);
}

// Windows answers for one file under many names. A second registration of a
// listed control's file, however it spells the file, makes the file shared
// whatever the usage count says; the same name in another folder is another
// file. The usage count of 1 is the file's under its first spelling.
TEST_F(DeleteWorkflowTest, FileThatAnotherEntryNamesIsShared)
{
    const std::string file = "C:\\Program Files\\Omega\\Omega.dll";
    const struct {
        const char* name;
        std::string registered; // the selected entry's file, as its type library names it
        bool firstEntry;        // the file is listed from LIBID_X as well
        bool shared;
        // The type library is found by the file path's text, with '\'; the
        // '/' spelling does not find its own, but the first entry's.
        const char* removedLib;
    } cases[] = {
        {"trailing dot", file + ".", true, true, LIBID_SECOND},
        {"short name", "C:\\PROGRA~1\\Omega\\Omega.dll", true, true, LIBID_SECOND},
        {"letter case", "C:\\PROGRAM FILES\\OMEGA\\OMEGA.DLL", true, true, LIBID_SECOND},
        {"slashes", "C:/Program Files/Omega/Omega.dll", true, true, LIBID_X},
        {"same name elsewhere", "C:\\Program Files\\Omega 2\\Omega.dll", true, false, LIBID_SECOND},
        {"named by nothing else", file, false, false, LIBID_SECOND},
    };
    for (const auto& c : cases) {
        for (int answer : {IDNO, IDYES}) {
            // Unshared, a No answers the DELETE question, a case of its own.
            if (!c.shared && answer == IDNO)
                continue;
            SCOPED_TRACE(testing::Message() << c.name << ", answer " << answer);
            Reset();
            const std::string entry = LowerCase(c.registered);
            const std::string selectedFile = FileOf(entry);
            PlaceFile(file, "unregister.ocx");
            if (!c.shared && c.firstEntry)
                PlaceFile(c.registered, "unregister.ocx");
            if (c.firstEntry)
                RegisterTypeLib(LIBID_X, file);
            SetUsageCount(file, 1);
            RegisterTypeLib(LIBID_SECOND, c.registered);
            Answer({IDYES, IDYES});
            if (c.shared)
                SimAnswerMessageBox(answer);

            Outcome outcome = DeleteListed(entry);

            EXPECT_EQ(c.firstEntry ? 4u : 3u, outcome.listBefore.size());
            std::vector<Box> boxes = {Warning(entry), DeleteQuestion(selectedFile)};
            if (c.shared)
                boxes.push_back(SharedQuestion(selectedFile));
            ExpectBoxes(outcome.dialog, boxes, __LINE__);
            EXPECT_EQ(Entries({selectedFile}), SimUnregisterServerCalls());
            if (answer == IDNO) {
                ExpectRegistryAndListKept(outcome, __LINE__);
                EXPECT_TRUE(FileStays(file));
                continue;
            }
            EXPECT_TRUE(outcome.result);
            EXPECT_EQ(Without(outcome.listBefore, entry), outcome.listAfter);
            EXPECT_FALSE(FileStays(c.registered));
            EXPECT_EQ(!c.shared && c.firstEntry, FileStays(file));
            EXPECT_EQ(SubtreeLines(before, std::string("HKCR\\TypeLib\\") + c.removedLib),
                      outcome.removed);
        }
    }
}

TEST_F(DeleteWorkflowTest, RefusedWarningChangesNothing)
{
    PlaceFile(kOtherRegistered, "unregister.ocx");
    RegisterTypeLib(LIBID_X, kOtherRegistered);
    Answer({IDNO});

    Outcome outcome = Delete(kOther);

    ExpectRegistryAndListKept(outcome, __LINE__);
    ExpectBoxes(outcome.dialog, {Warning(kOther)}, __LINE__);
    EXPECT_EQ(std::vector<UINT>({MB_ICONHAND, MB_ICONHAND}), SimBeepHistory());
    EXPECT_TRUE(SimUnregisterServerCalls().empty());
    EXPECT_TRUE(SimProcessCommands().empty());
    EXPECT_TRUE(FileStays(kOtherRegistered));
}

TEST_F(DeleteWorkflowTest, AnyAnswerButNoGoesAhead)
{
    for (int answer : {IDYES, IDOK, IDCANCEL, 0}) {
        for (bool fileThere : {true, false}) {
            SCOPED_TRACE(testing::Message() << "answer " << answer << ", file there " << fileThere);
            Reset();
            if (fileThere)
                PlaceFile(kOtherRegistered, "unregister.ocx");
            RegisterTypeLib(LIBID_X, kOtherRegistered);
            SetUsageCount(kOtherRegistered, 2);
            Answer({answer, answer, answer});

            Outcome outcome = Delete(kOther);

            EXPECT_TRUE(outcome.result);
            EXPECT_EQ(fileThere ? 3u : 2u, SimMessageBoxes().size());
            EXPECT_EQ(SubtreeLines(before, "HKCR\\TypeLib\\" LIBID_X), outcome.removed);
            EXPECT_FALSE(FileStays(kOtherRegistered));
        }
    }
}

// The file step fails after the control was unregistered: unregistration
// comes first, and what it did is not undone. A file that another process
// holds cannot be saved either, so that fault comes with the first question,
// once the restore folder is written; a control that was not downloaded is
// warned about before, so it cannot meet it there.
TEST_F(DeleteWorkflowTest, FailedFileStepKeepsTheRegistryAndTheList)
{
    struct Kind {
        std::string entry;
        std::string file;
        bool downloaded;
    };
    const Kind kinds[] = {{kDownload, kDownloadFile, true}, {kOther, kOtherRegistered, false}};
    struct Case {
        const char* name;
        DWORD usageCount;
        void (*fault)(const char* file);
        std::vector<int> answers;
        bool accessDenied;
        bool atFirstBox;
    };
    const Case cases[] = {
        {"refused", 1, NULL, {IDNO}, false, false},
        {"sharing refused", 2, NULL, {IDYES, IDNO}, false, false},
        // Found before anything changes, and said before any question.
        {"read-only",
         1,
         [](const char* file) { SimSetFileReadOnly(file, true); },
         {IDOK},
         true,
         false},
        {"in use", 1, [](const char* file) { SimSetFileInUse(file, true); }, {IDYES}, false, true},
    };
    for (const Kind& kind : kinds) {
        for (const Case& c : cases) {
            if (c.atFirstBox && !kind.downloaded)
                continue;
            SCOPED_TRACE(testing::Message() << kind.entry << ", " << c.name);
            Reset();
            PlaceFile(kind.file, "unregister.ocx");
            if (kind.downloaded)
                RegisterDownload(kind.entry, CLSID_X);
            RegisterTypeLib(LIBID_X, kind.file);
            SetUsageCount(kind.file, c.usageCount);
            if (c.fault != NULL && c.atFirstBox)
                atFirstBox = [&] { c.fault(kind.file.c_str()); };
            else if (c.fault != NULL)
                c.fault(kind.file.c_str());
            if (!kind.downloaded)
                SimAnswerMessageBox(IDYES);
            for (int answer : c.answers)
                SimAnswerMessageBox(answer);

            Outcome outcome = Delete(kind.entry);

            ExpectRegistryAndListKept(outcome, __LINE__);
            std::string file = FileOf(kind.entry);
            std::vector<Box> boxes = {DeleteQuestion(file)};
            if (c.accessDenied)
                boxes = {AccessDenied(file)};
            if (!kind.downloaded)
                boxes.insert(boxes.begin(), Warning(kind.entry));
            if (c.usageCount > 1)
                boxes.push_back(SharedQuestion(file));
            ExpectBoxes(outcome.dialog, boxes, __LINE__);
            EXPECT_EQ(c.accessDenied ? Entries() : Entries({file}), SimUnregisterServerCalls());
            EXPECT_TRUE(FileStays(kind.file));
        }
    }
}

TEST_F(DeleteWorkflowTest, DownloadWithoutAClassStopsAfterItsFile)
{
    PlaceFile(kDownloadFile, "unregister.ocx");
    RegisterDownload(kDownload, NULL);
    RegisterTypeLib(LIBID_X, kDownloadFile);
    SetUsageCount(kDownloadFile, 1);
    Answer({IDYES});

    Outcome outcome = Delete(kDownload);

    ExpectRegistryAndListKept(outcome, __LINE__);
    ExpectBoxes(outcome.dialog, {DeleteQuestion(kDownloadFile)}, __LINE__);
    EXPECT_EQ(Entries({kDownloadFile}), SimUnregisterServerCalls());
    EXPECT_FALSE(FileStays(kDownloadFile));
}

// A value name may hold a backslash where a key name cannot; followed as a
// key name it would reach into some class's subtree.
TEST_F(DeleteWorkflowTest, ClassNameWithABackslashIsNotFollowed)
{
    PlaceFile(kDownloadFile, "unregister.ocx");
    RegisterDownload(kDownload, CLSID_X);
    RegisterTypeLib(LIBID_X, kDownloadFile);
    SetUsageCount(kDownloadFile, 1);
    const std::string usage = kModuleUsagePath + "\\" + kDownload;
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(usage).c_str(), 0, KEY_SET_VALUE, &key));
    RegDeleteValueW(key, TEXT(CLSID_X));
    RegCloseKey(key);
    SetRegistryText(HKEY_LOCAL_MACHINE, usage, CLSID_X "\\InprocServer32", "");
    Answer({IDYES});

    Outcome outcome = Delete(kDownload);

    EXPECT_TRUE(outcome.result);
    EXPECT_EQ(Join({SubtreeLines(before, kModuleUsageKey + kDownload),
                    ValueLines(before, kSharedDllsKey, kDownloadFile),
                    SubtreeLines(before, "HKCR\\TypeLib\\" LIBID_X)}),
              outcome.removed);
}

// The usage key is how the list finds a download, so it stays when the usage
// count cannot go, and the entry with it, for another Delete to finish. A
// count that cannot be read cannot be saved either: the fault comes with
// the first question, once the restore folder is written.
TEST_F(DeleteWorkflowTest, UsageCountsThatCannotBeOpenedFailTheLastStep)
{
    PlaceFile(kDownloadFile, "unregister.ocx");
    RegisterDownload(kDownload, CLSID_X);
    RegisterTypeLib(LIBID_X, kDownloadFile);
    SetUsageCount(kDownloadFile, 1);
    atFirstBox = [] { SimDenyKeyOpen(HKEY_LOCAL_MACHINE, kSharedDllsPath.c_str()); };
    Answer({IDYES});

    Outcome outcome = Delete(kDownload);

    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(outcome.listBefore, outcome.listAfter);
    EXPECT_FALSE(FileStays(kDownloadFile));
    EXPECT_EQ(Join({SubtreeLines(before, kUnitsKey + CLSID_X),
                    SubtreeLines(before, "HKCR\\CLSID\\" CLSID_X),
                    SubtreeLines(before, "HKCR\\TypeLib\\" LIBID_X)}),
              outcome.removed);

    Reset();
    // Listed before its type library went away: the usage count is all that
    // is left, and unreadable from the start nothing goes at all.
    PlaceFile(kOtherRegistered, "unregister.ocx");
    SetUsageCount(kOtherRegistered, 1);
    SimDenyKeyOpen(HKEY_LOCAL_MACHINE, kSharedDllsPath.c_str());
    Answer({IDYES, IDOK});

    outcome = Delete(kOther);

    ExpectRegistryAndListKept(outcome, __LINE__);
    ASSERT_EQ(2u, SimMessageBoxes().size());
    EXPECT_EQ(0u, SimMessageBoxes()[1].text.rfind("Nothing was deleted", 0));
    EXPECT_TRUE(SimUnregisterServerCalls().empty());
    EXPECT_TRUE(FileStays(kOtherRegistered));
    EXPECT_FALSE(RemoveTypeLibRegistration(EntryOf(kOther)));
    EXPECT_EQ(before, Registry());

    Reset();
    // A power cut between the two: the count went first, the key stays.
    RegisterDownload(kDownload, CLSID_X);
    SetUsageCount(kDownloadFile, 1);
    before = TakeSnapshot();
    SimCutAfterChanges(1);
    RemoveModuleUsage(EntryOf(kDownload));
    SimCutAfterChanges(-1);
    EXPECT_EQ(ValueLines(before, kSharedDllsKey, kDownloadFile),
              Difference(before, TakeSnapshot()));
}

TEST_F(DeleteWorkflowTest, MissingFileAsksOnlyAboutTheRegistryEntry)
{
    for (int answer : {IDYES, IDNO}) {
        SCOPED_TRACE(testing::Message() << "answer " << answer);
        Reset();
        RegisterDownload(kDownload, CLSID_X);
        RegisterTypeLib(LIBID_X, kDownloadFile);
        SetUsageCount(kDownloadFile, 2);
        SimAnswerMessageBox(answer);

        Outcome outcome = Delete(kDownload);

        ExpectBoxes(outcome.dialog, {RegistryQuestion(kDownloadFile)}, __LINE__);
        EXPECT_TRUE(SimUnregisterServerCalls().empty());
        EXPECT_TRUE(SimProcessCommands().empty());
        if (answer == IDYES) {
            EXPECT_TRUE(outcome.result);
            EXPECT_EQ(DownloadRegistration(kDownload, CLSID_X, LIBID_X), outcome.removed);
            EXPECT_EQ(Without(outcome.listBefore, kDownload), outcome.listAfter);
        } else {
            ExpectRegistryAndListKept(outcome, __LINE__);
        }
    }
}

// The file is text, not a program: nothing is unregistered, and the
// deletion goes on all the same.
TEST_F(DeleteWorkflowTest, TextFileGoesAndOnlyACountAboveOneAsksAboutSharing)
{
    const struct {
        DWORD type; // 0: no usage count at all
        DWORD count;
        bool asked;
    } cases[] = {
        {0, 0, false},        {REG_DWORD, 0, false}, {REG_DWORD, 1, false},
        {REG_DWORD, 2, true}, {REG_DWORD, 3, true},  {REG_SZ, 2, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << ", count " << c.count);
        Reset();
        PlaceFile(kDownloadFile, NULL);
        RegisterDownload(kDownload, CLSID_X);
        RegisterTypeLib(LIBID_X, kDownloadFile);
        if (c.type == REG_DWORD)
            SetUsageCount(kDownloadFile, c.count);
        if (c.type == REG_SZ)
            SetRegistryText(HKEY_LOCAL_MACHINE, kSharedDllsPath, kDownloadFile.c_str(),
                            std::to_string(c.count));
        Answer({IDYES});
        if (c.asked)
            SimAnswerMessageBox(IDYES);

        Outcome outcome = Delete(kDownload);

        EXPECT_TRUE(outcome.result);
        std::vector<Box> boxes = {DeleteQuestion(kDownloadFile)};
        if (c.asked)
            boxes.push_back(SharedQuestion(kDownloadFile));
        ExpectBoxes(outcome.dialog, boxes, __LINE__);
        EXPECT_TRUE(SimUnregisterServerCalls().empty());
        EXPECT_TRUE(SimProcessCommands().empty());
        EXPECT_FALSE(FileStays(kDownloadFile));
        EXPECT_EQ(DownloadRegistration(kDownload, CLSID_X, LIBID_X), outcome.removed);
    }
}

TEST_F(DeleteWorkflowTest, SlashesStayInTheListedPathOnly)
{
    const std::string entry = "c:/apps/tools/unreg.ocx";
    const std::string file = "c:\\apps\\tools\\unreg.ocx";
    PlaceFile(file, "unregister.ocx");
    RegisterTypeLib(LIBID_X, "C:/Apps/Tools/unreg.ocx");
    SetUsageCount("C:\\Apps\\Tools\\unreg.ocx", 1);
    Answer({IDYES, IDYES});

    Outcome outcome = Delete(entry);

    EXPECT_TRUE(outcome.result);
    ExpectBoxes(outcome.dialog, {Warning(entry), DeleteQuestion(file)}, __LINE__);
    // Loaded as COM loads it, which takes a full path with '\'; before
    // that, the system folder's sfc.dll said whether Windows protects it.
    std::vector<SimLibraryLoad> loads = SimLibraryLoads();
    ASSERT_EQ(2u, loads.size());
    EXPECT_EQ("C:\\Windows\\system32\\sfc.dll", loads[0].path);
    loads.erase(loads.begin());
    EXPECT_EQ(file, loads[0].path);
    EXPECT_EQ(static_cast<DWORD>(LOAD_WITH_ALTERED_SEARCH_PATH), loads[0].flags);
    EXPECT_EQ(Entries({file}), SimUnregisterServerCalls());
    EXPECT_FALSE(FileStays(file));
    // The type library names the file with '/', so the file path does not
    // find it and the usage count goes in its place.
    EXPECT_EQ(ValueLines(before, kSharedDllsKey, file), outcome.removed);
    EXPECT_EQ(1u, outcome.removed.size());
}

TEST_F(DeleteWorkflowTest, KeyTreeWalkStopsAtAKeyItCannotOpen)
{
    for (const char* leaf : {"a\\1\\x", "a\\2", "b\\inner", "c\\deep\\deeper"})
        SetRegistryText(HKEY_LOCAL_MACHINE, std::string("SOFTWARE\\Tree\\") + leaf, "v", "data");
    SimDenyKeyOpen(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tree\\b");
    before = TakeSnapshot();

    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("SOFTWARE\\Tree"), 0, KEY_READ, &key));
    DeleteKeyTree(key, VIEW_32);
    RegCloseKey(key);

    after = TakeSnapshot();
    EXPECT_EQ(SubtreeLines(before, "HKLM\\SOFTWARE\\Tree\\a"), Difference(before, after));
}

// The step on its own: with a part of the library unreadable the Delete
// would stop at its restore folder, before any step.
TEST_F(DeleteWorkflowTest, TypeLibThatCannotGoWholeLeavesTheUsageCountToGo)
{
    PlaceFile(kOtherRegistered, "unregister.ocx");
    RegisterTypeLib(LIBID_X, kOtherRegistered);
    SetUsageCount(kOtherRegistered, 1);
    SimDenyKeyOpen(HKEY_CLASSES_ROOT, "TypeLib\\" LIBID_X "\\1.0\\FLAGS");
    before = TakeSnapshot();

    EXPECT_TRUE(RemoveTypeLibRegistration(EntryOf(kOther)));

    after = TakeSnapshot();
    EXPECT_EQ(0, SimOpenKeyCount());
    // The walk of 1.0 ends at FLAGS, so HELPDIR after it stays too, and the
    // module key that goes last; 2.0 goes.
    const std::string lib = "HKCR\\TypeLib\\" LIBID_X;
    EXPECT_EQ(Join({SubtreeLines(before, lib + "\\2.0"),
                    ValueLines(before, kSharedDllsKey, kOtherRegistered)}),
              Difference(before, after));
}

TEST_F(DeleteWorkflowTest, WithoutASelectionNothingHappens)
{
    for (const Entries& list : {kSiblingEntries, Entries()}) {
        SCOPED_TRACE(testing::Message() << list.size() << " entries");
        Reset();

        Outcome outcome = Delete("", list);

        ExpectRegistryAndListKept(outcome, __LINE__);
        EXPECT_TRUE(SimMessageBoxes().empty());
        EXPECT_TRUE(SimBeepHistory().empty());
        EXPECT_TRUE(SimUnregisterServerCalls().empty());
        EXPECT_TRUE(SimProcessCommands().empty());
    }
}

// 259 characters is the longest entry the list hands over; a registry key
// name, and so a download's entry, stops at 255.
TEST_F(DeleteWorkflowTest, LongestPathsAppearWholeInEveryMessage)
{
    // The limits count UTF-16 code units, of which "𝛀" takes two.
    auto filled = [](const std::string& folder, size_t length, char c) {
        return folder + std::string(length - Wide(folder).size() - 4, c) + ".ocx";
    };
    const struct {
        std::string entry;
        bool downloaded;
    } cases[] = {
        {filled("C:/Windows/Downloaded Program Files/", 255, 'd'), true},
        {filled("C:/Windows/Downloaded Program Files/Жук 𝛀/", 255, 'd'), true},
        {filled("c:\\program files\\vendor\\", 259, 'o'), false},
        {filled("c:\\program files\\Ωmega 東京 𝛀\\", 259, 'o'), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.entry << ", " << Wide(c.entry).size() << " characters");
        Reset();
        std::string file = FileOf(c.entry);
        PlaceFile(file, "unregister.ocx");
        if (c.downloaded)
            RegisterDownload(c.entry, CLSID_X);
        RegisterTypeLib(LIBID_X, file);
        SetUsageCount(file, 2);
        if (!c.downloaded)
            Answer({IDYES});
        Answer({IDYES, IDNO});

        Outcome outcome = Delete(c.entry);

        std::vector<Box> boxes = {DeleteQuestion(file), SharedQuestion(file)};
        if (!c.downloaded)
            boxes.insert(boxes.begin(), Warning(c.entry));
        ExpectBoxes(outcome.dialog, boxes, __LINE__);
        EXPECT_EQ(Entries({file}), SimUnregisterServerCalls());
        ExpectRegistryAndListKept(outcome, __LINE__);

        // The file that cannot go is named whole too, before anything changes.
        SimSetFileReadOnly(file.c_str(), true);
        if (!c.downloaded)
            Answer({IDYES});
        Answer({IDOK});
        size_t shown = SimMessageBoxes().size();
        outcome = Delete(c.entry);
        ASSERT_EQ(shown + (c.downloaded ? 1 : 2), SimMessageBoxes().size());
        EXPECT_EQ(AccessDenied(file).text, SimMessageBoxes().back().text);
        EXPECT_EQ(Entries({file}), SimUnregisterServerCalls());
    }
}

TEST_F(DeleteWorkflowTest, DeleteFromTheDialogRefreshesTheListWithoutTheControl)
{
    const std::string tool = "C:\\Apps\\Tool.ocx";
    PlaceFile(kDownloadFile, "unregister.ocx");
    RegisterDownload(kDownload, CLSID_X);
    SetUsageCount(kDownloadFile, 1);
    PlaceFile(tool, NULL);
    RegisterTypeLib(LIBID_X, tool);
    std::vector<Entries> seen;
    HWND dialog = NULL;
    auto look = [&] {
        SimAddUserAction([&] {
            dialog = SimActiveDialog();
            seen.push_back(ListBoxItems(dialog, IDC_CONTROL_LIST));
        });
    };
    auto deleteEntry = [](const std::string& entry) {
        SimAddUserAction([entry] {
            Entries items = ListBoxItems(SimActiveDialog(), IDC_CONTROL_LIST);
            int index =
                static_cast<int>(std::find(items.begin(), items.end(), entry) - items.begin());
            SimSelectListEntry(SimActiveDialog(), IDC_CONTROL_LIST, index);
        });
        SimAddUserAction([] { SimClickButton(SimActiveDialog(), IDC_DELETE); });
    };
    look();
    deleteEntry(kDownload);
    look();
    deleteEntry("c:\\apps\\tool.ocx");
    look();
    SimAddUserAction([] { SimClickButton(SimActiveDialog(), IDC_EXIT); });
    Answer({IDYES, IDYES, IDYES});

    WCHAR commandLine[] = TEXT("");
    EXPECT_EQ(1, wWinMain(GetModuleHandleW(NULL), NULL, commandLine, 1));

    ASSERT_EQ(3u, seen.size());
    EXPECT_EQ(Entries({kSiblingDownload, kDownload, "c:\\apps\\tool.ocx", kSiblingOther}), seen[0]);
    EXPECT_EQ(Entries({kSiblingDownload, "c:\\apps\\tool.ocx", kSiblingOther}), seen[1]);
    EXPECT_EQ(Entries({kSiblingDownload, kSiblingOther}), seen[2]);
    ExpectBoxes(dialog,
                {DeleteQuestion(kDownloadFile), Warning("c:\\apps\\tool.ocx"),
                 DeleteQuestion("c:\\apps\\tool.ocx")},
                __LINE__);
    EXPECT_FALSE(FileStays(kDownloadFile));
    EXPECT_FALSE(FileStays(tool));
}

// Delete touches no window: its questions, its beeps and the other entries
// of the list go through the dialogue its caller gives it.
struct ScriptedDialogue {
    Entries entries;
    std::vector<int> answers;
    std::vector<Box> asked;
    std::vector<UINT> beeps;
};

static int AskScript(void* context, const WCHAR* text, const WCHAR* caption, UINT type)
{
    ScriptedDialogue& script = *static_cast<ScriptedDialogue*>(context);
    script.asked.push_back({Utf8(text), Utf8(caption), type});
    if (script.answers.empty())
        return IDCANCEL;
    int answer = script.answers.front();
    script.answers.erase(script.answers.begin());
    return answer;
}

static void BeepScript(void* context, UINT type)
{
    static_cast<ScriptedDialogue*>(context)->beeps.push_back(type);
}

static LRESULT CountScriptEntries(void* context)
{
    return static_cast<LRESULT>(static_cast<ScriptedDialogue*>(context)->entries.size());
}

static bool ReadScriptEntry(void* context, LRESULT index, ControlEntry& entry)
{
    entry = EntryOf(static_cast<ScriptedDialogue*>(context)->entries.at(index));
    return true;
}

TEST_F(DeleteWorkflowTest, DeleteAsksAndBeepsThroughItsCallerAlone)
{
    const struct {
        const char* name;
        Entries others; // the list around the control, which is its last entry
        std::vector<int> answers;
        BOOL result;
    } cases[] = {
        {"refused warning", {}, {IDNO}, FALSE},
        {"named by no other entry", {kSiblingOther}, {IDYES, IDYES}, TRUE},
        {"named by another entry", {kOtherRegistered}, {IDYES, IDYES, IDNO}, FALSE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        PlaceFile(kOtherRegistered, "unregister.ocx");
        RegisterTypeLib(LIBID_X, kOtherRegistered);
        ScriptedDialogue script = {c.others, c.answers, {}, {}};
        script.entries.push_back(kOther);
        DeleteDialogue dialogue = {AskScript,       BeepScript, CountScriptEntries,
                                   ReadScriptEntry, &script,    NULL};

        BOOL result =
            DeleteListedControl(dialogue, static_cast<LRESULT>(c.others.size()), EntryOf(kOther));

        EXPECT_EQ(c.result, result);
        std::vector<Box> expected = {Warning(kOther)};
        if (c.answers.size() > 1)
            expected.push_back(DeleteQuestion(kOther));
        if (c.answers.size() > 2)
            expected.push_back(SharedQuestion(kOther));
        ASSERT_EQ(expected.size(), script.asked.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            SCOPED_TRACE(testing::Message() << "question " << i);
            EXPECT_EQ(expected[i].text, script.asked[i].text);
            EXPECT_EQ(expected[i].caption, script.asked[i].caption);
            EXPECT_EQ(expected[i].type, script.asked[i].type);
        }
        EXPECT_EQ(std::vector<UINT>({MB_ICONHAND, MB_ICONHAND}), script.beeps);
        EXPECT_TRUE(SimBeepHistory().empty());
        EXPECT_TRUE(SimMessageBoxes().empty());
        EXPECT_EQ(c.result, !FileStays(kOtherRegistered));
    }
}
