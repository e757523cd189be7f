#include "watch/watch_messages.h"

#include <dbt.h>

#include "watch/change_watcher.h"
#include "watch/drive_events.h"

namespace {

constexpr UINT_PTR kResumeRestartTimer = 0x4C56;
constexpr UINT_PTR kDriveRestartTimer = 0x4C57;
// Long enough to take in the burst of events one stick or hub brings (a
// volume per partition, a registration per folder), short enough that a
// folder on a stick just put in is watched at once to the user.
constexpr UINT kDriveRestartDelayMs = 200;

// Each timer restarts watching once, when it fires; setting it again
// before then only moves the restart.
void CALLBACK RestartWatching(HWND window, UINT, UINT_PTR timer, DWORD) {
    KillTimer(window, timer);
    StartWatching();
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
    case VolumeChange::kLeaving: StopWatchingVolume(drive.volume); break;
    case VolumeChange::kStaying: StartWatching(); break;
    // A card or stick put in: a listed folder on it that was missing is
    // watched from now on, not only after the next list change. Pulled out
    // without asking: the restart closes the dead notifications and leaves
    // out what is no longer there.
    case VolumeChange::kArrived:
    case VolumeChange::kPulledOut: SetTimer(window, kDriveRestartTimer, kDriveRestartDelayMs, RestartWatching); break;
    case VolumeChange::kNone: break;
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
