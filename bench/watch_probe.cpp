// Runs the real change watcher over the folders named on the command line
// and, instead of activating a window, prints when each wake-up happened
// ("wake <nanoseconds since 1970>"), so that the benchmark can compare the
// watcher's latency with other waiters' on the same clock.
//
// With --floor first, it runs the least a Windows program can do with the
// watcher's own mechanism instead: one overlapped ReadDirectoryChangesW per
// folder (same filter, subtree, a 64 KiB buffer; directory_read.h), one
// manual-reset event per folder in one wait on the main thread, and on each
// completion its result, the same stamp and the next read at once. Under
// the same Wine that is the floor for the watcher's wake-up.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "bench/directory_read.h"
#include "explorer/activate.h"
#include "state/app_state.h"
#include "watch/change_watcher.h"

namespace {

void PrintWakeUp() {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    ULARGE_INTEGER ticks;
    ticks.LowPart = now.dwLowDateTime;
    ticks.HighPart = now.dwHighDateTime;
    constexpr unsigned long long kUnixEpochIn100ns = 116444736000000000ULL;
    std::printf("wake %lld\n", static_cast<long long>((ticks.QuadPart - kUnixEpochIn100ns) * 100));
    std::fflush(stdout);
}

// Stamps first and reads again after, in the watcher's order: the names
// are not looked at, which is the least a program can do with them.
int RunFloor(int count, wchar_t** folders) {
    std::vector<std::unique_ptr<DirectoryRead>> reads;
    std::vector<HANDLE> events;
    for (int i = 0; i < count; ++i) {
        auto read = std::make_unique<DirectoryRead>();
        if (!read->Start(folders[i])) continue;
        events.push_back(read->event());
        reads.push_back(std::move(read));
    }
    std::printf(reads.empty() ? "nothing armed\n" : "ready\n");
    std::fflush(stdout);
    while (!reads.empty()) {
        const DWORD result = WaitForMultipleObjects(static_cast<DWORD>(events.size()), events.data(), FALSE, INFINITE);
        if (result >= WAIT_OBJECT_0 + events.size()) break;
        DirectoryRead& read = *reads[result - WAIT_OBJECT_0];
        // Whatever the result (no names, an overflow), something changed.
        DWORD bytes = 0;
        read.Complete(bytes);
        PrintWakeUp();
        if (!read.Issue()) break;
    }
    return 0;
}

}  // namespace

// Every change counts as shown: nothing is held back for later.
ActivationResult ActivateOrOpenFolder(const std::wstring&, HANDLE, const std::wstring&) {
    PrintWakeUp();
    return {};
}

int wmain(int argc, wchar_t** argv) {
    if (argc > 1 && std::wcscmp(argv[1], L"--floor") == 0) return RunFloor(argc - 2, argv + 2);
    for (int i = 1; i < argc; ++i) AppState.folders.push_back(argv[i]);
    StartWatching();
    std::printf(AppState.watcherThread ? "ready\n" : "nothing armed\n");
    std::fflush(stdout);
    Sleep(INFINITE);
    return 0;
}
