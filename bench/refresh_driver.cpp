// Times a refresh against its peer, Wine's (or Windows') own
// `reg query HKCR\TypeLib /s`, in alternating rounds on a registry that
// refresh_seed has filled, then one selection change on each route, then
// `burrowlens.exe /report FILE`, which reads every entry's details. Drives
// burrowlens.exe from outside, as the end-to-end tests do.
//
//   refresh_driver <burrowlens.exe> [rounds]      (default 3)

#include "app/control_ids.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// Long enough for the slowest refresh measured before it was made linear.
static const DWORD kPatienceMs = 600000;

static double Now()
{
    static LARGE_INTEGER frequency;
    if (frequency.QuadPart == 0)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Answers LB_ERR when the program does not answer in time.
static LRESULT Ask(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, kPatienceMs, &result))
        return LB_ERR;
    return static_cast<LRESULT>(result);
}

static bool Running(HANDLE process)
{
    return WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
}

struct MainSearch {
    DWORD processId;
    HWND found;
};

// The message boxes share the caption; only the main dialog has no owner.
static BOOL CALLBACK FindMain(HWND window, LPARAM lParam)
{
    auto* search = reinterpret_cast<MainSearch*>(lParam);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    char caption[64] = "";
    GetWindowTextA(window, caption, sizeof caption);
    if (processId == search->processId && GetWindow(window, GW_OWNER) == nullptr &&
        IsWindowVisible(window) && strcmp(caption, "Burrowlens") == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// Posts a marker behind whatever the program has queued and waits until it
// has been handled. The marker is the horizontal extent of the file
// information list, which the program never sets.
static bool Settle(HWND dialog, HANDLE process)
{
    static WPARAM next = 4000;
    HWND marker = GetDlgItem(dialog, IDC_FILE_INFO_LIST);
    ++next;
    PostMessageA(marker, LB_SETHORIZONTALEXTENT, next, 0);
    while (Running(process)) {
        if (Ask(marker, LB_GETHORIZONTALEXTENT) == static_cast<LRESULT>(next))
            return true;
        Sleep(1);
    }
    return false;
}

static double TimePeer()
{
    char system[MAX_PATH];
    UINT length = GetSystemDirectoryA(system, sizeof system);
    if (length == 0 || length >= sizeof system)
        return -1;
    std::string command = std::string(system) + "\\reg.exe query HKCR\\TypeLib /s";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE nul = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = nul;
    startup.hStdError = nul;
    PROCESS_INFORMATION process{};
    double start = Now();
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process)) {
        fprintf(stderr, "refresh_driver: cannot start %s: error %lu\n", command.c_str(),
                GetLastError());
        CloseHandle(nul);
        return -1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    double seconds = Now() - start;
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(nul);
    if (code != 0) {
        fprintf(stderr, "refresh_driver: reg query ended with %lu\n", code);
        return -1;
    }
    return seconds;
}

struct Selection {
    double seconds;
    std::string origin;
};

// What a click on the entry does, timed from outside: the dialog's handler
// has returned when the sent command comes back.
static Selection TimeSelection(HWND dialog, LRESULT index)
{
    HWND list = GetDlgItem(dialog, IDC_CONTROL_LIST);
    Ask(list, LB_SETCURSEL, static_cast<WPARAM>(index));
    double start = Now();
    Ask(dialog, WM_COMMAND, MAKEWPARAM(IDC_CONTROL_LIST, LBN_SELCHANGE),
        reinterpret_cast<LPARAM>(list));
    Selection selection{Now() - start, ""};
    char origin[64] = "";
    GetWindowTextA(GetDlgItem(dialog, IDC_ORIGIN), origin, sizeof origin);
    selection.origin = origin;
    return selection;
}

struct Round {
    double peer, refresh, report;
    LRESULT entries, rows;
    Selection typeLib, download;
};

static bool StartProgram(const char* program, std::string commandLine, PROCESS_INFORMATION& process)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (CreateProcessA(program, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &process))
        return true;
    fprintf(stderr, "refresh_driver: cannot start %s: error %lu\n", program, GetLastError());
    return false;
}

static bool TimeRefresh(const char* program, Round& round)
{
    PROCESS_INFORMATION process{};
    double start = Now();
    if (!StartProgram(program, std::string("\"") + program + "\"", process))
        return false;
    MainSearch search{process.dwProcessId, nullptr};
    while (search.found == nullptr && Running(process.hProcess)) {
        EnumWindows(FindMain, reinterpret_cast<LPARAM>(&search));
        if (search.found == nullptr)
            Sleep(1);
    }
    HWND dialog = search.found;
    // The refresh is queued before the dialog shows, so the marker follows it.
    bool filled = dialog != nullptr && Settle(dialog, process.hProcess);
    round.refresh = Now() - start;
    if (filled) {
        round.entries = Ask(GetDlgItem(dialog, IDC_CONTROL_LIST), LB_GETCOUNT);
        // The details of the first entry, which the refresh asks for, come first.
        Settle(dialog, process.hProcess);
        // Downloads sort first (their '/' before '\'); the last entry is one
        // of the type libraries without a class of their own.
        round.typeLib = TimeSelection(dialog, round.entries - 1);
        round.download = TimeSelection(dialog, 0);
        PostMessageA(dialog, WM_COMMAND, IDC_EXIT, 0);
    }
    if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, 10000);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (!filled)
        fprintf(stderr, "refresh_driver: the program ended before its list was filled\n");
    return filled;
}

// From the start of the report until the program has ended; the rows are
// counted by their line ends, as no bench text holds one.
static bool TimeReport(const char* program, Round& round)
{
    char folder[MAX_PATH];
    DWORD length = GetTempPathA(sizeof folder, folder);
    if (length == 0 || length >= sizeof folder)
        return false;
    std::string file = std::string(folder) + "refresh_driver report.csv";
    PROCESS_INFORMATION process{};
    double start = Now();
    if (!StartProgram(program, std::string("\"") + program + "\" /report \"" + file + "\"",
                      process))
        return false;
    bool ended = WaitForSingleObject(process.hProcess, kPatienceMs) == WAIT_OBJECT_0;
    round.report = Now() - start;
    DWORD code = 99;
    if (!ended)
        TerminateProcess(process.hProcess, code);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    round.rows = -1;
    if (FILE* written = fopen(file.c_str(), "rb")) {
        int c, previous = 0;
        while ((c = fgetc(written)) != EOF) {
            if (previous == '\r' && c == '\n')
                ++round.rows;
            previous = c;
        }
        fclose(written);
    }
    DeleteFileA(file.c_str());
    if (code != 0)
        fprintf(stderr, "refresh_driver: the report ended with %lu\n", code);
    return code == 0;
}

static double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: refresh_driver <burrowlens.exe> [rounds]\n");
        return 2;
    }
    int rounds = argc > 2 ? atoi(argv[2]) : 3;
    std::vector<double> ratios, refreshes, peers, typeLibRoute, downloadRoute, reports,
        reportRatios;
    // The first start of either program in a fresh prefix pays for caches
    // that every later start finds ready.
    Round warmUp{};
    if (TimePeer() < 0 || !TimeRefresh(argv[1], warmUp) || !TimeReport(argv[1], warmUp))
        return 1;
    printf("warm-up round (not counted): Burrowlens %.2f s (%ld entries), report %.2f s (%ld "
           "rows)\n",
           warmUp.refresh, static_cast<long>(warmUp.entries), warmUp.report,
           static_cast<long>(warmUp.rows));
    for (int n = 1; n <= rounds; ++n) {
        Round round{};
        round.peer = TimePeer();
        if (round.peer < 0 || !TimeRefresh(argv[1], round) || !TimeReport(argv[1], round))
            return 1;
        double ratio = round.refresh / round.peer;
        double reportRatio = round.report / round.refresh;
        printf("round %d: reg query %.2f s, Burrowlens %.2f s (%ld entries), ratio %.2f; "
               "selection change: type-library route %.3f s (%s), download route %.3f s (%s); "
               "report %.2f s (%ld rows), report/refresh %.2f\n",
               n, round.peer, round.refresh, static_cast<long>(round.entries), ratio,
               round.typeLib.seconds, round.typeLib.origin.c_str(), round.download.seconds,
               round.download.origin.c_str(), round.report, static_cast<long>(round.rows),
               reportRatio);
        fflush(stdout);
        ratios.push_back(ratio);
        refreshes.push_back(round.refresh);
        peers.push_back(round.peer);
        typeLibRoute.push_back(round.typeLib.seconds);
        downloadRoute.push_back(round.download.seconds);
        reports.push_back(round.report);
        reportRatios.push_back(reportRatio);
    }
    printf("median: ratio %.2f, Burrowlens %.2f s, reg query %.2f s, selection change %.3f s "
           "(type-library route) and %.3f s (download route), report %.2f s, report/refresh "
           "%.2f\n",
           Median(ratios), Median(refreshes), Median(peers), Median(typeLibRoute),
           Median(downloadRoute), Median(reports), Median(reportRatios));
    return 0;
}
