#include "removal/removal.h"

#include "base/messages.h"
#include "base/text.h"
#include "details/details.h"
#include "inventory/inventory.h"

// Calls the visitor with each file a distribution unit lists: the value
// names of its Contains\Files key and the INF its download information names.
// The visitor answers false to end the walk.
static void ForEachListedFile(const WCHAR* clsid, bool (*visit)(void* context, const WCHAR* file),
                              void* context)
{
    WCHAR path[MAX_PATH];
    HKEY files;
    bool going = true;
    if (JoinText(path, DISTRIBUTION_UNITS_PATH TEXT("\\"), clsid, TEXT("\\Contains\\Files")) &&
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &files) == ERROR_SUCCESS) {
        WCHAR name[MAX_PATH];
        for (DWORD index = 0; going; ++index) {
            DWORD nameSize = BufferLength(name);
            LONG status = RegEnumValueW(files, index, name, &nameSize, NULL, NULL, NULL, NULL);
            if (status == ERROR_NO_MORE_ITEMS)
                break;
            // A name too long for a path names no file we could delete.
            if (status == ERROR_SUCCESS && !IsEmptyText(name))
                going = visit(context, name);
        }
        RegCloseKey(files);
    }
    WCHAR inf[MAX_PATH];
    if (going &&
        JoinText(path, DISTRIBUTION_UNITS_PATH TEXT("\\"), clsid, TEXT("\\DownloadInformation")) &&
        QueryRegistryText(HKEY_LOCAL_MACHINE, path, TEXT("INF"), inf) && !IsEmptyText(inf))
        visit(context, inf);
}

struct OtherUnitSearch {
    const FileIdentity* file;
    bool found;
};

static bool IsSameAsSearched(void* context, const WCHAR* listed)
{
    OtherUnitSearch& search = *static_cast<OtherUnitSearch*>(context);
    FileIdentity identity;
    IdentifyFile(listed, identity);
    search.found = IsSameFile(*search.file, identity);
    return !search.found;
}

// Whether a distribution unit other than the control's own lists the file.
static bool IsListedByOtherUnit(const WCHAR* ownClsid, const FileIdentity& file)
{
    HKEY units;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, DISTRIBUTION_UNITS_PATH, 0, KEY_READ, &units) !=
        ERROR_SUCCESS)
        return false;
    OtherUnitSearch search = {&file, false};
    WCHAR clsid[MAX_PATH];
    for (DWORD index = 0;
         !search.found && RegEnumKeyW(units, index, clsid, BufferLength(clsid)) == ERROR_SUCCESS;
         ++index) {
        if (!EqualsIgnoreCase(clsid, ownClsid))
            ForEachListedFile(clsid, IsSameAsSearched, &search);
    }
    RegCloseKey(units);
    return search.found;
}

struct OtherFilesPlan {
    const DeleteDialogue* dialogue;
    RemovalPlan* plan;
    FileIdentity control;
};

static bool IsPlannedAlready(const RemovalPlan& plan, const FileIdentity& identity)
{
    for (int i = 0; i < plan.offeredCount + plan.keptCount; ++i) {
        FileIdentity planned;
        IdentifyFile(i < plan.offeredCount ? plan.offered[i] : plan.kept[i - plan.offeredCount],
                     planned);
        if (IsSameFile(planned, identity))
            return true;
    }
    return false;
}

// A file something else still uses is never offered: one with a usage count
// above 1, one that another download lists, or the file of a listed control.
static bool PlanOtherFile(void* context, const WCHAR* listed)
{
    OtherFilesPlan& others = *static_cast<OtherFilesPlan*>(context);
    RemovalPlan& plan = *others.plan;
    WCHAR filePath[MAX_PATH];
    CopyText(filePath, listed);
    ConvertSlashes(filePath);
    WIN32_FIND_DATAW found;
    if (!FindFileEntry(filePath, found) || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return true;
    FileIdentity identity;
    IdentifyFile(filePath, identity);
    if (IsSameFile(identity, others.control) || IsPlannedAlready(plan, identity))
        return true;
    bool shared = IsSharedByOthers(filePath) || IsListedByOtherUnit(plan.clsid, identity) ||
                  IsNamedByOtherEntry(*others.dialogue, -1, identity);
    if (shared && plan.keptCount < MAX_OTHER_FILES)
        CopyText(plan.kept[plan.keptCount++], filePath);
    else if (!shared && plan.offeredCount < MAX_OTHER_FILES)
        CopyText(plan.offered[plan.offeredCount++], filePath);
    return true;
}

void PlanRemoval(const DeleteDialogue& dialogue, const WCHAR* controlPath, bool downloaded,
                 RemovalPlan& plan)
{
    plan = RemovalPlan{};
    CopyText(plan.controlPath, controlPath);
    CopyText(plan.filePath, controlPath);
    ConvertSlashes(plan.filePath);
    plan.downloaded = downloaded;
    WIN32_FIND_DATAW found;
    plan.fileExists =
        FindFileEntry(plan.filePath, found) && !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    WCHAR version[32];
    plan.hasTypeLib = FindTypeLibForFile(plan.filePath, plan.libId, version);
    if (!downloaded)
        return;
    plan.hasClsid = FindModuleClsid(HKEY_LOCAL_MACHINE, controlPath, plan.clsid);
    if (!plan.hasClsid)
        return;
    OtherFilesPlan others = {&dialogue, &plan, {}};
    IdentifyFile(plan.filePath, others.control);
    ForEachListedFile(plan.clsid, PlanOtherFile, &others);
}

void DeleteOtherFiles(const DeleteDialogue& dialogue, const RemovalPlan& plan)
{
    if (plan.offeredCount == 0)
        return;
    WCHAR question[MAX_OTHER_FILES * MAX_PATH + 256];
    CopyText(question, TEXT_DELETE_OTHER_FILES);
    for (int i = 0; i < plan.offeredCount; ++i) {
        AppendText(question, plan.offered[i]);
        AppendText(question, TEXT("\n"));
    }
    AppendText(question, TEXT_DELETE_OTHER_FILES_QUESTION);
    if (dialogue.ask(dialogue.context, question, TEXT_PRODUCT_NAME, MB_YESNO | MB_DEFBUTTON2) !=
        IDYES)
        return;
    for (int i = 0; i < plan.offeredCount; ++i) {
        if (!DeleteFileW(plan.offered[i]) && GetLastError() == ERROR_ACCESS_DENIED) {
            WCHAR text[1024];
            FormatText(text, FORMAT_ACCESS_DENIED, plan.offered[i]);
            dialogue.ask(dialogue.context, text, TEXT_PRODUCT_NAME, MB_OK);
        }
    }
}
