#pragma once

#include "base/constants.h"
#include "inventory/inventory.h"

#include <windows.h>

// The questions of a Delete.
enum DeleteQuestion {
    QUESTION_NOT_DOWNLOADED,
    QUESTION_DELETE_FILE,
    QUESTION_SHARED_FILE,
    QUESTION_REGISTRY_ENTRY,
    QUESTION_OTHER_FILES,
};

// How a Delete talks to its user and learns the control list: it asks as
// MessageBoxW does (text, caption, type -> the button chosen), beeps as
// MessageBeep does, and reads the list's entries by index.
struct DeleteDialogue {
    int (*ask)(void* context, const WCHAR* text, const WCHAR* caption, UINT type);
    void (*beep)(void* context, UINT type);
    LRESULT (*entryCount)(void* context);
    // false when the entry's text cannot be a control path.
    bool (*getEntry)(void* context, LRESULT index, ControlEntry& entry);
    void* context;
    // For a caller with no one to ask, NULL otherwise: the answer to each
    // question, the same whenever it is asked. A question whose No would
    // stop the Delete after its first change is put before it instead; ask
    // then only tells what went wrong.
    int (*decide)(void* context, DeleteQuestion question);
};

// How a Delete ended: the control removed, nothing changed, or stopped after
// its first change (the restore folder holds what went).
enum DeleteOutcome {
    DELETE_DONE,
    DELETE_REFUSED,
    DELETE_FAILED,
};
// The Delete command for the entry at index; restoreFolder is the folder
// written before the first change, or empty.
DeleteOutcome RemoveListedControl(const DeleteDialogue& dialogue, LRESULT index,
                                  const ControlEntry& entry, WCHAR (&restoreFolder)[MAX_PATH]);
// The same: true when the control was removed, and its entry is to leave the list.
BOOL DeleteListedControl(const DeleteDialogue& dialogue, LRESULT index, const ControlEntry& entry);
// An answer of the caller's own, or of the user's through a box.
int AskQuestion(const DeleteDialogue& dialogue, DeleteQuestion question, const WCHAR* text,
                const WCHAR* caption, UINT type);
// A control of this program's own bitness runs its DllUnregisterServer here;
// a 64-bit one is left to the 64-bit regsvr32, as no 32-bit process can load it.
BOOL UnregisterControl(const ControlEntry& entry);
// namedElsewhere: another entry of the list names the same file, which then
// counts as shared whatever its usage count says.
BOOL ConfirmAndDeleteFile(const DeleteDialogue& dialogue, const ControlEntry& entry,
                          bool namedElsewhere);
// Whether the file's usage count in the view says that more than one program uses it.
bool IsSharedByOthers(const WCHAR* filePath, RegistryView view);
// Whether a file starts as a DLL or as an executable does.
void ReadImageKind(const BYTE* header, DWORD size, bool& isDll, bool& isExecutable);

// Which file a path names, however it is spelt: the volume and index of the
// file it opens, and its full path name upper-cased, for a path that opens
// nothing.
struct FileIdentity {
    bool opened;
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
    WCHAR fullPath[MAX_PATH];
};
void IdentifyFile(const WCHAR* filePath, FileIdentity& identity);
bool IsSameFile(const FileIdentity& first, const FileIdentity& second);
// Whether an entry of the control list other than the one at index names the file.
bool IsNamedByOtherEntry(const DeleteDialogue& dialogue, LRESULT index,
                         const FileIdentity& identity);

// Registry clean-up after the file step. Each removes the key by which the
// list finds the control last, so that a Delete cut short leaves the entry
// listed and deleting it again finishes the job.
// Each works in the entry's view only; in the TypeLib key, which both views
// share, only the entry's own platform key goes, and a key above it only
// once nothing of the other view is left under it.
BOOL RemoveDistributionUnit(const ControlEntry& entry);
BOOL RemoveModuleUsage(const ControlEntry& entry);
BOOL RemoveSharedDllValue(const WCHAR* filePath, RegistryView view);
BOOL RemoveTypeLibRegistration(const ControlEntry& entry);
void DeleteKeyTree(HKEY key, RegistryView view);
// As DeleteKeyTree, with the keys along lastPath (names joined by '\')
// deleted after everything else, the deepest first.
void DeleteKeyTreeLast(HKEY key, const WCHAR* lastPath, RegistryView view);

// What one Delete may remove, settled before anything changes.
#define MAX_OTHER_FILES 32
struct RemovalPlan {
    ControlEntry entry;
    bool downloaded;
    bool fileExists;
    bool hasClsid;
    WCHAR clsid[MAX_PATH];
    bool hasTypeLib;
    WCHAR libId[MAX_PATH];
    // A download's other files, as this program reaches them: those it may
    // delete, and those it keeps because something else uses them.
    int offeredCount;
    WCHAR offered[MAX_OTHER_FILES][MAX_PATH];
    int keptCount;
    WCHAR kept[MAX_OTHER_FILES][MAX_PATH];
};
void PlanRemoval(const DeleteDialogue& dialogue, const ControlEntry& entry, bool downloaded,
                 RemovalPlan& plan);
// The one question about a download's other files; deletes those the user
// lets go.
void DeleteOtherFiles(const DeleteDialogue& dialogue, const RemovalPlan& plan);
// Before the first change, whether the Delete can finish: every key and
// value it may remove can be deleted in its view, and every file it may
// delete (not read-only, not held open without delete sharing, not one that
// Windows protects). Otherwise one notice through the dialogue says which
// and why, and nothing may change.
bool CheckRemoval(const DeleteDialogue& dialogue, const RemovalPlan& plan);

// Why a restore folder could not be written: a format with the error's %d,
// and the file, folder or key it is about.
struct RestoreFailure {
    const WCHAR* reason;
    DWORD error;
    WCHAR subject[MAX_PATH * 2];
};
void SetRestoreFailure(RestoreFailure& failure, const WCHAR* reason, DWORD error,
                       const WCHAR* subject);
// Writes the restore folder of the plan, or tells the user through the
// dialogue why it could not; false means nothing may change.
bool SaveRestoreFolder(const DeleteDialogue& dialogue, const RemovalPlan& plan,
                       WCHAR (&folder)[MAX_PATH]);
bool WriteRestoreFolder(const RemovalPlan& plan, WCHAR (&folder)[MAX_PATH],
                        RestoreFailure& failure);

// A new file written through a buffer. The first failure sticks and is
// answered when the file is closed.
struct OutputFile {
    HANDLE file;
    DWORD error;
    DWORD used;
    BYTE buffer[8192];
};
// CREATE_NEW by default: a file already there under a restore folder's name
// was not written by this Delete.
bool CreateOutputFile(OutputFile& out, const WCHAR* path, DWORD disposition = CREATE_NEW);
void WriteBytes(OutputFile& out, const void* data, DWORD size);
void WriteWide(OutputFile& out, const WCHAR* text);
void WriteUtf8(OutputFile& out, const WCHAR* text);
// UTF-8 a piece at a time: the characters of the head of text converted
// (never more than a quarter of the buffer, never half a surrogate pair),
// and the bytes they gave; 0 when the conversion failed.
#define UTF8_PIECE_SIZE 1024
int ConvertUtf8Piece(const WCHAR* text, size_t length, char (&converted)[UTF8_PIECE_SIZE],
                     int& bytes);
// The first length characters of text, which need not be terminated there.
void WriteUtf8Part(OutputFile& out, const WCHAR* text, size_t length);
// Flushes to the disk and closes; the error of the first failure, or 0.
DWORD CloseOutputFile(OutputFile& out);
// The whole of a file, from the heap; freed with HeapFree.
bool ReadWholeFile(const WCHAR* path, BYTE*& data, DWORD& size, DWORD& error);

// removed.reg: the keys and values a Delete may remove, in the form that
// reg import and regedit put back, read back and checked once written.
bool ExportRemovedKeys(const RemovalPlan& plan, const WCHAR* regPath, RestoreFailure& failure);
