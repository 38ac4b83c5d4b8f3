#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

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
