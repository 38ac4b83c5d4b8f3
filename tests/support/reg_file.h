#pragma once

// A reader of .reg files (REGEDIT5: UTF-16LE), written from the rules that
// regedit and reg import follow rather than from the program's writer, so
// that a test can hold the two against each other. No gtest here: the
// fuzzer uses it too.
//
// Names and paths are UTF-8, except that a lone surrogate, which UTF-8 cannot
// carry, is written in its three-byte form (WTF-8): every UTF-16 name comes
// back from RegFileWide as it was.

#include <windows.h>

#include <string>
#include <vector>

typedef std::basic_string<WCHAR> WideText;

struct RegFileValue {
    std::string root; // "HKLM", "HKCR" or "HKCU"
    std::string path; // below the root
    std::string name; // empty for the default value
    DWORD type;
    std::vector<BYTE> data;
};

// What the file would do to the registry, in the file's order. keys holds
// every header as "HKLM\\path" (or HKCR, HKCU); values name their key.
struct RegFile {
    bool ok = false;
    std::string error; // the first line that regedit would not read as written
    std::vector<std::string> keys;
    std::vector<RegFileValue> values;
};

// hostPath: a path of the machine the test runs on (under Wine, one that
// starts with '/' is reached through Z:).
RegFile ReadRegFile(const std::string& hostPath);
// As reg import does: every key created, every value set, in order. False
// when the registry refused any of it, or the file was not read.
bool ImportRegFile(const RegFile& file);

std::string RegFileText(const WideText& text);
WideText RegFileWide(const std::string& text);

// The folders below <local application data>\Burrowlens\Removed, as paths
// for ReadRegFile, sorted; none when the folder is not there.
std::vector<std::string> RestoreFolders();
