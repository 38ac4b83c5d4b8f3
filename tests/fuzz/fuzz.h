#pragma once

// A machine described by fuzz input: registry keys and values below the keys
// the program reads, a few files on C:, and what the user does. The input
// is read front to back; every read past its end answers zeros, so every
// input describes some machine. Names and text are UTF-16, put together a
// code unit (or a pair) at a time from a table of what the ANSI code page
// cannot carry, so that short inputs reach it.
//
//   input   := count(byte % 65; byte / 65 odd: 64-bit Windows) op*  files  steps
//              answers  faults
//   op      := base(byte) depth(byte % 17) name(255)*depth valueFlag(byte, odd: value)
//              [name(16383) type data]
//   name(n) := tag(byte) < 0xF0: a word of the dictionary
//            | tag >= 0xF0, count(u16 % (n + 1)), unit*count   (cut to n code
//              units, and short when the input ends; NUL and, in key names,
//              '\' read as '?')
//   unit    := byte < 0x80: that ASCII character
//            | 0x80..0xEF: an entry of the awkward-text table (a lone
//              surrogate, a pair beyond the BMP, a noncharacter, private
//              use, a look-alike of an ASCII letter, a separator look-alike)
//            | 0xF0..0xFF, u16: that code unit
//   type    := byte < 0xF0: a common type | 0xF0..0xFF, u32
//   data    := form(byte % 5): 0 word with NUL, 1 word counted without its
//              NUL, 2 u32, 3 length(u16) bytes with no NUL after them in
//              memory, 4 two words as REG_MULTI_SZ
//   files   := count(byte % 4) (path(byte) content(byte % 5) [length(u16 % 4097) bytes])*
//   steps   := count(byte % 13) (kind(byte % 5) index(byte))*
//   answers := count(byte % 17) answer(byte % 4)*
//   faults  := count(byte % 4) (kind(byte, odd: failed enumeration) base(byte)
//              depth(byte % 5) name(255)*depth index(byte % 64) status(byte))*

#include "inventory/inventory.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

typedef std::basic_string<WCHAR> WideText;

enum StepKind {
    STEP_REFRESH,
    STEP_SELECT_CONTROL,
    STEP_SELECT_FILE_INFO_ROW,
    STEP_DELETE,
    STEP_LEAVE, // by Exit, Escape or the system menu
};

struct Step {
    int kind;
    int index;
};

struct FuzzMachine {
    std::vector<std::string> files; // Windows paths (UTF-8) placed on C:
    std::vector<Step> steps;
    std::vector<int> answers; // message box answers, used in turn
};

// Seeds the stand-in's registry and files from the input and answers the
// rest of the script. The fixture folder holds real DLLs to copy.
FuzzMachine BuildMachine(const uint8_t* data, size_t size, const std::string& fixtureDir);

// The same format, written: the seed corpus is made with these. Names and
// data are written out in full, never as dictionary words.
struct SeedWriter {
    int ops = 0;
    std::string opBytes;
    int files = 0;
    std::string fileBytes;
    int steps = 0;
    std::string stepBytes;
    int faults = 0;
    std::string faultBytes;
};
void SeedKey(SeedWriter& seed, HKEY root, const WCHAR* base, const std::vector<WideText>& names);
// The data is stored as given (form 3).
void SeedValue(SeedWriter& seed, HKEY root, const WCHAR* base, const std::vector<WideText>& names,
               const WideText& valueName, DWORD type, const std::string& data);
// content: 0 unregister.ocx, 1 full.ocx, 2 noversion.dll, 3 text, 4 a folder.
void SeedFile(SeedWriter& seed, const char* windowsPath, int content);
void SeedStep(SeedWriter& seed, int kind, int index);
// A key that cannot be opened, or (with a status) whose enumeration fails at the index.
void SeedFault(SeedWriter& seed, HKEY root, const WCHAR* base, const std::vector<WideText>& names,
               DWORD index, LONG status);
std::string SeedBytes(const SeedWriter& seed, const std::vector<int>& answers);

// What a Delete may take: the registry as lines (as the unit tests' snapshot
// writes them, with tabs and '%' in names escaped; on 64-bit Windows read in
// the 64-bit view, where the 32-bit one is HKLM\SOFTWARE\Wow6432Node), and
// the lines that belong to the control of the entry in its view -- its usage
// key, the classes and distribution units that key names, every type library
// naming its file, and its usage count. A Delete takes a part of that and
// nothing else, and never a type library's key for the other view's files.
// The registration is read before the Delete, from the snapshot and the
// registry as it is then; names match without regard to case, as the
// registry matches them.
typedef std::set<std::string> RegistrySnapshot;
RegistrySnapshot TakeFuzzSnapshot();
RegistrySnapshot OwnRegistration(const RegistrySnapshot& before, const ControlEntry& entry);
// The lines of type libraries' keys for the other view's files.
RegistrySnapshot OtherViewLibraryLines(const RegistrySnapshot& lines, RegistryView view);
// What a restore folder's removed.reg puts back, as snapshot lines.
struct RegFile;
// What a restore folder's removed.reg puts back, as snapshot lines of the
// view it is imported into.
RegistrySnapshot RegFileLines(const RegFile& file, RegistryView view);
// Lines with their key path and value name upper-cased, as the registry
// matches them: removed.reg names a class as the usage key spells it.
RegistrySnapshot FoldedNames(const RegistrySnapshot& lines);
