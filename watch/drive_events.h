#pragma once
// Drives that come and go, as far as watching is concerned. The device code
// here keeps the registrations and says which volume is leaving, staying
// or back; the watcher (watch_messages.cpp) decides what to close and arm.
//
// An armed change notification keeps its folder open, and an open handle
// makes "Safely Remove Hardware" answer that the device is in use (and
// format or chkdsk /f that the volume is). So every armed folder on a local
// drive is registered for its device's events; when removal is asked for,
// or the volume is about to be locked or dismounted, everything the watcher
// holds on that volume is to be closed at once and its folders left out
// until the removal is refused or the lock ends (they are watched again),
// or the device is gone.

#include <windows.h>

#include <string>
#include <vector>

// The window that receives the device events: the main window at its
// creation, null at its destruction (every registration is then dropped).
// Device broadcasts reach top-level windows only, never message-only ones.
void WatchDriveEventsOf(HWND window);

// What a device event means for the watched folders.
enum class VolumeChange {
    None,
    Leaving,           // close everything on the volume now, before the answer
    Staying,           // the removal or lock was refused or is over: arm its folders again
    QuietThenStaying,  // a lock failed: arm its folders again once no retry came for a while
    PulledOut,         // gone without asking: the notifications on it are dead
    Arrived,           // a volume came: a listed folder on it can be armed now
};
struct DriveEvent {
    VolumeChange change;
    std::wstring volume;  // empty for None and Arrived
};

// WM_DEVICECHANGE, read. Keeps the registrations in step: a volume leaving
// has its registrations' directory handles closed and set aside until the
// outcome, which drops them.
DriveEvent ReadDeviceChange(WPARAM event, LPARAM data);

// The volume folder lies on, by its name ("\\?\Volume{GUID}\"): the same
// for every path on it, whichever drive letter or mount folder the path goes
// through, and different for a volume mounted in a folder of another
// volume. Empty when it cannot be told. Local folders only: on a share the
// question may block.
std::wstring VolumeOf(const std::wstring& folder);

// Whether folder lies on a volume that is leaving.
bool IsOnVolumeBeingRemoved(const std::wstring& folder);

// How long the volumes that are leaving keep their folders out. A failed
// lock or dismount comes as the locking tool tries, and it tries again for
// a while (Microsoft's eject sample for about 10 s); each retry must find
// nothing of ours open, so the folders come back only after that much
// quiet. A volume that leaves with no outcome at all (a dismount that the
// volume comes back from with no word) is left out only for so long.
struct VolumeQuietTimes {
    DWORD afterFailedLockMs;
    DWORD leavingAtMostMs;
};
constexpr VolumeQuietTimes kVolumeQuietTimes{10000, 30000};
// The times in use: kVolumeQuietTimes unless a test shortened them.
VolumeQuietTimes& CurrentVolumeQuietTimes();
// Before a restart: forgets the volumes quiet for long enough (see above),
// so that their folders are armed again.
void ForgetSettledRemovals();
// How long until the next failed lock has been quiet long enough; 0 when
// none is waiting.
DWORD QuietLeftMs();

// After arming: registers each of the armed folders on a local drive
// (the caller leaves out those the arming found on the network) that is
// not registered yet, and drops the registrations of folders no longer
// armed; the others are kept as they are. Network drives are never
// registered: they refuse, and opening a folder on an unreachable share
// would block.
void RegisterArmedFolders(const std::vector<std::wstring>& armedLocal);
// Drops the registration of a folder the watcher gave up.
void UnregisterFolder(const std::wstring& folder);

// The calls about devices and volumes, in one table so that a test can see
// what the system was asked to report and can stand in for volumes that
// cannot be mounted here.
struct DeviceNotificationCalls {
    HDEVNOTIFY(WINAPI* registerDeviceNotification)(HANDLE, LPVOID, DWORD);
    BOOL(WINAPI* unregisterDeviceNotification)(HDEVNOTIFY);
    BOOL(WINAPI* getVolumePathName)(LPCWSTR, LPWSTR, DWORD);
    BOOL(WINAPI* getVolumeNameForVolumeMountPoint)(LPCWSTR, LPWSTR, DWORD);
};
DeviceNotificationCalls& CurrentDeviceNotificationCalls();
DeviceNotificationCalls PlatformDeviceNotificationCalls();
