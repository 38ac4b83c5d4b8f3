#include "removal/removal.h"

#include "base/messages.h"
#include "base/text.h"
#include "details/details.h"
#include "inventory/inventory.h"

#include <shlobj.h>

#define UNFINISHED_PREFIX TEXT("unfinished ")

void SetRestoreFailure(RestoreFailure& failure, const WCHAR* reason, DWORD error,
                       const WCHAR* subject)
{
    failure.reason = reason;
    failure.error = error;
    CopyText(failure.subject, subject);
}

static bool JoinPath(WCHAR (&path)[MAX_PATH], const WCHAR* folder, const WCHAR* name)
{
    return JoinText(path, folder, TEXT("\\"), name);
}

static bool MakeFolder(const WCHAR* path, RestoreFailure& failure)
{
    if (CreateDirectoryW(path, NULL) || GetLastError() == ERROR_ALREADY_EXISTS)
        return true;
    SetRestoreFailure(failure, FORMAT_RESTORE_FOLDER, GetLastError(), path);
    return false;
}

// The saved files, in the order restore.cmd puts them back: the control's
// own file first.
struct SavedFile {
    const WCHAR* path;
    WCHAR folder[MAX_PATH]; // where the file really lies
    WCHAR name[MAX_PATH];   // as the folder names it
    DWORD attributes;
};

struct RestoreFolder {
    WCHAR path[MAX_PATH];      // written under its unfinished name
    WCHAR finalPath[MAX_PATH]; // once complete
    SYSTEMTIME time;
    int savedCount;
    SavedFile saved[MAX_OTHER_FILES + 1];
    // Whether the control's file is a DLL, an executable, or neither.
    bool controlIsDll;
    bool controlIsExecutable;
    RegistryView view;
};

// "2026-01-02 03.04.05 Omega.dll": the time in UTC, then the file's name
// without the characters that cmd would read as its own.
static void MakeFolderName(const RemovalPlan& plan, const SYSTEMTIME& time, int attempt,
                           WCHAR (&name)[MAX_PATH])
{
    FormatText(name, TEXT("%04d-%02d-%02d %02d.%02d.%02d "), time.wYear, time.wMonth, time.wDay,
               time.wHour, time.wMinute, time.wSecond);
    const WCHAR* slash = FindLastChar(plan.entry.filePath, '\\');
    WCHAR fileName[33];
    CopyText(fileName, slash != NULL ? slash + 1 : plan.entry.filePath);
    for (WCHAR* c = fileName; *c != 0; ++c) {
        if (FindChar(TEXT("%!^&"), *c) != NULL)
            *c = '_';
    }
    AppendText(name, fileName);
    if (attempt > 1) {
        WCHAR suffix[16];
        FormatText(suffix, TEXT(" (%d)"), attempt);
        AppendText(name, suffix);
    }
}

static bool Exists(const WCHAR* path)
{
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

static bool CreateRestoreFolder(const RemovalPlan& plan, RestoreFolder& folder,
                                RestoreFailure& failure)
{
    WCHAR base[MAX_PATH];
    HRESULT result = SHGetFolderPathW(NULL, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, NULL,
                                      SHGFP_TYPE_CURRENT, base);
    if (result != S_OK) {
        SetRestoreFailure(failure, FORMAT_RESTORE_NO_PROFILE, static_cast<DWORD>(result), TEXT(""));
        return false;
    }
    WCHAR removed[MAX_PATH];
    if (!JoinPath(removed, base, TEXT("Burrowlens")) || !MakeFolder(removed, failure) ||
        !AppendText(removed, TEXT("\\Removed")) || !MakeFolder(removed, failure))
        return false;

    GetSystemTime(&folder.time);
    for (int attempt = 1; attempt < 100; ++attempt) {
        WCHAR name[MAX_PATH];
        MakeFolderName(plan, folder.time, attempt, name);
        WCHAR unfinished[MAX_PATH];
        CopyText(unfinished, UNFINISHED_PREFIX);
        AppendText(unfinished, name);
        if (!JoinPath(folder.finalPath, removed, name) ||
            !JoinPath(folder.path, removed, unfinished)) {
            SetRestoreFailure(failure, FORMAT_RESTORE_FOLDER, ERROR_FILENAME_EXCED_RANGE, removed);
            return false;
        }
        if (Exists(folder.finalPath))
            continue;
        if (CreateDirectoryW(folder.path, NULL))
            return true;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    SetRestoreFailure(failure, FORMAT_RESTORE_FOLDER, GetLastError(), folder.path);
    return false;
}

void ReadImageKind(const BYTE* header, DWORD size, bool& isDll, bool& isExecutable)
{
    isDll = isExecutable = false;
    if (size < 0x40 || header[0] != 'M' || header[1] != 'Z')
        return;
    DWORD offset;
    memcpy(&offset, header + 0x3C, sizeof offset);
    if (offset > size - 24 || memcmp(header + offset, "PE\0\0", 4) != 0)
        return;
    WORD characteristics;
    memcpy(&characteristics, header + offset + 22, sizeof characteristics);
    isDll = (characteristics & 0x2000) != 0; // IMAGE_FILE_DLL
    isExecutable = !isDll;
}

// The folder the opened file really lies in: a 32-bit path into System32
// names SysWOW64, which a 64-bit cmd running restore.cmd would not reach
// through the registered text. The path's own folder where the system
// cannot tell.
static bool StartsWith(const WCHAR* text, const WCHAR* head)
{
    for (; *head != 0; ++text, ++head) {
        if (*text != *head)
            return false;
    }
    return true;
}

static void FindRealFolder(HANDLE file, const WCHAR* path, WCHAR (&folder)[MAX_PATH])
{
    WCHAR found[MAX_PATH + 8];
    DWORD length = GetFinalPathNameByHandleW(file, found, BufferLength(found),
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= BufferLength(found))
        found[0] = 0;
    const WCHAR* plain = found;
    if (StartsWith(found, TEXT("\\\\?\\UNC\\"))) {
        found[6] = '\\'; // "\\?\UNC\server" is "\\server"
        plain = found + 6;
    } else if (StartsWith(found, TEXT("\\\\?\\"))) {
        plain = found + 4;
    }
    if (IsEmptyText(plain) || !CopyText(folder, plain))
        CopyText(folder, path);
    WCHAR* slash = const_cast<WCHAR*>(FindLastChar(folder, '\\'));
    if (slash != NULL)
        *slash = 0;
}

typedef WCHAR LongPath[MAX_PATH * 2];

// A copy keeps its file's name, which may take its path past MAX_PATH; the
// "\\?\" form lifts that limit for the calls that write it.
static bool MakeCopyPath(LongPath& copy, const WCHAR* folder, const WCHAR* name)
{
    LongPath plain;
    if (!CopyText(plain, folder) || !AppendText(plain, TEXT("\\")) || !AppendText(plain, name))
        return false;
    if (TextLength(plain) < MAX_PATH)
        return CopyText(copy, plain);
    return CopyText(copy, TEXT("\\\\?\\")) && AppendText(copy, plain);
}

// A copy with the original's times and attributes, except those that hide
// it from cmd's for; restore.cmd gives them back.
static bool SaveFileCopy(RestoreFolder& folder, const WCHAR* source, BYTE (&header)[4096],
                         DWORD& headerSize, RestoreFailure& failure)
{
    WIN32_FIND_DATAW found;
    if (!FindFileEntry(source, found)) {
        SetRestoreFailure(failure, FORMAT_RESTORE_COPY, GetLastError(), source);
        return false;
    }
    SavedFile& saved = folder.saved[folder.savedCount];
    WCHAR number[16];
    FormatText(number, TEXT("files\\%d"), folder.savedCount + 1);
    WCHAR savedFolder[MAX_PATH];
    LongPath copy;
    if (!JoinPath(savedFolder, folder.path, TEXT("files")) || !MakeFolder(savedFolder, failure) ||
        !JoinPath(savedFolder, folder.path, number) || !MakeFolder(savedFolder, failure) ||
        !MakeCopyPath(copy, savedFolder, found.cFileName)) {
        if (failure.reason == NULL)
            SetRestoreFailure(failure, FORMAT_RESTORE_COPY, ERROR_FILENAME_EXCED_RANGE, source);
        return false;
    }
    saved.path = source;
    CopyText(saved.name, found.cFileName);
    saved.attributes = found.dwFileAttributes;

    HANDLE input = CreateFileW(source, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (input == INVALID_HANDLE_VALUE) {
        SetRestoreFailure(failure, FORMAT_RESTORE_COPY, GetLastError(), source);
        return false;
    }
    FindRealFolder(input, source, saved.folder);
    OutputFile out = {};
    bool copied = CreateOutputFile(out, copy);
    DWORD error = out.error;
    unsigned long long total = 0;
    headerSize = 0;
    while (copied) {
        BYTE chunk[8192];
        DWORD got = 0;
        if (!ReadFile(input, chunk, sizeof chunk, &got, NULL)) {
            error = GetLastError();
            copied = false;
        }
        if (got == 0)
            break;
        if (headerSize < sizeof header) {
            DWORD part = sizeof header - headerSize < got ? sizeof header - headerSize : got;
            memcpy(header + headerSize, chunk, part);
            headerSize += part;
        }
        WriteBytes(out, chunk, got);
        total += got;
    }
    CloseHandle(input);
    if (out.file != INVALID_HANDLE_VALUE) {
        DWORD closeError = CloseOutputFile(out);
        if (copied && closeError != 0) {
            error = closeError;
            copied = false;
        }
    }
    unsigned long long size =
        (static_cast<unsigned long long>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    if (copied && total != size) {
        error = ERROR_INVALID_DATA;
        copied = false;
    }
    if (copied) {
        HANDLE written = CreateFileW(copy, FILE_WRITE_ATTRIBUTES, 0, NULL, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, NULL);
        copied = written != INVALID_HANDLE_VALUE &&
                 SetFileTime(written, &found.ftCreationTime, &found.ftLastAccessTime,
                             &found.ftLastWriteTime);
        error = copied ? 0 : GetLastError();
        if (written != INVALID_HANDLE_VALUE)
            CloseHandle(written);
    }
    DWORD attributes = found.dwFileAttributes &
                       ~(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY);
    if (copied && !SetFileAttributesW(copy, attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL)) {
        error = GetLastError();
        copied = false;
    }
    if (!copied) {
        SetRestoreFailure(failure, FORMAT_RESTORE_COPY, error, source);
        return false;
    }
    ++folder.savedCount;
    return true;
}

static bool SaveFiles(const RemovalPlan& plan, RestoreFolder& folder, RestoreFailure& failure)
{
    BYTE header[4096];
    DWORD headerSize = 0;
    if (plan.fileExists) {
        if (!SaveFileCopy(folder, plan.entry.diskPath, header, headerSize, failure))
            return false;
        ReadImageKind(header, headerSize, folder.controlIsDll, folder.controlIsExecutable);
    }
    for (int i = 0; i < plan.offeredCount; ++i) {
        if (!SaveFileCopy(folder, plan.offered[i], header, headerSize, failure))
            return false;
    }
    return true;
}

// A folder as restore.cmd can name it: printable ASCII without a quote.
// A '%' is doubled when written; one that could then start a reference to
// the loop's variable (%F, %~nxF) is refused. Its short form stands in for a
// long one that does not qualify.
static bool IsScriptSafe(const WCHAR* text)
{
    for (; *text != 0; ++text) {
        if (*text < 0x20 || *text > 0x7E || *text == '"')
            return false;
        if (*text == '%' && (text[1] == 'F' || text[1] == '~' || text[1] == '%'))
            return false;
    }
    return true;
}

static bool GetScriptFolder(const WCHAR* realFolder, WCHAR (&folder)[MAX_PATH])
{
    if (IsEmptyText(realFolder) || !CopyText(folder, realFolder))
        return false;
    if (IsScriptSafe(folder))
        return true;
    WCHAR shortFolder[MAX_PATH];
    DWORD length = GetShortPathNameW(folder, shortFolder, BufferLength(shortFolder));
    if (length == 0 || length >= BufferLength(shortFolder) || !IsScriptSafe(shortFolder))
        return false;
    CopyText(folder, shortFolder);
    return true;
}

// cmd reads "%%" in a script as one '%'.
static void DoublePercents(const WCHAR* text, WCHAR (&escaped)[MAX_PATH * 2], size_t used = 0)
{
    for (; *text != 0 && used + 2 < BufferLength(escaped); ++text) {
        escaped[used++] = *text;
        if (*text == '%')
            escaped[used++] = '%';
    }
    escaped[used] = 0;
}

// The folder as the script names it. On 64-bit Windows a folder in the
// real System32 is named through %SYSTEM64%, which the script sets for the
// cmd that runs it.
static void WriteScriptFolder(const WCHAR* folder, bool wow64, WCHAR (&target)[MAX_PATH * 2])
{
    WCHAR windows[MAX_PATH];
    WCHAR system[MAX_PATH];
    UINT length = GetSystemWindowsDirectoryW(windows, BufferLength(windows));
    size_t systemLength = 0;
    if (wow64 && length != 0 && length < BufferLength(windows) &&
        JoinText(system, windows, TEXT("\\System32"))) {
        systemLength = TextLength(system);
        WCHAR head[MAX_PATH];
        CopyText(head, folder);
        if (systemLength < MAX_PATH)
            head[systemLength] = 0;
        if (!EqualsIgnoreCase(head, system) ||
            (folder[systemLength] != 0 && folder[systemLength] != '\\'))
            systemLength = 0;
    }
    if (systemLength == 0) {
        DoublePercents(folder, target);
        return;
    }
    CopyText(target, TEXT("%SYSTEM64%"));
    DoublePercents(folder + systemLength, target, TextLength(target));
}

static bool WriteRestoreScript(const RestoreFolder& folder, RestoreFailure& failure)
{
    WCHAR path[MAX_PATH];
    OutputFile out = {};
    if (!JoinPath(path, folder.path, TEXT("restore.cmd")) || !CreateOutputFile(out, path)) {
        SetRestoreFailure(failure, FORMAT_RESTORE_WRITE, out.error, folder.path);
        return false;
    }
    WriteUtf8(out, TEXT("@echo off\r\nsetlocal DisableDelayedExpansion\r\n"));
    WriteUtf8(out, TEXT("rem Puts back what Burrowlens removed. Run it as administrator.\r\n"));
    // A double-click runs the 64-bit cmd, a 32-bit program the 32-bit one,
    // whose System32 is SysWOW64; Sysnative is its way to the real one.
    bool wow64 = IsWow64Machine();
    if (wow64)
        WriteUtf8(out, TEXT("set \"SYSTEM64=%SystemRoot%\\System32\"\r\nif defined "
                            "PROCESSOR_ARCHITEW6432 set \"SYSTEM64=%SystemRoot%\\Sysnative\"\r\n"));
    // Wine's cmd runs what follows "||" whatever came before it.
    WriteUtf8(out, TEXT("cd /d \"%~dp0\"\r\nif not exist removed.reg exit /b 1\r\n"));
    for (int i = 0; i < folder.savedCount; ++i) {
        const SavedFile& saved = folder.saved[i];
        WCHAR folderName[MAX_PATH];
        WCHAR target[MAX_PATH * 2];
        if (!GetScriptFolder(saved.folder, folderName)) {
            CloseOutputFile(out);
            SetRestoreFailure(failure, FORMAT_RESTORE_NAME, 0, saved.path);
            return false;
        }
        WriteScriptFolder(folderName, wow64, target);
        // A 64-bit regsvr32 has no Sysnative: it is handed the folder by the
        // name a 64-bit process knows it by.
        WCHAR registered[MAX_PATH * 2];
        WriteScriptFolder(folderName, wow64 && folder.view != VIEW_64, registered);
        // A for loop names the file, so its name never appears in the
        // script: cmd reads a script in the OEM code page.
        WCHAR line[1024];
        // Unquoted: Wine's cmd expands no wildcard inside quotes, and the
        // pattern holds nothing cmd would read.
        FormatText(line, TEXT("for %%%%F in (files\\%d\\*) do (\r\n"), i + 1);
        WriteUtf8(out, line);
        FormatText(line, TEXT("if not exist \"%s\\%%%%~nxF\" move \"%%%%F\" \"%s\\\" >nul\r\n"),
                   target, target);
        WriteUtf8(out, line);
        // One attribute a line: Wine's attrib applies only the last of several.
        const struct {
            DWORD attribute;
            const WCHAR* option;
        } restored[] = {{FILE_ATTRIBUTE_HIDDEN, TEXT("+h")}, {FILE_ATTRIBUTE_SYSTEM, TEXT("+s")}};
        for (const auto& one : restored) {
            if (!(saved.attributes & one.attribute))
                continue;
            FormatText(line,
                       TEXT("\"%%SystemRoot%%\\System32\\attrib.exe\" %s \"%s\\%%%%~nxF\"\r\n"),
                       one.option, target);
            WriteUtf8(out, line);
        }
        if (i == 0 && folder.controlIsDll) {
            // Each control is registered by the regsvr32 of its own bitness.
            const WCHAR* regsvr32 = !wow64                   ? TEXT("%SystemRoot%\\System32")
                                    : folder.view == VIEW_64 ? TEXT("%SYSTEM64%")
                                                             : TEXT("%SystemRoot%\\SysWOW64");
            FormatText(line, TEXT("\"%s\\regsvr32.exe\" /s \"%s\\%%%%~nxF\"\r\n"), regsvr32,
                       registered);
            WriteUtf8(out, line);
        } else if (i == 0 && folder.controlIsExecutable) {
            FormatText(line, TEXT("start \"\" /wait \"%s\\%%%%~nxF\" /RegServer\r\n"), target);
            WriteUtf8(out, line);
        }
        WriteUtf8(out, TEXT(")\r\n"));
    }
    // The keys go back to the view they came from. On 64-bit Windows the
    // 64-bit reg.exe imports into either view by its switch.
    if (wow64)
        WriteUtf8(out, folder.view == VIEW_64
                           ? TEXT("\"%SYSTEM64%\\reg.exe\" import removed.reg /reg:64\r\n")
                           : TEXT("\"%SYSTEM64%\\reg.exe\" import removed.reg /reg:32\r\n"));
    else
        WriteUtf8(out,
                  sizeof(void*) == 4
                      ? TEXT("\"%SystemRoot%\\System32\\reg.exe\" import removed.reg /reg:32\r\n")
                      : TEXT("\"%SystemRoot%\\System32\\reg.exe\" import removed.reg /reg:64\r\n"));
    DWORD error = CloseOutputFile(out);
    if (error != 0) {
        SetRestoreFailure(failure, FORMAT_RESTORE_WRITE, error, path);
        return false;
    }
    return true;
}

static void WriteLine(OutputFile& out, const WCHAR* indent, const WCHAR* text)
{
    WriteUtf8(out, indent);
    WriteUtf8(out, text);
    WriteUtf8(out, TEXT("\r\n"));
}

static bool WriteReadme(const RemovalPlan& plan, const RestoreFolder& folder,
                        RestoreFailure& failure)
{
    WCHAR path[MAX_PATH];
    OutputFile out = {};
    if (!JoinPath(path, folder.path, TEXT("README.txt")) || !CreateOutputFile(out, path)) {
        SetRestoreFailure(failure, FORMAT_RESTORE_WRITE, out.error, folder.path);
        return false;
    }
    const WCHAR byteOrderMark[] = {0xFEFF, 0};
    WriteUtf8(out, byteOrderMark);
    WCHAR line[1024];
    FormatText(line,
               TEXT("Burrowlens removed this control on %04d-%02d-%02d at %02d:%02d:%02d UTC:"),
               folder.time.wYear, folder.time.wMonth, folder.time.wDay, folder.time.wHour,
               folder.time.wMinute, folder.time.wSecond);
    WriteLine(out, TEXT(""), line);
    WriteLine(out, TEXT(""), TEXT(""));
    WriteLine(out, TEXT("    "), plan.entry.controlPath);
    if (IsWow64Machine()) {
        WriteLine(out, TEXT(""), TEXT(""));
        WriteLine(out, TEXT(""),
                  plan.entry.view == VIEW_64
                      ? TEXT("It was a 64-bit control: its keys were in the 64-bit view of the "
                             "registry, and restore.cmd puts them back there.")
                      : TEXT("It was a 32-bit control: its keys were in the 32-bit view of the "
                             "registry (Wow6432Node), and restore.cmd puts them back there."));
    }
    WriteLine(out, TEXT(""), TEXT(""));
    WriteLine(out, TEXT(""),
              TEXT("This folder holds what the Delete could take away, saved before "
                   "it changed anything:"));
    WriteLine(out, TEXT(""), TEXT(""));
    WriteLine(out, TEXT("    "), TEXT("removed.reg   the registry keys and values, as they were"));
    WriteLine(out, TEXT("    "), TEXT("files\\        the files, with their times and attributes"));
    WriteLine(out, TEXT("    "), TEXT("restore.cmd   puts them back"));
    WriteLine(out, TEXT(""), TEXT(""));
    WriteLine(out, TEXT(""),
              TEXT("To undo the Delete, run restore.cmd as administrator. It moves each saved "
                   "file back to its folder, unless a file of that name is there again, "
                   "registers the control again and imports removed.reg."));
    if (folder.savedCount > 0) {
        WriteLine(out, TEXT(""), TEXT(""));
        WriteLine(out, TEXT(""), TEXT("Saved files:"));
        for (int i = 0; i < folder.savedCount; ++i) {
            FormatText(line, TEXT("files\\%d\\%s  ->  %s\\%s"), i + 1, folder.saved[i].name,
                       folder.saved[i].folder, folder.saved[i].name);
            WriteLine(out, TEXT("    "), line);
        }
    }
    if (plan.keptCount > 0) {
        WriteLine(out, TEXT(""), TEXT(""));
        WriteLine(out, TEXT(""),
                  TEXT("The download also installed these files. Something else "
                       "uses them, so the Delete keeps them:"));
        for (int i = 0; i < plan.keptCount; ++i)
            WriteLine(out, TEXT("    "), plan.kept[i]);
    }
    DWORD error = CloseOutputFile(out);
    if (error != 0) {
        SetRestoreFailure(failure, FORMAT_RESTORE_WRITE, error, path);
        return false;
    }
    return true;
}

bool WriteRestoreFolder(const RemovalPlan& plan, WCHAR (&finished)[MAX_PATH],
                        RestoreFailure& failure)
{
    failure = RestoreFailure{};
    RestoreFolder folder = {};
    folder.view = plan.entry.view;
    if (!CreateRestoreFolder(plan, folder, failure) || !SaveFiles(plan, folder, failure))
        return false;
    WCHAR regPath[MAX_PATH];
    if (!JoinPath(regPath, folder.path, TEXT("removed.reg"))) {
        SetRestoreFailure(failure, FORMAT_RESTORE_WRITE, ERROR_FILENAME_EXCED_RANGE, folder.path);
        return false;
    }
    if (!ExportRemovedKeys(plan, regPath, failure) || !WriteRestoreScript(folder, failure) ||
        !WriteReadme(plan, folder, failure))
        return false;
    // Only a complete folder carries a finished name.
    if (!MoveFileW(folder.path, folder.finalPath)) {
        SetRestoreFailure(failure, FORMAT_RESTORE_FINISH, GetLastError(), folder.path);
        return false;
    }
    CopyText(finished, folder.finalPath);
    return true;
}

bool SaveRestoreFolder(const DeleteDialogue& dialogue, const RemovalPlan& plan,
                       WCHAR (&folder)[MAX_PATH])
{
    folder[0] = 0;
    RestoreFailure failure;
    if (WriteRestoreFolder(plan, folder, failure))
        return true;
    WCHAR reason[160];
    FormatText(reason, failure.reason, static_cast<int>(failure.error));
    WCHAR text[1024];
    FormatText(text, FORMAT_RESTORE_FAILED, reason, failure.subject);
    dialogue.ask(dialogue.context, text, TEXT_PRODUCT_NAME, MB_OK | MB_ICONERROR);
    return false;
}
