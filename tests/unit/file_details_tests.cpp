#include "app/control_ids.h"
#include "details/details.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

typedef std::vector<std::string> Rows;

static const Rows kRowNames = {
    "ProductName",  "ProductVersion", "OriginalFilename", "FileDescription",
    "FileVersion",  "CompanyName",    "LegalCopyright",   "LegalTrademarks",
    "InternalName", "PrivateBuild",   "SpecialBuild",     "Comments",
};

// What the dialog shows after ShowFileDetails, field by field.
struct Shown {
    std::string name, publisher, type, version, copyright, size, changed, installed, accessed;
    std::string value;
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
    shown.value = DialogItemText(dialog, IDC_FILE_INFO_VALUE);
    shown.rows = ListBoxItems(dialog, IDC_FILE_INFO_LIST);
    shown.selected = SendDlgItemMessageA(dialog, IDC_FILE_INFO_LIST, LB_GETCURSEL, 0, 0);
    return shown;
}

static Shown Show(HWND dialog, const std::string& path)
{
    ShowFileDetails(dialog, path.c_str(), VersionStringTable, GetProcessHeap());
    return Read(dialog);
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
        EXPECT_STREQ("Comments of the full fixture", VersionValueText(VersionStringTable[11]));
        EXPECT_STREQ("5.1.2600.0 (fixture build)", VersionValueText(VersionStringTable[4]));
    });
}

TEST(FileDetails, TranslationCarriesOverToFilesWithoutOne)
{
    WithMainDialog([](HWND dialog) {
        Show(dialog, FixturePath("ansi.dll"));
        EXPECT_STREQ("Read from the 04E4 block", VersionValueText(VersionStringTable[11]));
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
        SendDlgItemMessageA(dialog, IDC_FILE_INFO_LIST, LB_SETCURSEL, 11, 0);

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
        SetDlgItemTextA(dialog, IDC_CONTROL_NAME, "Unknown");
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
        char text[32];
        EXPECT_TRUE(GetFileTypeName(c.extension, text, sizeof text));
        EXPECT_STREQ(c.label, text);
    }
    char tiny[6];
    EXPECT_TRUE(GetFileTypeName(".dll", tiny, sizeof tiny));
    EXPECT_STREQ("Appli", tiny);
}
