#include "e2e/fixture.h"

#include "support/test_support.h"

namespace e2e {

void ProgramTest::SetUp()
{
    DeleteRegistryTree(HKEY_CLASSES_ROOT, kTypeLib);
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, kModuleUsage);
    // On 64-bit Windows the list holds the 64-bit view's downloads too.
    SeedRegistryView(KEY_WOW64_64KEY);
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, kModuleUsage);
    SeedRegistryView(0);
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

bool ProgramTest::AnswerBox(const BoxView& expected, int answer, Where where)
{
    testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()),
                               "box \"" + expected.view.text + "\"");
    std::vector<HWND> boxes;
    if (!WaitUntil([&] { return !(boxes = app.OwnedDialogs()).empty(); })) {
        ADD_FAILURE() << "no box came up";
        return false;
    }
    EXPECT_EQ(1u, boxes.size());
    EXPECT_EQ(expected.caption, WindowText(boxes[0]));
    MessageBoxView shown = Burrowlens::Inspect(boxes[0]);
    EXPECT_EQ(expected.view.text, shown.text);
    EXPECT_EQ(expected.view.buttons, shown.buttons);
    EXPECT_EQ(expected.view.defaultButton, shown.defaultButton);
    EXPECT_EQ(expected.view.icon, shown.icon);
    return app.Answer(boxes[0], answer);
}

bool ProgramTest::Converse(const Exchange& exchange, const Control& control, Where where)
{
    return AnswerBox(Expected(exchange.box, control), exchange.answer, where);
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

static const char* const kOneDownload = "C:/Windows/occache/Chart.ocx";

void ProgramTest::ExpectListShown(const std::vector<std::string>& expected, Where where)
{
    testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()), "list shown");
    ASSERT_TRUE(app.Settle());
    EXPECT_EQ(0u, app.OwnedDialogs().size()) << "a window owned by the main dialog is open";
    EXPECT_EQ(expected, app.ControlList());
    EXPECT_EQ(0, app.Selection());
}

bool ProgramTest::StartWithOneDownload(Where where)
{
    testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()), "start");
    RegisterDownload(kOneDownload);
    CreateRegistryKey(HKEY_CLASSES_ROOT, kTypeLib);
    if (!app.Start(where))
        return false;
    ExpectListShown({kOneDownload}, where);
    return !testing::Test::HasFatalFailure();
}

void ProgramTest::ExpectExitCode(DWORD expected, Where where)
{
    testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()), "exit code");
    DWORD code = 0;
    if (app.WaitForExit(code, where)) {
        EXPECT_EQ(expected, code);
    }
}

std::string InDownloadFolder(const char* name)
{
    return std::string(kDownloadFolder) + "\\" + name;
}

std::string InInstallFolder(const char* name)
{
    return std::string(kInstallFolder) + "\\" + name;
}

std::string ListedDownload(const char* name)
{
    return std::string(kListedDownloadFolder) + "/" + name;
}

void RegisterDownloadedClass(const std::string& keyName, const std::string& clsid)
{
    std::string key = std::string(kModuleUsage) + "\\" + keyName;
    SetRegistryText(HKEY_LOCAL_MACHINE, key, ".Owner", clsid);
    SetRegistryText(HKEY_LOCAL_MACHINE, key, clsid.c_str(), "");
}

void RegisterClassLibrary(const std::string& clsid, const std::string& libid,
                          const std::string& version)
{
    SetRegistryText(HKEY_CLASSES_ROOT, "CLSID\\" + clsid + "\\TypeLib", "", libid);
    SetRegistryText(HKEY_CLASSES_ROOT, "CLSID\\" + clsid + "\\Version", "", version);
}

void NameTypeLib(const std::string& libid, const std::string& version, const std::string& name)
{
    SetRegistryText(HKEY_CLASSES_ROOT, std::string(kTypeLib) + "\\" + libid + "\\" + version, "",
                    name);
}

void AddImplementedCategory(const std::string& clsid, const std::string& catid,
                            const std::string& description)
{
    CreateRegistryKey(HKEY_CLASSES_ROOT, "CLSID\\" + clsid + "\\Implemented Categories\\" + catid);
    SetRegistryText(HKEY_CLASSES_ROOT, "Component Categories\\" + catid, "409", description);
}

void SetUsageCount(const std::string& path, DWORD count)
{
    SetRegistryDword(HKEY_LOCAL_MACHINE, kSharedDlls, path.c_str(), count);
}

namespace {

bool StartsWithIgnoringCase(const std::string& text, const std::string& start)
{
    WideText wideText = Wide(text);
    WideText wideStart = Wide(start);
    return wideText.size() >= wideStart.size() &&
           CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, wideText.c_str(),
                          static_cast<int>(wideStart.size()), wideStart.c_str(),
                          static_cast<int>(wideStart.size())) == CSTR_EQUAL;
}

// Names are collected first: deleting while enumerating would skip some.
std::vector<std::string> SubkeysStartingWith(HKEY root, const std::string& path,
                                             const std::string& start)
{
    std::vector<std::string> names;
    HKEY key;
    if (RegOpenKeyExW(root, Wide(path).c_str(), 0, KEY_READ | SeededRegistryView(), &key) !=
        ERROR_SUCCESS)
        return names;
    WCHAR name[MAX_PATH];
    for (DWORD index = 0; RegEnumKeyW(key, index, name, MAX_PATH) == ERROR_SUCCESS; ++index)
        if (StartsWithIgnoringCase(Utf8(name), start))
            names.push_back(Utf8(name));
    RegCloseKey(key);
    return names;
}

void DeleteUsageCountsIn(const std::string& folder)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(kSharedDlls).c_str(), 0,
                      KEY_READ | KEY_SET_VALUE | SeededRegistryView(), &key) != ERROR_SUCCESS)
        return;
    std::vector<WideText> names;
    WCHAR name[1024];
    for (DWORD index = 0;; ++index) {
        DWORD size = 1024;
        if (RegEnumValueW(key, index, name, &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        if (StartsWithIgnoringCase(Utf8(name), folder + "\\"))
            names.push_back(name);
    }
    for (const WideText& found : names)
        RegDeleteValueW(key, found.c_str());
    RegCloseKey(key);
}

// A key and its values become lines as in the unit tests' snapshots. Under
// Wine some keys (the performance counters) answer every value enumeration
// with an error; such a key is a line of its own.
void Walk(HKEY key, const std::string& path, std::vector<BYTE>& data, RegistrySnapshot& lines,
          REGSAM view)
{
    lines.insert(path);
    WCHAR name[1024];
    for (DWORD index = 0;; ++index) {
        DWORD nameSize = 1024;
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = 0;
        LONG status =
            RegEnumValueW(key, index, name, &nameSize, nullptr, &type, data.data(), &dataSize);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS) {
            lines.insert(path + " (values cannot be read: " + std::to_string(status) + ")");
            break;
        }
        lines.insert(path + "\t" + SnapshotText(name, nameSize) + "\t" +
                     DescribeValue(type, data.data(), dataSize));
    }
    for (DWORD index = 0; RegEnumKeyW(key, index, name, 1024) == ERROR_SUCCESS; ++index) {
        std::string child = path + "\\" + SnapshotName(name);
        // HKEY_CLASSES_ROOT shows the classes; Wine's own services write the
        // network cards in the background, whenever they get round to it, and
        // in a 64-bit prefix into the 32-bit view as well.
        std::string lowered = LowerCase(child);
        if (lowered == "hklm\\software\\classes" || lowered == "hklm64\\software\\classes" ||
            lowered == "hklm64\\software\\wow6432node" ||
            lowered == "hklm64\\software\\microsoft\\windows nt\\currentversion\\networkcards" ||
            lowered == "hklm\\software\\microsoft\\windows nt\\currentversion\\networkcards" ||
            lowered == "hklm\\software\\wow6432node\\microsoft\\windows "
                       "nt\\currentversion\\networkcards")
            continue;
        HKEY subkey;
        if (RegOpenKeyExW(key, name, 0, KEY_READ | view, &subkey) != ERROR_SUCCESS) {
            lines.insert(child + " (cannot be opened)");
            continue;
        }
        Walk(subkey, child, data, lines, view);
        RegCloseKey(subkey);
    }
}

FILETIME ToFileTime(const SYSTEMTIME& time)
{
    FILETIME converted{};
    SystemTimeToFileTime(&time, &converted);
    return converted;
}

} // namespace

// The whole of HKEY_CLASSES_ROOT would take seconds to walk under Wine.
RegistrySnapshot Snapshot()
{
    const struct {
        HKEY root;
        const char* path;
        const char* name;
        REGSAM view;
    } trees[] = {
        {HKEY_LOCAL_MACHINE, "SOFTWARE", "HKLM\\SOFTWARE", 0},
        {HKEY_CLASSES_ROOT, "CLSID", "HKCR\\CLSID", 0},
        {HKEY_CLASSES_ROOT, "TypeLib", "HKCR\\TypeLib", 0},
        // The 64-bit view, where there is one; its Wow6432Node is the view above.
        {HKEY_LOCAL_MACHINE, "SOFTWARE", "HKLM64\\SOFTWARE", KEY_WOW64_64KEY},
        {HKEY_CLASSES_ROOT, "CLSID", "HKCR64\\CLSID", KEY_WOW64_64KEY},
    };
    RegistrySnapshot lines;
    std::vector<BYTE> data(64 * 1024);
    for (const auto& tree : trees) {
        HKEY key;
        if ((tree.view != 0 && !RunningUnderWow64()) ||
            RegOpenKeyExW(tree.root, Wide(tree.path).c_str(), 0, KEY_READ | tree.view, &key) !=
                ERROR_SUCCESS)
            continue;
        Walk(key, tree.name, data, lines, tree.view);
        RegCloseKey(key);
    }
    return lines;
}

const std::string kScriptableCategory = "{E2E00000-0000-4000-8000-0000000000D1}";

Control DownloadedControl(const char* name, const std::string& clsid, const std::string& libid)
{
    return {true, InDownloadFolder(name), ListedDownload(name), InDownloadFolder(name), clsid,
            libid};
}

Control InstalledControl(const char* name, const char* listed, const std::string& clsid,
                         const std::string& libid)
{
    return {false, InInstallFolder(name), listed, listed, clsid, libid};
}

void Register(const Control& control, DWORD usageCount)
{
    std::string classKey = "CLSID\\" + control.clsid;
    SetRegistryText(HKEY_CLASSES_ROOT, classKey, "", "Fixture Control");
    SetRegistryText(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32", "", control.file);
    SetRegistryText(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32", "ThreadingModel",
                    "Apartment");
    RegisterClassLibrary(control.clsid, control.libid, "1.0");
    AddImplementedCategory(control.clsid, kScriptableCategory,
                           "Controls that are safely scriptable");
    NameTypeLib(control.libid, "1.0", "Fixture Control Library");
    RegisterTypeLibFile(control.libid, "1.0", control.platform, control.file);
    std::string lib = std::string(kTypeLib) + "\\" + control.libid + "\\1.0";
    SetRegistryText(HKEY_CLASSES_ROOT, lib + "\\FLAGS", "", "0");
    SetRegistryText(HKEY_CLASSES_ROOT, lib + "\\HELPDIR", "",
                    control.file.substr(0, control.file.rfind('\\')));
    SetUsageCount(control.file, usageCount);
    if (!control.download)
        return;
    RegisterDownloadedClass(control.listed.substr(0, control.listed.rfind(k64BitMark)),
                            control.clsid);
    std::string unit = std::string(kDistributionUnits) + "\\" + control.clsid;
    SetRegistryText(HKEY_LOCAL_MACHINE, unit, "", "Fixture Control");
    SetRegistryText(HKEY_LOCAL_MACHINE, unit + "\\Contains\\Files", control.file.c_str(), "");
    SetRegistryText(HKEY_LOCAL_MACHINE, unit + "\\DownloadInformation", "CODEBASE",
                    "http://example.invalid/fixture.cab");
}

BoxView Expected(Box box, const Control& control)
{
    const std::vector<int> yesNo = {IDYES, IDNO};
    switch (box) {
    case Box::Warning:
        return {"Warning!",
                {"WARNING!!!  The file:\n" + control.listed +
                     "\nwas *NOT* installed from the Web!\nIt is most likely needed for an "
                     "application.\n\nAre you *SURE* you want to delete it?",
                 yesNo, IDNO, "question"}};
    case Box::DeleteFile:
        return {"Burrowlens",
                {"Are you sure you want to DELETE\n" + control.asked + "?", yesNo, IDNO, ""}};
    case Box::SharedFile:
        return {"Burrowlens",
                {"Other programs may rely on this\ncontrol to function properly.\n\n"
                 "Are you SURE you want to DELETE\n" +
                     control.asked + "?",
                 yesNo, IDNO, ""}};
    case Box::RegistryEntry:
        return {"Burrowlens",
                {"Are you sure you want to delete\nthe registry entry for\n" + control.asked + "?",
                 yesNo, IDNO, ""}};
    case Box::AccessDenied:
        return {
            "Burrowlens",
            {"Unable to delete file:\n" + control.asked + "\nAccess is denied.", {IDOK}, IDOK, ""}};
    case Box::HeldFile:
        return {"Burrowlens",
                {"Unable to delete file:\n" + control.asked + "\n" +
                     SystemMessage(ERROR_SHARING_VIOLATION),
                 {IDOK},
                 IDOK,
                 ""}};
    }
    return {};
}

BoxView RestoreFailedBox(const std::string& reason, const std::string& subject)
{
    return {"Burrowlens",
            {"Nothing was deleted: Burrowlens could not save a copy\nof what the Delete would "
             "remove.\n\n" +
                 reason + "\n" + subject,
             {IDOK},
             IDOK,
             "stop"}};
}

Exchange Yes(Box box)
{
    return {box, IDYES};
}

Exchange No(Box box)
{
    return {box, IDNO};
}

Exchange Ok(Box box)
{
    return {box, IDOK};
}

void ForgetTestRegistrations()
{
    const struct {
        HKEY root;
        const char* path;
    } parents[] = {
        {HKEY_CLASSES_ROOT, "CLSID"},
        {HKEY_CLASSES_ROOT, "Component Categories"},
        {HKEY_LOCAL_MACHINE, kDistributionUnits},
    };
    // Both views of a 64-bit Windows, where the tests register the system
    // folder's controls too.
    for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY)}) {
        SeedRegistryView(view);
        for (const auto& parent : parents)
            for (const std::string& name :
                 SubkeysStartingWith(parent.root, parent.path, kTestGuidPrefix))
                DeleteRegistryTree(parent.root, std::string(parent.path) + "\\" + name);
        DeleteUsageCountsIn(kDownloadFolder);
        DeleteUsageCountsIn(kInstallFolder);
        DeleteUsageCountsIn("C:\\windows\\system32");
    }
    SeedRegistryView(0);
}

Control In64BitView(Control control)
{
    control.listed += k64BitMark;
    control.platform = "win64";
    return control;
}

void RegisterInView(const Control& control, DWORD usageCount)
{
    SeedRegistryView(std::string(control.platform) == "win64" ? KEY_WOW64_64KEY : 0);
    Register(control, usageCount);
    SeedRegistryView(0);
}

std::vector<Wow64Control> RegisterWow64Controls(PlacedFiles& files, const FileTimes& times)
{
    const std::string bothClass = "{E2E00000-0000-4000-8000-000000006401}";
    const std::string bothLib = "{E2E00000-0000-4000-8000-000000006402}";
    const std::string wideLib = "{E2E00000-0000-4000-8000-000000006404}";
    const std::string narrow = "C:\\windows\\system32\\E2E Narrow.ocx";
    const std::string listed = "c:\\windows\\system32\\e2e narrow.ocx";
    const std::vector<Wow64Control> controls = {
        {{false, narrow, listed, listed, bothClass, bothLib},
         "C:\\windows\\syswow64\\E2E Narrow.ocx"},
        {In64BitView({false, narrow, listed, listed, bothClass, bothLib}),
         "C:\\windows\\sysnative\\E2E Narrow.ocx"},
        {In64BitView({false, "C:\\windows\\system32\\E2E Wide.ocx",
                      "c:\\windows\\system32\\e2e wide.ocx", "c:\\windows\\system32\\e2e wide.ocx",
                      "{E2E00000-0000-4000-8000-000000006403}", wideLib}),
         "C:\\windows\\sysnative\\E2E Wide.ocx"},
        {In64BitView(DownloadedControl("Wide Download.ocx",
                                       "{E2E00000-0000-4000-8000-000000006405}",
                                       "{E2E00000-0000-4000-8000-000000006406}")),
         InDownloadFolder("Wide Download.ocx")},
        {DownloadedControl("Narrow Download.ocx", "{E2E00000-0000-4000-8000-000000006407}",
                           "{E2E00000-0000-4000-8000-000000006408}"),
         InDownloadFolder("Narrow Download.ocx")},
    };
    for (const Wow64Control& one : controls) {
        bool wide = std::string(one.control.platform) == "win64";
        files.Copy(wide ? "unregister64.ocx" : "unregister.ocx", one.place, times);
        files.Expect(one.place + ".unregistered");
        files.Expect(one.place + ".registered");
        RegisterInView(one.control, 1);
    }
    return controls;
}

std::string ReadWhole(const std::string& path)
{
    std::string content;
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return content;
    char chunk[8192];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got != 0)
        content.append(chunk, got);
    CloseHandle(file);
    return content;
}

std::string TempPath(const char* name)
{
    WCHAR folder[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, folder);
    return Utf8(folder) + name;
}

namespace {

struct WindowSearch {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectVisible(HWND window, LPARAM lParam)
{
    auto* search = reinterpret_cast<WindowSearch*>(lParam);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId == search->processId && IsWindowVisible(window))
        search->found.push_back(window);
    return TRUE;
}

// A report of a small registry takes a fraction of a second; a cold start
// under Wine, a few.
const DWORD kRunMs = 30000;

} // namespace

Outcome RunProgram(const std::string& arguments, ErrorOutput output, Where where)
{
    Outcome run;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE nul =
        CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherit, OPEN_EXISTING, 0, nullptr);
    HANDLE errorWrite = nullptr;
    HANDLE errorRead = nullptr;
    const std::string errorFile = TempPath("burrowlens report stderr.txt");
    const std::string outputFile = TempPath("burrowlens report stdout.txt");
    HANDLE outputWrite =
        CreateFileW(Wide(outputFile).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherit, CREATE_ALWAYS, 0, nullptr);
    if (output == ErrorOutput::File) {
        errorWrite =
            CreateFileW(Wide(errorFile).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        &inherit, CREATE_ALWAYS, 0, nullptr);
    } else if (output == ErrorOutput::Pipe && CreatePipe(&errorRead, &errorWrite, &inherit, 0)) {
        SetHandleInformation(errorRead, HANDLE_FLAG_INHERIT, 0);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    // Without these the program would inherit the test's own handles.
    startup.dwFlags = STARTF_USESTDHANDLES;
    if (output != ErrorOutput::None) {
        startup.hStdInput = nul;
        startup.hStdOutput = outputWrite;
        startup.hStdError = errorWrite;
    }
    WideText program = Wide(ProgramPath());
    std::string command = "\"";
    command += ProgramPath();
    command += "\" ";
    command += arguments;
    WideText line = Wide(command);
    PROCESS_INFORMATION process{};
    BOOL started = CreateProcessW(
        program.c_str(), line.data(), nullptr, nullptr, output != ErrorOutput::None,
        output == ErrorOutput::None ? DETACHED_PROCESS : 0, nullptr, nullptr, &startup, &process);
    DWORD startError = GetLastError();
    // Only the program's copy stays open, so the pipe ends when it does. What
    // it writes there is short enough for the pipe to hold until then.
    if (errorWrite != nullptr && errorWrite != INVALID_HANDLE_VALUE)
        CloseHandle(errorWrite);
    CloseHandle(nul);
    CloseHandle(outputWrite);
    if (!started) {
        ADD_FAILURE_AT(where.file_name(), where.line())
            << "cannot start " << ProgramPath() << ": error " << startError;
        if (errorRead != nullptr)
            CloseHandle(errorRead);
        return run;
    }
    std::vector<HWND> seen;
    DWORD start = GetTickCount();
    for (bool ended = false; !ended;) {
        ended = WaitForSingleObject(process.hProcess, 10) == WAIT_OBJECT_0;
        WindowSearch search{process.dwProcessId, {}};
        EnumWindows(CollectVisible, reinterpret_cast<LPARAM>(&search));
        for (HWND window : search.found) {
            if (std::find(seen.begin(), seen.end(), window) != seen.end())
                continue;
            seen.push_back(window);
            run.windows.push_back(WindowText(window) + ": " + Burrowlens::Inspect(window).text);
            PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(window, IDOK)));
        }
        if (!ended && GetTickCount() - start > kRunMs) {
            TerminateProcess(process.hProcess, 99);
            WaitForSingleObject(process.hProcess, kWaitMs);
            ADD_FAILURE_AT(where.file_name(), where.line())
                << "burrowlens.exe " << arguments << " did not end";
            break;
        }
    }
    GetExitCodeProcess(process.hProcess, &run.code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (errorRead != nullptr) {
        char buffer[4096];
        DWORD read = 0;
        while (ReadFile(errorRead, buffer, sizeof buffer, &read, nullptr) && read > 0)
            run.errors.append(buffer, read);
        CloseHandle(errorRead);
    }
    if (output == ErrorOutput::File) {
        run.errors = ReadWhole(errorFile);
        DeleteFileW(Wide(errorFile).c_str());
    }
    run.output = ReadWhole(outputFile);
    DeleteFileW(Wide(outputFile).c_str());
    return run;
}

std::string SystemMessage(DWORD error)
{
    WCHAR text[256] = L"";
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                   text, 256, nullptr);
    std::string message = Utf8(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
        message.pop_back();
    return message;
}

bool RunningUnderWow64()
{
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

SYSTEMTIME Utc(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second)
{
    SYSTEMTIME time{};
    time.wYear = year;
    time.wMonth = month;
    time.wDay = day;
    time.wHour = hour;
    time.wMinute = minute;
    time.wSecond = second;
    return time;
}

bool RunningUnderWine()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

PlacedFiles::~PlacedFiles()
{
    for (auto file = files_.rbegin(); file != files_.rend(); ++file) {
        WideText wide = Wide(*file);
        SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
        // A program the test started may still be running from the file.
        if (FileExists(*file) && !WaitUntil([&] { return DeleteFileW(wide.c_str()) != FALSE; }))
            ADD_FAILURE() << "cannot remove " << *file << ": error " << GetLastError();
    }
    for (auto folder = folders_.rbegin(); folder != folders_.rend(); ++folder)
        if (!RemoveDirectoryW(Wide(*folder).c_str()))
            ADD_FAILURE() << "cannot remove the folder " << *folder << ": error " << GetLastError();
}

void PlacedFiles::MakeParents(const std::string& path, Where where)
{
    for (size_t slash = path.find('\\', 3); slash != std::string::npos;
         slash = path.find('\\', slash + 1)) {
        std::string folder = path.substr(0, slash);
        if (CreateDirectoryW(Wide(folder).c_str(), nullptr))
            folders_.push_back(folder);
        else if (GetLastError() != ERROR_ALREADY_EXISTS)
            ADD_FAILURE_AT(where.file_name(), where.line())
                << "cannot make the folder " << folder << ": error " << GetLastError();
    }
}

void PlacedFiles::SetTimes(const std::string& path, const FileTimes& times, Where where)
{
    // Folders open only with backup semantics.
    HANDLE file = CreateFileW(Wide(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    FILETIME created = ToFileTime(times.created);
    FILETIME accessed = ToFileTime(times.accessed);
    FILETIME written = ToFileTime(times.written);
    if (file == INVALID_HANDLE_VALUE || !SetFileTime(file, &created, &accessed, &written))
        ADD_FAILURE_AT(where.file_name(), where.line())
            << "cannot set the times of " << path << ": error " << GetLastError();
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

void PlacedFiles::Copy(const char* fixture, const std::string& path, const FileTimes& times,
                       Where where)
{
    MakeParents(path, where);
    if (!CopyFileW(Wide(FixturePath(fixture)).c_str(), Wide(path).c_str(), TRUE)) {
        ADD_FAILURE_AT(where.file_name(), where.line())
            << "cannot copy " << fixture << " to " << path << ": error " << GetLastError();
        return;
    }
    files_.push_back(path);
    SetTimes(path, times, where);
}

void PlacedFiles::Folder(const std::string& path, const FileTimes& times, Where where)
{
    MakeParents(path + "\\", where);
    SetTimes(path, times, where);
}

void PlacedFiles::Expect(const std::string& path)
{
    files_.push_back(path);
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
