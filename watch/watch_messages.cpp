#include "watch/watch_messages.h"

#include <dbt.h>

#include <algorithm>

#include "watch/change_watcher.h"
#include "watch/drive_events.h"

namespace {

constexpr UINT_PTR kResumeRestartTimer = 0x4C56;
constexpr UINT_PTR kDriveRestartTimer = 0x4C57;
constexpr UINT_PTR kQuietVolumeTimer = 0x4C58;
constexpr UINT_PTR kMissingFolderTimer = 0x4C59;
// Long enough to take in the burst of events one stick or hub brings (a
// volume per partition, a registration per folder), short enough that a
// folder on a stick just put in is watched at once to the user. A burst
// that goes on postpones the restart only so long.
constexpr UINT kDriveRestartDelayMs = 200;
constexpr UINT kDriveRestartLatestMs = 1000;
// After a restart for a volume, a folder still missing there (a volume just
// formatted, whose folders are made again by hand or by a script) is looked
// for every few seconds for about a minute.
constexpr UINT kMissingFolderRetryMs = 3000;
constexpr int kMissingFolderTries = 20;

// When the pending drive restart is due at the latest; 0: none pending.
ULONGLONG driveRestartDueBy = 0;
int missingFolderTriesLeft = 0;

void CALLBACK RetryMissingFolders(HWND window, UINT, UINT_PTR timer, DWORD) {
    bool done = --missingFolderTriesLeft <= 0;
    if (AnyUnwatchedFolderIsBack()) {
        StartWatching();
        // A folder that is there but cannot be armed (no access, say) would
        // restart watching every few seconds: it is not looked for again.
        done = done || AnyUnwatchedFolderIsBack();
    }
    if (done) KillTimer(window, timer);
}

// A restart for a volume that came, stayed or went.
void RestartForVolume(HWND window) {
    StartWatching();
    missingFolderTriesLeft = kMissingFolderTries;
    SetTimer(window, kMissingFolderTimer, kMissingFolderRetryMs, RetryMissingFolders);
}

// The timers restart watching once, when they fire; setting one again
// before then only moves the restart.
void CALLBACK RestartWatching(HWND window, UINT, UINT_PTR timer, DWORD) {
    KillTimer(window, timer);
    StartWatching();
}

void CALLBACK RestartForDrives(HWND window, UINT, UINT_PTR timer, DWORD) {
    KillTimer(window, timer);
    driveRestartDueBy = 0;
    RestartForVolume(window);
}

void RestartForDrivesSoon(HWND window) {
    const ULONGLONG now = GetTickCount64();
    if (driveRestartDueBy == 0) driveRestartDueBy = now + kDriveRestartLatestMs;
    const ULONGLONG due = std::min<ULONGLONG>(now + kDriveRestartDelayMs, driveRestartDueBy);
    SetTimer(window, kDriveRestartTimer, static_cast<UINT>(due > now ? due - now : 0), RestartForDrives);
}

// Once a failed lock has been quiet for long enough, its folders are armed
// again; the timer then waits for the next such volume, if any.
void CALLBACK RestartAfterQuiet(HWND window, UINT, UINT_PTR timer, DWORD) {
    KillTimer(window, timer);
    RestartForVolume(window);
    if (const DWORD left = QuietLeftMs()) SetTimer(window, kQuietVolumeTimer, left, RestartAfterQuiet);
}

}  // namespace

DWORD& ResumeRestartDelayMs() {
    static DWORD delay = 10000;
    return delay;
}

void WatchFrom(HWND window) {
    WatchDriveEventsOf(window);
    ReportToWindow(window);
}

BOOL OnDeviceChange(HWND window, WPARAM event, LPARAM data) {
    const DriveEvent drive = ReadDeviceChange(event, data);
    switch (drive.change) {
    // Answered only once nothing of ours is open on the volume.
    case VolumeChange::Leaving: StopWatchingVolume(drive.volume); break;
    case VolumeChange::Staying: RestartForVolume(window); break;
    case VolumeChange::QuietThenStaying: SetTimer(window, kQuietVolumeTimer, QuietLeftMs(), RestartAfterQuiet); break;
    // A card or stick put in: a listed folder on it that was missing is
    // watched from now on, not only after the next list change. Pulled out
    // without asking: the restart closes the dead notifications and leaves
    // out what is no longer there.
    case VolumeChange::Arrived:
    case VolumeChange::PulledOut: RestartForDrivesSoon(window); break;
    case VolumeChange::None: break;
    }
    return TRUE;
}

// A watch on a share often dies while the machine sleeps, silently or with
// one last signal after which the folder is given up. One restart, once
// the network is likely back, arms everything anew; a second resume before
// then only moves the restart.
void OnPowerBroadcast(HWND window, WPARAM event) {
    if (event == PBT_APMRESUMEAUTOMATIC) SetTimer(window, kResumeRestartTimer, ResumeRestartDelayMs(), RestartWatching);
}

void OnFolderGivenUp(WPARAM worker, LPARAM entry) {
    const std::wstring folder = ReportedFolder(worker, entry);
    if (!folder.empty()) UnregisterFolder(folder);
}
