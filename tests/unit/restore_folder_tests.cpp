#include "app/app.h"
#include "app/control_ids.h"
#include "details/details.h"
#include "inventory/inventory.h"
#include "registry_snapshot.h"
#include "removal/removal.h"
#include "support/reg_file.h"
#include "support/test_support.h"

#include <shlobj.h>

#include <gtest/gtest.h>
#include <win32sim.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

// What Delete saves before it changes anything, read back with the test's
// own .reg reader and compared with what the Delete took.

// The stand-in's header leaves out the types that the program never reads.
#ifndef REG_QWORD
#define REG_DWORD_BIG_ENDIAN 5
#define REG_QWORD 11
#endif

#define CLSID_X "{5A7E0000-0000-4000-8000-00000000000A}"
#define LIBID_X "{5A7E0000-0000-4000-8000-0000000000AA}"

typedef std::vector<BYTE> Bytes;

static const std::string kUsagePath = Utf8(MODULE_USAGE_PATH);
static const std::string kUnitsPath = Utf8(DISTRIBUTION_UNITS_PATH);
static const std::string kSharedPath = Utf8(SHARED_DLLS_PATH);
static const std::string kDownload = "C:/Windows/Downloaded Program Files/unreg.ocx";
static const std::string kDownloadFile = "C:\\Windows\\Downloaded Program Files\\unreg.ocx";
static const std::string kHostile = "CLSID\\" CLSID_X "\\Hostile";

static std::string FileOf(std::string controlPath)
{
    std::replace(controlPath.begin(), controlPath.end(), '/', '\\');
    return controlPath;
}

static std::string FolderOf(const std::string& file)
{
    return file.substr(0, file.rfind('\\'));
}

static void PlaceFile(const std::string& windowsPath, const char* fixture)
{
    std::filesystem::path host = SimHostPath(windowsPath.c_str());
    std::filesystem::create_directories(host.parent_path());
    if (fixture != NULL)
        std::filesystem::copy_file(FixtureHostPath(fixture), host);
    else
        std::ofstream(host) << "not a program\r\n";
}

static std::string HostBytes(const std::string& hostPath)
{
    std::ifstream in(hostPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

static std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    lines.push_back(text.substr(start));
    return lines;
}

// removed.reg as UTF-8 lines, after its byte order mark.
static std::vector<std::string> RegFileLines(const std::string& hostPath)
{
    std::string bytes = HostBytes(hostPath);
    WideText text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        text += static_cast<WCHAR>(static_cast<unsigned char>(bytes[i]) |
                                   static_cast<unsigned char>(bytes[i + 1]) << 8);
    return SplitLines(RegFileText(text));
}

static std::string FolderName(const std::string& hostPath)
{
    return std::filesystem::path(hostPath).filename().string();
}

static bool IsUnfinished(const std::string& hostPath)
{
    return FolderName(hostPath).rfind("unfinished ", 0) == 0;
}

// The one folder that the Delete finished, as the host sees it.
static std::string FinishedFolder(int line)
{
    SCOPED_TRACE(testing::Message() << "folder expected at line " << line);
    std::vector<std::string> folders = RestoreFolders();
    EXPECT_EQ(1u, folders.size());
    if (folders.size() != 1 || IsUnfinished(folders[0])) {
        ADD_FAILURE() << "no finished restore folder";
        return std::string();
    }
    return folders[0];
}

// The same folder as the program names it.
static std::string WindowsFolder(const std::string& hostPath)
{
    WCHAR base[MAX_PATH];
    EXPECT_EQ(S_OK, SHGetFolderPathW(NULL, CSIDL_LOCAL_APPDATA, NULL, SHGFP_TYPE_CURRENT, base));
    return Utf8(base) + "\\Burrowlens\\Removed\\" + FolderName(hostPath);
}

static Bytes Sz(const std::string& utf8)
{
    WideText text = Wide(utf8);
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    return Bytes(bytes, bytes + (text.size() + 1) * sizeof(WCHAR));
}

static Bytes Units(std::initializer_list<WCHAR> units)
{
    Bytes bytes;
    for (WCHAR c : units) {
        bytes.push_back(static_cast<BYTE>(c & 0xFF));
        bytes.push_back(static_cast<BYTE>(c >> 8));
    }
    return bytes;
}

// Stored as given: Windows adds a terminator that a string leaves out when
// one follows it in memory, so the sentinel after the data is none.
static void SetValue(HKEY root, const WideText& path, const WideText& name, DWORD type,
                     const Bytes& data)
{
    Bytes buffer = data;
    buffer.insert(buffer.end(), {0xAB, 0xAB});
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(root, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name.c_str(), 0, type, buffer.data(),
                                            static_cast<DWORD>(data.size())));
    RegCloseKey(key);
}

static void RegisterDownload(const std::string& controlPath, const std::string& clsid)
{
    std::string usage = kUsagePath + "\\" + controlPath;
    SetRegistryText(HKEY_LOCAL_MACHINE, usage, ".Owner", "Unknown Owner");
    SetRegistryText(HKEY_LOCAL_MACHINE, usage, clsid.c_str(), "");
    SetRegistryText(HKEY_CLASSES_ROOT, "CLSID\\" + clsid + "\\InprocServer32", "",
                    FileOf(controlPath));
    std::string unit = kUnitsPath + "\\" + clsid;
    SetRegistryText(HKEY_LOCAL_MACHINE, unit + "\\Contains\\Files", FileOf(controlPath).c_str(),
                    "");
    SetRegistryText(HKEY_LOCAL_MACHINE, unit + "\\DownloadInformation", "CODEBASE",
                    "http://example.invalid/unreg.cab");
}

static void RegisterTypeLib(const std::string& file)
{
    SetRegistryText(HKEY_CLASSES_ROOT, "TypeLib\\" LIBID_X "\\1.0", "", "Lib");
    SetRegistryText(HKEY_CLASSES_ROOT, "TypeLib\\" LIBID_X "\\1.0\\0\\win32", "", file);
    SetRegistryText(HKEY_CLASSES_ROOT, "TypeLib\\" LIBID_X "\\1.0\\FLAGS", "", "0");
}

class RestoreFolderTest : public testing::Test {
  protected:
    void SetUp() override
    {
        Reset();
    }
    void TearDown() override
    {
        EXPECT_EQ(0, SimUnscriptedMessageBoxCount());
        EXPECT_EQ(0, SimOpenKeyCount());
        EXPECT_EQ(0, SimOpenHandleCount());
        EXPECT_EQ(0, SimLoadedModuleCount());
    }

    void Reset()
    {
        SimReset();
        CreateRegistryKey(HKEY_LOCAL_MACHINE, kUsagePath);
        CreateRegistryKey(HKEY_LOCAL_MACHINE, kSharedPath);
        CreateRegistryKey(HKEY_LOCAL_MACHINE, kUnitsPath);
        CreateRegistryKey(HKEY_CLASSES_ROOT, "CLSID");
        CreateRegistryKey(HKEY_CLASSES_ROOT, "TypeLib");
    }

    // A download of the fixture with a type library and a usage count of 1.
    void SeedDownload(const std::string& entry, const char* fixture = "unregister.ocx")
    {
        PlaceFile(FileOf(entry), fixture);
        RegisterDownload(entry, CLSID_X);
        RegisterTypeLib(FileOf(entry));
        SetRegistryDword(HKEY_LOCAL_MACHINE, kSharedPath, FileOf(entry).c_str(), 1);
    }

    // The registry as it is, whatever faults the Delete meets.
    static RegistrySnapshot Registry()
    {
        SimSuspendRegistryFaults(true);
        RegistrySnapshot lines = TakeSnapshot();
        SimSuspendRegistryFaults(false);
        return lines;
    }

    // Deletes the entry, the only one in the list; the answers go to the
    // boxes in turn.
    BOOL Delete(const std::string& entry, std::initializer_list<int> answers)
    {
        for (int answer : answers)
            SimAnswerMessageBox(answer);
        BOOL result = FALSE;
        WithMainDialog([&](HWND dialog) {
            LRESULT index = SendDlgItemMessageW(dialog, IDC_CONTROL_LIST, LB_ADDSTRING, 0,
                                                reinterpret_cast<LPARAM>(Wide(entry).c_str()));
            SendDlgItemMessageW(dialog, IDC_CONTROL_LIST, LB_SETCURSEL, index, 0);
            before = Registry();
            result = DeleteSelectedControl(dialog);
            after = Registry();
        });
        removed = Difference(before, after);
        EXPECT_EQ(RegistrySnapshot(), Difference(after, before)) << "a deletion adds nothing";
        return result;
    }

    // removed.reg holds what the Delete took from the registry, and puts back
    // the registry as it was before.
    RegFile ExpectRegistrySaved(const std::string& folder, int line)
    {
        SCOPED_TRACE(testing::Message() << "called from line " << line);
        RegFile file = ReadRegFile(folder + "/removed.reg");
        EXPECT_TRUE(file.ok) << file.error;
        RegistrySnapshot saved = RegFileSnapshot(file);
        EXPECT_EQ(1u, saved.erase("HKLM\\" + kSharedPath)) << "the usage count's own header";
        EXPECT_EQ(removed, saved);
        EXPECT_TRUE(ImportRegFile(file));
        EXPECT_EQ(before, Registry());
        return file;
    }

    RegistrySnapshot before, after, removed;
};

// The reader the other tests trust, on files written by hand: it reads what
// regedit reads and refuses what regedit would read otherwise.
TEST_F(RestoreFolderTest, ReaderFollowsTheRegeditRules)
{
    const std::string header = "\xFF\xFE";
    const struct {
        std::string text;  // after the header line; UTF-8, stored as UTF-16
        const char* error; // a part of the error, NULL when it reads
        std::string key;   // the last key
        std::string name;  // its one value
        DWORD type;
        Bytes data;
    } cases[] = {
        {"\r\n[HKEY_LOCAL_MACHINE\\a]b]\r\n@=\"x\"\r\n", NULL, "HKLM\\a]b", "", REG_SZ, Sz("x")},
        {"\n[HKEY_CLASSES_ROOT\\k]\n\"q\\\"\\\\\\n\\r\\0\\z\"=\"\"\n", NULL, "HKCR\\k",
         std::string("q\"\\\n\r") + '\0' + "\\z", REG_SZ, Sz("")},
        {"\r[HKEY_CLASSES_ROOT\\k]\r\"m\"=hex(7):61,00,\\\r\n  62,00\r\n", NULL, "HKCR\\k", "m", 7,
         Bytes{0x61, 0, 0x62, 0}},
        {"\r\n[HKEY_LOCAL_MACHINE\\k]\r\n\"d\" = dword:0000000A ; ten\r\n", NULL, "HKLM\\k", "d",
         REG_DWORD, Bytes{10, 0, 0, 0}},
        {"\r\n[HKEY_LOCAL_MACHINE\\k]\r\n\"n\"=hex(0):\r\n", NULL, "HKLM\\k", "n", REG_NONE,
         Bytes()},
        {"\r\n[HKEY_LOCAL_MACHINE\\k]\r\n\"s\"=\"a\rb\"\r\n", "does not end", "", "", 0, Bytes()},
        {"\r\n[HKEY_LOCAL_MACHINE\\k]\r\n\"s\"=\"a\" x\r\n", "does not end", "", "", 0, Bytes()},
        {"\r\n[HKEY_LOCAL_MACHINE\\k]\r\n\"d\"=dword:123456789\r\n", "dword", "", "", 0, Bytes()},
        {"\r\n[HKEY_LOCAL_MACHINE\\k]\r\n\"b\"=hex:0g\r\n", "commas", "", "", 0, Bytes()},
        {"\r\n[HKEY_LOCAL_MACHINE\\k]\r\n\"b\"=hex:01,\\\r\n", "past the end", "", "", 0, Bytes()},
        {"\r\n[-HKEY_LOCAL_MACHINE\\k]\r\n", "deletion", "", "", 0, Bytes()},
        {"\r\n[HKEY_USERS\\k]\r\n", "root", "", "", 0, Bytes()},
        {"\r\n@=\"x\"\r\n", "before any key", "", "", 0, Bytes()},
        {"\r\n[HKEY_LOCAL_MACHINE\\k]\r\nx=1\r\n", "neither", "", "", 0, Bytes()},
    };
    const std::string path = SimHostPath("C:\\reader.reg");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        WideText text = Wide("Windows Registry Editor Version 5.00" + c.text);
        std::ofstream(path, std::ios::binary)
            << header << std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);

        RegFile file = ReadRegFile(path);

        EXPECT_EQ(c.error == NULL, file.ok) << file.error;
        if (c.error != NULL) {
            EXPECT_NE(std::string::npos, file.error.find(c.error)) << file.error;
            continue;
        }
        ASSERT_EQ(1u, file.values.size());
        EXPECT_EQ(c.key, file.keys.back());
        EXPECT_EQ(c.name, file.values[0].name);
        EXPECT_EQ(c.type, file.values[0].type);
        EXPECT_EQ(c.data, file.values[0].data);
    }
    std::ofstream(path, std::ios::binary) << "Windows Registry Editor Version 5.00\r\n";
    EXPECT_NE(std::string::npos, ReadRegFile(path).error.find("byte order mark"));
    std::ofstream(path, std::ios::binary) << header << std::string("R\0E\0G\0", 6);
    EXPECT_NE(std::string::npos, ReadRegFile(path).error.find("first line"));
}

// Everything a registry value can be, under a download's class: the file
// gives back each value byte for byte, in the form that the type and data
// call for.
TEST_F(RestoreFolderTest, ValuesOfEveryKindComeBackByteForByte)
{
    Bytes pattern;
    for (int i = 0; i < 500; ++i)
        pattern.push_back(static_cast<BYTE>(i * 7));
    const WideText longName(1000, 'n');
    const struct {
        WideText name;
        DWORD type;
        Bytes data;
        const char* line; // as removed.reg writes it, when the form matters
    } values[] = {
        {Wide(""), REG_SZ, Sz(""), "@=\"\""},
        {Wide("@"), REG_SZ, Sz("at"), "\"@\"=\"at\""},
        {Wide("say \"hi\""), REG_SZ, Sz("\"quoted\""), "\"say \\\"hi\\\"\"=\"\\\"quoted\\\"\""},
        {Wide("C:\\dir\\"), REG_SZ, Sz("C:\\dir\\"), "\"C:\\\\dir\\\\\"=\"C:\\\\dir\\\\\""},
        {Wide("a=b"), REG_SZ, Sz("=c="), "\"a=b\"=\"=c=\""},
        {Wide("[HKEY_LOCAL_MACHINE\\x]"), REG_SZ, Sz("]["), NULL},
        {Wide(";not a comment"), REG_SZ, Sz(";"), NULL},
        {Wide("%PATH% & ^ !x! ( )"), REG_SZ, Sz("%SystemRoot% & ^ !x! ( )"),
         "\"%PATH% & ^ !x! ( )\"=\"%SystemRoot% & ^ !x! ( )\""},
        {Wide("line\r\nbreak\n"), REG_SZ, Sz("one\ntwo\rthree\r\n"),
         "\"line\\r\\nbreak\\n\"=\"one\\ntwo\\rthree\\r\\n\""},
        {Wide("Ωmega 東京 𝛀"), REG_SZ, Sz("Жук 𝛀"), "\"Ωmega 東京 𝛀\"=\"Жук 𝛀\""},
        {WideText{0xD800, 'x', 0xDC00}, REG_SZ, Units({'y', 0xDFFF, 0xD83D, 0}), NULL},
        {longName, REG_SZ, Sz(std::string(2000, 'v')), NULL},
        {Wide("inner NUL"), REG_SZ, Units({'a', 0, 'b', 0}),
         "\"inner NUL\"=hex(1):61,00,00,00,62,00,00,00"},
        {Wide("two NULs"), REG_SZ, Units({'a', 0, 0}), "\"two NULs\"=hex(1):61,00,00,00,00,00"},
        {Wide("no NUL"), REG_SZ, Units({'a', 'b'}), "\"no NUL\"=hex(1):61,00,62,00"},
        {Wide("odd length"), REG_SZ, Bytes{'a', 0, 0}, "\"odd length\"=hex(1):61,00,00"},
        {Wide("empty"), REG_SZ, Bytes(), "\"empty\"=hex(1):"},
        {Wide("dword"), REG_DWORD, Bytes{0xef, 0xcd, 0xab, 0x89}, "\"dword\"=dword:89abcdef"},
        {Wide("zero"), REG_DWORD, Bytes(4, 0), "\"zero\"=dword:00000000"},
        {Wide("short dword"), REG_DWORD, Bytes{1, 2, 3}, "\"short dword\"=hex(4):01,02,03"},
        {Wide("long dword"), REG_DWORD, Bytes(5, 0xff), "\"long dword\"=hex(4):ff,ff,ff,ff,ff"},
        {Wide("big endian"), REG_DWORD_BIG_ENDIAN, Bytes{0, 0, 0, 1},
         "\"big endian\"=hex(5):00,00,00,01"},
        {Wide("qword"), REG_QWORD, Bytes{1, 2, 3, 4, 5, 6, 7, 0x80},
         "\"qword\"=hex(b):01,02,03,04,05,06,07,80"},
        {Wide("none"), REG_NONE, Bytes(), "\"none\"=hex(0):"},
        {Wide("none with data"), REG_NONE, Bytes{0}, "\"none with data\"=hex(0):00"},
        {Wide("own type"), 0x1234, Bytes{0xab}, "\"own type\"=hex(1234):ab"},
        {Wide("expand"), REG_EXPAND_SZ, Sz("%SystemRoot%\\x"), NULL},
        {Wide("multi"), REG_MULTI_SZ, Units({'a', 0, 'b', 0, 0}), NULL},
        {Wide("binary"), REG_BINARY, pattern, NULL},
        {Wide("empty binary"), REG_BINARY, Bytes(), "\"empty binary\"=hex:"},
    };
    SeedDownload(kDownload);
    for (const auto& value : values)
        SetValue(HKEY_CLASSES_ROOT, Wide(kHostile), value.name, value.type, value.data);
    // Key names hold all but '\'; the headers must still name them.
    for (const WideText& name :
         {Wide("\"q\""), Wide("a=b"), Wide("[x]"), Wide("x]"), Wide("]"), Wide("@"), Wide(";c"),
          Wide("%PATH% & ^ !x!"), Wide("Ωmega 東京 𝛀"), WideText{'k', 0xDBFF}})
        SetValue(HKEY_CLASSES_ROOT, Wide(kHostile + "\\") + name, Wide(""), REG_SZ, Sz("v"));
    SetValue(HKEY_CLASSES_ROOT, Wide(kHostile), WideText{'k', 0xDBFF}, REG_SZ, Sz("lone"));

    EXPECT_TRUE(Delete(kDownload, {IDYES}));

    std::string folder = FinishedFolder(__LINE__);
    RegFile file = ExpectRegistrySaved(folder, __LINE__);
    std::vector<RegFileValue> hostile;
    for (const RegFileValue& value : file.values) {
        if (value.root == "HKCR" && value.path == kHostile)
            hostile.push_back(value);
    }
    ASSERT_EQ(std::size(values) + 1, hostile.size());
    std::vector<std::string> lines = RegFileLines(folder + "/removed.reg");
    for (const auto& value : values) {
        SCOPED_TRACE(RegFileText(value.name));
        auto found = std::find_if(hostile.begin(), hostile.end(), [&](const RegFileValue& read) {
            return read.name == RegFileText(value.name);
        });
        ASSERT_NE(hostile.end(), found);
        EXPECT_EQ(value.type, found->type);
        EXPECT_EQ(value.data, found->data);
        if (value.line != NULL) {
            EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), value.line));
        }
    }
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ("Windows Registry Editor Version 5.00", lines[0]);
    EXPECT_EQ("", lines[1]);
    // Bytes wrap as regedit wraps them.
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string& previous = lines[i - 1];
        if (previous.size() > 2 && previous.compare(previous.size() - 2, 2, ",\\") == 0) {
            EXPECT_EQ("  ", lines[i].substr(0, 2)) << lines[i];
            EXPECT_GE(80u, previous.size()) << previous;
        }
    }
}

static bool IsInTree(const std::string& key, const std::string& tree)
{
    std::string folded = LowerCase(key);
    std::string top = LowerCase(tree);
    return folded == top || folded.compare(0, top.size() + 1, top + "\\") == 0;
}

// Text that a name or value could carry into removed.reg: a quote, a line
// break and a header would make a line that imports another key.
TEST_F(RestoreFolderTest, NamesAndDataCannotReachOutsideTheExportedKeys)
{
    const std::string injection = "x\"\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Injected]\r\n\"y";
    const std::string entry = "C:/Windows/Downloaded Program Files/x]y [z].ocx";
    SeedDownload(entry);
    SetValue(HKEY_CLASSES_ROOT, Wide(kHostile), Wide(injection), REG_SZ, Sz(injection + "\"=\"z"));
    SetValue(HKEY_CLASSES_ROOT, Wide(kHostile), Wide("v"), REG_SZ,
             Sz("\\\"\r\n[HKEY_LOCAL_MACHINE]"));
    SetValue(HKEY_CLASSES_ROOT, Wide(kHostile), Wide("\\"), REG_EXPAND_SZ, Sz("\\"));
    for (const char* name : {"a]", "]", "[HKEY_LOCAL_MACHINE]", "x]\"=\"y"})
        SetValue(HKEY_CLASSES_ROOT, Wide(kHostile + "\\" + name), Wide(injection), REG_SZ, Sz("]"));

    EXPECT_TRUE(Delete(entry, {IDYES}));

    RegFile file = ExpectRegistrySaved(FinishedFolder(__LINE__), __LINE__);
    const std::string trees[] = {"HKLM\\" + kUsagePath + "\\" + entry,
                                 "HKLM\\" + kUnitsPath + "\\" CLSID_X, "HKCR\\CLSID\\" CLSID_X,
                                 "HKCR\\TypeLib\\" LIBID_X, "HKLM\\" + kSharedPath};
    auto exported = [&](const std::string& key) {
        return std::any_of(std::begin(trees), std::end(trees),
                           [&](const std::string& tree) { return IsInTree(key, tree); });
    };
    for (const std::string& key : file.keys)
        EXPECT_TRUE(exported(key)) << key;
    for (const RegFileValue& value : file.values)
        EXPECT_TRUE(exported(value.root + "\\" + value.path)) << value.path << " " << value.name;
    EXPECT_NE(file.keys.end(),
              std::find(file.keys.begin(), file.keys.end(), "HKCR\\" + kHostile + "\\x]\"=\"y"));
    EXPECT_TRUE(IsInTree("HKLM\\" + kSharedPath, file.keys.back()));
    EXPECT_EQ(1,
              std::count_if(file.values.begin(), file.values.end(),
                            [](const RegFileValue& value) { return value.path == kSharedPath; }));
}

// A line is one of these. {P} is a path from the registry or the disk: in
// quotes, and with no '%' but a doubled one, which a script reads as one.
static const char* const kScriptForms[] = {
    R"(@echo off)",
    R"(setlocal DisableDelayedExpansion)",
    R"(rem [A-Za-z .,]*)",
    R"(cd /d "%~dp0"( \|\| exit /b 1)?)",
    R"(if not exist (removed\.reg|"%~dp0removed\.reg") exit /b 1)",
    R"(for %%F in \(("%~dp0files\\[0-9]+\\\*"|files\\[0-9]+\\\*)\) do \()",
    R"(for %%F in \("%~dp0files\\[0-9]+\\\*"\) do if not exist "{P}\\%%~nxF" move "%%F" "\1\\" >nul)",
    R"(if not exist "{P}\\%%~nxF" move "%%F" "\1\\" >nul)",
    R"(("%SystemRoot%\\System32\\attrib\.exe"|attrib)( \+[hs])+ "{P}")",
    R"("%SystemRoot%\\System32\\regsvr32\.exe" /s "{P}")",
    R"((start "" /wait )?"{P}" /RegServer)",
    R"(\))",
    R"("%SystemRoot%\\System32\\reg\.exe" import ("%~dp0removed\.reg"|removed\.reg) /reg:(32|64))",
};

static std::regex ScriptForm(std::string form)
{
    size_t path = form.find("{P}");
    if (path != std::string::npos)
        form.replace(path, 3, R"(((?:[^"%]|%%)+))");
    return std::regex(form);
}

// restore.cmd's lines, each checked against the forms; answers the folders
// that the saved files move back to, in the order of their numbers, as cmd
// reads them.
static std::vector<std::string> ScriptTargets(const std::string& folder, int line)
{
    SCOPED_TRACE(testing::Message() << "called from line " << line);
    std::string script = HostBytes(folder + "/restore.cmd");
    auto unprintable = std::find_if(script.begin(), script.end(), [](char c) {
        return c != '\r' && c != '\n' && (c < ' ' || c > '~');
    });
    EXPECT_EQ(script.end(), unprintable)
        << "not printable ASCII: " << script.substr(unprintable - script.begin(), 40);
    std::vector<std::string> lines = SplitLines(script);
    EXPECT_EQ("", lines.back()) << "the last line ends with CR LF";
    lines.pop_back();
    EXPECT_GE(lines.size(), 3u);
    EXPECT_EQ("@echo off", lines.front());
    EXPECT_EQ("setlocal DisableDelayedExpansion", lines.size() > 1 ? lines[1] : "");
    std::vector<std::regex> forms;
    for (const char* form : kScriptForms)
        forms.push_back(ScriptForm(form));
    std::vector<std::string> targets;
    for (const std::string& text : lines) {
        EXPECT_EQ(std::string::npos, text.find('\n')) << "a line feed without its CR";
        std::smatch match;
        bool known = std::any_of(forms.begin(), forms.end(), [&](const std::regex& form) {
            return std::regex_match(text, match, form);
        });
        EXPECT_TRUE(known) << text;
        if (!known || text.find(" move ") == std::string::npos)
            continue;
        // The loop's own variable, %F or %~..F, would stand in for a path's text.
        std::string target = std::regex_replace(match[1].str(), std::regex("%%"), "%");
        EXPECT_EQ(std::string::npos, target.find("%F")) << text;
        EXPECT_EQ(std::string::npos, target.find("%~")) << text;
        targets.push_back(target);
    }
    return targets;
}

// Whether the script names the file's folder: by its long path, or its
// short one.
// By any of its names: the script takes the folder from the opened file.
static bool NamesFolder(const std::string& named, const std::string& file)
{
    FileIdentity folder, target;
    IdentifyFile(Wide(FolderOf(file)).c_str(), folder);
    IdentifyFile(Wide(named).c_str(), target);
    return folder.opened && IsSameFile(folder, target);
}

TEST_F(RestoreFolderTest, ScriptKeepsEveryPathInItsQuotes)
{
    const struct {
        std::string entry;
        const char* fixture;
        std::vector<std::string> others; // a download's other files, as the registry sorts them
    } cases[] = {
        {"c:\\program files\\tools 100%\\ctl.ocx", "unregister.ocx", {}},
        {"c:\\program files\\r&d (x86) ^!\\ctl.ocx", "unregister.ocx", {}},
        {"c:\\program files\\ωmega 東京\\server.exe", "server.exe", {}},
        {"c:\\program files\\tools\\50% & ^more!.ocx", "unregister.ocx", {}},
        {"C:/Windows/Downloaded Program Files/R&D ^!/ctl.ocx",
         "unregister.ocx",
         {"C:\\Program Files\\Tools 100%\\a%b%.inf", "C:\\Program Files\\Ωmega (2)\\helper.dll",
          "C:\\Windows\\Downloaded Program Files\\R&D ^!\\Жук.dll"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        Reset();
        const std::string file = FileOf(c.entry);
        bool downloaded = !c.others.empty();
        PlaceFile(file, c.fixture);
        if (downloaded)
            RegisterDownload(c.entry, CLSID_X);
        RegisterTypeLib(file);
        for (const std::string& other : c.others) {
            PlaceFile(other, NULL);
            SetRegistryText(HKEY_LOCAL_MACHINE, kUnitsPath + "\\" CLSID_X "\\Contains\\Files",
                            other.c_str(), "");
        }

        // The folder is written before the question that is answered No.
        EXPECT_FALSE(Delete(c.entry, downloaded ? std::initializer_list<int>{IDNO}
                                                : std::initializer_list<int>{IDYES, IDNO}));

        std::vector<std::string> saved = {file};
        saved.insert(saved.end(), c.others.begin(), c.others.end());
        std::vector<std::string> targets = ScriptTargets(FinishedFolder(__LINE__), __LINE__);
        ASSERT_EQ(saved.size(), targets.size());
        for (size_t i = 0; i < saved.size(); ++i)
            EXPECT_TRUE(NamesFolder(targets[i], saved[i])) << targets[i] << " for " << saved[i];
    }
}

static std::string RemovedFolder()
{
    WCHAR base[MAX_PATH];
    EXPECT_EQ(S_OK, SHGetFolderPathW(NULL, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, NULL,
                                     SHGFP_TYPE_CURRENT, base));
    return Utf8(base) + "\\Burrowlens\\Removed";
}

// When the restore folder cannot be written, the Delete says so and changes
// nothing: no unregistration, no file, no key, and no folder under a
// finished name.
class RestoreFailureTest : public RestoreFolderTest {
  protected:
    // reason: a part of the box's text, which says what stopped the folder,
    // or, when Delete found before that it could not finish, all of it.
    void ExpectNothingChanged(BOOL result, const std::string& file, const std::string& reason,
                              bool checked, int line)
    {
        SCOPED_TRACE(testing::Message() << "called from line " << line);
        EXPECT_FALSE(result);
        const std::vector<SimMessageBox>& boxes = SimMessageBoxes();
        ASSERT_EQ(1u, boxes.size());
        if (checked) {
            EXPECT_EQ(reason, boxes[0].text);
            EXPECT_EQ(static_cast<UINT>(MB_OK), boxes[0].type);
        } else {
            EXPECT_EQ(0u, boxes[0].text.rfind("Nothing was deleted", 0)) << boxes[0].text;
            EXPECT_NE(std::string::npos, boxes[0].text.find(reason)) << boxes[0].text;
            EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONERROR), boxes[0].type);
        }
        EXPECT_TRUE(SimUnregisterServerCalls().empty());
        EXPECT_TRUE(SimProcessCommands().empty());
        EXPECT_EQ(RegistrySnapshot(), removed);
        EXPECT_EQ(HostFileSize(FixtureHostPath("unregister.ocx")),
                  HostFileSize(SimHostPath(file.c_str())));
        SimFailFolderPath(0);
        for (const std::string& folder : RestoreFolders())
            EXPECT_TRUE(IsUnfinished(folder)) << folder;
    }
};

TEST_F(RestoreFailureTest, AnythingThatStopsTheFolderStopsTheDelete)
{
    const std::string classKey = "CLSID\\" CLSID_X;
    const std::string libKey = "TypeLib\\" LIBID_X;
    const std::string cannotDelete = "Unable to delete file:\n" + kDownloadFile + "\n";
    const struct {
        std::string entry;
        std::function<void(const std::string& file)> fault;
        std::string reason;
        bool checked = false; // found before the folder is written
    } cases[] = {
        {kDownload, [](const std::string&) { SimFailFolderPath(E_FAIL); },
         "Unable to find the local application data folder"},
        {kDownload,
         [](const std::string&) {
             std::string removed = RemovedFolder();
             SimDenyFileCreate(removed.substr(0, removed.rfind("\\Burrowlens")).c_str());
         },
         "Unable to create the folder (error 5):\nC:\\users\\Burrowlens "
         "Tester\\AppData\\Local\\Burrowlens"},
        {kDownload, [](const std::string&) { SimDenyFileCreate(RemovedFolder().c_str()); },
         "Unable to create the folder (error 5):"},
        {kDownload, [](const std::string& file) { SimSetFileInUse(file.c_str(), true); },
         cannotDelete +
             "The process cannot access the file because it is being used by another process.",
         true},
        {kDownload, [](const std::string& file) { SimSetFileReadOnly(file.c_str(), true); },
         cannotDelete + "Access is denied.", true},
        {kDownload, [](const std::string& file) { SimProtectFile(file.c_str()); },
         cannotDelete + "Windows protects this file.", true},
        {kDownload,
         [&](const std::string&) {
             SimDenyKeyDelete(HKEY_CLASSES_ROOT, (classKey + "\\InprocServer32").c_str());
         },
         "Unable to delete the registry key:\nHKEY_CLASSES_ROOT\\" + classKey +
             "\\InprocServer32\nAccess is denied.",
         true},
        {kDownload,
         [&](const std::string&) {
             SimDenyKeyOpen(HKEY_CLASSES_ROOT, (libKey + "\\1.0\\FLAGS").c_str());
         },
         "Unable to delete the registry key:\nHKEY_CLASSES_ROOT\\" + libKey +
             "\\1.0\\FLAGS\nAccess is denied.",
         true},
        {kDownload,
         [](const std::string&) { SimDenyKeyOpen(HKEY_LOCAL_MACHINE, kSharedPath.c_str()); },
         "Unable to read the registry key (error 5):\n" + kSharedPath},
        {kDownload,
         [&](const std::string&) {
             SimFailEnumAt(HKEY_CLASSES_ROOT, classKey.c_str(), 1, ERROR_ACCESS_DENIED);
         },
         "Unable to read the registry key (error 5):\n" + classKey},
        {kDownload,
         [](const std::string&) { CreateRegistryKey(HKEY_CLASSES_ROOT, kHostile + "\\a\nb"); },
         "A restore file cannot name this safely"},
        {kDownload,
         [&](const std::string&) { CreateRegistryKey(HKEY_CLASSES_ROOT, libKey + "\\a\rb"); },
         "A restore file cannot name this safely"},
        // Its short name is itself, and "%F" is the loop's own variable.
        {"C:/Windows/Downloaded Program Files/%Fx/unreg.ocx", [](const std::string&) {},
         "A restore file cannot name this safely"},
        {kDownload, [](const std::string&) { SimFailWritesAfter(0, ERROR_DISK_FULL); },
         "Unable to copy the file (error 112):"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        Reset();
        std::string file = FileOf(c.entry);
        SeedDownload(c.entry);
        c.fault(file);

        BOOL result = Delete(c.entry, {IDOK});

        SimSetFileInUse(file.c_str(), false);
        ExpectNothingChanged(result, file, c.reason, c.checked, __LINE__);
    }
}

// The disk fills up while the folder is written: in the copy of the
// control, in removed.reg, in restore.cmd or in README.txt. A byte short
// of the whole folder fails; the whole of it fits.
TEST_F(RestoreFailureTest, DiskFullAtAnyByteChangesNothing)
{
    SeedDownload(kDownload);
    EXPECT_FALSE(Delete(kDownload, {IDNO}));
    std::string folder = FinishedFolder(__LINE__);
    const long long copy = HostFileSize(folder + "/files/1/unreg.ocx");
    const long long reg = HostFileSize(folder + "/removed.reg");
    const long long script = HostFileSize(folder + "/restore.cmd");
    const long long total = copy + reg + script + HostFileSize(folder + "/README.txt");
    const struct {
        long long budget;
        const char* reason; // NULL: the folder fits
    } cases[] = {
        {1, "Unable to copy the file (error 112)"},
        {copy / 2, "Unable to copy the file (error 112)"},
        {copy - 1, "Unable to copy the file (error 112)"},
        {copy, "Unable to write the file (error 112)"},
        {copy + 1, "removed.reg"},
        {copy + reg - 1, "removed.reg"},
        {copy + reg + script / 2, "restore.cmd"},
        {copy + reg + script + 2, "README.txt"}, // inside the byte order mark
        {total - 1, "README.txt"},
        {total, NULL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.budget << " of " << total << " bytes");
        Reset();
        SeedDownload(kDownload);
        SimFailWritesAfter(c.budget, ERROR_DISK_FULL);

        BOOL result = Delete(kDownload, {IDNO});

        SimFailWritesAfter(-1, 0);
        if (c.reason != NULL) {
            ExpectNothingChanged(result, kDownloadFile, c.reason, false, __LINE__);
            continue;
        }
        EXPECT_FALSE(result);
        EXPECT_EQ(1u, SimMessageBoxes().size());
        FinishedFolder(__LINE__);
    }
}

// "<date> <time> <file name>" from the clock in UTC, without the
// characters that cmd reads as its own, and numbered when it is taken.
TEST_F(RestoreFolderTest, FolderIsNamedByTheClockAndTheFile)
{
    const struct {
        const char* file;
        std::vector<std::string> taken;
        const char* expected;
    } cases[] = {
        {"unreg.ocx", {}, "2031-12-31 23.59.58 unreg.ocx"},
        {"a%b!c^d&e (f).ocx", {}, "2031-12-31 23.59.58 a_b_c_d_e (f).ocx"},
        {"Жук.ocx", {}, "2031-12-31 23.59.58 Жук.ocx"},
        {"unreg.ocx", {"2031-12-31 23.59.58 unreg.ocx"}, "2031-12-31 23.59.58 unreg.ocx (2)"},
        {"unreg.ocx",
         {"2031-12-31 23.59.58 unreg.ocx", "2031-12-31 23.59.58 unreg.ocx (2)"},
         "2031-12-31 23.59.58 unreg.ocx (3)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        Reset();
        const std::string entry = "C:/Windows/Downloaded Program Files/" + std::string(c.file);
        SeedDownload(entry);
        for (const std::string& taken : c.taken)
            std::filesystem::create_directories(
                SimHostPath((RemovedFolder() + "\\" + taken).c_str()));
        SimSetSystemTime({2031, 12, 3, 31, 23, 59, 58, 999});

        EXPECT_FALSE(Delete(entry, {IDNO}));

        std::vector<std::string> folders = RestoreFolders();
        std::vector<std::string> names;
        for (const std::string& folder : folders)
            names.push_back(FolderName(folder));
        std::vector<std::string> expected = c.taken;
        expected.push_back(c.expected);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(expected, names);
        EXPECT_TRUE(std::filesystem::exists(
            SimHostPath((RemovedFolder() + "\\" + c.expected + "\\files\\1\\" + c.file).c_str())));
    }
}

static FILETIME Time(unsigned long long ticks)
{
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// The copy keeps the original's times and attributes, but for the two
// that would hide it from cmd's for; the script gives those back.
TEST_F(RestoreFolderTest, CopyKeepsTimesAndAttributesButHiddenAndSystem)
{
    const struct {
        DWORD attributes;
        DWORD copied;
        const char* attrib; // the switches restore.cmd passes to attrib, in all
    } cases[] = {
        {FILE_ATTRIBUTE_ARCHIVE, FILE_ATTRIBUTE_ARCHIVE, ""},
        {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_READONLY, ""},
        {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_NORMAL, " +h"},
        {FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE, FILE_ATTRIBUTE_ARCHIVE, " +s"},
        {FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY,
         FILE_ATTRIBUTE_READONLY, " +h +s"},
    };
    const FILETIME creation = Time(0x01D0000012345670ULL);
    const FILETIME lastWrite = Time(0x01D5000076543210ULL);
    const FILETIME lastAccess = Time(0x01DA0000ABCDEF00ULL);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "attributes " << c.attributes);
        Reset();
        SeedDownload(kDownload);
        SimSetFileTimes(kDownloadFile.c_str(), creation, lastWrite, lastAccess);
        ASSERT_TRUE(SetFileAttributesW(Wide(kDownloadFile).c_str(), c.attributes));

        EXPECT_FALSE(Delete(kDownload, {IDNO, IDOK}));
        // A read-only file cannot be deleted, which Delete finds before it
        // writes anything.
        if (c.attributes & FILE_ATTRIBUTE_READONLY) {
            EXPECT_TRUE(RestoreFolders().empty());
            continue;
        }

        std::string folder = FinishedFolder(__LINE__);
        std::string copy = WindowsFolder(folder) + "\\files\\1\\unreg.ocx";
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW(Wide(copy).c_str(), &found);
        ASSERT_NE(INVALID_HANDLE_VALUE, search) << copy;
        FindClose(search);
        EXPECT_EQ(c.copied, found.dwFileAttributes);
        EXPECT_EQ(creation.dwLowDateTime, found.ftCreationTime.dwLowDateTime);
        EXPECT_EQ(creation.dwHighDateTime, found.ftCreationTime.dwHighDateTime);
        EXPECT_EQ(lastWrite.dwLowDateTime, found.ftLastWriteTime.dwLowDateTime);
        EXPECT_EQ(lastWrite.dwHighDateTime, found.ftLastWriteTime.dwHighDateTime);
        EXPECT_EQ(lastAccess.dwLowDateTime, found.ftLastAccessTime.dwLowDateTime);
        EXPECT_EQ(lastAccess.dwHighDateTime, found.ftLastAccessTime.dwHighDateTime);
        EXPECT_EQ(HostBytes(FixtureHostPath("unregister.ocx")),
                  HostBytes(folder + "/files/1/unreg.ocx"));
        std::string script = HostBytes(folder + "/restore.cmd");
        std::string switches;
        std::regex attribLine(R"(attrib(\.exe")?((?: \+[hs])+) )");
        for (auto line = std::sregex_iterator(script.begin(), script.end(), attribLine);
             line != std::sregex_iterator(); ++line)
            switches += (*line)[2].str();
        EXPECT_EQ(c.attrib, switches);
        ScriptTargets(folder, __LINE__);
        SetFileAttributesW(Wide(kDownloadFile).c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

// A download's other files: those it may delete are saved, and README.txt
// names those it keeps. The script registers a DLL with regsvr32 and a
// server by running it.
TEST_F(RestoreFolderTest, ReadmeNamesKeptFilesAndScriptRegistersTheControl)
{
    const std::string helper = "C:\\Windows\\Downloaded Program Files\\helper.dll";
    const std::string inf = "C:\\Windows\\Downloaded Program Files\\unreg.inf";
    const std::string shared = "C:\\Windows\\System32\\Ωmega shared.dll";
    const struct {
        std::string entry;
        const char* fixture;
        bool downloaded;
        const char* registration;
    } cases[] = {
        {kDownload, "unregister.ocx", true, R"("%SystemRoot%\\System32\\regsvr32\.exe" /s ")"},
        {"c:\\program files\\vendor\\server.exe", "server.exe", false, R"(" /RegServer\r\n)"},
        {"c:\\program files\\vendor\\notes.txt", NULL, false, NULL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        Reset();
        const std::string file = FileOf(c.entry);
        PlaceFile(file, c.fixture);
        RegisterTypeLib(file);
        if (c.downloaded) {
            RegisterDownload(c.entry, CLSID_X);
            const std::string files = kUnitsPath + "\\" CLSID_X "\\Contains\\Files";
            for (const std::string& other : {helper, shared}) {
                PlaceFile(other, NULL);
                SetRegistryText(HKEY_LOCAL_MACHINE, files, other.c_str(), "");
            }
            SetRegistryDword(HKEY_LOCAL_MACHINE, kSharedPath, shared.c_str(), 2);
            PlaceFile(inf, NULL);
            SetRegistryText(HKEY_LOCAL_MACHINE, kUnitsPath + "\\" CLSID_X "\\DownloadInformation",
                            "INF", inf);
        }

        EXPECT_FALSE(Delete(c.entry, c.downloaded ? std::initializer_list<int>{IDNO}
                                                  : std::initializer_list<int>{IDYES, IDNO}));

        std::string folder = FinishedFolder(__LINE__);
        std::string readme = HostBytes(folder + "/README.txt");
        EXPECT_EQ(0u, readme.rfind("\xEF\xBB\xBF", 0));
        EXPECT_EQ(std::string::npos, std::regex_replace(readme, std::regex("\r\n"), "").find('\n'));
        EXPECT_NE(std::string::npos, readme.find(c.entry)) << readme;
        EXPECT_NE(std::string::npos, readme.find("restore.cmd")) << readme;
        EXPECT_EQ(c.downloaded, readme.find(shared) != std::string::npos) << readme;
        std::string script = HostBytes(folder + "/restore.cmd");
        if (c.registration != NULL) {
            EXPECT_TRUE(std::regex_search(script, std::regex(c.registration))) << script;
        }
        std::regex registration("regsvr32|/RegServer");
        EXPECT_EQ(c.registration != NULL ? 1 : 0,
                  std::distance(std::sregex_iterator(script.begin(), script.end(), registration),
                                std::sregex_iterator()));
        std::vector<std::string> targets = ScriptTargets(folder, __LINE__);
        std::vector<std::string> saved = {"files/1/" + file.substr(file.rfind('\\') + 1)};
        if (c.downloaded) {
            saved.push_back("files/2/helper.dll");
            saved.push_back("files/3/unreg.inf");
        }
        EXPECT_EQ(saved.size(), targets.size());
        for (const std::string& copy : saved)
            EXPECT_TRUE(std::filesystem::exists(folder + "/" + copy)) << copy;
        EXPECT_FALSE(
            std::filesystem::exists(folder + "/files/" + std::to_string(saved.size() + 1)));
    }
}
