#include "support/test_support.h"

#include "app/control_ids.h"

#include <gtest/gtest.h>

#include <cstdio>

void CreateRegistryKey(HKEY root, const std::string& path)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, path.c_str(), 0, NULL, REG_OPTION_NON_VOLATILE,
                                             KEY_ALL_ACCESS, NULL, &key, NULL))
        << path;
    RegCloseKey(key);
}

void SetRegistryBytes(HKEY root, const std::string& path, const char* name, DWORD type,
                      const void* data, DWORD size)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, path.c_str(), 0, NULL, REG_OPTION_NON_VOLATILE,
                                             KEY_ALL_ACCESS, NULL, &key, NULL))
        << path;
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size))
        << path;
    RegCloseKey(key);
}

void SetRegistryText(HKEY root, const std::string& path, const char* name, const std::string& text,
                     DWORD type)
{
    SetRegistryBytes(root, path, name, type, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

void SetRegistryDword(HKEY root, const std::string& path, const char* name, DWORD number)
{
    SetRegistryBytes(root, path, name, REG_DWORD, &number, sizeof number);
}

void DeleteRegistryTree(HKEY root, const std::string& path)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    std::vector<std::string> children;
    char name[MAX_PATH];
    for (DWORD index = 0; RegEnumKeyA(key, index, name, sizeof name) == ERROR_SUCCESS; ++index)
        children.push_back(name);
    RegCloseKey(key);
    for (const std::string& child : children)
        DeleteRegistryTree(root, path + "\\" + child);
    RegDeleteKeyA(root, path.c_str());
}

bool RegistryKeyExists(HKEY root, const std::string& path)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
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

static INT_PTR CALLBACK BodyDialogProc(HWND dialog, UINT message, WPARAM, LPARAM lParam)
{
    if (message != WM_INITDIALOG)
        return FALSE;
    (*reinterpret_cast<const std::function<void(HWND)>*>(lParam))(dialog);
    EndDialog(dialog, 0);
    return TRUE;
}

void WithMainDialog(const std::function<void(HWND)>& body)
{
    INT_PTR result = DialogBoxParamA(GetModuleHandleA(NULL), IDD_MAIN, NULL, BodyDialogProc,
                                     reinterpret_cast<LPARAM>(&body));
    EXPECT_EQ(0, result);
}

std::vector<std::string> ListBoxItems(HWND dialog, int id)
{
    std::vector<std::string> items;
    LRESULT count = SendDlgItemMessageA(dialog, id, LB_GETCOUNT, 0, 0);
    for (LRESULT index = 0; index < count; ++index) {
        LRESULT length = SendDlgItemMessageA(dialog, id, LB_GETTEXTLEN, index, 0);
        std::string text(static_cast<size_t>(length < 0 ? 0 : length) + 1, '\0');
        SendDlgItemMessageA(dialog, id, LB_GETTEXT, index, reinterpret_cast<LPARAM>(&text[0]));
        text.resize(text.find('\0'));
        items.push_back(text);
    }
    return items;
}

std::string DialogItemText(HWND dialog, int id)
{
    char text[1024];
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}
