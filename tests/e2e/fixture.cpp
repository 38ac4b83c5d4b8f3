#include "e2e/fixture.h"

#include "support/test_support.h"

namespace e2e {

void ProgramTest::SetUp()
{
    DeleteRegistryTree(HKEY_CLASSES_ROOT, kTypeLib);
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, kModuleUsage);
    // HKEY_CLASSES_ROOT merges two trees; a copy left in either would leak
    // registrations of the prefix into the list.
    ASSERT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, kTypeLib));
    ASSERT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kModuleUsage));
}

void RegisterDownload(const std::string& keyName)
{
    CreateRegistryKey(HKEY_LOCAL_MACHINE, std::string(kModuleUsage) + "\\" + keyName);
}

void RegisterTypeLibFile(const std::string& libid, const std::string& version, const char* platform,
                         const std::string& path, DWORD type, const char* locale)
{
    SetRegistryText(HKEY_CLASSES_ROOT,
                    std::string(kTypeLib) + "\\" + libid + "\\" + version + "\\" + locale + "\\" +
                        platform,
                    "", path, type);
}

bool ProgramTest::ExpectBoxAndAnswer(const ExpectedBox& expected, Where where)
{
    testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()),
                               "message box \"" + expected.text + "\"");
    HWND box = app.WaitForOwnedDialog("Burrowlens");
    if (box == nullptr)
        return false;
    MessageBoxView shown = Burrowlens::Inspect(box);
    EXPECT_EQ(expected.text, shown.text);
    EXPECT_EQ(std::vector<int>{IDOK}, shown.buttons);
    EXPECT_EQ(IDOK, shown.defaultButton);
    EXPECT_EQ(expected.icon, shown.icon);
    return app.Answer(box, IDOK);
}

void ProgramTest::ExpectListShown(const std::vector<std::string>& expected, Where where)
{
    testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()), "list shown");
    ASSERT_TRUE(app.Settle());
    EXPECT_EQ(0u, app.OwnedDialogs().size()) << "a window owned by the main dialog is open";
    EXPECT_EQ(expected, app.ControlList());
    EXPECT_EQ(0, app.Selection());
}

void ProgramTest::ExpectExitCode(DWORD expected, Where where)
{
    testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()), "exit code");
    DWORD code = 0;
    if (app.WaitForExit(code, where)) {
        EXPECT_EQ(expected, code);
    }
}

ExpectedBox KeyOpenFailedBox(int line)
{
    return {"Error: Unable to open key, RegOpenKey = 2, Line = " + std::to_string(line), ""};
}

ExpectedBox AccessDeniedBox()
{
    return {"Error: unable to open key due to security reasons.", ""};
}

ExpectedBox NoControlsBox()
{
    return {"Burrowlens reports on ActiveX\ncontrols installed on this computer.\n\n"
            "No controls have been registered for this machine.",
            "stop"};
}

} // namespace e2e
