#pragma once

#include "e2e/driver.h"
#include "unit/registry_snapshot.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace e2e {

inline constexpr const char* kModuleUsage =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\ModuleUsage";
inline constexpr const char* kTypeLib = "TypeLib";

// A browser download: a ModuleUsage subkey named after the file's path with
// '/' in place of '\'.
void RegisterDownload(const std::string& keyName);
void RegisterTypeLibFile(const std::string& libid, const std::string& version, const char* platform,
                         const std::string& path, DWORD type = REG_SZ, const char* locale = "0");

// A message box of the program: always captioned "Burrowlens" with OK alone.
struct ExpectedBox {
    std::string text;
    std::string icon; // as MessageBoxView names it
};

// A box of the program as a user sees it.
struct BoxView {
    std::string caption;
    MessageBoxView view;
};

struct Control;
struct Exchange;

// The tests share the program's registry, which belongs to this test run
// alone: every test starts with neither registration key present and seeds
// exactly what it needs.
class ProgramTest : public testing::Test {
  protected:
    void SetUp() override;

    // Waits for the next box, checks it and closes it with OK.
    bool ExpectBoxAndAnswer(const ExpectedBox& expected, Where where = Where::current());
    // Waits for the next box of the program, the only one open, checks it
    // and answers it.
    bool AnswerBox(const BoxView& expected, int answer, Where where = Where::current());
    bool Converse(const Exchange& exchange, const Control& control, Where where = Where::current());
    // The program has settled with this list, entry 0 selected and no box open.
    void ExpectListShown(const std::vector<std::string>& expected, Where where = Where::current());
    void ExpectExitCode(DWORD expected, Where where = Where::current());
    // Starts the program with one download registered and waits for its list.
    bool StartWithOneDownload(Where where = Where::current());

    Burrowlens app;
};

// Where the tests put control files: the browser's download folder, listed
// with '/' as the browser registers it, and a folder of the kind an installer
// uses, listed from its type libraries.
inline constexpr const char* kDownloadFolder = "C:\\windows\\Downloaded Program Files";
inline constexpr const char* kListedDownloadFolder = "C:/windows/Downloaded Program Files";
inline constexpr const char* kInstallFolder = "C:\\Controls";
// A file of either folder by its name, and a download as the list shows it.
std::string InDownloadFolder(const char* name);
std::string InInstallFolder(const char* name);
std::string ListedDownload(const char* name);

inline constexpr const char* kSharedDlls =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
inline constexpr const char* kDistributionUnits =
    "SOFTWARE\\Microsoft\\Code Store Database\\Distribution Units";

// A download as the browser registers it: the ModuleUsage entry names the
// class that owns the file.
void RegisterDownloadedClass(const std::string& keyName, const std::string& clsid);
// The type library a class comes from, and the name that library gives itself.
void RegisterClassLibrary(const std::string& clsid, const std::string& libid,
                          const std::string& version);
void NameTypeLib(const std::string& libid, const std::string& version, const std::string& name);
void AddImplementedCategory(const std::string& clsid, const std::string& catid,
                            const std::string& description);
void SetUsageCount(const std::string& path, DWORD count);

// A control as the tests register it and as the program names it.
struct Control {
    bool download;
    std::string file;   // as registered
    std::string listed; // as the list shows it
    std::string asked;  // as the questions name it: as listed, with '\'
    std::string clsid;
    std::string libid;
    // On 64-bit Windows: the key under the library's locale that names the
    // file, win32 or win64, and the view in which the rest is registered.
    const char* platform = "win32";
};
// How the list marks an entry of the 64-bit view.
inline constexpr const char* k64BitMark = " (64-bit)";
// A control of the 64-bit view: registered there, listed with the mark.
Control In64BitView(Control control);
// Registers a control in its own view.
void RegisterInView(const Control& control, DWORD usageCount);
bool RunningUnderWow64();
// The system's words for an error, as the program quotes them.
std::string SystemMessage(DWORD error);

std::string ReadWhole(const std::string& path);
std::string TempPath(const char* name);

// Where the program's standard error goes: a file, a pipe, or nowhere, as
// when it is started from Explorer.
enum class ErrorOutput { File, Pipe, None };

// What a run from a command line left behind, watched from outside.
struct Outcome {
    DWORD code = 0;
    std::string output; // standard output, which goes to a file
    std::string errors;
    // The caption and text of each window it showed; boxes are answered OK.
    std::vector<std::string> windows;
};
Outcome RunProgram(const std::string& arguments, ErrorOutput output,
                   Where where = Where::current());

Control DownloadedControl(const char* name, const std::string& clsid, const std::string& libid);
// An installer registers the file in its own letter case; the list shows it lower-cased.
Control InstalledControl(const char* name, const char* listed, const std::string& clsid,
                         const std::string& libid);
// Everything an installer, or the browser for a download, writes for a control.
void Register(const Control& control, DWORD usageCount);

// The questions and notices of the Delete command, for the control asked about.
enum class Box { Warning, DeleteFile, SharedFile, RegistryEntry, AccessDenied, HeldFile };

BoxView Expected(Box box, const Control& control);
// Why a Delete changed nothing: it could not save what it would remove.
BoxView RestoreFailedBox(const std::string& reason, const std::string& subject);

struct Exchange {
    Box box;
    int answer;
};

Exchange Yes(Box box);
Exchange No(Box box);
Exchange Ok(Box box);

template <typename... Exchanges> std::vector<Exchange> Dialogue(Exchanges... exchanges)
{
    return {exchanges...};
}

// What the Delete command may touch, and the rest of HKLM\SOFTWARE for what it
// must not.
RegistrySnapshot Snapshot();

// Every class, library and category the tests register has a GUID that
// starts so, and only files in the two folders above get usage counts.
inline constexpr const char* kTestGuidPrefix = "{E2E0";
// Takes all of that away again; ProgramTest wipes only the two keys the scan reads.
void ForgetTestRegistrations();

// The times a test gives a file. Under Wine the creation time cannot be set
// and reads back as the last write time.
struct FileTimes {
    SYSTEMTIME written;
    SYSTEMTIME created;
    SYSTEMTIME accessed;
};

SYSTEMTIME Utc(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second);

bool RunningUnderWine();
bool FileExists(const std::string& path);

// Files and folders a test puts under C:\, and those the program or a
// fixture makes beside them: all go again, with the folders made for them,
// when the object does.
class PlacedFiles {
  public:
    PlacedFiles() = default;
    PlacedFiles(const PlacedFiles&) = delete;
    PlacedFiles& operator=(const PlacedFiles&) = delete;
    ~PlacedFiles();

    // A copy of a fixture file.
    void Copy(const char* fixture, const std::string& path, const FileTimes& times,
              Where where = Where::current());
    void Folder(const std::string& path, const FileTimes& times, Where where = Where::current());
    // A file that something else may create; it is removed at the end too.
    void Expect(const std::string& path);

  private:
    void MakeParents(const std::string& path, Where where);
    void SetTimes(const std::string& path, const FileTimes& times, Where where);

    std::vector<std::string> files_;
    std::vector<std::string> folders_; // in the order they were made
};

// 64-bit Windows as the 32-bit program finds it: a download of each view;
// a library for 64-bit code alone; and one for both, whose 32-bit and 64-bit
// files share one registered name and lie in SysWOW64 and System32, with
// version resources of their own. Each control's file is placed where it
// really lies (place) and registered as its view names it (file).
struct Wow64Control {
    Control control;
    std::string place;
};
std::vector<Wow64Control> RegisterWow64Controls(PlacedFiles& files, const FileTimes& times);

ExpectedBox KeyOpenFailedBox(int line);
ExpectedBox AccessDeniedBox();
ExpectedBox NoControlsBox();

} // namespace e2e
