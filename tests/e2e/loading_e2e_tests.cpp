#include "e2e/fixture.h"

#include "app/control_ids.h"
#include "support/test_support.h"

namespace e2e {
namespace {

const FileTimes kTimes = {Utc(2004, 2, 3, 4, 5, 6), Utc(2004, 2, 3, 4, 5, 6),
                          Utc(2033, 1, 2, 3, 4, 5)};

// The program as it could lie in a Downloads folder, with DLLs of someone
// else's beside it.
const char kProgramFolder[] = "C:\\Downloads";
const std::string kProgramCopy = std::string(kProgramFolder) + "\\burrowlens.exe";

// Windows' search order for one DLL, for every copy of the program started
// while the object lives: Wine's own order would load its built-in DLL
// first. The setting is Wine's per-program one, which the program reads at
// start; an environment variable set here would not reach it.
class NativeFirst {
  public:
    explicit NativeFirst(const char* dll)
    {
        SetRegistryText(HKEY_CURRENT_USER, std::string(kAppDefaults) + "\\DllOverrides", dll,
                        "native,builtin");
    }
    NativeFirst(const NativeFirst&) = delete;
    NativeFirst& operator=(const NativeFirst&) = delete;
    ~NativeFirst()
    {
        DeleteRegistryTree(HKEY_CURRENT_USER, kAppDefaults);
    }

  private:
    static constexpr const char* kAppDefaults = "Software\\Wine\\AppDefaults\\burrowlens.exe";
};

class LoadingTest : public ProgramTest {
  protected:
    // The program copied to the Downloads folder, beside a DLL of the given
    // fixture under the name it takes there.
    void PlaceProgramBeside(const char* fixture, const char* name)
    {
        files.Copy(fixture, std::string(kProgramFolder) + "\\" + name, kTimes);
        ASSERT_TRUE(CopyFileA(ProgramPath().c_str(), kProgramCopy.c_str(), TRUE)) << GetLastError();
        files.Expect(kProgramCopy);
    }

    PlacedFiles files;
};

// Wine's own user32.dll imports version.dll, so under Wine the planted DLL
// is loaded before the program runs at all; Windows' user32 does not. What
// the program controls is that its version data never comes from there.
TEST_F(LoadingTest, VersionDllBesideTheProgramIsNeverUsed)
{
    const std::string planted = std::string(kProgramFolder) + "\\version.dll";
    files.Expect(planted + ".loaded");
    files.Expect(planted + ".called");
    PlaceProgramBeside("planted_version.dll", "version.dll");
    files.Copy("full.ocx", InDownloadFolder("full.ocx"), kTimes);
    RegisterDownload(ListedDownload("full.ocx"));
    CreateRegistryKey(HKEY_CLASSES_ROOT, kTypeLib);
    NativeFirst windowsOrder("version");

    ASSERT_TRUE(app.Start(kProgramCopy));
    ExpectListShown({ListedDownload("full.ocx")});

    EXPECT_FALSE(FileExists(planted + ".called")) << "the program used the planted version.dll";
    if (!RunningUnderWine()) {
        EXPECT_FALSE(FileExists(planted + ".loaded")) << "the planted version.dll ran";
    }
    EXPECT_EQ("5.1.2600.0", app.Text(IDC_VERSION));
    EXPECT_EQ("Fixture Works", app.Text(IDC_PUBLISHER));
    EXPECT_EQ(12u, app.ListItems(IDC_FILE_INFO_LIST).size());
    app.Click(IDC_EXIT);
    ExpectExitCode(1);
}

// The control needs helper.dll, which lies beside it; a DLL of that name
// beside the program is someone else's.
TEST_F(LoadingTest, ControlFindsItsOwnDependencyAndNotOneBesideTheProgram)
{
    const std::string decoy = std::string(kProgramFolder) + "\\helper.dll";
    files.Expect(decoy + ".loaded");
    PlaceProgramBeside("decoy_helper.dll", "helper.dll");
    const std::string control = InInstallFolder("dependent.ocx");
    files.Copy("dependent.ocx", control, kTimes);
    files.Copy("helper.dll", InInstallFolder("helper.dll"), kTimes);
    files.Expect(control + ".unregistered");
    const std::string libId = std::string(kTestGuidPrefix) + "0000-0000-4000-8000-0000000000F1}";
    CreateRegistryKey(HKEY_LOCAL_MACHINE, kModuleUsage);
    RegisterTypeLibFile(libId, "1.0", "win32", control);
    NameTypeLib(libId, "1.0", "Dependent Control Library");

    ASSERT_TRUE(app.Start(kProgramCopy));
    ExpectListShown({"c:\\controls\\dependent.ocx"});
    app.Click(IDC_DELETE);
    // Not a download: a warning first, then the question about the file,
    // which the user refuses after the control has unregistered itself.
    HWND warning = app.WaitForOwnedDialog("Warning!");
    ASSERT_NE(nullptr, warning);
    ASSERT_TRUE(app.Answer(warning, IDYES));
    HWND question = app.WaitForOwnedDialog("Burrowlens");
    ASSERT_NE(nullptr, question);
    ASSERT_TRUE(app.Answer(question, IDNO));
    ASSERT_TRUE(app.Settle());

    EXPECT_TRUE(FileExists(control + ".unregistered")) << "the control did not unregister";
    EXPECT_FALSE(FileExists(decoy + ".loaded")) << "the DLL beside the program was loaded";
    EXPECT_TRUE(FileExists(control));
    app.Click(IDC_EXIT);
    ExpectExitCode(1);
}

} // namespace
} // namespace e2e
