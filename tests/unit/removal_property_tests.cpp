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
#include <map>
#include <set>
#include <random>
#include <string>
#include <vector>

// Deleting one control from a generated machine, every question answered
// Yes, takes that control's own registration and nothing else: no sibling's
// key or value, no parent key. The restore folder it writes first holds all
// that it took, as the registry had it.

typedef std::vector<std::string> Entries;

namespace {

const unsigned kSeed = 0x0B5E2024;
const int kCases = 10000;

const std::string kModuleUsagePath = Utf8(MODULE_USAGE_PATH);
const std::string kSharedDllsPath = Utf8(SHARED_DLLS_PATH);
const std::string kUnitsPath = Utf8(DISTRIBUTION_UNITS_PATH);

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
    // The same name as Windows sees it, written with other letter cases. Only
    // ASCII letters change: the registry folds the others too, the program
    // does not, so "Жук" and "жук" would be one key but two names.
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

// Folders below a drive. The last two others lie in a download cache, but
// without a usage key nothing there counts as a download. "Ωmega" reads as
// "Omega" through the ANSI code page: each is a look-alike of the other.
const char* const kDownloadFolders[] = {
    "/WINDOWS/Downloaded Program Files/",         "/windows/downloaded program files/",
    "/Windows/Downloaded Program Files/Sub Dir/", "/WINDOWS/OCCACHE/",
    "/Windows/Downloaded Program Files/Жук/",
};
const char* const kOtherFolders[] = {
    "\\Program Files\\Vendor Tools\\",
    "\\WINDOWS\\SYSTEM32\\",
    "/apps/",
    "\\Program Files\\Omega\\",
    "\\Program Files\\Ωmega 東京\\",
    "\\Program Files\\Ωmega\\",
    "\\Windows\\Downloaded Program Files\\",
    "\\WINDOWS\\OCCACHE\\",
};
const size_t kFirstCacheFolder = sizeof kOtherFolders / sizeof kOtherFolders[0] - 2;
const char* const kBases[] = {"ctl", "Ctl Pad ", "a", "Жук", "Ωmega 𝛀"};
const char* const kExtensions[] = {".ocx", ".OCX", ".dll"};

class Generator {
  public:
    Generator(Random& random, const char* drive) : random(random), drive(drive) {}

    // Answers the entry of a control that is never deleted.
    std::string Build()
    {
        CreateRegistryKey(HKEY_LOCAL_MACHINE, kModuleUsagePath);
        CreateRegistryKey(HKEY_LOCAL_MACHINE, kSharedDllsPath);
        CreateRegistryKey(HKEY_LOCAL_MACHINE, kUnitsPath);
        CreateRegistryKey(HKEY_CLASSES_ROOT, "CLSID");
        CreateRegistryKey(HKEY_CLASSES_ROOT, "TypeLib");
        // Parent keys have values of their own now and then; none may go.
        if (random.Chance(20))
            SetRegistryText(HKEY_LOCAL_MACHINE, kSharedDllsPath, "", "");
        if (random.Chance(20))
            SetRegistryText(HKEY_LOCAL_MACHINE, kModuleUsagePath, "", "");
        unsigned count = 2 + random.Below(5);
        for (unsigned i = 0; i < count; ++i) {
            // Odd ones extend the name of the even one before them when the
            // folder and base agree: "ctl0.ocx" and "ctl0.ocx.old".
            std::string name = random.Pick(kBases) + std::to_string(i / 2) +
                               (i % 2 == 0 ? random.Pick(kExtensions) : ".ocx.old");
            std::string file = random.Chance(50) ? AddDownload(name) : AddOther(name);
            if (random.Chance(75))
                SetRegistryDword(HKEY_LOCAL_MACHINE, kSharedDllsPath, random.Recase(file).c_str(),
                                 random.Below(4));
            if (random.Chance(15))
                SetRegistryDword(HKEY_LOCAL_MACHINE, kSharedDllsPath,
                                 Converted(file, '\\', '/').c_str(), 1);
        }
        std::string bystander = drive + "\\WINDOWS\\SYSTEM32\\Bystander.ocx";
        SetRegistryText(HKEY_CLASSES_ROOT, "TypeLib\\" + NewGuid() + "\\1.0\\0\\win32", "",
                        bystander);
        return LowerCase(bystander);
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
        std::string usage = random.Recase(drive + random.Pick(kDownloadFolders) + name);
        std::string file = Converted(usage, '/', '\\');
        std::string usageKey = kModuleUsagePath + "\\" + usage;
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
            if (random.Chance(85)) {
                std::string key = "CLSID\\" + clsid;
                SetRegistryText(HKEY_CLASSES_ROOT, key, "", "Control");
                SetRegistryText(HKEY_CLASSES_ROOT, key + "\\InprocServer32", "", file);
                SetRegistryText(HKEY_CLASSES_ROOT, key + "\\Version", "", "1.0");
                SetRegistryText(HKEY_CLASSES_ROOT, key + "\\Implemented Categories\\{7DD95801}", "",
                                "");
            }
            if (random.Chance(85)) {
                std::string key = kUnitsPath + "\\" + clsid;
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
        size_t folder = random.Below(sizeof kOtherFolders / sizeof kOtherFolders[0]);
        std::string registered = random.Recase(drive + kOtherFolders[folder] + name);
        AddLibEntry(random.Chance(80) ? "win32" : "win16", registered);
        if (folder < kFirstCacheFolder && random.Chance(25))
            SetRegistryText(HKEY_LOCAL_MACHINE,
                            kModuleUsagePath + "\\" + Converted(registered, '\\', '/'), ".Owner",
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
        std::string version = "TypeLib\\" + libId + "\\" + std::to_string(++versions[libId]) + "." +
                              std::to_string(random.Below(3));
        SetRegistryText(HKEY_CLASSES_ROOT, version, "", "Generated Library");
        SetRegistryText(HKEY_CLASSES_ROOT, version + "\\0\\" + platform, "", file);
        if (random.Chance(50)) {
            SetRegistryText(HKEY_CLASSES_ROOT, version + "\\FLAGS", "", "0");
            SetRegistryText(HKEY_CLASSES_ROOT, version + "\\HELPDIR", "", "C:\\Help");
        }
        if (random.Chance(30)) {
            SetRegistryText(HKEY_CLASSES_ROOT, version + "\\409\\win32", "", file);
        }
    }

    Random& random;
    std::string drive;
    std::map<std::string, int> versions;
    std::vector<std::string> classes;
    std::vector<std::string> libIds;
    unsigned serial = 0;
};

struct Expectation {
    bool downloaded;
    bool result;
    RegistrySnapshot removed;
};

bool StartsWith(const std::string& text, const std::string& start)
{
    return text.compare(0, start.size(), start) == 0;
}

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// What deleting the entry must take, read off the registry as it was: a
// download's usage key, class and distribution unit with their subtrees and
// its usage count, then the first type library (in the registry's order)
// whose version has the file as its 32-bit module of locale 0, or, without
// one, the usage count. Snapshot lines are compared in lower case, as
// Windows compares names.
Expectation Expect(const RegistrySnapshot& before, const std::string& entry)
{
    const std::string file = LowerCase(Converted(entry, '/', '\\'));
    const std::string usageRoot = LowerCase("HKLM\\" + kModuleUsagePath + "\\");
    const std::string usageKey = usageRoot + LowerCase(entry);
    const std::string typeLibs = "hkcr\\typelib\\";
    const std::string module = "\\0\\win32\t\t1:" + file;
    const std::string count = LowerCase("HKLM\\" + kSharedDllsPath + "\t") + file + "\t";
    bool inCache = file.find("\\downloaded program files") != std::string::npos ||
                   file.find("\\occache\\") != std::string::npos;

    std::vector<std::string> lines;
    bool downloaded = false;
    std::string clsid;
    std::string lib;
    for (const std::string& text : before) {
        lines.push_back(LowerCase(text));
        const std::string& line = lines.back();
        if (inCache && StartsWith(line, usageRoot) && line.find('\t') == std::string::npos &&
            Converted(line.substr(usageRoot.size()), '/', '\\') == file)
            downloaded = true;
        if (StartsWith(line, usageKey + "\t{"))
            clsid = line.substr(usageKey.size() + 1,
                                line.find('\t', usageKey.size() + 1) - usageKey.size() - 1);
        if (StartsWith(line, typeLibs) && EndsWith(line, module)) {
            std::string version =
                line.substr(typeLibs.size(), line.size() - typeLibs.size() - module.size());
            size_t slash = version.find('\\');
            if (slash != std::string::npos && version.find('\\', slash + 1) == std::string::npos &&
                (lib.empty() || version.substr(0, slash) < lib))
                lib = version.substr(0, slash);
        }
    }
    if (downloaded && clsid.empty())
        return {true, false, {}};

    std::vector<std::string> trees;
    if (downloaded) {
        trees.push_back(usageKey);
        trees.push_back(LowerCase("HKLM\\" + kUnitsPath + "\\") + clsid);
        trees.push_back("hkcr\\clsid\\" + clsid);
    }
    if (!lib.empty())
        trees.push_back(typeLibs + lib);
    bool countGoes = downloaded || lib.empty();

    Expectation expectation{downloaded, true, {}};
    auto text = before.begin();
    for (const std::string& line : lines) {
        std::string key = line.substr(0, line.find('\t'));
        bool inTree = std::any_of(trees.begin(), trees.end(), [&](const std::string& tree) {
            return key == tree || StartsWith(key, tree + "\\");
        });
        if (inTree || (countGoes && StartsWith(line, count)))
            expectation.removed.insert(*text);
        ++text;
    }
    return expectation;
}

struct Tally {
    int cases = 0;
    int machines = 0;
    int downloads = 0;
    int withoutClass = 0;
    int others = 0;
    int withFile = 0;
    int sharedQuestions = 0;
    int nonAscii = 0;
};

// The entry at the index is deleted, and the registry was "before" up to then.
void CheckDeletion(const std::string& entry, const RegistrySnapshot& before,
                   const RegistrySnapshot& after, BOOL result, Entries listBefore,
                   const Entries& listAfter, size_t index, size_t firstBox, Tally& tally)
{
    Expectation expected = Expect(before, entry);
    EXPECT_EQ(expected.result, result);
    EXPECT_EQ(expected.removed, Difference(before, after));
    EXPECT_EQ(RegistrySnapshot(), Difference(after, before));
    if (expected.result)
        listBefore.erase(listBefore.begin() + static_cast<std::ptrdiff_t>(index));
    EXPECT_EQ(listBefore, listAfter);
    const std::vector<SimMessageBox>& boxes = SimMessageBoxes();
    for (size_t i = firstBox; i < boxes.size(); ++i) {
        EXPECT_TRUE(boxes[i].scripted) << boxes[i].text;
        EXPECT_EQ(static_cast<UINT>(MB_YESNO), boxes[i].type & MB_YESNO) << boxes[i].text;
        tally.sharedQuestions += boxes[i].text.find("Other programs") != std::string::npos;
    }
    EXPECT_EQ(0, SimOpenKeyCount());
    EXPECT_EQ(0, SimLoadedModuleCount());
    EXPECT_EQ(0, SimOpenHandleCount());
    tally.nonAscii += std::any_of(entry.begin(), entry.end(), [](char c) { return c & 0x80; });
    tally.downloads += expected.downloaded;
    tally.withoutClass += expected.downloaded && !expected.result;
    tally.others += !expected.downloaded;
}

// The one folder the deletion added: finished, its removed.reg (read by a
// reader of its own) holding every key and value that went and only what
// the registry held, and a copy of the file when there was one. Names
// compare as Windows compares them.
void CheckRestoreFolder(const RegistrySnapshot& before, const RegistrySnapshot& removed,
                        const std::vector<std::string>& foldersBefore, bool withFile)
{
    std::vector<std::string> added;
    std::vector<std::string> folders = RestoreFolders();
    std::set_difference(folders.begin(), folders.end(), foldersBefore.begin(), foldersBefore.end(),
                        std::back_inserter(added));
    ASSERT_EQ(1u, added.size());
    const std::filesystem::path folder = added[0];
    EXPECT_NE(0, folder.filename().string().compare(0, 11, "unfinished "));
    RegFile reg = ReadRegFile(added[0] + "/removed.reg");
    ASSERT_TRUE(reg.ok) << reg.error;
    std::set<std::string> written;
    for (const std::string& key : reg.keys)
        written.insert(LowerCase(key));
    for (const RegFileValue& value : reg.values)
        written.insert(LowerCase(
            value.root + "\\" + value.path + "\t" + value.name + "\t" +
            DescribeValue(value.type, value.data.data(), static_cast<DWORD>(value.data.size()))));
    std::set<std::string> was;
    for (const std::string& line : before)
        was.insert(LowerCase(line));
    for (const std::string& line : removed)
        EXPECT_TRUE(written.count(LowerCase(line))) << "removed.reg lacks " << line;
    for (const std::string& line : written)
        EXPECT_TRUE(was.count(line)) << "removed.reg has what the registry had not: " << line;
    const std::filesystem::path copies = folder / "files" / "1";
    ASSERT_EQ(withFile, std::filesystem::exists(copies));
    if (withFile) {
        std::filesystem::directory_iterator copy(copies);
        ASSERT_NE(std::filesystem::directory_iterator(), copy);
        std::ifstream in(copy->path(), std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ("text", text);
    }
}

// Deletes what the list shows, one entry after another, each tried once,
// until every entry was tried or enough cases ran. The bystander stays
// listed, so the list never runs empty.
void RunMachine(unsigned seed, Tally& tally)
{
    SimReset();
    Random random(seed);
    // Only C: holds files, and a machine that touches it pays for a sandbox
    // folder on disk, so most keep their controls on a drive that has none:
    // every file is then missing.
    bool onC = random.Chance(4);
    std::string bystander = Generator(random, onC ? "C:" : "D:").Build();
    ++tally.machines;
    WithMainDialog([&](HWND dialog) {
        std::set<std::string> tried = {bystander};
        RegistrySnapshot before = TakeSnapshot();
        while (tally.cases < kCases) {
            RefreshControlList(dialog);
            Entries list = ListBoxItems(dialog, IDC_CONTROL_LIST);
            std::vector<size_t> untried;
            for (size_t i = 0; i < list.size(); ++i) {
                if (!tried.count(list[i]))
                    untried.push_back(i);
            }
            if (untried.empty())
                return;
            size_t index = untried[random.Below(static_cast<unsigned>(untried.size()))];
            const std::string entry = list[index];
            SCOPED_TRACE(testing::Message() << "deleting " << entry);
            tried.insert(entry);
            SendDlgItemMessageW(dialog, IDC_CONTROL_LIST, LB_SETCURSEL, index, 0);
            std::string host = SimHostPath(Converted(entry, '/', '\\').c_str());
            bool withFile = onC && random.Chance(50);
            if (withFile) {
                std::filesystem::create_directories(std::filesystem::path(host).parent_path());
                std::ofstream(host) << "text";
            }
            size_t firstBox = SimMessageBoxes().size();
            for (int i = 0; i < 4; ++i)
                SimAnswerMessageBox(IDYES);
            std::vector<std::string> foldersBefore = RestoreFolders();

            BOOL result = DeleteSelectedControl(dialog);

            RegistrySnapshot after = TakeSnapshot();
            CheckDeletion(entry, before, after, result, list,
                          ListBoxItems(dialog, IDC_CONTROL_LIST), index, firstBox, tally);
            CheckRestoreFolder(before, Difference(before, after), foldersBefore, withFile);
            if (withFile) {
                EXPECT_FALSE(std::filesystem::exists(host));
            }
            if (testing::Test::HasFailure())
                return;
            before = std::move(after);
            ++tally.cases;
            tally.withFile += withFile;
        }
    });
}

} // namespace

TEST(RemovalPropertyTest, DeletionTakesOnlyTheControlsOwnRegistration)
{
    auto start = std::chrono::steady_clock::now();
    Tally tally;
    for (unsigned seed = kSeed; tally.cases < kCases && !HasFailure(); ++seed) {
        SCOPED_TRACE(testing::Message() << "machine seed " << seed);
        RunMachine(seed, tally);
    }
    SimReset();
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    printf("%d cases on %d machines in %.2f s: %d downloads (%d without a class), %d others, "
           "%d with the file present, %d shared-use questions, %d with non-ASCII names\n",
           tally.cases, tally.machines, seconds, tally.downloads, tally.withoutClass, tally.others,
           tally.withFile, tally.sharedQuestions, tally.nonAscii);
    // Every way through the deletion was taken.
    EXPECT_GT(tally.withoutClass, 0);
    EXPECT_GT(tally.sharedQuestions, 0);
    EXPECT_GT(tally.withFile, 0);
    EXPECT_GT(tally.nonAscii, 0);
}
