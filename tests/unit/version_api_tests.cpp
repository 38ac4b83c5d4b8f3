#include "app/app.h"
#include "app/control_ids.h"
#include "details/details.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <win32sim.h>

#include <string>
#include <vector>

static const char kSystemVersionDll[] = "C:\\Windows\\system32\\version.dll";

class VersionApiTest : public testing::Test {
  protected:
    void SetUp() override
    {
        FreeVersionApi();
        SimReset();
    }
    void TearDown() override
    {
        FreeVersionApi();
    }
};

static void ExpectLoads(const std::vector<SimLibraryLoad>& expected, int line)
{
    SCOPED_TRACE(testing::Message() << "loads expected at line " << line);
    std::vector<SimLibraryLoad> loads = SimLibraryLoads();
    ASSERT_EQ(expected.size(), loads.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(expected[i].path, loads[i].path) << "load " << i;
        EXPECT_EQ(expected[i].flags, loads[i].flags) << "load " << i;
    }
}

// Two files are shown; version.dll is loaded once when it loads at all, and
// a failed load is tried again for the next file.
TEST_F(VersionApiTest, LoadedFromTheSystemFolderOnly)
{
    const SimLibraryLoad bySearchFlag = {kSystemVersionDll, LOAD_LIBRARY_SEARCH_SYSTEM32};
    const SimLibraryLoad byFullPath = {kSystemVersionDll, LOAD_WITH_ALTERED_SEARCH_PATH};
    const struct {
        const char* system;
        bool refuseFlag;
        bool removeDll;
        std::vector<SimLibraryLoad> loadsPerFile;
        bool loaded;
    } cases[] = {
        {"with the search flags", false, false, {bySearchFlag}, true},
        {"without the search flags", true, false, {bySearchFlag, byFullPath}, true},
        {"without version.dll", false, true, {bySearchFlag}, false},
        {"older, without version.dll", true, true, {bySearchFlag, byFullPath}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.system);
        SetUp();
        if (c.refuseFlag)
            SimRefuseSearchFlags();
        if (c.removeDll)
            SimRemoveSystemVersionDll();

        std::vector<std::string> rows[2];
        std::string version[2], publisher[2];
        WithMainDialog([&](HWND dialog) {
            for (int i = 0; i < 2; ++i) {
                ShowFileDetails(dialog, EntryOf(FixturePath(i == 0 ? "full.ocx" : "partial.exe")),
                                VersionStringTable, GetProcessHeap());
                rows[i] = ListBoxItems(dialog, IDC_FILE_INFO_LIST);
                version[i] = DialogItemText(dialog, IDC_VERSION);
                publisher[i] = DialogItemText(dialog, IDC_PUBLISHER);
            }
        });

        std::vector<SimLibraryLoad> expected = c.loadsPerFile;
        if (!c.loaded)
            expected.insert(expected.end(), c.loadsPerFile.begin(), c.loadsPerFile.end());
        ExpectLoads(expected, __LINE__);
        if (c.loaded) {
            EXPECT_EQ(12u, rows[0].size());
            EXPECT_EQ("5.1.2600.0", version[0]);
            EXPECT_EQ("Fixture Works", publisher[0]);
            EXPECT_EQ("2.0.0.4", version[1]);
        } else {
            // As for a file without version data.
            for (int i = 0; i < 2; ++i) {
                EXPECT_TRUE(rows[i].empty());
                EXPECT_EQ("Unknown", version[i]);
                EXPECT_EQ("Unknown", publisher[i]);
            }
        }
        EXPECT_EQ(0, SimLoadedModuleCount());
    }
}
