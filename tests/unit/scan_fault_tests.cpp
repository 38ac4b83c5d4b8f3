#include "app/app.h"
#include "app/control_ids.h"
#include "base/text.h"
#include "inventory/inventory.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <win32sim.h>

#include <string>
#include <vector>

typedef std::vector<std::string> Entries;

static const std::string kModuleUsage = Utf8(MODULE_USAGE_PATH);

// Faults that Windows produces only rarely: odd statuses in the middle of a
// walk, keys that vanish while they are walked, a list that refuses entries.
class ScanFaultTest : public testing::Test {
  protected:
    void SetUp() override
    {
        SimReset();
        for (const char* name : {"C:/D/OCCACHE/a.ocx", "C:/D/OCCACHE/b.ocx", "C:/D/OCCACHE/c.ocx"})
            CreateRegistryKey(HKEY_LOCAL_MACHINE, kModuleUsage + "\\" + name);
        CreateRegistryKey(HKEY_CLASSES_ROOT, "TypeLib");
    }
    void TearDown() override
    {
        EXPECT_EQ(0, SimOpenKeyCount());
        EXPECT_EQ(0, SimUnscriptedMessageBoxCount());
    }

    static Entries ScanDownloads()
    {
        Entries entries;
        WithMainDialog([&](HWND dialog) {
            WCHAR path[MAX_PATH] = MODULE_USAGE_PATH;
            EXPECT_TRUE(AddDownloadedControls(dialog, HKEY_LOCAL_MACHINE, path, TEXT(""), VIEW_32));
            entries = ListBoxItems(dialog, IDC_CONTROL_LIST);
        });
        return entries;
    }
    static Entries ScanTypeLibs()
    {
        Entries entries;
        WithMainDialog([&](HWND dialog) {
            WCHAR path[MAX_PATH] = TEXT("TypeLib");
            AddTypeLibControls(dialog, HKEY_CLASSES_ROOT, path, TEXT(""));
            entries = ListBoxItems(dialog, IDC_CONTROL_LIST);
        });
        return entries;
    }
};

TEST_F(ScanFaultTest, AFailingStatusEndsTheDownloadWalkWithoutRepeats)
{
    struct Case {
        DWORD index;
        LONG status;
        Entries expected;
    } cases[] = {
        {0, ERROR_MORE_DATA, {}},
        {1, ERROR_MORE_DATA, {"C:/D/OCCACHE/a.ocx"}},
        {1, ERROR_INVALID_PARAMETER, {"C:/D/OCCACHE/a.ocx"}},
        {2, ERROR_ACCESS_DENIED, {"C:/D/OCCACHE/a.ocx", "C:/D/OCCACHE/b.ocx"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "index " << c.index << " status " << c.status);
        SetUp();
        SimFailEnumAt(HKEY_LOCAL_MACHINE, kModuleUsage.c_str(), c.index, c.status);
        EXPECT_EQ(c.expected, ScanDownloads());
    }
}

TEST_F(ScanFaultTest, AKeyRemovedDuringTheWalkIsNotListed)
{
    SimBeforeEnumAt(HKEY_LOCAL_MACHINE, kModuleUsage.c_str(), 1, [] {
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, kModuleUsage + "\\C:/D/OCCACHE/b.ocx");
    });
    EXPECT_EQ(Entries({"C:/D/OCCACHE/a.ocx", "C:/D/OCCACHE/c.ocx"}), ScanDownloads());
}

TEST_F(ScanFaultTest, TheWholeKeyRemovedDuringTheWalkEndsIt)
{
    SimBeforeEnumAt(HKEY_LOCAL_MACHINE, kModuleUsage.c_str(), 1,
                    [] { DeleteRegistryTree(HKEY_LOCAL_MACHINE, kModuleUsage); });
    EXPECT_EQ(Entries({"C:/D/OCCACHE/a.ocx"}), ScanDownloads());
}

TEST_F(ScanFaultTest, TypeLibWalksEndAtTheFirstFailureOnBothLevels)
{
    for (const char* lib : {"{A}", "{B}", "{C}"}) {
        for (const char* version : {"1.0", "2.0"})
            SetRegistryText(HKEY_CLASSES_ROOT,
                            std::string("TypeLib\\") + lib + "\\" + version + "\\0\\win32", "",
                            std::string("c:\\") + lib + version + ".dll");
    }
    SimFailEnumAt(HKEY_CLASSES_ROOT, "TypeLib\\{A}", 1, ERROR_INVALID_PARAMETER);
    SimFailEnumAt(HKEY_CLASSES_ROOT, "TypeLib", 2, ERROR_INVALID_PARAMETER);
    SimDenyKeyOpen(HKEY_CLASSES_ROOT, "TypeLib\\{B}");

    EXPECT_EQ(Entries({"c:\\{a}1.0.dll"}), ScanTypeLibs());
    EXPECT_TRUE(SimMessageBoxes().empty());
}

TEST_F(ScanFaultTest, TheDownloadCheckStopsAtAFailingStatus)
{
    SimFailEnumAt(HKEY_LOCAL_MACHINE, kModuleUsage.c_str(), 1, ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(IsDownloadedControl(NULL, TEXT("c:\\d\\occache\\a.ocx"), VIEW_32));
    EXPECT_FALSE(IsDownloadedControl(NULL, TEXT("c:\\d\\occache\\b.ocx"), VIEW_32));
    EXPECT_FALSE(IsDownloadedControl(NULL, TEXT("c:\\d\\occache\\c.ocx"), VIEW_32));
}

TEST_F(ScanFaultTest, ARefusedEntryLeavesTheExtentAlone)
{
    WithMainDialog([](HWND dialog) {
        SimFailListAdds(3);
        WCHAR path[MAX_PATH] = MODULE_USAGE_PATH;
        AddDownloadedControls(dialog, HKEY_LOCAL_MACHINE, path, TEXT(""), VIEW_32);
        EXPECT_EQ(0, SendDlgItemMessageW(dialog, IDC_CONTROL_LIST, LB_GETCOUNT, 0, 0));
        EXPECT_EQ(0, SendDlgItemMessageW(dialog, IDC_CONTROL_LIST, LB_GETHORIZONTALEXTENT, 0, 0));
    });
}

TEST_F(ScanFaultTest, TheExtentIsTheItemWidthPlusForty)
{
    WithMainDialog([](HWND dialog) {
        WCHAR path[MAX_PATH] = MODULE_USAGE_PATH;
        AddDownloadedControls(dialog, HKEY_LOCAL_MACHINE, path, TEXT(""), VIEW_32);
        RECT item;
        ASSERT_NE(LB_ERR, SendDlgItemMessageW(dialog, IDC_CONTROL_LIST, LB_GETITEMRECT, 2,
                                              reinterpret_cast<LPARAM>(&item)));
        EXPECT_EQ(item.right - item.left + 40,
                  SendDlgItemMessageW(dialog, IDC_CONTROL_LIST, LB_GETHORIZONTALEXTENT, 0, 0));
    });
}

// Faults in the middle of the one reading of ModuleUsage: the names read
// before the failing status count, as for the walk per path.
TEST_F(ScanFaultTest, TheNamesReadOnceEndAtAFailingStatus)
{
    struct Case {
        const char* fault; // "" for none
        bool a, b, c;
    } cases[] = {
        {"", true, true, false},
        {"index 1", true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        SetUp();
        // Longer than any Windows key name, so that it cannot fit the buffer.
        CreateRegistryKey(HKEY_LOCAL_MACHINE,
                          kModuleUsage + "\\C:/D/OCCACHE/b" + std::string(300, 'x'));
        if (*c.fault != '\0')
            SimFailEnumAt(HKEY_LOCAL_MACHINE, kModuleUsage.c_str(), 1, ERROR_INVALID_PARAMETER);
        ModuleUsageIndex index;
        ASSERT_EQ(ERROR_SUCCESS, ReadModuleUsageIndex(index, VIEW_32));
        const WCHAR* paths[] = {TEXT("c:\\d\\occache\\a.ocx"), TEXT("c:\\d\\occache\\b.ocx"),
                                TEXT("c:\\d\\occache\\c.ocx")};
        bool expected[] = {c.a, c.b, c.c};
        for (int i = 0; i < 3; ++i) {
            SCOPED_TRACE(Utf8(paths[i]));
            EXPECT_EQ(expected[i], IsIndexedDownload(index, paths[i]) != FALSE);
            EXPECT_EQ(expected[i], IsDownloadedControl(NULL, paths[i], VIEW_32) != FALSE);
        }
        FreeModuleUsageIndex(index);
    }
}

// The sanitizer's leak check tells whether a failed reading freed its memory.
TEST_F(ScanFaultTest, AFailedReadingOfTheNamesLeavesNothingToFree)
{
    ModuleUsageIndex index;
    for (int succeeding = 0; succeeding < 2; ++succeeding) {
        SimFailHeapAlloc(succeeding);
        EXPECT_EQ(ERROR_NOT_ENOUGH_MEMORY, ReadModuleUsageIndex(index, VIEW_32));
        EXPECT_EQ(0u, index.count);
    }
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, kModuleUsage);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadModuleUsageIndex(index, VIEW_32));
    CreateRegistryKey(HKEY_LOCAL_MACHINE, kModuleUsage);
    SimDenyKeyOpen(HKEY_LOCAL_MACHINE, kModuleUsage.c_str());
    EXPECT_EQ(ERROR_ACCESS_DENIED, ReadModuleUsageIndex(index, VIEW_32));
}

// The scan touches no window: what it finds, what it cannot open and how
// long it is busy all reach the caller through the sink, in order.
struct SinkRecord {
    std::vector<std::string> events;
};

static void RecordEntry(void* context, const WCHAR* entry, RegistryView)
{
    static_cast<SinkRecord*>(context)->events.push_back("entry " + Utf8(entry));
}

static void RecordKeyOpenFailure(void* context, LONG status, int site)
{
    static_cast<SinkRecord*>(context)->events.push_back("failed " + std::to_string(status) + " " +
                                                        std::to_string(site));
}

static void RecordBusy(void* context, bool busy)
{
    static_cast<SinkRecord*>(context)->events.push_back(busy ? "busy" : "idle");
}

TEST_F(ScanFaultTest, TheScanReportsToItsSinkAndNeverToAWindow)
{
    const std::string denied = "failed " + std::to_string(ERROR_ACCESS_DENIED) + " ";
    const std::string missing = "failed " + std::to_string(ERROR_FILE_NOT_FOUND) + " ";
    struct Case {
        const char* name;
        bool typeLibs;
        void (*arrange)();
        std::vector<std::string> expected;
    } cases[] = {
        {"downloads",
         false,
         [] {},
         {"entry C:/D/OCCACHE/a.ocx", "entry C:/D/OCCACHE/b.ocx", "entry C:/D/OCCACHE/c.ocx"}},
        {"ModuleUsage denied",
         false,
         [] { SimDenyKeyOpen(HKEY_LOCAL_MACHINE, kModuleUsage.c_str()); },
         {denied + std::to_string(SITE_MODULE_USAGE_SCAN)}},
        {"TypeLib missing",
         true,
         [] { DeleteRegistryTree(HKEY_CLASSES_ROOT, "TypeLib"); },
         {missing + std::to_string(SITE_TYPELIB_SCAN)}},
        {"type library files without ModuleUsage",
         true,
         [] {
             SetRegistryText(HKEY_CLASSES_ROOT, "TypeLib\\{A}\\1.0\\0\\win32", "", "C:\\A.DLL");
             SetRegistryText(HKEY_CLASSES_ROOT, "TypeLib\\{A}\\1.0\\0\\win16", "", "C:\\A16.DLL");
             DeleteRegistryTree(HKEY_LOCAL_MACHINE, kModuleUsage);
         },
         {"busy", missing + std::to_string(SITE_DOWNLOAD_CHECK), "entry c:\\a.dll",
          missing + std::to_string(SITE_DOWNLOAD_CHECK), "entry c:\\a16.dll", "idle"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        c.arrange();
        SinkRecord record;
        ScanSink sink = {RecordEntry, RecordKeyOpenFailure, RecordBusy, &record, NULL, NULL};
        WCHAR path[MAX_PATH];
        CopyText(path, c.typeLibs ? TEXT("TypeLib") : MODULE_USAGE_PATH);
        if (c.typeLibs)
            ScanTypeLibControls(sink, HKEY_CLASSES_ROOT, path, TEXT(""));
        else
            ScanDownloadedControls(sink, HKEY_LOCAL_MACHINE, path, TEXT(""), VIEW_32);
        EXPECT_EQ(c.expected, record.events);
        EXPECT_TRUE(SimMessageBoxes().empty());
        EXPECT_TRUE(SimCursorHistory().empty());
    }
}
