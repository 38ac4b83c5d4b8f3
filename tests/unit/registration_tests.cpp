#include "details/details.h"
#include "inventory/inventory.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifndef _WIN32
#include <win32sim.h>
#endif

// Identifiers of the test's own, so the machine's registrations never match.
#define CLSID_A "{B0A0A0A0-0000-4000-8000-00000000000A}"
#define CLSID_B "{B0A0A0A0-0000-4000-8000-00000000000B}"
#define CLSID_C "{B0A0A0A0-0000-4000-8000-00000000000C}"
#define CLSID_D "{B0A0A0A0-0000-4000-8000-00000000000D}"
#define CLSID_E "{B0A0A0A0-0000-4000-8000-00000000000E}"
#define LIBID_A "{B0A0A0A0-0000-4000-8000-0000000000AA}"
#define LIBID_B "{B0A0A0A0-0000-4000-8000-0000000000BB}"
#define CATID_1 "{B0A0A0A0-0000-4000-8000-0000000000C1}"
#define CATID_2 "{B0A0A0A0-0000-4000-8000-0000000000C2}"
#define CATID_3 "{B0A0A0A0-0000-4000-8000-0000000000C3}"
#define CATID_4 "{B0A0A0A0-0000-4000-8000-0000000000C4}"

// Cyrillic, Greek, CJK and a character outside the BMP (a surrogate pair):
// none of them survives the ANSI code page.
#define OTHER_SCRIPTS "Жук Ωmega 東京 😀"

static const std::string kNotFound = "(not found)";
static const WCHAR kGuard = 0xFDFD;

static std::string ModuleUsageKey(const std::string& file)
{
    return Utf8(MODULE_USAGE_PATH) + "\\" + file;
}

// An output buffer of the size a lookup takes, with sentinels on both sides.
template <size_t N> struct Guarded {
    WCHAR front[2] = {kGuard, kGuard};
    WCHAR text[N];
    WCHAR back[2] = {kGuard, kGuard};

    Guarded()
    {
        for (WCHAR& c : text)
            c = kGuard;
    }
    bool Intact() const
    {
        return front[0] == kGuard && front[1] == kGuard && back[0] == kGuard && back[1] == kGuard;
    }
    // Up to the NUL, and never past the buffer when a lookup left none.
    std::string Text() const
    {
        size_t length = 0;
        while (length < N && text[length] != 0)
            ++length;
        return Utf8(WideText(text, length));
    }
};

// The text a lookup left in its buffer, or kNotFound when it answered FALSE.
// Writing outside the buffer fails the test at the caller's line.
template <size_t N, typename Lookup> static std::string Answer(int line, Lookup lookup)
{
    testing::ScopedTrace trace(__FILE__, line, "lookup called here");
    Guarded<N> buffer;
    BOOL found = lookup(buffer.text);
    EXPECT_TRUE(buffer.Intact()) << "written outside the buffer";
    return found ? buffer.Text() : kNotFound;
}

// Both outputs of a lookup that gives an identifier and a version, joined by a space.
template <size_t N, typename Lookup> static std::string PairAnswer(int line, Lookup lookup)
{
    testing::ScopedTrace trace(__FILE__, line, "lookup called here");
    Guarded<MAX_PATH> libId;
    Guarded<N> version;
    BOOL found = lookup(libId.text, version.text);
    EXPECT_TRUE(libId.Intact()) << "written outside the identifier";
    EXPECT_TRUE(version.Intact()) << "written outside the version";
    return found ? libId.Text() + " " + version.Text() : kNotFound;
}

static std::string Repeated(const std::string& text, int count)
{
    std::string repeated;
    for (int i = 0; i < count; ++i)
        repeated += text;
    return repeated;
}

class RegistrationTest : public testing::Test {
  protected:
    void TearDown() override
    {
        for (const char* key :
             {"CLSID\\" CLSID_A, "CLSID\\" CLSID_B, "CLSID\\" CLSID_C, "CLSID\\" CLSID_D,
              "CLSID\\" CLSID_E, "TypeLib\\" LIBID_A, "TypeLib\\" LIBID_B,
              "Component Categories\\" CATID_1, "Component Categories\\" CATID_2,
              "Component Categories\\" CATID_3, "Component Categories\\" CATID_4})
            DeleteRegistryTree(HKEY_CLASSES_ROOT, key);
        for (const std::string& name : moduleKeys)
            DeleteRegistryTree(HKEY_LOCAL_MACHINE, ModuleUsageKey(name));
        for (const std::string& name : sharedValues) {
            HKEY key;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SHARED_DLLS_PATH, 0, KEY_ALL_ACCESS, &key) ==
                ERROR_SUCCESS) {
                RegDeleteValueW(key, Wide(name).c_str());
                RegCloseKey(key);
            }
        }
    }

    void AddModuleValue(const std::string& file, const std::string& name, const std::string& data)
    {
        SetRegistryText(HKEY_LOCAL_MACHINE, ModuleUsageKey(file), name.c_str(), data);
        moduleKeys.push_back(file);
    }
    void AddSharedCount(const std::string& file, DWORD count)
    {
        SetRegistryDword(HKEY_LOCAL_MACHINE, Utf8(SHARED_DLLS_PATH), file.c_str(), count);
        sharedValues.push_back(file);
    }

    std::vector<std::string> moduleKeys;
    std::vector<std::string> sharedValues;
};

static std::string ModuleClsid(int line, const std::string& controlPath)
{
    return Answer<MAX_PATH>(line, [&](WCHAR(&clsid)[MAX_PATH]) {
        return FindModuleClsid(HKEY_LOCAL_MACHINE, Wide(controlPath).c_str(), VIEW_32, clsid);
    });
}

TEST_F(RegistrationTest, ModuleClsidIsTheFirstValueNamedInBraces)
{
    AddModuleValue("C:/BlTest/OCCACHE/a.ocx", "", "default");
    AddModuleValue("C:/BlTest/OCCACHE/a.ocx", ".Owner", "x");
    AddModuleValue("C:/BlTest/OCCACHE/a.ocx", CLSID_B, "y");
    AddModuleValue("C:/BlTest/OCCACHE/a.ocx", "{Z}", "z");
    AddModuleValue("C:/BlTest/OCCACHE/none.ocx", ".Owner", "x");
    AddModuleValue("C:/BlTest/OCCACHE/big.ocx", ".Big", std::string(200, 'd'));
    AddModuleValue("C:/BlTest/OCCACHE/big.ocx", CLSID_A, "");
    // The walk's buffer holds 127 characters and the NUL, whatever their script.
    AddModuleValue("C:/BlTest/OCCACHE/fits.ocx", ".Fits", Repeated("Ж", 127));
    AddModuleValue("C:/BlTest/OCCACHE/fits.ocx", CLSID_A, "");
    AddModuleValue("C:/BlTest/OCCACHE/over.ocx", ".Over", Repeated("Ж", 128));
    AddModuleValue("C:/BlTest/OCCACHE/over.ocx", CLSID_A, "");
    AddModuleValue("C:/" OTHER_SCRIPTS "/OCCACHE/Ωmega.ocx", ".Owner", OTHER_SCRIPTS);
    AddModuleValue("C:/" OTHER_SCRIPTS "/OCCACHE/Ωmega.ocx", "{" OTHER_SCRIPTS "}", OTHER_SCRIPTS);
    AddModuleValue("C:/Program Files/Omega/Omega.dll", CLSID_A, "");

    struct Case {
        const char* path;
        std::string clsid;
    } cases[] = {
        {"C:/BlTest/OCCACHE/a.ocx", CLSID_B},
        {"c:/bltest/occache/A.OCX", CLSID_B},
        {"C:/BlTest/OCCACHE/none.ocx", kNotFound},
        // A value too big for the walk's buffer ends it before the class.
        {"C:/BlTest/OCCACHE/big.ocx", kNotFound},
        {"C:/BlTest/OCCACHE/fits.ocx", CLSID_A},
        {"C:/BlTest/OCCACHE/over.ocx", kNotFound},
        // Key names under ModuleUsage use '/', so the backslash form names no key.
        {"C:\\BlTest\\OCCACHE\\a.ocx", kNotFound},
        {"C:/BlTest/missing.ocx", kNotFound},
        {"C:/" OTHER_SCRIPTS "/OCCACHE/Ωmega.ocx", "{" OTHER_SCRIPTS "}"},
        // What the ANSI code page would make of the name ('Ω' as 'O') is another key.
        {"C:/Program Files/Ωmega/Omega.dll", kNotFound},
        {"C:/Program Files/Omega/Omega.dll", CLSID_A},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(c.clsid, ModuleClsid(__LINE__, c.path));
    }
}

static std::string ClsidTypeLib(int line, const char* clsid)
{
    return PairAnswer<64>(line, [&](WCHAR(&libId)[MAX_PATH], WCHAR(&version)[64]) {
        return GetClsidTypeLib(Wide(clsid).c_str(), VIEW_32, libId, version);
    });
}

static std::string TypeLibName(int line, const std::string& libId, const std::string& version)
{
    return Answer<MAX_PATH>(line, [&](WCHAR(&name)[MAX_PATH]) {
        return GetTypeLibName(Wide(libId).c_str(), Wide(version).c_str(), VIEW_32, name);
    });
}

TEST_F(RegistrationTest, ClassTypeLibNeedsBothVersionAndTypeLib)
{
    const std::string longestVersion = Repeated("Ж", 63);
    SetRegistryText(HKEY_CLASSES_ROOT, "CLSID\\" CLSID_A "\\Version", "", "1.0");
    SetRegistryText(HKEY_CLASSES_ROOT, "CLSID\\" CLSID_A "\\TypeLib", "", LIBID_A);
    SetRegistryText(HKEY_CLASSES_ROOT, "CLSID\\" CLSID_B "\\TypeLib", "", LIBID_A);
    SetRegistryText(HKEY_CLASSES_ROOT, "CLSID\\" CLSID_C "\\Version", "", std::string(70, '9'));
    SetRegistryText(HKEY_CLASSES_ROOT, "CLSID\\" CLSID_C "\\TypeLib", "", LIBID_A);
    SetRegistryText(HKEY_CLASSES_ROOT, "CLSID\\" CLSID_D "\\Version", "", "Ωmega 東京");
    SetRegistryText(HKEY_CLASSES_ROOT, "CLSID\\" CLSID_D "\\TypeLib", "", LIBID_B);
    SetRegistryText(HKEY_CLASSES_ROOT, "CLSID\\" CLSID_E "\\Version", "", longestVersion);
    SetRegistryText(HKEY_CLASSES_ROOT, "CLSID\\" CLSID_E "\\TypeLib", "", LIBID_A);
    SetRegistryText(HKEY_CLASSES_ROOT, "TypeLib\\" LIBID_A "\\1.0", "", "Fixture Control Library");
    SetRegistryText(HKEY_CLASSES_ROOT, "TypeLib\\" LIBID_B "\\Ωmega 東京", "",
                    "Библиотека " OTHER_SCRIPTS);

    struct Case {
        const char* clsid;
        std::string typeLib;
        std::string name;
    } cases[] = {
        {CLSID_A, LIBID_A " 1.0", "Fixture Control Library"},
        {CLSID_B, kNotFound, kNotFound},
        {CLSID_C, kNotFound, kNotFound},
        {CLSID_D, LIBID_B " Ωmega 東京", "Библиотека " OTHER_SCRIPTS},
        // Fits its 64 characters although its UTF-8 or ANSI bytes would not.
        {CLSID_E, LIBID_A " " + longestVersion, kNotFound},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.clsid);
        std::string typeLib = ClsidTypeLib(__LINE__, c.clsid);
        EXPECT_EQ(c.typeLib, typeLib);
        if (typeLib != kNotFound) {
            size_t space = typeLib.find(' ');
            EXPECT_EQ(c.name,
                      TypeLibName(__LINE__, typeLib.substr(0, space), typeLib.substr(space + 1)));
        }
    }
    EXPECT_EQ(kNotFound, TypeLibName(__LINE__, LIBID_A, "2.0"));
    EXPECT_EQ(kNotFound, TypeLibName(__LINE__, LIBID_B, "Omega 東京"));
}

TEST_F(RegistrationTest, SharedDllCountIsANumberUnderTheBackslashPath)
{
    AddSharedCount("C:\\BlTest\\zero.ocx", 0);
    AddSharedCount("C:\\BlTest\\OCCACHE\\many.ocx", 300);
    AddSharedCount("C:\\BlTest\\minus.ocx", 0xFFFFFFFF);
    SetRegistryText(HKEY_LOCAL_MACHINE, Utf8(SHARED_DLLS_PATH), "C:\\BlTest\\text.ocx", "7");
    sharedValues.push_back("C:\\BlTest\\text.ocx");
    AddSharedCount("C:\\" OTHER_SCRIPTS "\\Ωmega.ocx", 7);
    AddSharedCount("C:\\Program Files\\Omega\\Omega.dll", 5);

    struct Case {
        const char* path;
        std::string count;
    } cases[] = {
        {"C:\\BlTest\\zero.ocx", "0"},
        {"C:/BlTest/OCCACHE/many.ocx", "300"},
        {"c:\\bltest\\occache\\MANY.ocx", "300"},
        {"C:\\BlTest\\minus.ocx", "-1"},
        {"C:\\BlTest\\text.ocx", kNotFound},
        {"C:\\BlTest\\missing.ocx", kNotFound},
        {"C:\\" OTHER_SCRIPTS "\\Ωmega.ocx", "7"},
        {"C:/" OTHER_SCRIPTS "/Ωmega.ocx", "7"},
        {"C:\\Program Files\\Ωmega\\Omega.dll", kNotFound},
        {"C:\\Program Files\\Omega\\Omega.dll", "5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(c.count, Answer<MAX_PATH>(__LINE__, [&](WCHAR(&count)[MAX_PATH]) {
                      return GetSharedDllCount(EntryOf(c.path).filePath, VIEW_32, count);
                  }));
    }
}

TEST_F(RegistrationTest, TypeLibForFileMatchesTheWin32PathInAnyCase)
{
    SetRegistryText(HKEY_CLASSES_ROOT, "TypeLib\\" LIBID_A "\\1.0\\0\\win16", "",
                    "C:\\BlTest\\Sixteen.dll");
    SetRegistryText(HKEY_CLASSES_ROOT, "TypeLib\\" LIBID_A "\\1.0\\9\\win32", "",
                    "C:\\BlTest\\Locale.dll");
    SetRegistryText(HKEY_CLASSES_ROOT, "TypeLib\\" LIBID_A "\\2.0\\0\\win32", "",
                    "C:\\BlTest\\Control.OCX");
    SetRegistryText(HKEY_CLASSES_ROOT, "TypeLib\\" LIBID_B "\\1.0\\0\\win32", "",
                    "C:\\BlTest\\Other.dll");
    SetRegistryText(HKEY_CLASSES_ROOT, "TypeLib\\" LIBID_B "\\3.0\\0\\win32", "",
                    "C:\\" OTHER_SCRIPTS "\\Ωmega.ocx");
    SetRegistryText(HKEY_CLASSES_ROOT, "TypeLib\\" LIBID_B "\\4.0\\0\\win32", "",
                    "C:\\Program Files\\Ωmega\\Omega.dll");
    // A version name too long for the search ends its walk of the library.
    SetRegistryText(HKEY_CLASSES_ROOT,
                    "TypeLib\\" LIBID_B "\\6" + std::string(40, 'x') + "\\0\\win32", "",
                    "C:\\BlTest\\Long.dll");
    SetRegistryText(HKEY_CLASSES_ROOT, "TypeLib\\" LIBID_B "\\7.0\\0\\win32", "",
                    "C:\\BlTest\\Seven.dll");
    // A second library for the same file: the first one in the walk answers.
    SetRegistryText(HKEY_CLASSES_ROOT, "TypeLib\\" LIBID_B "\\5.0\\0\\win32", "",
                    "c:\\bltest\\CONTROL.ocx");

    struct Case {
        const char* path;
        std::string typeLib;
    } cases[] = {
        {"c:\\bltest\\control.ocx", LIBID_A " 2.0"},
        {"C:/BlTest/Other.dll", LIBID_B " 1.0"},
        {"c:\\bltest\\sixteen.dll", kNotFound},
        {"c:\\bltest\\locale.dll", kNotFound},
        {"C:\\" OTHER_SCRIPTS "\\Ωmega.ocx", LIBID_B " 3.0"},
        {"c:/" OTHER_SCRIPTS "/ΩMEGA.OCX", LIBID_B " 3.0"},
        {"C:\\Program Files\\Ωmega\\Omega.dll", LIBID_B " 4.0"},
        {"C:\\Program Files\\Omega\\Omega.dll", kNotFound},
        {"c:\\bltest\\long.dll", kNotFound},
        {"c:\\bltest\\seven.dll", kNotFound},
    };
    // The index a report reads once answers as the walk for each file does.
    RegistrationIndex index;
    ASSERT_EQ(ERROR_SUCCESS, ReadRegistrationIndex(index));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(c.typeLib,
                  PairAnswer<32>(__LINE__, [&](WCHAR(&libId)[MAX_PATH], WCHAR(&version)[32]) {
                      return FindTypeLibForFile(EntryOf(c.path).filePath, VIEW_32, libId, version);
                  }));
        EXPECT_EQ(
            c.typeLib, PairAnswer<32>(__LINE__, [&](WCHAR(&libId)[MAX_PATH], WCHAR(&version)[32]) {
                return FindIndexedTypeLib(index, EntryOf(c.path).filePath, VIEW_32, libId, version);
            }));
    }
    FreeRegistrationIndex(index);

#ifndef _WIN32
    // A library that cannot be opened ends every search that reaches it, the
    // index's as much as each file's own.
    SimDenyKeyOpen(HKEY_CLASSES_ROOT, "TypeLib\\" LIBID_A);
    ASSERT_EQ(ERROR_SUCCESS, ReadRegistrationIndex(index));
    for (const char* path : {"c:\\bltest\\control.ocx", "C:/BlTest/Other.dll"}) {
        SCOPED_TRACE(path);
        auto walked = [&](WCHAR(&libId)[MAX_PATH], WCHAR(&version)[32]) {
            return FindTypeLibForFile(EntryOf(path).filePath, VIEW_32, libId, version);
        };
        auto indexed = [&](WCHAR(&libId)[MAX_PATH], WCHAR(&version)[32]) {
            return FindIndexedTypeLib(index, EntryOf(path).filePath, VIEW_32, libId, version);
        };
        EXPECT_EQ(kNotFound, PairAnswer<32>(__LINE__, walked));
        EXPECT_EQ(kNotFound, PairAnswer<32>(__LINE__, indexed));
    }
    FreeRegistrationIndex(index);
    SimReset();
#endif
}

static std::string Categories(int line, const char* clsid)
{
    return Answer<MAX_PATH>(line, [&](WCHAR(&categories)[MAX_PATH]) {
        return GetImplementedCategories(Wide(clsid).c_str(), VIEW_32, categories);
    });
}

TEST_F(RegistrationTest, CategoriesAreShortenedAndJoined)
{
    const char* base = "CLSID\\" CLSID_A "\\Implemented Categories\\";
    for (const char* catId : {CATID_1, CATID_2, CATID_3})
        CreateRegistryKey(HKEY_CLASSES_ROOT, std::string(base) + catId);
    SetRegistryText(HKEY_CLASSES_ROOT, "Component Categories\\" CATID_1, "409",
                    "Controls that are safely scriptable");
    // CATID_2 has no English description and is left out, separator and all.
    SetRegistryText(HKEY_CLASSES_ROOT, "Component Categories\\" CATID_2, "407", "Deutsch");
    SetRegistryText(HKEY_CLASSES_ROOT, "Component Categories\\" CATID_3, "409",
                    "Controls safely initializable from persistent data");
    SetRegistryText(HKEY_CLASSES_ROOT, "Component Categories\\" CATID_4, "409",
                    "Элементы " OTHER_SCRIPTS);

    EXPECT_EQ("Scriptable; Initialized from data", Categories(__LINE__, CLSID_A));

    SetRegistryText(HKEY_CLASSES_ROOT, "Component Categories\\" CATID_2, "409", "");
    EXPECT_EQ("Scriptable; ; Initialized from data", Categories(__LINE__, CLSID_A));

    CreateRegistryKey(HKEY_CLASSES_ROOT, "CLSID\\" CLSID_B "\\Implemented Categories\\" CATID_3);
    CreateRegistryKey(HKEY_CLASSES_ROOT, "CLSID\\" CLSID_B "\\Implemented Categories\\" CATID_4);
    EXPECT_EQ("Initialized from data; Элементы " OTHER_SCRIPTS, Categories(__LINE__, CLSID_B));

    CreateRegistryKey(HKEY_CLASSES_ROOT, "CLSID\\" CLSID_C "\\Implemented Categories\\" CATID_2);
    EXPECT_EQ(kNotFound, Categories(__LINE__, CLSID_C));
}

TEST_F(RegistrationTest, ClsidForTypeLibIsTheFirstClassNamingIt)
{
    SetRegistryText(HKEY_CLASSES_ROOT, "CLSID\\" CLSID_A "\\TypeLib", "", LIBID_B);
    SetRegistryText(HKEY_CLASSES_ROOT, "CLSID\\" CLSID_B "\\TypeLib", "", LIBID_B);

    std::string lowered = LIBID_B;
    for (char& c : lowered)
        c = static_cast<char>(tolower(c));
    RegistrationIndex index;
    ASSERT_EQ(ERROR_SUCCESS, ReadRegistrationIndex(index));
    for (bool indexed : {false, true}) {
        SCOPED_TRACE(indexed ? "from the index" : "by a walk");
        auto clsidFor = [&](int line, const std::string& libId) {
            return Answer<MAX_PATH>(line, [&](WCHAR(&clsid)[MAX_PATH]) {
                return indexed ? FindIndexedClsid(index, Wide(libId).c_str(), VIEW_32, clsid)
                               : FindClsidForTypeLib(Wide(libId).c_str(), VIEW_32, clsid);
            });
        };
        EXPECT_EQ(CLSID_A, clsidFor(__LINE__, lowered));
        EXPECT_EQ(CLSID_A, clsidFor(__LINE__, LIBID_B));
        EXPECT_EQ(kNotFound, clsidFor(__LINE__, LIBID_A));
    }
    FreeRegistrationIndex(index);
}
