// The compiled resources of burrowlens.exe, read back through the loader.
#include "app/control_ids.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

static std::string ProgramPath()
{
    std::string path = "Z:" BURROWLENS_PROGRAM;
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    return path;
}

class ResourceTest : public testing::Test {
  protected:
    static void SetUpTestSuite()
    {
        program = LoadLibraryExA(ProgramPath().c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    }
    static void TearDownTestSuite()
    {
        FreeLibrary(program);
    }
    void SetUp() override
    {
        ASSERT_NE(static_cast<HMODULE>(NULL), program) << ProgramPath();
    }

    static const BYTE* Resource(LPCWSTR name, LPCWSTR type, DWORD* size)
    {
        HRSRC found = FindResourceW(program, name, type);
        if (found == NULL)
            return NULL;
        *size = SizeofResource(program, found);
        return static_cast<const BYTE*>(LockResource(LoadResource(program, found)));
    }

    static HMODULE program;
};

HMODULE ResourceTest::program;

#pragma pack(push, 2)
struct IconDirectoryEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

// Every size Windows asks for between 100 % and 200 %, and Explorer's
// largest, all with an alpha channel; the largest is stored as PNG.
TEST_F(ResourceTest, IconGroupHoldsEverySizeInTrueColourWithAlpha)
{
    DWORD size = 0;
    const BYTE* group = Resource(MAKEINTRESOURCEW(IDI_PROGRAM), RT_GROUP_ICON, &size);
    ASSERT_NE(static_cast<const BYTE*>(NULL), group);
    const int sizes[] = {16, 20, 24, 32, 40, 48, 64, 256};
    WORD count;
    memcpy(&count, group + 4, 2);
    ASSERT_EQ(sizeof sizes / sizeof sizes[0], count);
    for (int i = 0; i < count; ++i) {
        SCOPED_TRACE(sizes[i]);
        IconDirectoryEntry entry;
        memcpy(&entry, group + 6 + i * sizeof entry, sizeof entry);
        EXPECT_EQ(sizes[i] % 256, entry.width);
        EXPECT_EQ(sizes[i] % 256, entry.height);
        EXPECT_EQ(32, entry.bitCount);
        DWORD imageSize = 0;
        const BYTE* image = Resource(MAKEINTRESOURCEW(entry.id), RT_ICON, &imageSize);
        ASSERT_NE(static_cast<const BYTE*>(NULL), image);
        if (sizes[i] == 256) {
            EXPECT_EQ(0, memcmp(image, "\x89PNG", 4));
            continue;
        }
        BITMAPINFOHEADER header;
        memcpy(&header, image, sizeof header);
        EXPECT_EQ(sizes[i], header.biWidth);
        EXPECT_EQ(sizes[i] * 2, header.biHeight); // colour and mask
        EXPECT_EQ(32, header.biBitCount);
        HICON icon = static_cast<HICON>(
            LoadImageW(program, MAKEINTRESOURCEW(IDI_PROGRAM), IMAGE_ICON, sizes[i], sizes[i], 0));
        EXPECT_NE(static_cast<HICON>(NULL), icon);
        DestroyIcon(icon);
    }
}

TEST_F(ResourceTest, BannersAreUncompressedPalettedBitmapsAtThreeScales)
{
    const int banners[][3] = {
        {IDB_BANNER, 300, 80}, {IDB_BANNER_150, 450, 120}, {IDB_BANNER_200, 600, 160}};
    for (const auto& [id, width, height] : banners) {
        SCOPED_TRACE(width);
        DWORD size = 0;
        const BYTE* bitmap = Resource(MAKEINTRESOURCEW(id), RT_BITMAP, &size);
        ASSERT_NE(static_cast<const BYTE*>(NULL), bitmap);
        BITMAPINFOHEADER header;
        memcpy(&header, bitmap, sizeof header);
        EXPECT_EQ(width, header.biWidth);
        EXPECT_EQ(height, header.biHeight);
        EXPECT_EQ(8, header.biBitCount);
        EXPECT_EQ(static_cast<DWORD>(BI_RGB), header.biCompression);
        EXPECT_EQ(256u, header.biClrUsed);
        EXPECT_EQ(sizeof header + 256 * 4 + static_cast<DWORD>((width + 3) / 4 * 4 * height), size);
    }
}

TEST_F(ResourceTest, ManifestAsksForAdministratorsPerMonitorDpiAndNoNewControls)
{
    DWORD size = 0;
    const BYTE* manifest = Resource(MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24), &size);
    ASSERT_NE(static_cast<const BYTE*>(NULL), manifest);
    std::string text(reinterpret_cast<const char*>(manifest), size);
    EXPECT_NE(std::string::npos, text.find("level=\"requireAdministrator\""));
    EXPECT_NE(std::string::npos,
              text.find("supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\""));
    EXPECT_EQ(std::string::npos, text.find("Microsoft.Windows.Common-Controls"));
    // Windows 10 1607 and later read the one, Windows 8.1 the other.
    EXPECT_NE(std::string::npos, text.find("<dpiAwareness xmlns=\"http://schemas.microsoft.com/"
                                           "SMI/2016/WindowsSettings\">PerMonitorV2, "
                                           "PerMonitor</dpiAwareness>"));
    EXPECT_NE(std::string::npos, text.find("<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/"
                                           "2005/WindowsSettings\">true/pm</dpiAware>"));
}

TEST_F(ResourceTest, VersionInformation)
{
    std::string path = ProgramPath();
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::string block(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, &block[0]));

    void* value;
    UINT length;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", &value, &length));
    VS_FIXEDFILEINFO fixed;
    memcpy(&fixed, value, sizeof fixed);
    EXPECT_EQ(MAKELONG(0, 2), fixed.dwFileVersionMS);
    EXPECT_EQ(MAKELONG(4, 0), fixed.dwFileVersionLS);
    EXPECT_EQ(fixed.dwFileVersionMS, fixed.dwProductVersionMS);
    EXPECT_EQ(fixed.dwFileVersionLS, fixed.dwProductVersionLS);
    EXPECT_EQ(static_cast<DWORD>(VFT_APP), fixed.dwFileType);
    EXPECT_EQ(static_cast<DWORD>(VOS_NT_WINDOWS32), fixed.dwFileOS);
    EXPECT_EQ(0u, fixed.dwFileFlags);

    const struct {
        const char* name;
        const char* text;
    } strings[] = {
        {"FileDescription", "Report on installed ActiveX controls"},
        {"FileVersion", "2, 0, 0, 4"},
        {"ProductVersion", "2, 0, 0, 4"},
        {"ProductName", "Burrowlens"},
        {"CompanyName", NULL},
        {"InternalName", NULL},
        {"OriginalFilename", "burrowlens.exe"},
        {"LegalCopyright", NULL},
    };
    for (const auto& s : strings) {
        SCOPED_TRACE(s.name);
        std::string query = std::string("\\StringFileInfo\\040904b0\\") + s.name;
        ASSERT_TRUE(VerQueryValueA(block.data(), query.c_str(), &value, &length));
        std::string text = static_cast<const char*>(value);
        if (s.text != NULL)
            EXPECT_EQ(s.text, text);
        else
            EXPECT_FALSE(text.empty());
    }
}
