#include "app/app.h"
#include "app/control_ids.h"
#include "details/details.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cctype>
#include <iterator>
#include <string>
#include <vector>

#ifndef _WIN32
#include <filesystem>
#include <win32sim.h>
#endif

typedef std::vector<std::string> Rows;

static const Rows kRowNames = {
    "ProductName",  "ProductVersion", "OriginalFilename", "FileDescription",
    "FileVersion",  "CompanyName",    "LegalCopyright",   "LegalTrademarks",
    "InternalName", "PrivateBuild",   "SpecialBuild",     "Comments",
};

// What the dialog shows, field by field.
struct Shown {
    std::string name, publisher, type, version, copyright, size, changed, installed, accessed;
    std::string origin, value;
    Rows rows;
    LRESULT selected;
};

static Shown Read(HWND dialog)
{
    Shown shown;
    shown.name = DialogItemText(dialog, IDC_CONTROL_NAME);
    shown.publisher = DialogItemText(dialog, IDC_PUBLISHER);
    shown.type = DialogItemText(dialog, IDC_FILE_TYPE);
    shown.version = DialogItemText(dialog, IDC_VERSION);
    shown.copyright = DialogItemText(dialog, IDC_COPYRIGHT);
    shown.size = DialogItemText(dialog, IDC_SIZE);
    shown.changed = DialogItemText(dialog, IDC_LAST_CHANGE);
    shown.installed = DialogItemText(dialog, IDC_INSTALLED);
    shown.accessed = DialogItemText(dialog, IDC_LAST_ACCESS);
    shown.origin = DialogItemText(dialog, IDC_ORIGIN);
    shown.value = DialogItemText(dialog, IDC_FILE_INFO_VALUE);
    shown.rows = ListBoxItems(dialog, IDC_FILE_INFO_LIST);
    shown.selected = SendDlgItemMessageW(dialog, IDC_FILE_INFO_LIST, LB_GETCURSEL, 0, 0);
    return shown;
}

static Shown Show(HWND dialog, const std::string& path)
{
    ShowFileDetails(dialog, EntryOf(path), VersionStringTable, GetProcessHeap());
    return Read(dialog);
}

// What selecting a control, the only entry of the list, shows.
static Shown Select(HWND dialog, const std::string& controlPath)
{
    SendDlgItemMessageW(dialog, IDC_CONTROL_LIST, LB_RESETCONTENT, 0, 0);
    SendDlgItemMessageW(dialog, IDC_CONTROL_LIST, LB_ADDSTRING, 0,
                        reinterpret_cast<LPARAM>(Wide(controlPath).c_str()));
    SendDlgItemMessageW(dialog, IDC_CONTROL_LIST, LB_SETCURSEL, 0, 0);
    ShowControlDetails(dialog, VersionStringTable, GetProcessHeap());
    return Read(dialog);
}

static std::vector<std::string> VersionValues()
{
    std::vector<std::string> values;
    for (const VersionString& row : VersionStringTable)
        values.push_back(Utf8(VersionValueText(row)));
    return values;
}

// MM/DD/YY HH:MM:SS, or its first eight characters for a date alone.
static bool LooksLikeTime(const std::string& text, bool dateOnly)
{
    const std::string shape = dateOnly ? "99/99/99" : "99/99/99 99:99:99";
    if (text.size() != shape.size())
        return false;
    for (size_t i = 0; i < shape.size(); ++i) {
        bool digit = isdigit(static_cast<unsigned char>(text[i])) != 0;
        if (shape[i] == '9' ? !digit : text[i] != shape[i])
            return false;
    }
    return true;
}

TEST(FileDetails, EveryFieldOfAFileWithFullVersionData)
{
    WithMainDialog([](HWND dialog) {
        Shown shown = Show(dialog, FixturePath("full.ocx"));

        EXPECT_EQ(kRowNames, shown.rows);
        EXPECT_EQ(0, shown.selected);
        EXPECT_EQ("Fixture Full Product", shown.value);
        EXPECT_EQ("Fixture Works", shown.publisher);
        EXPECT_EQ("Copyright (C) Fixture Works", shown.copyright);
        EXPECT_EQ("ActiveX Control", shown.type);
        // The fixed information, not the FileVersion string.
        EXPECT_EQ("5.1.2600.0", shown.version);
        EXPECT_EQ(std::to_string(HostFileSize(FixtureHostPath("full.ocx"))), shown.size);
        EXPECT_TRUE(LooksLikeTime(shown.changed, false)) << shown.changed;
        EXPECT_TRUE(LooksLikeTime(shown.installed, false)) << shown.installed;
        EXPECT_TRUE(LooksLikeTime(shown.accessed, true)) << shown.accessed;
        EXPECT_EQ("Unknown", shown.name);
        EXPECT_EQ("Comments of the full fixture", Utf8(VersionValueText(VersionStringTable[11])));
        EXPECT_EQ("5.1.2600.0 (fixture build)", Utf8(VersionValueText(VersionStringTable[4])));
    });
}

TEST(FileDetails, TranslationCarriesOverToFilesWithoutOne)
{
    WithMainDialog([](HWND dialog) {
        Show(dialog, FixturePath("ansi.dll"));
        EXPECT_EQ("Read from the 04E4 block", Utf8(VersionValueText(VersionStringTable[11])));
        Shown shown = Show(dialog, FixturePath("untranslated.dll"));
        EXPECT_EQ("Unknown", shown.value);
        EXPECT_EQ("Unknown", shown.publisher);
        EXPECT_EQ("7.0.0.1", shown.version);

        Show(dialog, FixturePath("full.ocx"));
        shown = Show(dialog, FixturePath("untranslated.dll"));
        EXPECT_EQ("Untranslated in 04b0", shown.value);
        EXPECT_EQ("Block 04b0", shown.publisher);
    });
}

TEST(FileDetails, SelectedRowCarriesOverToTheNextFile)
{
    WithMainDialog([](HWND dialog) {
        Show(dialog, FixturePath("full.ocx"));
        SendDlgItemMessageW(dialog, IDC_FILE_INFO_LIST, LB_SETCURSEL, 11, 0);

        Shown shown = Show(dialog, FixturePath("long.ocx"));
        EXPECT_EQ(11, shown.selected);
        EXPECT_EQ(0u, shown.value.find("These comments run on"));
        EXPECT_GT(shown.value.size(), 300u);
        EXPECT_GT(shown.copyright.size(), 300u);
        EXPECT_EQ("65535.65534.3.0", shown.version);

        // A file without version data empties the list; the next file starts at row 0.
        shown = Show(dialog, FixturePath("noversion.dll"));
        EXPECT_TRUE(shown.rows.empty());
        EXPECT_EQ(LB_ERR, shown.selected);
        EXPECT_EQ("Unknown", shown.value);
        shown = Show(dialog, FixturePath("partial.exe"));
        EXPECT_EQ(0, shown.selected);
        EXPECT_EQ("Partial", shown.value);
    });
}

TEST(FileDetails, FilesWithoutVersionDataOrMissingStrings)
{
    WithMainDialog([](HWND dialog) {
        Shown shown = Show(dialog, FixturePath("noversion.dll"));
        EXPECT_EQ("Application Extension", shown.type);
        EXPECT_EQ("Unknown", shown.version);
        EXPECT_EQ("Unknown", shown.publisher);
        EXPECT_EQ(std::to_string(HostFileSize(FixtureHostPath("noversion.dll"))), shown.size);

        shown = Show(dialog, FixturePath("partial.exe"));
        EXPECT_EQ("Application", shown.type);
        EXPECT_EQ(kRowNames, shown.rows);
        EXPECT_EQ("Unknown", shown.publisher);
        EXPECT_EQ("Unknown", shown.copyright);
        EXPECT_EQ("2.0.0.4", shown.version);
    });
}

TEST(FileDetails, MissingFilesFoldersAndSlashes)
{
    WithMainDialog([](HWND dialog) {
        std::string missing = FixturePath("absent.OCX");
        Shown shown = Show(dialog, missing);
        EXPECT_EQ("File is not in registered location", shown.name);
        EXPECT_EQ("ActiveX Control", shown.type);
        EXPECT_EQ("Unknown", shown.size);
        EXPECT_EQ("Unknown", shown.changed);

        std::string folder = FixturePath("");
        folder.pop_back();
        shown = Show(dialog, folder);
        EXPECT_EQ("Folder", shown.type);

        std::string slashed = FixturePath("full.ocx");
        for (char& c : slashed) {
            if (c == '\\')
                c = '/';
        }
        SetDlgItemTextW(dialog, IDC_CONTROL_NAME, TEXT("Unknown"));
        shown = Show(dialog, slashed);
        EXPECT_EQ("Unknown", shown.name);
        EXPECT_EQ("5.1.2600.0", shown.version);
        EXPECT_EQ("Fixture Works", shown.publisher);

        shown = Show(dialog, FixturePath("*.ocx"));
        EXPECT_EQ("File is not in registered location", shown.name);
    });
}

TEST(FileDetails, FileTypeLabels)
{
    struct Case {
        const char* extension;
        const char* label;
    } cases[] = {
        {".ocx", "ActiveX Control"},
        {".OCX", "ActiveX Control"},
        {".Exe", "Application"},
        {".dll", "Application Extension"},
        {".tlb", "Type Library"},
        {".ocx2", "Unknown"},
        {".", "Unknown"},
        {"", "Unknown"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.extension);
        WCHAR text[32];
        EXPECT_TRUE(GetFileTypeName(Wide(c.extension).c_str(), text, std::size(text)));
        EXPECT_EQ(c.label, Utf8(text));
    }
    // Cut to the characters it is told of, the rest of the buffer untouched.
    const WCHAR guard = 0xFDFD;
    WCHAR tiny[8] = {guard, guard, guard, guard, guard, guard, guard, guard};
    EXPECT_TRUE(GetFileTypeName(TEXT(".dll"), tiny, 6));
    EXPECT_EQ("Appli", Utf8(tiny));
    EXPECT_EQ(guard, tiny[6]);
    EXPECT_EQ(guard, tiny[7]);
}

// A copy of a fixture at a path on C:, in a folder made for it; both go when
// the copy does. Under Wine the copy is made with Win32 calls; the stand-in
// has no CopyFileW, so natively the host copies into the folder it maps C: to.
class PlacedFixture {
  public:
    PlacedFixture(const char* fixture, const std::string& windowsPath)
        : path(windowsPath), folder(windowsPath.substr(0, windowsPath.rfind('\\')))
    {
#ifdef _WIN32
        placed = (CreateDirectoryW(Wide(folder).c_str(), NULL) ||
                  GetLastError() == ERROR_ALREADY_EXISTS) &&
                 CopyFileW(Wide(FixturePath(fixture)).c_str(), Wide(path).c_str(), FALSE);
#else
        std::error_code error;
        std::filesystem::create_directories(SimHostPath(folder.c_str()), error);
        placed =
            std::filesystem::copy_file(FixtureHostPath(fixture), SimHostPath(path.c_str()),
                                       std::filesystem::copy_options::overwrite_existing, error);
#endif
    }
    ~PlacedFixture()
    {
#ifdef _WIN32
        DeleteFileW(Wide(path).c_str());
        RemoveDirectoryW(Wide(folder).c_str());
#else
        std::error_code error;
        std::filesystem::remove(SimHostPath(path.c_str()), error);
        std::filesystem::remove(SimHostPath(folder.c_str()), error);
#endif
    }
    PlacedFixture(const PlacedFixture&) = delete;
    PlacedFixture& operator=(const PlacedFixture&) = delete;

    const std::string path, folder;
    bool placed;
};

// A type library of version 1.0 whose 32-bit file is the path, for as long as it lives.
class TypeLibRegistration {
  public:
    TypeLibRegistration(const char* libId, const std::string& name, const std::string& filePath)
        : key(std::string("TypeLib\\") + libId)
    {
        SetRegistryText(HKEY_CLASSES_ROOT, key + "\\1.0", "", name);
        SetRegistryText(HKEY_CLASSES_ROOT, key + "\\1.0\\0\\win32", "", filePath);
    }
    ~TypeLibRegistration()
    {
        DeleteRegistryTree(HKEY_CLASSES_ROOT, key);
    }
    TypeLibRegistration(const TypeLibRegistration&) = delete;
    TypeLibRegistration& operator=(const TypeLibRegistration&) = delete;

  private:
    const std::string key;
};

// Identifiers of the test's own, so the machine's registrations never match.
#define LIBID_PLACED_1 "{B0A0A0A1-0000-4000-8000-0000000000A1}"
#define LIBID_PLACED_2 "{B0A0A0A1-0000-4000-8000-0000000000A2}"

// A registration of "C:\Program Files\Ωmega" while only "C:\Program Files\Omega"
// exists: the ANSI code page's best fit turns the one into the other, and the
// other file's details would show as the control's.
TEST(FileDetails, LookAlikeRegistrationShowsNothingOfTheRealFile)
{
    const std::string real = "C:\\Program Files\\Omega\\Omega.dll";
    const std::string lookAlike = "C:\\Program Files\\Ωmega\\Omega.dll";
    PlacedFixture placed("full.ocx", real);
    ASSERT_TRUE(placed.placed);
    TypeLibRegistration realLib(LIBID_PLACED_1, "Omega Library", real);
    TypeLibRegistration lookAlikeLib(LIBID_PLACED_2, "Ωmega Library", lookAlike);
    const std::string size = std::to_string(HostFileSize(FixtureHostPath("full.ocx")));

    // The real file first, so whatever it leaves behind would show for the look-alike.
    const struct {
        std::string path;
        std::string name, version, size, publisher, value;
        Rows rows;
    } cases[] = {
        {real, "Omega Library", "5.1.2600.0", size, "Fixture Works", "Fixture Full Product",
         kRowNames},
        {lookAlike, "File is not in registered location", "Unknown", "Unknown", "Unknown",
         "Unknown", Rows()},
    };
    WithMainDialog([&](HWND dialog) {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.path);
            Shown shown = Select(dialog, c.path);
            EXPECT_EQ(c.name, shown.name);
            EXPECT_EQ("Not Downloaded", shown.origin);
            EXPECT_EQ("Application Extension", shown.type);
            EXPECT_EQ(c.version, shown.version);
            EXPECT_EQ(c.size, shown.size);
            EXPECT_EQ(c.publisher, shown.publisher);
            EXPECT_EQ(c.publisher == "Unknown" ? "Unknown" : "Copyright (C) Fixture Works",
                      shown.copyright);
            EXPECT_EQ(c.value, shown.value);
            EXPECT_EQ(c.rows, shown.rows);
            if (c.rows.empty()) {
                EXPECT_EQ("Unknown", shown.changed);
                EXPECT_EQ("Unknown", shown.installed);
                EXPECT_EQ("Unknown", shown.accessed);
            }
        }
    });
}

// Everything but the times, which belong to each copy.
static void ExpectSameDetails(const Shown& expected, const Shown& shown, int line)
{
    testing::ScopedTrace trace(__FILE__, line, "details compared here");
    EXPECT_EQ(expected.publisher, shown.publisher);
    EXPECT_EQ(expected.type, shown.type);
    EXPECT_EQ(expected.version, shown.version);
    EXPECT_EQ(expected.copyright, shown.copyright);
    EXPECT_EQ(expected.size, shown.size);
    EXPECT_EQ(expected.origin, shown.origin);
    EXPECT_EQ(expected.value, shown.value);
    EXPECT_EQ(expected.rows, shown.rows);
    EXPECT_EQ(expected.selected, shown.selected);
    EXPECT_TRUE(LooksLikeTime(shown.changed, false)) << shown.changed;
    EXPECT_TRUE(LooksLikeTime(shown.installed, false)) << shown.installed;
    EXPECT_TRUE(LooksLikeTime(shown.accessed, true)) << shown.accessed;
}

// The ASCII folder first: what it shows is what every other folder must show.
// The last folder's name has a character outside the BMP, a surrogate pair.
TEST(FileDetails, FoldersInOtherScriptsShowWhatAnAsciiFolderShows)
{
    const char* const folders[] = {"Fixture Folder", "Жук",   "Ωmega", "東京",
                                   "Жук Ωmega 東京", "東京 😀"};
    Shown baseline;
    std::vector<std::string> baselineValues;
    WithMainDialog([&](HWND dialog) {
        for (const char* folder : folders) {
            SCOPED_TRACE(folder);
            PlacedFixture placed("full.ocx",
                                 std::string("C:\\Program Files\\") + folder + "\\full.ocx");
            ASSERT_TRUE(placed.placed);
            TypeLibRegistration lib(LIBID_PLACED_1, std::string(folder) + " Library", placed.path);

            Shown shown = Select(dialog, placed.path);
            EXPECT_EQ(std::string(folder) + " Library", shown.name);
            if (folder == folders[0]) {
                baseline = shown;
                baselineValues = VersionValues();
                EXPECT_EQ(kRowNames, shown.rows);
                EXPECT_EQ("5.1.2600.0", shown.version);
                EXPECT_EQ("Comments of the full fixture", baselineValues[11]);
            }
            ExpectSameDetails(baseline, shown, __LINE__);
            EXPECT_EQ(baselineValues, VersionValues());
        }
    });
}
