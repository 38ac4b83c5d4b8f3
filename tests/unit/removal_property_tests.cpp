#include "app/control_ids.h"
#include "details/details.h"
#include "inventory/inventory.h"
#include "registry_snapshot.h"
#include "removal/removal.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <win32sim.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

// Deleting one control from a generated machine, every question answered
// Yes, takes that control's own registration and nothing else: no sibling's
// key or value, no parent key.

typedef std::vector<std::string> Entries;

namespace {

const unsigned kSeed = 0x0B5E2024;
const int kCases = 300;

class Random {
  public:
    explicit Random(unsigned seed) : engine(seed) {}
    unsigned Below(unsigned n)
    {
        return engine() % n;
    }
    bool Chance(unsigned percent)
    {
        return Below(100) < percent;
    }
    template <typename T, size_t N> const T& Pick(const T (&items)[N])
    {
        return items[Below(N)];
    }
    // The same name as Windows sees it, written with other letter cases.
    std::string Recase(std::string text)
    {
        for (char& c : text) {
            if (isalpha(static_cast<unsigned char>(c)) && Chance(30))
                c = static_cast<char>(isupper(static_cast<unsigned char>(c)) ? tolower(c)
                                                                             : toupper(c));
        }
        return text;
    }

  private:
    std::mt19937 engine;
};

std::string Converted(std::string path, char from, char to)
{
    std::replace(path.begin(), path.end(), from, to);
    return path;
}

struct LibEntry {
    std::string locale;
    std::string platform;
    std::string file;
};

// What the generated registry holds, as far as a deletion decides on it.
struct Machine {
    std::vector<std::string> usageKeys;
    std::map<std::string, std::string> usageClass; // usage key -> class value name
    std::map<std::string, std::vector<LibEntry>> libs;
};

const char* const kDownloadFolders[] = {
    "C:/WINDOWS/Downloaded Program Files/",
    "c:/windows/downloaded program files/",
    "C:/Windows/Downloaded Program Files/Sub Dir/",
    "C:/WINDOWS/OCCACHE/",
};
// The last two lie in a download cache, but without a usage key nothing
// there counts as a download.
const char* const kOtherFolders[] = {
    "C:\\Program Files\\Vendor Tools\\",       "C:\\WINDOWS\\SYSTEM32\\", "c:/apps/",
    "C:\\Windows\\Downloaded Program Files\\", "C:\\WINDOWS\\OCCACHE\\",
};
const char* const kBases[] = {"ctl", "Ctl Pad ", "a"};
const char* const kExtensions[] = {".ocx", ".OCX", ".dll"};

class Generator {
  public:
    explicit Generator(Random& random) : random(random) {}

    Machine Build()
    {
        CreateRegistryKey(HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH);
        CreateRegistryKey(HKEY_LOCAL_MACHINE, SHARED_DLLS_PATH);
        CreateRegistryKey(HKEY_LOCAL_MACHINE, DISTRIBUTION_UNITS_PATH);
        CreateRegistryKey(HKEY_CLASSES_ROOT, "CLSID");
        CreateRegistryKey(HKEY_CLASSES_ROOT, "TypeLib");
        unsigned count = 2 + random.Below(5);
        for (unsigned i = 0; i < count; ++i) {
            // Odd ones extend the name of the even one before them when the
            // folder and base agree: "ctl0.ocx" and "ctl0.ocx.old".
            std::string name = random.Pick(kBases) + std::to_string(i / 2) +
                               (i % 2 == 0 ? random.Pick(kExtensions) : ".ocx.old");
            std::string file = random.Chance(50) ? AddDownload(name) : AddOther(name);
            if (random.Chance(75))
                SetRegistryDword(HKEY_LOCAL_MACHINE, SHARED_DLLS_PATH, random.Recase(file).c_str(),
                                 random.Below(4));
            if (random.Chance(15))
                SetRegistryDword(HKEY_LOCAL_MACHINE, SHARED_DLLS_PATH,
                                 Converted(file, '\\', '/').c_str(), 1);
        }
        return machine;
    }

  private:
    std::string NewGuid()
    {
        char guid[40];
        snprintf(guid, sizeof guid, "{0B5E%04X-0000-4000-8000-%012X}", random.Below(4), ++serial);
        return random.Recase(guid);
    }

    std::string AddDownload(const std::string& name)
    {
        std::string usage = random.Recase(random.Pick(kDownloadFolders) + name);
        std::string file = Converted(usage, '/', '\\');
        machine.usageKeys.push_back(usage);
        std::string usageKey = MODULE_USAGE_PATH "\\" + usage;
        SetRegistryText(HKEY_LOCAL_MACHINE, usageKey, ".Owner", "Unknown Owner");
        if (random.Chance(30))
            SetRegistryText(HKEY_LOCAL_MACHINE, usageKey, "FileVersion", "1,0,0,1");
        if (random.Chance(85)) {
            std::string clsid = !classes.empty() && random.Chance(15)
                                    ? classes[random.Below(classes.size())]
                                    : NewGuid();
            classes.push_back(clsid);
            std::string valueName = random.Recase(clsid);
            SetRegistryText(HKEY_LOCAL_MACHINE, usageKey, valueName.c_str(), "");
            machine.usageClass[usage] = valueName;
            if (random.Chance(85)) {
                std::string key = "CLSID\\" + clsid;
                SetRegistryText(HKEY_CLASSES_ROOT, key, "", "Control");
                SetRegistryText(HKEY_CLASSES_ROOT, key + "\\InprocServer32", "", file);
                SetRegistryText(HKEY_CLASSES_ROOT, key + "\\Version", "", "1.0");
                SetRegistryText(HKEY_CLASSES_ROOT, key + "\\Implemented Categories\\{7DD95801}", "",
                                "");
            }
            if (random.Chance(85)) {
                std::string key = DISTRIBUTION_UNITS_PATH "\\" + clsid;
                SetRegistryText(HKEY_LOCAL_MACHINE, key + "\\Contains\\Files", file.c_str(), "");
                SetRegistryText(HKEY_LOCAL_MACHINE, key + "\\DownloadInformation", "CODEBASE",
                                "http://example.invalid/x.cab");
            }
        }
        if (random.Chance(70))
            AddLibEntry("win32",
                        random.Chance(15) ? Converted(file, '\\', '/') : random.Recase(file));
        return file;
    }

    std::string AddOther(const std::string& name)
    {
        const char* folder = random.Pick(kOtherFolders);
        std::string registered = random.Recase(folder + name);
        AddLibEntry(random.Chance(80) ? "win32" : "win16", registered);
        bool inCache = folder == kOtherFolders[3] || folder == kOtherFolders[4];
        if (!inCache && random.Chance(25))
            SetRegistryText(HKEY_LOCAL_MACHINE,
                            MODULE_USAGE_PATH "\\" + Converted(registered, '\\', '/'), ".Owner",
                            "Unknown Owner");
        return Converted(registered, '/', '\\');
    }

    // Type libraries are now and then shared: each file then has a version of
    // its own in the same library.
    void AddLibEntry(const char* platform, const std::string& file)
    {
        std::string libId =
            !libIds.empty() && random.Chance(20) ? libIds[random.Below(libIds.size())] : NewGuid();
        libIds.push_back(libId);
        std::vector<LibEntry>& entries = machine.libs[libId];
        std::string version = "TypeLib\\" + libId + "\\" + std::to_string(entries.size() + 1) +
                              "." + std::to_string(random.Below(3));
        SetRegistryText(HKEY_CLASSES_ROOT, version, "", "Generated Library");
        SetRegistryText(HKEY_CLASSES_ROOT, version + "\\0\\" + platform, "", file);
        entries.push_back({"0", platform, file});
        if (random.Chance(50)) {
            SetRegistryText(HKEY_CLASSES_ROOT, version + "\\FLAGS", "", "0");
            SetRegistryText(HKEY_CLASSES_ROOT, version + "\\HELPDIR", "", "C:\\Help");
        }
        if (random.Chance(30)) {
            SetRegistryText(HKEY_CLASSES_ROOT, version + "\\409\\win32", "", file);
            entries.push_back({"409", "win32", file});
        }
    }

    Random& random;
    Machine machine;
    std::vector<std::string> classes;
    std::vector<std::string> libIds;
    unsigned serial = 0;
};

// The first library, in the registry's order, with a version whose 32-bit
// module of locale 0 is the file.
std::string LibraryOf(const Machine& machine, const std::string& file)
{
    std::vector<std::string> names;
    for (const auto& lib : machine.libs)
        names.push_back(lib.first);
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return LowerCase(a) < LowerCase(b);
    });
    for (const std::string& name : names) {
        for (const LibEntry& entry : machine.libs.at(name)) {
            if (entry.locale == "0" && entry.platform == "win32" &&
                LowerCase(entry.file) == LowerCase(file))
                return name;
        }
    }
    return "";
}

struct Expectation {
    bool result;
    RegistrySnapshot removed;
    bool downloaded;
};

Expectation Expect(const Machine& machine, const RegistrySnapshot& before, const std::string& entry)
{
    std::string file = Converted(entry, '/', '\\');
    std::string lower = LowerCase(file);
    bool inCache = lower.find("\\downloaded program files") != std::string::npos ||
                   lower.find("\\occache\\") != std::string::npos;
    bool downloaded =
        inCache && std::any_of(machine.usageKeys.begin(), machine.usageKeys.end(),
                               [&](const std::string& key) {
                                   return LowerCase(Converted(key, '/', '\\')) == lower;
                               });
    Expectation expectation{true, {}, downloaded};
    auto add = [&](const RegistrySnapshot& lines) {
        expectation.removed.insert(lines.begin(), lines.end());
    };
    const std::string sharedDlls = "HKLM\\" SHARED_DLLS_PATH;
    if (downloaded) {
        auto usage = std::find_if(
            machine.usageClass.begin(), machine.usageClass.end(),
            [&](const auto& item) { return LowerCase(item.first) == LowerCase(entry); });
        if (usage == machine.usageClass.end())
            return {false, {}, true};
        add(SubtreeLines(before, "HKLM\\" MODULE_USAGE_PATH "\\" + entry));
        add(SubtreeLines(before, "HKLM\\" DISTRIBUTION_UNITS_PATH "\\" + usage->second));
        add(SubtreeLines(before, "HKCR\\CLSID\\" + usage->second));
        add(ValueLines(before, sharedDlls, file));
    }
    std::string lib = LibraryOf(machine, file);
    if (!lib.empty())
        add(SubtreeLines(before, "HKCR\\TypeLib\\" + lib));
    else
        add(ValueLines(before, sharedDlls, file));
    return expectation;
}

struct Tally {
    int downloads = 0;
    int withoutClass = 0;
    int others = 0;
    int withFile = 0;
    int sharedQuestions = 0;
};

void RunCase(unsigned seed, Tally& tally)
{
    auto t0 = std::chrono::steady_clock::now();
    SimReset();
    auto t1 = std::chrono::steady_clock::now();
    Random random(seed);
    Machine machine = Generator(random).Build();
    auto t2 = std::chrono::steady_clock::now();
    static double a=0,b=0,c=0,d=0; static int n=0;
    for (int i = 0; i < 4; ++i)
        SimAnswerMessageBox(IDYES);

    std::string entry;
    Entries listBefore, listAfter;
    RegistrySnapshot before, after;
    BOOL result = FALSE;
    bool withFile = random.Chance(50);
    WithMainDialog([&](HWND dialog) {
        RefreshControlList(dialog);
        listBefore = ListBoxItems(dialog, IDC_CONTROL_LIST);
        ASSERT_FALSE(listBefore.empty());
        unsigned index = random.Below(static_cast<unsigned>(listBefore.size()));
        entry = listBefore[index];
        SendDlgItemMessageA(dialog, IDC_CONTROL_LIST, LB_SETCURSEL, index, 0);
        if (withFile) {
            std::filesystem::path host = SimHostPath(Converted(entry, '/', '\\').c_str());
            std::filesystem::create_directories(host.parent_path());
            std::ofstream(host) << "text";
        }
        before = TakeSnapshot();
        result = DeleteSelectedControl(dialog);
        after = TakeSnapshot();
        listAfter = ListBoxItems(dialog, IDC_CONTROL_LIST);
    });
    auto t3 = std::chrono::steady_clock::now();
    a+=std::chrono::duration<double>(t1-t0).count();b+=std::chrono::duration<double>(t2-t1).count();c+=std::chrono::duration<double>(t3-t2).count();
    if(++n%100==0) printf("reset %.3f gen %.3f dialog %.3f\n",a,b,c);
    (void)d;
    if (testing::Test::HasFatalFailure())
        return;
    SCOPED_TRACE(testing::Message() << "deleting " << entry);

    Expectation expected = Expect(machine, before, entry);
    EXPECT_EQ(expected.result, result);
    EXPECT_EQ(expected.removed, Difference(before, after));
    EXPECT_EQ(RegistrySnapshot(), Difference(after, before));
    Entries expectedList = listBefore;
    if (expected.result)
        expectedList.erase(std::find(expectedList.begin(), expectedList.end(), entry));
    EXPECT_EQ(expectedList, listAfter);
    EXPECT_EQ(0, SimUnscriptedMessageBoxCount());
    for (const SimMessageBox& box : SimMessageBoxes()) {
        EXPECT_EQ(static_cast<UINT>(MB_YESNO), box.type & MB_YESNO) << box.text;
        tally.sharedQuestions += box.text.find("Other programs") != std::string::npos;
    }
    if (withFile) {
        EXPECT_FALSE(std::filesystem::exists(SimHostPath(entry.c_str())));
    }
    EXPECT_EQ(0, SimOpenKeyCount());
    EXPECT_EQ(0, SimLoadedModuleCount());

    tally.downloads += expected.downloaded;
    tally.withoutClass += expected.downloaded && !expected.result;
    tally.others += !expected.downloaded;
    tally.withFile += withFile;
}

} // namespace

TEST(RemovalPropertyTest, DeletionTakesOnlyTheControlsOwnRegistration)
{
    auto start = std::chrono::steady_clock::now();
    Tally tally;
    for (int i = 0; i < kCases; ++i) {
        SCOPED_TRACE(testing::Message() << "case " << i << ", seed " << kSeed + i);
        RunCase(kSeed + i, tally);
        if (HasFailure())
            break;
    }
    SimReset();
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    printf("%d cases in %.2f s: %d downloads (%d without a class), %d others, %d with the file "
           "present, %d shared-use questions\n",
           kCases, seconds, tally.downloads, tally.withoutClass, tally.others, tally.withFile,
           tally.sharedQuestions);
    // Every path through the deletion was taken.
    EXPECT_GT(tally.withoutClass, 0);
    EXPECT_GT(tally.sharedQuestions, 0);
    EXPECT_GT(tally.others, 0);
}
