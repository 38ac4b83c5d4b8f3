#include "support/test_support.h"

#include "app/control_ids.h"

#include <gtest/gtest.h>

#include <cstdio>

ControlEntry EntryOf(const std::string& controlPath, RegistryView view)
{
    ControlEntry entry = {};
    EXPECT_TRUE(MakeControlEntry(Wide(controlPath).c_str(), view, entry)) << controlPath;
    return entry;
}

WideText Wide(const std::string& utf8)
{
    if (utf8.empty())
        return WideText();
    int length =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), NULL, 0);
    WideText wide(static_cast<size_t>(length), 0);
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], length);
    return wide;
}

std::string Utf8(const WideText& text)
{
    if (text.empty())
        return std::string();
    int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), NULL,
                                     0, NULL, NULL);
    std::string utf8(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], length,
                        NULL, NULL);
    return utf8;
}

std::string Utf8(const WCHAR* text)
{
    return Utf8(WideText(text));
}

static REGSAM seedView = 0;

void SeedRegistryView(REGSAM view)
{
    seedView = view;
}

REGSAM SeededRegistryView()
{
    return seedView;
}

static HKEY CreateKeyForTest(HKEY root, const std::string& path)
{
    HKEY key = NULL;
    EXPECT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(root, Wide(path).c_str(), 0, NULL, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS | seedView, NULL, &key, NULL))
        << path;
    return key;
}

void CreateRegistryKey(HKEY root, const std::string& path)
{
    HKEY key = CreateKeyForTest(root, path);
    if (key != NULL)
        RegCloseKey(key);
}

void SetRegistryBytes(HKEY root, const std::string& path, const char* name, DWORD type,
                      const void* data, DWORD size)
{
    HKEY key = CreateKeyForTest(root, path);
    if (key == NULL)
        return;
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, Wide(name).c_str(), 0, type,
                                            static_cast<const BYTE*>(data), size))
        << path;
    RegCloseKey(key);
}

void SetRegistryText(HKEY root, const std::string& path, const char* name, const std::string& text,
                     DWORD type)
{
    WideText wide = Wide(text);
    SetRegistryBytes(root, path, name, type, wide.c_str(),
                     static_cast<DWORD>((wide.size() + 1) * sizeof(WCHAR)));
}

void SetRegistryDword(HKEY root, const std::string& path, const char* name, DWORD number)
{
    SetRegistryBytes(root, path, name, REG_DWORD, &number, sizeof number);
}

void DeleteRegistryTree(HKEY root, const std::string& path)
{
    HKEY key;
    if (RegOpenKeyExW(root, Wide(path).c_str(), 0, KEY_READ | seedView, &key) != ERROR_SUCCESS)
        return;
    std::vector<std::string> children;
    WCHAR name[MAX_PATH];
    for (DWORD index = 0; RegEnumKeyW(key, index, name, MAX_PATH) == ERROR_SUCCESS; ++index)
        children.push_back(Utf8(name));
    RegCloseKey(key);
    for (const std::string& child : children)
        DeleteRegistryTree(root, path + "\\" + child);
    RegDeleteKeyExW(root, Wide(path).c_str(), seedView, 0);
}

bool RegistryKeyExists(HKEY root, const std::string& path)
{
    HKEY key;
    if (RegOpenKeyExW(root, Wide(path).c_str(), 0, KEY_READ | seedView, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::string TestKeyPath(const char* leaf)
{
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string path =
        std::string("SOFTWARE\\BurrowlensTest\\") + test->test_suite_name() + "." + test->name();
    if (leaf != NULL)
        path += std::string("\\") + leaf;
    return path;
}

std::string FixtureHostPath(const char* name)
{
    return std::string(BURROWLENS_FIXTURE_DIR "/") + name;
}

std::string FixturePath(const char* name)
{
    std::string path = "Z:" + FixtureHostPath(name);
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    return path;
}

long long HostFileSize(const std::string& hostPath)
{
#ifdef _WIN32
    std::string path = "Z:" + hostPath;
#else
    const std::string& path = hostPath;
#endif
    FILE* file = fopen(path.c_str(), "rb");
    if (file == NULL)
        return -1;
    fseek(file, 0, SEEK_END);
    long long size = ftell(file);
    fclose(file);
    return size;
}

static std::vector<std::function<void()>> g_atNextBox;

static INT_PTR CALLBACK BodyDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_APP && wParam < g_atNextBox.size() && g_atNextBox[wParam]) {
        std::function<void()> action = std::move(g_atNextBox[wParam]);
        g_atNextBox[wParam] = nullptr;
        action();
        return TRUE;
    }
    if (message != WM_INITDIALOG)
        return FALSE;
    (*reinterpret_cast<const std::function<void(HWND)>*>(lParam))(dialog);
    EndDialog(dialog, 0);
    return TRUE;
}

void WithMainDialog(const std::function<void(HWND)>& body)
{
    INT_PTR result = DialogBoxParamW(GetModuleHandleW(NULL), IDD_MAIN, NULL, BodyDialogProc,
                                     reinterpret_cast<LPARAM>(&body));
    EXPECT_EQ(0, result);
    for (const std::function<void()>& action : g_atNextBox)
        EXPECT_FALSE(action) << "no message box came for an action of AtNextMessageBox";
    g_atNextBox.clear();
}

void AtNextMessageBox(HWND dialog, std::function<void()> action)
{
    g_atNextBox.push_back(std::move(action));
    EXPECT_TRUE(PostMessageW(dialog, WM_APP, g_atNextBox.size() - 1, 0));
}

std::vector<std::string> ListBoxItems(HWND dialog, int id)
{
    std::vector<std::string> items;
    LRESULT count = SendDlgItemMessageW(dialog, id, LB_GETCOUNT, 0, 0);
    for (LRESULT index = 0; index < count; ++index) {
        LRESULT length = SendDlgItemMessageW(dialog, id, LB_GETTEXTLEN, index, 0);
        WideText text(static_cast<size_t>(length < 0 ? 0 : length) + 1, 0);
        SendDlgItemMessageW(dialog, id, LB_GETTEXT, index, reinterpret_cast<LPARAM>(&text[0]));
        items.push_back(Utf8(text.c_str()));
    }
    return items;
}

std::string DialogItemText(HWND dialog, int id)
{
    WCHAR text[1024];
    GetDlgItemTextW(dialog, id, text, 1024);
    return Utf8(text);
}
