#include "removal/removal.h"

#include "base/messages.h"
#include "base/text.h"
#include "details/details.h"
#include "inventory/inventory.h"

typedef bool (*ListedFileVisitor)(void* context, const WCHAR* file, RegistryView view);

// Calls the visitor with each file a distribution unit of the view lists:
// the value names of its Contains\Files key and the INF its download
// information names. The visitor answers false to end the walk.
static void ForEachListedFile(const WCHAR* clsid, RegistryView view, ListedFileVisitor visit,
                              void* context)
{
    WCHAR path[MAX_PATH];
    HKEY files;
    bool going = true;
    if (JoinText(path, DISTRIBUTION_UNITS_PATH TEXT("\\"), clsid, TEXT("\\Contains\\Files")) &&
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | ViewAccess(view), &files) ==
            ERROR_SUCCESS) {
        WCHAR name[MAX_PATH];
        for (DWORD index = 0; going; ++index) {
            DWORD nameSize = BufferLength(name);
            LONG status = RegEnumValueW(files, index, name, &nameSize, NULL, NULL, NULL, NULL);
            if (status == ERROR_NO_MORE_ITEMS)
                break;
            // A name too long for a path names no file we could delete.
            if (status == ERROR_SUCCESS && !IsEmptyText(name))
                going = visit(context, name, view);
        }
        RegCloseKey(files);
    }
    WCHAR inf[MAX_PATH];
    if (going &&
        JoinText(path, DISTRIBUTION_UNITS_PATH TEXT("\\"), clsid, TEXT("\\DownloadInformation")) &&
        QueryRegistryText(HKEY_LOCAL_MACHINE, path, view, TEXT("INF"), inf) && !IsEmptyText(inf))
        visit(context, inf, view);
}

// A listed file as this program reaches it; false when it cannot.
static bool ListedDiskPath(const WCHAR* listed, RegistryView view, WCHAR (&diskPath)[MAX_PATH])
{
    WCHAR filePath[MAX_PATH];
    if (!CopyText(filePath, listed))
        return false;
    ConvertSlashes(filePath);
    return MapFilePath(filePath, view, diskPath);
}

struct OtherUnitSearch {
    const FileIdentity* file;
    bool found;
};

static bool IsSameAsSearched(void* context, const WCHAR* listed, RegistryView view)
{
    OtherUnitSearch& search = *static_cast<OtherUnitSearch*>(context);
    WCHAR diskPath[MAX_PATH];
    if (!ListedDiskPath(listed, view, diskPath))
        return true;
    FileIdentity identity;
    IdentifyFile(diskPath, identity);
    search.found = IsSameFile(*search.file, identity);
    return !search.found;
}

// Whether a distribution unit other than the control's own, in either view,
// lists the file.
static bool IsListedByOtherUnit(const WCHAR* ownClsid, RegistryView ownView,
                                const FileIdentity& file)
{
    OtherUnitSearch search = {&file, false};
    const RegistryView views[] = {VIEW_32, VIEW_64};
    for (int i = 0; i < (IsWow64Machine() ? 2 : 1) && !search.found; ++i) {
        HKEY units;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, DISTRIBUTION_UNITS_PATH, 0,
                          KEY_READ | ViewAccess(views[i]), &units) != ERROR_SUCCESS)
            continue;
        WCHAR clsid[MAX_PATH];
        for (DWORD index = 0; !search.found && RegEnumKeyW(units, index, clsid,
                                                           BufferLength(clsid)) == ERROR_SUCCESS;
             ++index) {
            if (views[i] != ownView || !EqualsIgnoreCase(clsid, ownClsid))
                ForEachListedFile(clsid, views[i], IsSameAsSearched, &search);
        }
        RegCloseKey(units);
    }
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
static bool PlanOtherFile(void* context, const WCHAR* listed, RegistryView view)
{
    OtherFilesPlan& others = *static_cast<OtherFilesPlan*>(context);
    RemovalPlan& plan = *others.plan;
    WCHAR registered[MAX_PATH];
    WCHAR filePath[MAX_PATH];
    CopyText(registered, listed);
    ConvertSlashes(registered);
    if (!ListedDiskPath(listed, view, filePath))
        return true;
    WIN32_FIND_DATAW found;
    if (!FindFileEntry(filePath, found) || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return true;
    FileIdentity identity;
    IdentifyFile(filePath, identity);
    if (IsSameFile(identity, others.control) || IsPlannedAlready(plan, identity))
        return true;
    bool shared = IsSharedByOthers(registered, view) ||
                  IsListedByOtherUnit(plan.clsid, view, identity) ||
                  IsNamedByOtherEntry(*others.dialogue, -1, identity);
    if (shared && plan.keptCount < MAX_OTHER_FILES)
        CopyText(plan.kept[plan.keptCount++], filePath);
    else if (!shared && plan.offeredCount < MAX_OTHER_FILES)
        CopyText(plan.offered[plan.offeredCount++], filePath);
    return true;
}

void PlanRemoval(const DeleteDialogue& dialogue, const ControlEntry& entry, bool downloaded,
                 RemovalPlan& plan)
{
    plan = RemovalPlan{};
    plan.entry = entry;
    plan.downloaded = downloaded;
    WIN32_FIND_DATAW found;
    plan.fileExists = FindFileEntry(entry.diskPath, found) &&
                      !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    WCHAR version[32];
    plan.hasTypeLib = FindTypeLibForFile(entry.filePath, entry.view, plan.libId, version);
    if (!downloaded)
        return;
    plan.hasClsid = FindModuleClsid(HKEY_LOCAL_MACHINE, entry.controlPath, entry.view, plan.clsid);
    if (!plan.hasClsid)
        return;
    OtherFilesPlan others = {&dialogue, &plan, {}};
    IdentifyFile(entry.diskPath, others.control);
    ForEachListedFile(plan.clsid, entry.view, PlanOtherFile, &others);
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
    if (AskQuestion(dialogue, QUESTION_OTHER_FILES, question, TEXT_PRODUCT_NAME,
                    MB_YESNO | MB_DEFBUTTON2) != IDYES)
        return;
    for (int i = 0; i < plan.offeredCount; ++i) {
        if (!DeleteFileW(plan.offered[i]) && GetLastError() == ERROR_ACCESS_DENIED) {
            WCHAR text[1024];
            FormatText(text, FORMAT_ACCESS_DENIED, plan.offered[i]);
            dialogue.ask(dialogue.context, text, TEXT_PRODUCT_NAME, MB_OK);
        }
    }
}
