#include "e2e/fixture.h"

#include "app/control_ids.h"
#include "support/test_support.h"

#include <cctype>
#include <memory>

namespace e2e {
namespace {

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string SystemRoot()
{
    char path[MAX_PATH] = "";
    GetEnvironmentVariableA("SystemRoot", path, sizeof path);
    return path;
}

using ScanTest = ProgramTest;

TEST_F(ScanTest, ListsDownloadsAsStoredAndOtherControlFilesLowerCased)
{
    RegisterDownload("C:/WINDOWS/Downloaded Program Files/Flash.OCX");
    RegisterDownload("c:/windows/DOWNLOADED PROGRAM FILES/mixed.ocx");
    RegisterDownload("C:/Windows/OCCACHE/Chart.ocx");
    // The marker is a folder prefix, so a sibling folder that starts alike counts.
    RegisterDownload("C:/Windows/Downloaded Program Files (2)/Again.ocx");
    // Neither lies inside a download folder.
    RegisterDownload("C:/Windows/System32/Plain.dll");
    RegisterDownload("C:/Windows/occache");
    RegisterTypeLibFile("{11111111-0000-0000-0000-000000000001}", "1.0", "win32",
                        "C:\\Windows\\System32\\MSCOMCTL.OCX");
    RegisterTypeLibFile("{11111111-0000-0000-0000-000000000002}", "2.0", "win32",
                        "C:\\Windows\\System32\\Dual.OCX");
    RegisterTypeLibFile("{11111111-0000-0000-0000-000000000002}", "2.0", "win16",
                        "C:\\Windows\\System\\Dual.VBX");
    RegisterTypeLibFile("{11111111-0000-0000-0000-000000000003}", "1.0", "win32",
                        "%SystemRoot%\\System32\\Expanded.OCX", REG_EXPAND_SZ);
    // Named again, by a second type library and in other letters.
    RegisterTypeLibFile("{11111111-0000-0000-0000-000000000004}", "1.1", "win32",
                        "c:\\windows\\system32\\MSComCtl.ocx");
    // The registered download, named by its type library in other letters: once.
    RegisterTypeLibFile("{11111111-0000-0000-0000-000000000005}", "1.0", "win32",
                        "C:\\Windows\\Downloaded Program Files\\FLASH.ocx");
    // In a download folder but not registered as a download.
    RegisterTypeLibFile("{11111111-0000-0000-0000-000000000006}", "1.0", "win32",
                        "C:\\Windows\\OCCACHE\\Stray.ocx");
    // Registered under ModuleUsage outside any download folder.
    RegisterTypeLibFile("{11111111-0000-0000-0000-000000000007}", "1.0", "win32",
                        "C:\\Windows\\System32\\Plain.dll");
    // Only the locale 0 is read.
    RegisterTypeLibFile("{11111111-0000-0000-0000-000000000008}", "1.0", "win32",
                        "C:\\Windows\\System32\\German.ocx", REG_SZ, "7");

    ASSERT_TRUE(app.Start());

    ExpectListShown({
        "C:/Windows/Downloaded Program Files (2)/Again.ocx",
        "C:/WINDOWS/Downloaded Program Files/Flash.OCX",
        "c:/windows/DOWNLOADED PROGRAM FILES/mixed.ocx",
        "C:/Windows/OCCACHE/Chart.ocx",
        "c:\\windows\\occache\\stray.ocx",
        "c:\\windows\\system\\dual.vbx",
        "c:\\windows\\system32\\dual.ocx",
        Lower(SystemRoot()) + "\\system32\\expanded.ocx",
        "c:\\windows\\system32\\mscomctl.ocx",
        "c:\\windows\\system32\\mscomctl.ocx",
        "c:\\windows\\system32\\plain.dll",
    });
    EXPECT_TRUE(app.Enabled(IDC_DELETE));
}

// What the scan shows when a registration key cannot be read, and what
// follows: the list, or the end of the program when nothing is left.
struct BoxFlow {
    const char* name;
    void (*seed)(std::unique_ptr<DeniedKey>& denied);
    std::vector<ExpectedBox> boxes;
    std::vector<std::string> list;
};

void PrintTo(const BoxFlow& flow, std::ostream* out)
{
    *out << flow.name;
}

void RegisterThreeTypeLibFiles()
{
    RegisterTypeLibFile("{22222222-0000-0000-0000-000000000001}", "1.0", "win32",
                        "C:\\Windows\\System32\\Chart.ocx");
    RegisterTypeLibFile("{22222222-0000-0000-0000-000000000001}", "1.0", "win16",
                        "C:\\Windows\\System\\Chart.vbx");
    RegisterTypeLibFile("{22222222-0000-0000-0000-000000000002}", "2.0", "win32",
                        "C:\\Program Files\\Grid\\GRID32.OCX");
}

const std::vector<std::string> kThreeTypeLibFiles = {
    "c:\\program files\\grid\\grid32.ocx",
    "c:\\windows\\system\\chart.vbx",
    "c:\\windows\\system32\\chart.ocx",
};

const BoxFlow kBoxFlows[] = {
    {"ModuleUsageMissing",
     [](std::unique_ptr<DeniedKey>&) { RegisterThreeTypeLibFiles(); },
     {KeyOpenFailedBox(446), KeyOpenFailedBox(1906), KeyOpenFailedBox(1906),
      KeyOpenFailedBox(1906)},
     kThreeTypeLibFiles},
    {"ModuleUsageDenied",
     [](std::unique_ptr<DeniedKey>& denied) {
         RegisterThreeTypeLibFiles();
         // Out of sight with the rest of the key.
         RegisterDownload("C:/Windows/occache/Hidden.ocx");
         denied = std::make_unique<DeniedKey>(HKEY_LOCAL_MACHINE, kModuleUsage);
     },
     {AccessDeniedBox(), AccessDeniedBox(), AccessDeniedBox(), AccessDeniedBox()},
     kThreeTypeLibFiles},
    {"TypeLibMissing",
     [](std::unique_ptr<DeniedKey>&) {
         RegisterDownload("C:/Windows/occache/Chart.ocx");
         RegisterDownload("C:/Windows/Downloaded Program Files/Grid.ocx");
     },
     {KeyOpenFailedBox(730)},
     {"C:/Windows/Downloaded Program Files/Grid.ocx", "C:/Windows/occache/Chart.ocx"}},
    {"NothingRegistered",
     [](std::unique_ptr<DeniedKey>&) {
         CreateRegistryKey(HKEY_LOCAL_MACHINE, kModuleUsage);
         CreateRegistryKey(HKEY_CLASSES_ROOT, kTypeLib);
     },
     {NoControlsBox()},
     {}},
    {"OnlyFilesOutsideDownloadFolders",
     [](std::unique_ptr<DeniedKey>&) {
         RegisterDownload("C:/Windows/System32/Plain.dll");
         RegisterDownload("C:/Windows/occache");
         CreateRegistryKey(HKEY_CLASSES_ROOT, kTypeLib);
     },
     {NoControlsBox()},
     {}},
    {"NeitherKeyExists",
     [](std::unique_ptr<DeniedKey>&) {},
     {KeyOpenFailedBox(446), KeyOpenFailedBox(730), NoControlsBox()},
     {}},
};

class BoxFlowTest : public ProgramTest, public testing::WithParamInterface<BoxFlow> {
  protected:
    std::unique_ptr<DeniedKey> denied;
};

TEST_P(BoxFlowTest, ShowsEachBoxInTurnThenTheListOrEnds)
{
    const BoxFlow& flow = GetParam();
    flow.seed(denied);

    ASSERT_TRUE(app.Start());

    for (size_t i = 0; i < flow.boxes.size(); ++i) {
        SCOPED_TRACE("box " + std::to_string(i + 1) + " of " + std::to_string(flow.boxes.size()));
        ASSERT_TRUE(ExpectBoxAndAnswer(flow.boxes[i]));
    }
    if (flow.list.empty())
        ExpectExitCode(1);
    else
        ExpectListShown(flow.list);
}

INSTANTIATE_TEST_SUITE_P(Scan, BoxFlowTest, testing::ValuesIn(kBoxFlows),
                         [](const testing::TestParamInfo<BoxFlow>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
} // namespace e2e
