#include "support/test_support.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

// A path opened as the program opens it to tell which file it names:
// attributes only, shared every way, folders too.
struct Opened {
    bool opened;
    DWORD error;
    BY_HANDLE_FILE_INFORMATION information;
};

static Opened OpenForIdentity(const std::string& path)
{
    Opened result = {};
    SetLastError(0xDEAD);
    HANDLE file = CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        result.error = GetLastError();
        return result;
    }
    result.opened = GetFileInformationByHandle(file, &result.information) != FALSE;
    EXPECT_TRUE(CloseHandle(file));
    return result;
}

static bool SameFile(const Opened& first, const Opened& second)
{
    return first.information.dwVolumeSerialNumber == second.information.dwVolumeSerialNumber &&
           first.information.nFileIndexHigh == second.information.nFileIndexHigh &&
           first.information.nFileIndexLow == second.information.nFileIndexLow;
}

static std::string WithSlashes(std::string path)
{
    for (char& c : path) {
        if (c == '\\')
            c = '/';
    }
    return path;
}

TEST(FileIdentityTest, OneFileUnderManyNamesHasOneVolumeAndIndex)
{
    Opened file = OpenForIdentity(FixturePath("full.ocx"));
    ASSERT_TRUE(file.opened) << file.error;
    const std::string names[] = {
        FixturePath("FULL.OCX"),
        FixturePath("Full.Ocx"),
        WithSlashes(FixturePath("full.ocx")),
        FixturePath("full.ocx."),
        FixturePath("full.ocx. ."),
        FixturePath(".\\full.ocx"),
        FixturePath("..\\fixtures\\full.ocx"),
    };
    for (const std::string& name : names) {
        SCOPED_TRACE(name);

        Opened same = OpenForIdentity(name);

        ASSERT_TRUE(same.opened) << same.error;
        EXPECT_TRUE(SameFile(file, same));
        EXPECT_EQ(file.information.nFileSizeLow, same.information.nFileSizeLow);
    }
}

TEST(FileIdentityTest, OtherFilesAndFoldersHaveOtherIndexes)
{
    std::string folder = FixturePath("");
    folder.pop_back();

    Opened file = OpenForIdentity(FixturePath("full.ocx"));
    Opened other = OpenForIdentity(FixturePath("noversion.dll"));
    Opened directory = OpenForIdentity(folder);

    ASSERT_TRUE(file.opened && other.opened && directory.opened);
    EXPECT_FALSE(SameFile(file, other));
    EXPECT_FALSE(SameFile(file, directory));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY),
              directory.information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(0u, file.information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

TEST(FileIdentityTest, MissingFileAndMissingFolderAreTold)
{
    const struct {
        const char* name;
        DWORD error;
    } cases[] = {
        {"missing.ocx", ERROR_FILE_NOT_FOUND},
        {"missing\\full.ocx", ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);

        Opened missing = OpenForIdentity(FixturePath(c.name));

        EXPECT_FALSE(missing.opened);
        EXPECT_EQ(c.error, missing.error);
    }
}

// The name found is the one on disk, whatever case and separators the
// search was spelt with.
TEST(FindFileTest, FindsAFileByAnyCaseAndSeparator)
{
    const struct {
        std::string path;
        bool found;
    } cases[] = {
        {FixturePath("full.ocx"), true},
        {FixturePath("FULL.OCX"), true},
        {WithSlashes(FixturePath("Full.ocx")), true},
        {FixturePath("missing.ocx"), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        WIN32_FIND_DATAW found;
        memset(&found, '#', sizeof found);
        SetLastError(0xDEAD);

        HANDLE search = FindFirstFileW(Wide(c.path).c_str(), &found);

        ASSERT_EQ(c.found, search != INVALID_HANDLE_VALUE);
        if (!c.found) {
            EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
            continue;
        }
        EXPECT_TRUE(FindClose(search));
        EXPECT_EQ("full.ocx", Utf8(found.cFileName));
        EXPECT_EQ(0u, found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
        EXPECT_EQ(HostFileSize(FixtureHostPath("full.ocx")),
                  static_cast<long long>(found.nFileSizeLow));
    }
}

// A string operation: nothing here exists, and nothing needs to. The drive
// letters are capitals, which Windows and Wine both leave as they are.
TEST(FullPathTest, FollowsTheWin32PathRules)
{
    const struct {
        const char* path;
        const char* full;
        const char* filePart;
    } cases[] = {
        {"C:/Program Files/Vendor/c.ocx", "C:\\Program Files\\Vendor\\c.ocx", "c.ocx"},
        {"C:\\a\\.\\b\\..\\c.ocx", "C:\\a\\c.ocx", "c.ocx"},
        {"C:\\..\\a.ocx", "C:\\a.ocx", "a.ocx"},
        {"C:\\a\\\\b.ocx", "C:\\a\\b.ocx", "b.ocx"},
        {"C:\\a\\b.ocx. . .", "C:\\a\\b.ocx", "b.ocx"},
        {"C:\\a b \\c.ocx ", "C:\\a b \\c.ocx", "c.ocx"},
        {"C:\\Жук\\Ωmega.ocx", "C:\\Жук\\Ωmega.ocx", "Ωmega.ocx"},
        {"C:\\a\\.", "C:\\a", "a"},
        {"C:\\a\\", "C:\\a\\", NULL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        WCHAR full[MAX_PATH + 1];
        for (WCHAR& unit : full)
            unit = '#';
        WCHAR* filePart = full;
        WideText expected = Wide(c.full);

        EXPECT_EQ(expected.size(),
                  GetFullPathNameW(Wide(c.path).c_str(), MAX_PATH, full, &filePart));

        EXPECT_EQ(c.full, Utf8(full));
        if (c.filePart) {
            ASSERT_NE(nullptr, filePart);
            EXPECT_EQ(c.filePart, Utf8(filePart));
        } else {
            EXPECT_EQ(nullptr, filePart);
        }
        EXPECT_EQ('#', full[MAX_PATH]);
    }
}

// The size needed counts the NUL, and it is the size of the path once "."
// and ".." are gone.
TEST(FullPathTest, BufferTooSmallAnswersTheSizeNeeded)
{
    const WideText path = Wide("C:\\a\\x\\..\\bc.ocx");
    const struct {
        DWORD size;
        DWORD answer;
        const char* full;
    } cases[] = {
        {0, 12, "#"},
        {1, 12, "#"},
        {11, 12, "#"},
        {12, 11, "C:\\a\\bc.ocx"},
        {13, 11, "C:\\a\\bc.ocx"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        WCHAR full[16];
        for (WCHAR& unit : full)
            unit = '#';

        EXPECT_EQ(c.answer, GetFullPathNameW(path.c_str(), c.size, full, NULL));

        full[15] = 0;
        EXPECT_EQ(c.full, Utf8(full).substr(0, strlen(c.full)));
        EXPECT_EQ('#', full[c.size]);
    }
}

// Each test owns C:\BurrowlensTest\<suite.test>. What it makes there it
// names with Made(), and TearDown takes that away again, last first: the
// stand-in has no wildcard search to empty a folder with.
class ScratchTest : public testing::Test {
  protected:
    void SetUp() override
    {
        const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
        folder = std::string("C:\\BurrowlensTest\\") + test->test_suite_name() + "." + test->name();
        CreateDirectoryW(TEXT("C:\\BurrowlensTest"), NULL);
        ASSERT_TRUE(CreateDirectoryW(Wide(folder).c_str(), NULL) ||
                    GetLastError() == ERROR_ALREADY_EXISTS);
    }
    void TearDown() override
    {
        for (auto path = made.rbegin(); path != made.rend(); ++path) {
            WideText wide = Wide(*path);
            SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (!DeleteFileW(wide.c_str()))
                RemoveDirectoryW(wide.c_str());
        }
        EXPECT_TRUE(RemoveDirectoryW(Wide(folder).c_str())) << GetLastError();
        RemoveDirectoryW(TEXT("C:\\BurrowlensTest"));
    }

    std::string Path(const std::string& name) const
    {
        return folder + "\\" + name;
    }
    std::string Made(const std::string& name)
    {
        made.push_back(Path(name));
        return made.back();
    }
    void MakeFolder(const std::string& name, int line = __builtin_LINE())
    {
        testing::ScopedTrace trace(__FILE__, line, name);
        EXPECT_TRUE(CreateDirectoryW(Wide(Made(name)).c_str(), NULL)) << GetLastError();
    }
    void MakeFile(const std::string& name, const std::string& bytes, int line = __builtin_LINE())
    {
        testing::ScopedTrace trace(__FILE__, line, name);
        HANDLE file = CreateFileW(Wide(Made(name)).c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, NULL);
        ASSERT_NE(INVALID_HANDLE_VALUE, file) << GetLastError();
        DWORD written = 0;
        EXPECT_TRUE(
            WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL));
        EXPECT_EQ(bytes.size(), written);
        EXPECT_TRUE(CloseHandle(file));
    }
    std::string ReadWholeFile(const std::string& name, int line = __builtin_LINE())
    {
        testing::ScopedTrace trace(__FILE__, line, name);
        HANDLE file = CreateFileW(Wide(Path(name)).c_str(), GENERIC_READ, FILE_SHARE_READ, NULL,
                                  OPEN_EXISTING, 0, NULL);
        EXPECT_NE(INVALID_HANDLE_VALUE, file) << GetLastError();
        std::string bytes;
        char buffer[4096];
        DWORD read = 0;
        while (ReadFile(file, buffer, sizeof buffer, &read, NULL) && read > 0)
            bytes.append(buffer, read);
        CloseHandle(file);
        return bytes;
    }
    WIN32_FIND_DATAW Find(const std::string& name, int line = __builtin_LINE())
    {
        testing::ScopedTrace trace(__FILE__, line, name);
        WIN32_FIND_DATAW found;
        memset(&found, 0, sizeof found);
        HANDLE search = FindFirstFileW(Wide(Path(name)).c_str(), &found);
        EXPECT_NE(INVALID_HANDLE_VALUE, search) << GetLastError();
        if (search != INVALID_HANDLE_VALUE)
            FindClose(search);
        return found;
    }

    std::string folder;
    std::vector<std::string> made;
};

// GetLastError after a success too: CREATE_ALWAYS tells that it emptied a file.
TEST_F(ScratchTest, CreateFileDispositionsAnswerWindowsErrors)
{
    MakeFile("old.txt", "old");
    const struct {
        const char* name;
        DWORD access;
        DWORD disposition;
        bool opened;
        DWORD error;
        int line;
    } cases[] = {
        {"old.txt", GENERIC_WRITE, CREATE_NEW, false, ERROR_FILE_EXISTS, __LINE__},
        {"new.txt", GENERIC_WRITE, CREATE_NEW, true, ERROR_SUCCESS, __LINE__},
        {"missing.txt", GENERIC_READ, OPEN_EXISTING, false, ERROR_FILE_NOT_FOUND, __LINE__},
        {"missing\\new.txt", GENERIC_WRITE, CREATE_NEW, false, ERROR_PATH_NOT_FOUND, __LINE__},
        {"missing\\old.txt", GENERIC_READ, OPEN_EXISTING, false, ERROR_PATH_NOT_FOUND, __LINE__},
        {"old.txt", GENERIC_WRITE, CREATE_ALWAYS, true, ERROR_ALREADY_EXISTS, __LINE__},
        {"fresh.txt", GENERIC_WRITE, CREATE_ALWAYS, true, ERROR_SUCCESS, __LINE__},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case at line " << c.line);
        if (c.opened && c.error == ERROR_SUCCESS)
            Made(c.name);
        SetLastError(0xDEAD);

        HANDLE file = CreateFileW(Wide(Path(c.name)).c_str(), c.access, 0, NULL, c.disposition,
                                  FILE_ATTRIBUTE_NORMAL, NULL);

        EXPECT_EQ(c.error, GetLastError());
        ASSERT_EQ(c.opened, file != INVALID_HANDLE_VALUE);
        if (c.opened) {
            LARGE_INTEGER size;
            size.QuadPart = -1;
            EXPECT_TRUE(GetFileSizeEx(file, &size));
            EXPECT_EQ(0, size.QuadPart);
            EXPECT_TRUE(CloseHandle(file));
        }
    }
}

// Binary data, NULs included, in two writes larger than one read buffer.
TEST_F(ScratchTest, WrittenBytesReadBackWithTheirSize)
{
    std::string bytes;
    for (int i = 0; i < 70000; ++i)
        bytes += static_cast<char>(i * 7 % 256);
    HANDLE file = CreateFileW(Wide(Made("data.bin")).c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0, read = 0xDEAD;
    char unread = '#';

    EXPECT_TRUE(WriteFile(file, bytes.data(), 1000, &written, NULL));
    EXPECT_EQ(1000u, written);
    EXPECT_TRUE(WriteFile(file, bytes.data() + 1000, 69000, &written, NULL));
    EXPECT_EQ(69000u, written);
    EXPECT_FALSE(ReadFile(file, &unread, 1, &read, NULL));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_TRUE(FlushFileBuffers(file));
    LARGE_INTEGER size;
    EXPECT_TRUE(GetFileSizeEx(file, &size));
    EXPECT_TRUE(CloseHandle(file));

    EXPECT_EQ(70000, size.QuadPart);
    EXPECT_EQ(bytes, ReadWholeFile("data.bin"));
    file = CreateFileW(Wide(Path("data.bin")).c_str(), GENERIC_READ, FILE_SHARE_READ, NULL,
                       OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    EXPECT_FALSE(WriteFile(file, "x", 1, &written, NULL));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_EQ(0u, written);
    EXPECT_TRUE(CloseHandle(file));
}

TEST_F(ScratchTest, FoldersAreMadeOnceAndRemovedWhenEmpty)
{
    enum Call { MakeFolderCall, RemoveFolderCall, DeleteFileCall };
    const struct {
        Call call;
        const char* name;
        bool succeeds;
        DWORD error;
        int line;
    } steps[] = {
        {MakeFolderCall, "sub", false, ERROR_ALREADY_EXISTS, __LINE__},
        {MakeFolderCall, "SUB\\", false, ERROR_ALREADY_EXISTS, __LINE__},
        {MakeFolderCall, "missing\\sub", false, ERROR_PATH_NOT_FOUND, __LINE__},
        {RemoveFolderCall, "sub", false, ERROR_DIR_NOT_EMPTY, __LINE__},
        {DeleteFileCall, "sub\\file.txt", true, 0, __LINE__},
        {RemoveFolderCall, "sub", true, 0, __LINE__},
        {RemoveFolderCall, "sub", false, ERROR_FILE_NOT_FOUND, __LINE__},
    };
    MakeFolder("sub");
    MakeFile("sub\\file.txt", "x");
    for (const auto& step : steps) {
        SCOPED_TRACE(testing::Message() << "step at line " << step.line);
        WideText path = Wide(Path(step.name));
        SetLastError(0xDEAD);

        BOOL done = step.call == MakeFolderCall     ? CreateDirectoryW(path.c_str(), NULL)
                    : step.call == RemoveFolderCall ? RemoveDirectoryW(path.c_str())
                                                    : DeleteFileW(path.c_str());

        EXPECT_EQ(step.succeeds, done != FALSE);
        if (!step.succeeds) {
            EXPECT_EQ(step.error, GetLastError());
        }
    }
}

// Nothing is replaced: the file in the way and the moved folder both stay.
TEST_F(ScratchTest, MoveFileTakesAFolderWithItsFileAndReplacesNothing)
{
    MakeFolder("from");
    MakeFile("from\\inner.txt", "inside");
    MakeFolder("taken");
    MakeFile("other.txt", "other");
    const struct {
        const char* from;
        const char* to;
        DWORD error;
        int line;
    } refused[] = {
        {"from", "taken", ERROR_ALREADY_EXISTS, __LINE__},
        {"other.txt", "from\\INNER.TXT", ERROR_ALREADY_EXISTS, __LINE__},
        {"missing", "elsewhere", ERROR_FILE_NOT_FOUND, __LINE__},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(testing::Message() << "case at line " << c.line);
        SetLastError(0xDEAD);

        EXPECT_FALSE(MoveFileW(Wide(Path(c.from)).c_str(), Wide(Path(c.to)).c_str()));

        EXPECT_EQ(c.error, GetLastError());
    }
    EXPECT_EQ("other", ReadWholeFile("other.txt"));

    Made("to");
    Made("to\\inner.txt");
    ASSERT_TRUE(MoveFileW(Wide(Path("from")).c_str(), Wide(Path("to")).c_str())) << GetLastError();

    EXPECT_EQ("inside", ReadWholeFile("to\\inner.txt"));
    SetLastError(0xDEAD);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(Wide(Path("from")).c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

static FILETIME Time(unsigned long long ticks)
{
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

static unsigned long long Ticks(const FILETIME& time)
{
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// Times in the future, which reading cannot disturb. Wine cannot keep a
// creation time of its own: there it reads back as the write time.
TEST_F(ScratchTest, SetFileTimeIsWhatTheFileReportsAfterwards)
{
    MakeFile("times.txt", "x");
    const unsigned long long creation = 0x1e22fa2cdf69b44; // 2031-02-03
    const unsigned long long access = 0x1e3660fc5421fc4;   // 2032-03-04
    const unsigned long long write = 0x1e49e0f11612444;    // 2033-04-05
    const unsigned long long rewrite = 0x1e5d545331668c4;  // 2034-05-06
    const struct {
        bool setCreation, setAccess;
        unsigned long long write;
        int line;
    } cases[] = {
        {true, true, write, __LINE__},
        {false, false, rewrite, __LINE__},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case at line " << c.line);
        FILETIME setCreation = Time(creation), setAccess = Time(access), setWrite = Time(c.write);
        HANDLE file = CreateFileW(Wide(Path("times.txt")).c_str(), FILE_WRITE_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);

        EXPECT_TRUE(SetFileTime(file, c.setCreation ? &setCreation : NULL,
                                c.setAccess ? &setAccess : NULL, &setWrite));

        EXPECT_TRUE(CloseHandle(file));
        WIN32_FIND_DATAW found = Find("times.txt");
        EXPECT_EQ(c.write, Ticks(found.ftLastWriteTime));
        EXPECT_EQ(access, Ticks(found.ftLastAccessTime));
        EXPECT_TRUE(Ticks(found.ftCreationTime) == creation ||
                    Ticks(found.ftCreationTime) == c.write)
            << Ticks(found.ftCreationTime);
        Opened opened = OpenForIdentity(Path("times.txt"));
        EXPECT_EQ(c.write, Ticks(opened.information.ftLastWriteTime));
        EXPECT_EQ(access, Ticks(opened.information.ftLastAccessTime));
    }
}

// Read-only must go before the file can; the ARCHIVE and NORMAL bits are
// left alone (Wine always reports ARCHIVE on a file). Opening a read-only
// file for writing is not tried: Wine running as root lets it open.
TEST_F(ScratchTest, AttributesRoundTripAndReadOnlyGuardsTheFile)
{
    const DWORD kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                       FILE_ATTRIBUTE_DIRECTORY;
    const struct {
        DWORD attributes;
        int line;
    } cases[] = {
        {FILE_ATTRIBUTE_SYSTEM, __LINE__},
        {FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY, __LINE__},
        {FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY, __LINE__},
    };
    MakeFile("guarded.txt", "x");
    const WideText path = Wide(Path("guarded.txt"));
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case at line " << c.line);

        ASSERT_TRUE(SetFileAttributesW(path.c_str(), c.attributes)) << GetLastError();

        EXPECT_EQ(c.attributes, GetFileAttributesW(path.c_str()) & kept);
        EXPECT_EQ(c.attributes, Find("guarded.txt").dwFileAttributes & kept);
    }
    EXPECT_FALSE(DeleteFileW(path.c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());

    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL));

    EXPECT_EQ(0u, GetFileAttributesW(path.c_str()) & kept);
    EXPECT_TRUE(DeleteFileW(path.c_str()));
    SetLastError(0xDEAD);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

static bool IsShortComponent(const std::string& name)
{
    size_t dot = name.find('.');
    if (dot == std::string::npos)
        return !name.empty() && name.size() <= 8;
    return dot > 0 && dot <= 8 && name.size() - dot - 1 <= 3 &&
           name.find('.', dot + 1) == std::string::npos;
}

// Windows and Wine make up different short names; both open the same file.
// A name that is 8.3 already stays as it was given.
TEST_F(ScratchTest, ShortPathNamesTheSameFile)
{
    MakeFolder("Long folder name");
    MakeFile("Long folder name\\A long file name.text", "long");
    MakeFile("short.txt", "short");
    const std::string path = Path("Long folder name\\A long file name.text");
    WCHAR shortPath[MAX_PATH + 1];
    for (WCHAR& unit : shortPath)
        unit = '#';

    DWORD length = GetShortPathNameW(Wide(path).c_str(), shortPath, MAX_PATH);

    ASSERT_NE(0u, length);
    ASSERT_EQ(Utf8(shortPath).size(), length);
    EXPECT_EQ('#', shortPath[length + 1]);
    std::string shortened = Utf8(shortPath);
    EXPECT_EQ("C:\\", shortened.substr(0, 3));
    for (size_t start = 3, end; start < shortened.size(); start = end + 1) {
        end = std::min(shortened.find('\\', start), shortened.size());
        std::string component = shortened.substr(start, end - start);
        EXPECT_TRUE(IsShortComponent(component)) << component;
    }
    Opened original = OpenForIdentity(path), viaShort = OpenForIdentity(shortened);
    ASSERT_TRUE(original.opened && viaShort.opened) << viaShort.error;
    EXPECT_TRUE(SameFile(original, viaShort));
    EXPECT_EQ(length + 1, GetShortPathNameW(Wide(path).c_str(), NULL, 0));
    EXPECT_EQ(length + 1, GetShortPathNameW(Wide(path).c_str(), shortPath, length));

    ASSERT_NE(0u, GetShortPathNameW(Wide(Path("short.txt")).c_str(), shortPath, MAX_PATH));
    EXPECT_EQ("\\short.txt", Utf8(shortPath).substr(Utf8(shortPath).rfind('\\')));
    SetLastError(0xDEAD);
    EXPECT_EQ(0u, GetShortPathNameW(Wide(Path("missing.txt")).c_str(), shortPath, MAX_PATH));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

TEST(KnownFolderTest, LocalAppDataIsAnExistingFolderOnceAskedToBe)
{
    WCHAR path[MAX_PATH];

    HRESULT result = SHGetFolderPathW(NULL, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, NULL,
                                      SHGFP_TYPE_CURRENT, path);

    ASSERT_EQ(S_OK, result);
    EXPECT_EQ(':', path[1]) << Utf8(path);
    DWORD attributes = GetFileAttributesW(path);
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes) << Utf8(path);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
}
