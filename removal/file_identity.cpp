#include "removal/removal.h"

#include "base/text.h"
#include "inventory/inventory.h"

// Windows answers for one file under many names: a trailing dot, an 8.3
// short name, another letter case, '/' for '\'. Only the file system can
// tell that two of them are one file; text cannot.
void IdentifyFile(const WCHAR* filePath, FileIdentity& identity)
{
    identity = FileIdentity{};
    // Attribute access conflicts with no sharing mode, so a file that
    // another process holds open is still identified; the backup flag lets
    // a folder open too.
    HANDLE file = CreateFileW(filePath, FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION information;
        if (GetFileInformationByHandle(file, &information)) {
            identity.opened = true;
            identity.volume = information.dwVolumeSerialNumber;
            identity.indexHigh = information.nFileIndexHigh;
            identity.indexLow = information.nFileIndexLow;
        }
        CloseHandle(file);
    }
    DWORD length =
        GetFullPathNameW(filePath, BufferLength(identity.fullPath), identity.fullPath, NULL);
    if (length == 0 || length >= BufferLength(identity.fullPath))
        CopyText(identity.fullPath, filePath);
    CharUpperBuffW(identity.fullPath, static_cast<DWORD>(TextLength(identity.fullPath)));
}

bool IsSameFile(const FileIdentity& first, const FileIdentity& second)
{
    if (first.opened && second.opened)
        return first.volume == second.volume && first.indexHigh == second.indexHigh &&
               first.indexLow == second.indexLow;
    return CompareText(first.fullPath, second.fullPath) == 0;
}

bool IsNamedByOtherEntry(const DeleteDialogue& dialogue, LRESULT index,
                         const FileIdentity& identity)
{
    LRESULT count = dialogue.entryCount(dialogue.context);
    for (LRESULT other = 0; other < count; ++other) {
        ControlEntry entry;
        if (other == index || !dialogue.getEntry(dialogue.context, other, entry))
            continue;
        FileIdentity otherIdentity;
        IdentifyFile(entry.diskPath, otherIdentity);
        if (IsSameFile(identity, otherIdentity))
            return true;
    }
    return false;
}
