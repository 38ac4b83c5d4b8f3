// Writes the seed corpus: the machines of the unit tests (a download with its
// class, distribution unit, type library and usage count beside a sibling
// that must stay; controls known from their type library; missing files and
// shared counts) and the hostile registry a new user could write, each with
// a session that selects and deletes. Usage: make_fuzz_corpus <folder>

#include "fuzz.h"

#include "details/details.h"
#include "inventory/inventory.h"
#include "removal/removal.h"

#include <cstdio>
#include <fstream>
#include <string>

namespace {

const char kClsid[] = "{0B5E0000-0000-4000-8000-00000000000A}";
const char kSiblingClsid[] = "{0B5E0000-0000-4000-8000-00000000000B}";
const char kLibId[] = "{0B5E0000-0000-4000-8000-0000000000AA}";
const char kSiblingLibId[] = "{0B5E0000-0000-4000-8000-0000000000BB}";
const char kDownload[] = "C:/Windows/Downloaded Program Files/a.ocx";
const char kDownloadFile[] = "C:\\Windows\\Downloaded Program Files\\a.ocx";
const char kOtherFile[] = "C:\\Program Files\\Vendor\\c.ocx";

std::string Text(const std::string& text)
{
    return text + '\0';
}

std::string Dword(DWORD number)
{
    return std::string(reinterpret_cast<const char*>(&number), sizeof number);
}

void Download(SeedWriter& seed, const std::string& usage, const char* clsid, const char* libId)
{
    std::string file = usage;
    for (char& c : file) {
        if (c == '/')
            c = '\\';
    }
    SeedValue(seed, HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH, {usage}, ".Owner", REG_SZ,
              Text("Unknown Owner"));
    SeedValue(seed, HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH, {usage}, clsid, REG_SZ, Text(""));
    SeedValue(seed, HKEY_CLASSES_ROOT, "CLSID", {clsid, "InprocServer32"}, "", REG_SZ, Text(file));
    SeedKey(seed, HKEY_CLASSES_ROOT, "CLSID",
            {clsid, "Implemented Categories", "{7DD95801-9882-11CF-9FA9-00AA006C42C4}"});
    SeedValue(seed, HKEY_CLASSES_ROOT, "CLSID", {clsid, "TypeLib"}, "", REG_SZ, Text(libId));
    SeedValue(seed, HKEY_CLASSES_ROOT, "CLSID", {clsid, "Version"}, "", REG_SZ, Text("1.0"));
    SeedValue(seed, HKEY_LOCAL_MACHINE, DISTRIBUTION_UNITS_PATH, {clsid, "Contains", "Files"}, file,
              REG_SZ, Text(""));
    SeedValue(seed, HKEY_LOCAL_MACHINE, DISTRIBUTION_UNITS_PATH, {clsid, "DownloadInformation"},
              "CODEBASE", REG_SZ, Text("http://example.invalid/a.cab"));
    SeedValue(seed, HKEY_LOCAL_MACHINE, SHARED_DLLS_PATH, {}, file, REG_DWORD, Dword(1));
}

void TypeLib(SeedWriter& seed, const char* libId, const std::string& version,
             const std::string& file, DWORD type = REG_SZ)
{
    SeedValue(seed, HKEY_CLASSES_ROOT, "TypeLib", {libId, version}, "", REG_SZ,
              Text("Fixture Library"));
    SeedValue(seed, HKEY_CLASSES_ROOT, "TypeLib", {libId, version, "0", "win32"}, "", type,
              Text(file));
}

void Category(SeedWriter& seed)
{
    SeedValue(seed, HKEY_CLASSES_ROOT, "Component Categories",
              {"{7DD95801-9882-11CF-9FA9-00AA006C42C4}"}, "409", REG_SZ,
              Text("Controls that are safely scriptable"));
}

// Selects every entry in turn and deletes the one at each index.
void SelectAndDelete(SeedWriter& seed, std::initializer_list<int> indexes)
{
    for (int index : indexes) {
        SeedStep(seed, STEP_SELECT_CONTROL, index);
        SeedStep(seed, STEP_SELECT_FILE_INFO_ROW, index + 3);
        SeedStep(seed, STEP_DELETE, 0);
    }
    SeedStep(seed, STEP_REFRESH, 0);
}

void Write(const std::string& folder, const char* name, const SeedWriter& seed,
           const std::vector<int>& answers)
{
    std::string bytes = SeedBytes(seed, answers);
    std::ofstream(folder + "/" + name, std::ios::binary) << bytes;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    std::string folder = argv[1];
    const std::vector<int> yes = {IDYES};
    const std::vector<int> no = {IDNO};

    Write(folder, "empty", SeedWriter(), {IDOK});

    // A download beside a sibling that must stay, deleted with its file.
    SeedWriter workflow;
    Download(workflow, kDownload, kClsid, kLibId);
    TypeLib(workflow, kLibId, "1.0", kDownloadFile);
    Download(workflow, "C:/Windows/Downloaded Program Files/sibling.ocx", kSiblingClsid,
             kSiblingLibId);
    TypeLib(workflow, kSiblingLibId, "1.0", "c:\\windows\\system32\\other.dll");
    SeedValue(workflow, HKEY_LOCAL_MACHINE, SHARED_DLLS_PATH, {},
              "C:\\Windows\\System32\\other.dll", REG_DWORD, Dword(3));
    Category(workflow);
    SeedFile(workflow, kDownloadFile, 0);
    SelectAndDelete(workflow, {0, 1, 2});
    Write(folder, "download", workflow, yes);
    Write(folder, "download-refused", workflow, no);
    // The same machine where keys cannot be opened or enumerated, left by
    // the system menu at the end.
    SeedWriter denied = workflow;
    SeedStep(denied, STEP_LEAVE, 2);
    SeedFault(denied, HKEY_CLASSES_ROOT, "CLSID", {kClsid}, 0, ERROR_SUCCESS);
    SeedFault(denied, HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH, {}, 1, ERROR_MORE_DATA);
    SeedFault(denied, HKEY_CLASSES_ROOT, "TypeLib", {kLibId}, 0, ERROR_ACCESS_DENIED);
    Write(folder, "denied", denied, yes);

    // Controls known from their type library only: the warning, a shared
    // count, a read-only file and one that is not a program.
    SeedWriter others;
    TypeLib(others, kLibId, "1.0", kOtherFile);
    TypeLib(others, kLibId, "2.0", kOtherFile);
    TypeLib(others, kSiblingLibId, "1.0", "C:\\WINDOWS\\OCCACHE\\b.dll");
    SeedValue(others, HKEY_LOCAL_MACHINE, SHARED_DLLS_PATH, {}, kOtherFile, REG_DWORD, Dword(2));
    SeedValue(others, HKEY_LOCAL_MACHINE, SHARED_DLLS_PATH, {}, "C:/Program Files/Vendor/c.ocx",
              REG_DWORD, Dword(1));
    SeedKey(others, HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH, {});
    SeedFile(others, kOtherFile, 1);
    SeedFile(others, "C:\\WINDOWS\\OCCACHE\\b.dll", 3);
    SelectAndDelete(others, {0, 1});
    Write(folder, "typelib", others, {IDYES, IDYES, IDNO, IDYES});

    // A download without a class, and one whose class names a key deeper down.
    SeedWriter partial;
    SeedValue(partial, HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH, {kDownload}, ".Owner", REG_SZ,
              Text("Unknown Owner"));
    SeedValue(partial, HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH,
              {"C:/Windows/Downloaded Program Files/%s%n%x.ocx"}, "{x}\\..\\CLSID", REG_SZ,
              Text(""));
    SeedKey(partial, HKEY_CLASSES_ROOT, "CLSID", {"{x}", "..", "CLSID"});
    SeedKey(partial, HKEY_CLASSES_ROOT, "TypeLib", {});
    SeedFile(partial, "C:\\Windows\\Downloaded Program Files\\%s%n%x.ocx", 2);
    SelectAndDelete(partial, {0, 1});
    Write(folder, "without-class", partial, yes);

    // What a new user could write: long and non-ASCII names, paths of 259,
    // 260 and 2,000 characters, values of the wrong type or unterminated, a
    // library with 40 versions, long version names and descriptions, and
    // format specifiers that Delete puts into its questions.
    SeedWriter hostile;
    const std::string folderPrefix = "C:/Windows/Downloaded Program Files/";
    SeedValue(hostile, HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH, {std::string(255, 'k')}, ".Owner",
              REG_SZ, Text("x"));
    SeedValue(hostile, HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH,
              {folderPrefix + "\xC3\xA9\xE2\x82\xAC\xFF.ocx"}, kClsid, REG_SZ, Text(""));
    for (size_t length : {259u, 260u}) {
        std::string path =
            folderPrefix + std::string(length - folderPrefix.size() - 4, 'p') + ".ocx";
        SeedValue(hostile, HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH, {path}, kClsid, REG_SZ, Text(""));
    }
    SeedValue(hostile, HKEY_CLASSES_ROOT, "CLSID", {kClsid, "InprocServer32"}, "", REG_BINARY,
              "C:\\Windows\\Downloaded Program Files\\a.ocx");
    SeedValue(hostile, HKEY_CLASSES_ROOT, "CLSID", {kClsid, "TypeLib"}, "", REG_MULTI_SZ,
              std::string(kLibId) + '\0' + "{x}" + '\0' + '\0');
    SeedValue(hostile, HKEY_CLASSES_ROOT, "CLSID", {kClsid, "Version"}, "", REG_DWORD, Dword(1));
    TypeLib(hostile, kLibId, std::string(120, '9'), "C:\\" + std::string(2000, 'L') + ".ocx");
    TypeLib(hostile, kLibId, "1.0", "C:\\Windows\\Downloaded Program Files\\%s%n%x.ocx",
            REG_EXPAND_SZ);
    SeedValue(hostile, HKEY_CLASSES_ROOT, "TypeLib", {kLibId, "1.0"}, "", REG_SZ,
              std::string(5000, 'D'));
    SeedValue(hostile, HKEY_CLASSES_ROOT, "TypeLib", {kSiblingLibId, "1.0", "0", "win32"}, "",
              REG_SZ, "C:\\unterminated.ocx");
    SeedValue(hostile, HKEY_LOCAL_MACHINE, SHARED_DLLS_PATH, {}, kDownloadFile, REG_SZ,
              Text("%s%n"));
    SeedValue(hostile, HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH, {std::string(255, 'v')},
              std::string(16383, 'n'), REG_SZ, Text(""));
    SeedFile(hostile, "C:\\Windows\\Downloaded Program Files\\%s%n%x.ocx", 0);
    SelectAndDelete(hostile, {0, 1, 2, 3, 4, 5});
    Write(folder, "hostile", hostile, {IDYES, IDYES, IDYES, IDOK});

    SeedWriter versions;
    SeedKey(versions, HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH, {});
    for (int i = 0; i < 40; ++i)
        SeedValue(versions, HKEY_CLASSES_ROOT, "TypeLib",
                  {kLibId, std::to_string(i) + ".0", "0", "win32"}, "", REG_SZ,
                  Text("C:\\Program Files\\Vendor\\v" + std::to_string(i % 3) + ".ocx"));
    SelectAndDelete(versions, {0, 2});
    Write(folder, "forty-versions", versions, yes);
    return 0;
}
