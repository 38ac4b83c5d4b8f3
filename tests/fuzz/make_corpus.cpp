// Writes the seed corpus: the machines of the unit tests (a download with its
// class, distribution unit, type library and usage count beside a sibling
// that must stay; controls known from their type library; missing files and
// shared counts), the hostile registry a new user could write, and text that
// only UTF-16 carries, each with a session that selects and deletes.
// Usage: make_fuzz_corpus <folder>

#include "fuzz.h"

#include "details/details.h"
#include "inventory/inventory.h"
#include "removal/removal.h"

#include <cstdio>
#include <fstream>
#include <string>

namespace {

WideText W(const std::string& utf8)
{
    int length =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), NULL, 0);
    WideText wide(static_cast<size_t>(length), 0);
    if (length > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0],
                            length);
    return wide;
}

const WideText kClsid = W("{0B5E0000-0000-4000-8000-00000000000A}");
const WideText kSiblingClsid = W("{0B5E0000-0000-4000-8000-00000000000B}");
const WideText kLibId = W("{0B5E0000-0000-4000-8000-0000000000AA}");
const WideText kSiblingLibId = W("{0B5E0000-0000-4000-8000-0000000000BB}");
const WideText kCategory = W("{7DD95801-9882-11CF-9FA9-00AA006C42C4}");
const WideText kDownload = W("C:/Windows/Downloaded Program Files/a.ocx");
const char kDownloadFile[] = "C:\\Windows\\Downloaded Program Files\\a.ocx";
const char kOtherFile[] = "C:\\Program Files\\Vendor\\c.ocx";
// U+0441 is the Cyrillic letter that looks like 'c'.
const char kLookAlikeFile[] = "C:\\Program Files\\Vendor\\\u0441.ocx";
const char kOmegaFile[] = "C:\\Program Files\\Vendor\\\u03A9mega.ocx";
const WCHAR kClsidBase[] = TEXT("CLSID");
const WCHAR kTypeLibBase[] = TEXT("TypeLib");

std::string Bytes(const WideText& text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(WCHAR));
}

std::string Text(const WideText& text)
{
    return Bytes(text + WCHAR(0));
}

std::string Dword(DWORD number)
{
    return std::string(reinterpret_cast<const char*>(&number), sizeof number);
}

void Download(SeedWriter& seed, const WideText& usage, const WideText& clsid, const WideText& libId)
{
    WideText file = usage;
    for (WCHAR& c : file) {
        if (c == '/')
            c = '\\';
    }
    SeedValue(seed, HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH, {usage}, W(".Owner"), REG_SZ,
              Text(W("Unknown Owner")));
    SeedValue(seed, HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH, {usage}, clsid, REG_SZ, Text(W("")));
    SeedValue(seed, HKEY_CLASSES_ROOT, kClsidBase, {clsid, W("InprocServer32")}, W(""), REG_SZ,
              Text(file));
    SeedKey(seed, HKEY_CLASSES_ROOT, kClsidBase, {clsid, W("Implemented Categories"), kCategory});
    SeedValue(seed, HKEY_CLASSES_ROOT, kClsidBase, {clsid, W("TypeLib")}, W(""), REG_SZ,
              Text(libId));
    SeedValue(seed, HKEY_CLASSES_ROOT, kClsidBase, {clsid, W("Version")}, W(""), REG_SZ,
              Text(W("1.0")));
    SeedValue(seed, HKEY_LOCAL_MACHINE, DISTRIBUTION_UNITS_PATH, {clsid, W("Contains"), W("Files")},
              file, REG_SZ, Text(W("")));
    SeedValue(seed, HKEY_LOCAL_MACHINE, DISTRIBUTION_UNITS_PATH, {clsid, W("DownloadInformation")},
              W("CODEBASE"), REG_SZ, Text(W("http://example.invalid/a.cab")));
    SeedValue(seed, HKEY_LOCAL_MACHINE, SHARED_DLLS_PATH, {}, file, REG_DWORD, Dword(1));
}

void TypeLib(SeedWriter& seed, const WideText& libId, const WideText& version, const WideText& file,
             DWORD type = REG_SZ)
{
    SeedValue(seed, HKEY_CLASSES_ROOT, kTypeLibBase, {libId, version}, W(""), REG_SZ,
              Text(W("Fixture Library")));
    SeedValue(seed, HKEY_CLASSES_ROOT, kTypeLibBase, {libId, version, W("0"), W("win32")}, W(""),
              type, Text(file));
}

void Category(SeedWriter& seed)
{
    SeedValue(seed, HKEY_CLASSES_ROOT, TEXT("Component Categories"), {kCategory}, W("409"), REG_SZ,
              Text(W("Controls that are safely scriptable")));
}

// Selects the entry at each index and deletes it, then refreshes. A session
// has at most 12 steps: three deletes at most.
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
    TypeLib(workflow, kLibId, W("1.0"), W(kDownloadFile));
    Download(workflow, W("C:/Windows/Downloaded Program Files/sibling.ocx"), kSiblingClsid,
             kSiblingLibId);
    TypeLib(workflow, kSiblingLibId, W("1.0"), W("c:\\windows\\system32\\other.dll"));
    SeedValue(workflow, HKEY_LOCAL_MACHINE, SHARED_DLLS_PATH, {},
              W("C:\\Windows\\System32\\other.dll"), REG_DWORD, Dword(3));
    Category(workflow);
    SeedFile(workflow, kDownloadFile, 0);
    SelectAndDelete(workflow, {0, 1, 2});
    Write(folder, "download", workflow, yes);
    Write(folder, "download-refused", workflow, no);
    // The same machine where keys cannot be opened or enumerated, left by
    // the system menu at the end.
    SeedWriter denied = workflow;
    SeedStep(denied, STEP_LEAVE, 2);
    SeedFault(denied, HKEY_CLASSES_ROOT, kClsidBase, {kClsid}, 0, ERROR_SUCCESS);
    SeedFault(denied, HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH, {}, 1, ERROR_MORE_DATA);
    SeedFault(denied, HKEY_CLASSES_ROOT, kTypeLibBase, {kLibId}, 0, ERROR_ACCESS_DENIED);
    Write(folder, "denied", denied, yes);

    // Controls known from their type library only: the warning, a shared
    // count, a read-only file and one that is not a program.
    SeedWriter others;
    TypeLib(others, kLibId, W("1.0"), W(kOtherFile));
    TypeLib(others, kLibId, W("2.0"), W(kOtherFile));
    TypeLib(others, kSiblingLibId, W("1.0"), W("C:\\WINDOWS\\OCCACHE\\b.dll"));
    SeedValue(others, HKEY_LOCAL_MACHINE, SHARED_DLLS_PATH, {}, W(kOtherFile), REG_DWORD, Dword(2));
    SeedValue(others, HKEY_LOCAL_MACHINE, SHARED_DLLS_PATH, {}, W("C:/Program Files/Vendor/c.ocx"),
              REG_DWORD, Dword(1));
    SeedKey(others, HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH, {});
    SeedFile(others, kOtherFile, 1);
    SeedFile(others, "C:\\WINDOWS\\OCCACHE\\b.dll", 3);
    SelectAndDelete(others, {0, 1});
    Write(folder, "typelib", others, {IDYES, IDYES, IDNO, IDYES});

    // A download without a class, and one whose class names a key deeper down.
    SeedWriter partial;
    SeedValue(partial, HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH, {kDownload}, W(".Owner"), REG_SZ,
              Text(W("Unknown Owner")));
    SeedValue(partial, HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH,
              {W("C:/Windows/Downloaded Program Files/%s%n%x.ocx")}, W("{x}\\..\\CLSID"), REG_SZ,
              Text(W("")));
    SeedKey(partial, HKEY_CLASSES_ROOT, kClsidBase, {W("{x}"), W(".."), W("CLSID")});
    SeedKey(partial, HKEY_CLASSES_ROOT, kTypeLibBase, {});
    SeedFile(partial, "C:\\Windows\\Downloaded Program Files\\%s%n%x.ocx", 2);
    SelectAndDelete(partial, {0, 1});
    Write(folder, "without-class", partial, yes);

    // What a new user could write: long names, paths of 259, 260 and 2,000
    // characters, values of the wrong type, of odd length or unterminated, a
    // library with 40 versions, long version names and descriptions, and
    // format specifiers that Delete puts into its questions.
    SeedWriter hostile;
    const std::string folderPrefix = "C:/Windows/Downloaded Program Files/";
    SeedValue(hostile, HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH, {WideText(255, 'k')}, W(".Owner"),
              REG_SZ, Text(W("x")));
    SeedValue(hostile, HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH, {W(folderPrefix + "é€ÿ.ocx")}, kClsid,
              REG_SZ, Text(W("")));
    // A key name has 255 characters at most: longer paths come from type libraries.
    for (size_t length : {259u, 260u}) {
        std::string path =
            folderPrefix + std::string(length - folderPrefix.size() - 4, 'p') + ".ocx";
        TypeLib(hostile, kSiblingLibId, W(std::to_string(length)), W(path));
    }
    SeedValue(hostile, HKEY_CLASSES_ROOT, kClsidBase, {kClsid, W("InprocServer32")}, W(""),
              REG_BINARY, Bytes(W("C:\\Windows\\Downloaded Program Files\\a.ocx")));
    SeedValue(hostile, HKEY_CLASSES_ROOT, kClsidBase, {kClsid, W("TypeLib")}, W(""), REG_MULTI_SZ,
              Bytes(kLibId + WCHAR(0) + W("{x}") + WCHAR(0) + WCHAR(0)));
    SeedValue(hostile, HKEY_CLASSES_ROOT, kClsidBase, {kClsid, W("Version")}, W(""), REG_DWORD,
              Dword(1));
    SeedValue(hostile, HKEY_CLASSES_ROOT, kClsidBase, {kClsid, W("Odd")}, W(""), REG_SZ,
              Bytes(W("1.0")) + 'x');
    TypeLib(hostile, kLibId, WideText(120, '9'), W("C:\\" + std::string(2000, 'L') + ".ocx"));
    TypeLib(hostile, kLibId, W("1.0"), W("C:\\Windows\\Downloaded Program Files\\%s%n%x.ocx"),
            REG_EXPAND_SZ);
    SeedValue(hostile, HKEY_CLASSES_ROOT, kTypeLibBase, {kLibId, W("1.0")}, W(""), REG_SZ,
              Bytes(WideText(5000, 'D')));
    SeedValue(hostile, HKEY_CLASSES_ROOT, kTypeLibBase,
              {kSiblingLibId, W("1.0"), W("0"), W("win32")}, W(""), REG_SZ,
              Bytes(W("C:\\unterminated.ocx")));
    SeedValue(hostile, HKEY_LOCAL_MACHINE, SHARED_DLLS_PATH, {}, W(kDownloadFile), REG_SZ,
              Text(W("%s%n")));
    SeedValue(hostile, HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH, {WideText(255, 'v')},
              WideText(16383, 'n'), REG_SZ, Text(W("")));
    SeedFile(hostile, "C:\\Windows\\Downloaded Program Files\\%s%n%x.ocx", 0);
    SelectAndDelete(hostile, {0, 2, 5});
    Write(folder, "hostile", hostile, {IDYES, IDYES, IDYES, IDOK});

    SeedWriter versions;
    SeedKey(versions, HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH, {});
    for (int i = 0; i < 40; ++i)
        SeedValue(versions, HKEY_CLASSES_ROOT, kTypeLibBase,
                  {kLibId, W(std::to_string(i) + ".0"), W("0"), W("win32")}, W(""), REG_SZ,
                  Text(W("C:\\Program Files\\Vendor\\v" + std::to_string(i % 3) + ".ocx")));
    SelectAndDelete(versions, {0, 2});
    Write(folder, "forty-versions", versions, yes);

    // One file under two names, and look-alikes that are other files: the
    // short names make a.ocx and c.ocx shared, and deleting the fullwidth
    // 'ａ' or the Cyrillic 'с' must leave the Latin ones alone.
    SeedWriter lookAlikes;
    Download(lookAlikes, W("C:/Windows/Downloaded Program Files/\uFF41.ocx"), kClsid, kLibId);
    Download(lookAlikes, kDownload, kSiblingClsid, kSiblingLibId);
    TypeLib(lookAlikes, kLibId, W("1.0"), W("C:\\WINDOWS\\DOWNLO~1\\A.OCX"));
    TypeLib(lookAlikes, kSiblingLibId, W("1.0"), W(kOtherFile));
    TypeLib(lookAlikes, kSiblingLibId, W("2.0"), W("C:\\PROGRA~1\\Vendor\\C.OCX"));
    TypeLib(lookAlikes, W("{\u0441}"), W("1.0"), W(kLookAlikeFile));
    SeedFile(lookAlikes, kDownloadFile, 1);
    SeedFile(lookAlikes, "C:\\Windows\\Downloaded Program Files\\\uFF41.ocx", 0);
    SeedFile(lookAlikes, kOtherFile, 2);
    SelectAndDelete(lookAlikes, {0, 3, 1});
    Write(folder, "look-alikes", lookAlikes, {IDYES, IDYES, IDYES, IDNO, IDYES});

    // Text the ANSI code page cannot carry: unpaired surrogates, a pair
    // beyond the BMP, a noncharacter and private use in names and values,
    // and a Greek name in another case that names the same file.
    SeedWriter utf16;
    const WideText lone = {'C', ':', '/', 'x', 0xD800, '.', 'o', 'c', 'x'};
    const WideText pair = W("C:/Windows/Downloaded Program Files/\U0010FFFF\uFFFF\uE000.ocx");
    Download(utf16, lone, kClsid, kLibId);
    Download(utf16, pair, kSiblingClsid, kSiblingLibId);
    SeedValue(utf16, HKEY_LOCAL_MACHINE, MODULE_USAGE_PATH, {pair}, {0xDC00, 'x'}, REG_SZ,
              Text({0xDBFF, 'y'}));
    TypeLib(utf16, kLibId, {'1', 0xDFFF}, W("C:\\Program Files\\Vendor\\ωMEGA.OCX"));
    TypeLib(utf16, W("{Ωmega}"), W("1.0"), W(kOmegaFile));
    SeedFile(utf16, kOmegaFile, 1);
    SelectAndDelete(utf16, {0, 1, 2});
    Write(folder, "utf16", utf16, {IDYES, IDNO, IDYES});
    return 0;
}
