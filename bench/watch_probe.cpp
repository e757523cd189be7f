// Runs the real change watcher over the folders named on the command line
// and, instead of activating a window, prints when each wake-up happened
// ("wake <nanoseconds since 1970>"), so that the benchmark can compare the
// watcher's latency with other waiters' on the same clock.
//
// With --floor first, it runs the least a Windows program can do instead:
// one notification per folder (same filter, subtree) and one wait on the
// main thread, stamping each wake-up the same way. Under the same Wine that
// is the floor for the watcher's wake-up.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

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

// Stamps first and renews after, in the watcher's order: a change between
// the two is what Wine drops, for both alike.
int RunFloor(int count, wchar_t** folders) {
    std::vector<HANDLE> handles;
    for (int i = 0; i < count; ++i) {
        HANDLE handle = FindFirstChangeNotificationW(folders[i], TRUE, WATCH_NOTIFY_FILTER);
        if (handle != INVALID_HANDLE_VALUE && handle != nullptr) handles.push_back(handle);
    }
    std::printf(handles.empty() ? "nothing armed\n" : "ready\n");
    std::fflush(stdout);
    while (!handles.empty()) {
        const DWORD result = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, INFINITE);
        if (result >= WAIT_OBJECT_0 + handles.size()) break;
        PrintWakeUp();
        if (!FindNextChangeNotification(handles[result - WAIT_OBJECT_0])) break;
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
