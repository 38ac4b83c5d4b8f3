#include "app/app.h"

#include "base/messages.h"
#include "base/text.h"
#include "details/details.h"
#include "inventory/inventory.h"
#include "removal/removal.h"

// The entries of the control list, in the order the dialog's sorted list box
// gives them: it compares with CompareStringW in the user's locale, ignoring
// case, and puts a new entry where its binary search ends, in front of an
// equal one.
struct ReportEntry {
    WCHAR* text; // as the list shows it
    RegistryView view;
};
struct ReportList {
    HANDLE heap;
    ReportEntry* entries;
    size_t count;
    size_t capacity;
    HANDLE errors;
    bool incomplete;
    // Filled from what the type-library pass reads, so that the report reads
    // the type libraries once.
    RegistrationIndex* index;
};

static int CompareEntries(const WCHAR* first, const WCHAR* second)
{
    int order = CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, first, -1, second, -1);
    return order == CSTR_EQUAL ? 0 : order == CSTR_GREATER_THAN ? 1 : -1;
}

static size_t SortedPosition(const ReportList& list, const WCHAR* entry)
{
    size_t low = 0, high = list.count;
    while (low < high) {
        size_t middle = low + (high - 1 - low) / 2;
        int order = CompareEntries(list.entries[middle].text, entry);
        if (order == 0)
            return middle;
        if (order > 0)
            high = middle;
        else
            low = middle + 1;
    }
    return low;
}

static void ReportIncomplete(ReportList& list, const WCHAR* message)
{
    if (list.errors != NULL)
        PrintError(list.errors, message);
    list.incomplete = true;
}

static void AddReportEntry(void* context, const WCHAR* controlPath, RegistryView view)
{
    ReportList& list = *static_cast<ReportList*>(context);
    WCHAR entry[ENTRY_TEXT_SIZE];
    FormatEntryText(controlPath, view, entry);
    size_t size = (TextLength(entry) + 1) * sizeof *entry;
    WCHAR* copy = MakeRoomForOneMore(list.heap, list.entries, list.count, list.capacity)
                      ? static_cast<WCHAR*>(HeapAlloc(list.heap, 0, size))
                      : NULL;
    if (copy == NULL) {
        ReportIncomplete(list, TEXT_REPORT_NO_MEMORY);
        return;
    }
    memcpy(copy, entry, size);
    size_t position = SortedPosition(list, copy);
    memmove(list.entries + position + 1, list.entries + position,
            (list.count - position) * sizeof *list.entries);
    list.entries[position] = ReportEntry{copy, view};
    ++list.count;
}

// The text the dialog shows in a box goes to standard error.
static void ReportKeyOpenFailure(void* context, LONG status, int site)
{
    WCHAR message[80];
    FormatKeyOpenError(message, status, site);
    ReportIncomplete(*static_cast<ReportList*>(context), message);
}

static void IndexReportTypeLib(void* context, const WCHAR* libId, bool opened)
{
    IndexTypeLib(*static_cast<ReportList*>(context)->index, libId, opened);
}

static void IndexReportModule(void* context, const WCHAR* version, const WCHAR* file,
                              RegistryView view)
{
    IndexTypeLibModule(*static_cast<ReportList*>(context)->index, version, file, view);
}

static void FreeReportList(ReportList& list)
{
    for (size_t i = 0; i < list.count; ++i)
        HeapFree(list.heap, 0, list.entries[i].text);
    if (list.entries != NULL)
        HeapFree(list.heap, 0, list.entries);
}

static void WriteHeader(OutputFile& out)
{
    WriteBytes(out, "\xEF\xBB\xBF", 3);
    WriteUtf8(out, TEXT_REPORT_COLUMNS);
    for (const VersionString& row : VersionStringTable)
        WriteCsvField(out, row.name, false);
    WriteCsvField(out, TEXT_REPORT_BITS_COLUMN, false);
    EndCsvRecord(out);
}

// What the dialog shows once the entry is selected, the user going down the
// list from the top: a file without a translation entry of its own is read
// in the block of the file before it, as there.
static void WriteControlRow(OutputFile& out, const ReportEntry& listed,
                            const RegistrationIndex* index, FolderListing& listing)
{
    ControlDetails details = {};
    for (int field = 0; field < DETAIL_FIELD_COUNT; ++field)
        SetDetail(details, static_cast<DetailField>(field), TEXT_UNKNOWN);
    ControlEntry entry;
    if (ParseEntryText(listed.text, listed.view, entry)) {
        ReadRegistrationDetails(entry, details, index);
        ReadFileDetails(entry, VersionStringTable, GetProcessHeap(), details, &listing);
    }

    WriteCsvField(out, listed.text, true);
    for (int field = 0; field < DETAIL_FIELD_COUNT; ++field)
        WriteCsvField(out, DetailText(details, static_cast<DetailField>(field)), false);
    for (const auto& row : details.versions)
        WriteCsvField(out, details.hasVersions ? row.value : TEXT(""), false);
    WriteCsvField(out, listed.view == VIEW_64 ? TEXT("64") : TEXT("32"), false);
    EndCsvRecord(out);
}

static void PrintWriteError(HANDLE errors, DWORD error, const WCHAR* path)
{
    if (errors == NULL)
        return;
    WCHAR message[80];
    FormatText(message, FORMAT_REPORT_WRITE, static_cast<int>(error));
    PrintError(errors, message);
    PrintError(errors, path);
}

int WriteControlReport(const WCHAR* path, HANDLE errors)
{
    OutputFile out;
    if (!CreateOutputFile(out, path, CREATE_ALWAYS)) {
        PrintWriteError(errors, out.error, path);
        return EXIT_REPORT_UNWRITABLE;
    }

    RegistrationIndex index;
    InitRegistrationIndex(index);
    ReportList list = {};
    list.heap = GetProcessHeap();
    list.errors = errors;
    list.index = &index;
    ScanSink sink = {AddReportEntry, ReportKeyOpenFailure, NULL,
                     &list,          IndexReportTypeLib,   IndexReportModule};
    ScanControlList(sink);

    // Without memory for the index every entry is still answered, each by
    // walks of its own.
    bool indexed = FinishRegistrationIndex(index) == ERROR_SUCCESS;
    FolderListing listing;
    InitFolderListing(listing);
    WriteHeader(out);
    for (size_t i = 0; i < list.count && out.error == 0; ++i)
        WriteControlRow(out, list.entries[i], indexed ? &index : NULL, listing);
    FreeFolderListing(listing);
    if (indexed)
        FreeRegistrationIndex(index);
    FreeReportList(list);

    // A report cut short would pass for a machine with fewer controls.
    DWORD error = CloseOutputFile(out);
    if (error != 0) {
        DeleteFileW(path);
        PrintWriteError(errors, error, path);
        return EXIT_REPORT_UNWRITABLE;
    }
    return list.incomplete ? EXIT_KEYS_UNREADABLE : EXIT_REPORT_WRITTEN;
}
