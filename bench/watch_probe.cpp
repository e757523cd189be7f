// Runs the real change watcher over the folders named on the command line
// and, instead of activating a window, prints when each wake-up happened
// ("wake <nanoseconds since 1970>"), so that the benchmark can compare the
// watcher's latency with inotifywait's on the same clock.

#include <windows.h>

#include <cstdio>
#include <string>

#include "app/app_state.h"
#include "explorer/activate.h"
#include "watch/change_watcher.h"

void ActivateOrOpenFolder(const std::wstring&) {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    ULARGE_INTEGER ticks;
    ticks.LowPart = now.dwLowDateTime;
    ticks.HighPart = now.dwHighDateTime;
    constexpr unsigned long long kUnixEpochIn100ns = 116444736000000000ULL;
    std::printf("wake %lld\n", static_cast<long long>((ticks.QuadPart - kUnixEpochIn100ns) * 100));
    std::fflush(stdout);
}

int wmain(int argc, wchar_t** argv) {
    for (int i = 1; i < argc; ++i) AppState.folders.push_back(argv[i]);
    StartWatching();
    std::printf(AppState.watcherThread ? "ready\n" : "nothing armed\n");
    std::fflush(stdout);
    Sleep(INFINITE);
    return 0;
}
