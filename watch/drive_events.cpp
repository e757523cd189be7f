// Everything here runs on the main thread, from the main window's messages
// and from StartWatching and StopWatching; no other thread touches it.
//
// A removal goes like this. The system sends DBT_DEVICEQUERYREMOVE for each
// registration on the device; at the first, the registrations of that
// volume move to the "removing" list, their directory handles are closed,
// and the watcher restarts without the volume's folders, so that nothing of
// ours is open there when the message returns. The registrations
// themselves stay: they are what brings the outcome, either
// DBT_DEVICEQUERYREMOVEFAILED (another program said no: watch the folders
// again) or DBT_DEVICEREMOVECOMPLETE (gone: forget the volume). The
// folders stay in the list and in the settings throughout.

#include "watch/drive_events.h"

#include <dbt.h>

#include <algorithm>
#include <vector>

#include "base/win_raii.h"
#include "explorer/folder_access.h"
#include "explorer/folder_identity.h"
#include "watch/change_watcher.h"

namespace {

constexpr UINT_PTR kResumeRestartTimer = 0x4C56;

// One folder's registration. The system needs an open handle on the device
// to register, and the documented way keeps it open until removal is asked
// for; the registration outlives it and is dropped only when the removal is
// decided or the folder is no longer armed.
struct Registration {
    std::wstring volume;
    UniqueHandle directory;
    HDEVNOTIFY notification;
};

HWND eventWindow = nullptr;
std::vector<Registration> armedRegistrations;
std::vector<Registration> removingRegistrations;

// The folder's volume in a form that compares equal for every path on it.
std::wstring VolumeOf(const std::wstring& folder) {
    wchar_t volume[MAX_PATH + 1] = {};
    if (!GetVolumePathNameW(ExtendedLengthPath(folder).c_str(), volume, MAX_PATH)) return {};
    // A long path's volume comes back in extended form, a short one's not.
    const std::wstring root = DriveRootOf(volume);
    return NormalizeFolderPath(root.empty() ? volume : root);
}

void Unregister(Registration& registration) {
    CurrentDeviceNotificationCalls().unregisterDeviceNotification(registration.notification);
}

// Drops, from list, the registrations of volume.
void UnregisterVolume(std::vector<Registration>& list, const std::wstring& volume) {
    auto onVolume = [&volume](const Registration& r) { return r.volume == volume; };
    for (Registration& registration : list) {
        if (onVolume(registration)) Unregister(registration);
    }
    list.erase(std::remove_if(list.begin(), list.end(), onVolume), list.end());
}

const Registration* Find(const std::vector<Registration>& list, HDEVNOTIFY notification) {
    for (const Registration& registration : list) {
        if (registration.notification == notification) return &registration;
    }
    return nullptr;
}

// The first query for a volume: close everything on it, keep listening.
void PrepareForRemoval(HDEVNOTIFY notification) {
    const Registration* asked = Find(armedRegistrations, notification);
    if (asked == nullptr) return;  // a second registration on a volume already let go
    const std::wstring volume = asked->volume;
    for (auto it = armedRegistrations.begin(); it != armedRegistrations.end();) {
        if (it->volume != volume) {
            ++it;
            continue;
        }
        it->directory.reset();
        removingRegistrations.push_back(std::move(*it));
        it = armedRegistrations.erase(it);
    }
    // Stops the worker, releases every notification (and a finished worker
    // left behind earlier, with its own), and arms again without the volume.
    StartWatching();
}

// The removal is decided: refused (watch the volume's folders again) or done.
void EndRemoval(HDEVNOTIFY notification, bool refused) {
    const Registration* asked = Find(removingRegistrations, notification);
    if (asked == nullptr) {
        // Pulled out without asking: the notifications on it are dead, and
        // a restart closes them and leaves out what is no longer there.
        if (Find(armedRegistrations, notification) != nullptr) StartWatching();
        return;
    }
    UnregisterVolume(removingRegistrations, std::wstring(asked->volume));
    if (refused) StartWatching();
}

}  // namespace

DeviceNotificationCalls PlatformDeviceNotificationCalls() {
    return DeviceNotificationCalls{RegisterDeviceNotificationW, UnregisterDeviceNotification};
}

DeviceNotificationCalls& CurrentDeviceNotificationCalls() {
    static DeviceNotificationCalls calls = PlatformDeviceNotificationCalls();
    return calls;
}

DWORD& ResumeRestartDelayMs() {
    static DWORD delay = 10000;
    return delay;
}

void WatchDriveEventsOf(HWND window) {
    eventWindow = window;
    if (window != nullptr) return;
    UnregisterArmedFolders();
    for (Registration& registration : removingRegistrations) Unregister(registration);
    removingRegistrations.clear();
}

bool IsOnVolumeBeingRemoved(const std::wstring& folder) {
    if (removingRegistrations.empty() || IsNetworkFolder(folder)) return false;
    const std::wstring volume = VolumeOf(folder);
    return std::any_of(removingRegistrations.begin(), removingRegistrations.end(),
                       [&volume](const Registration& r) { return r.volume == volume; });
}

void RegisterForRemoval(const std::wstring& folder) {
    if (eventWindow == nullptr || IsNetworkFolder(folder)) return;
    // Every sharing mode: this handle must never be what stops another
    // program from renaming or deleting the folder.
    UniqueHandle directory(CreateFileW(ExtendedLengthPath(folder).c_str(), FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!directory) return;
    DEV_BROADCAST_HANDLE filter{};
    filter.dbch_size = sizeof(filter);
    filter.dbch_devicetype = DBT_DEVTYP_HANDLE;
    filter.dbch_handle = directory.get();
    HDEVNOTIFY notification =
        CurrentDeviceNotificationCalls().registerDeviceNotification(eventWindow, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    // Refused (some drives do): the folder is watched all the same.
    if (notification == nullptr) return;
    armedRegistrations.push_back(Registration{VolumeOf(folder), std::move(directory), notification});
}

void UnregisterArmedFolders() {
    for (Registration& registration : armedRegistrations) Unregister(registration);
    armedRegistrations.clear();
}

BOOL OnDeviceChange(WPARAM event, LPARAM data) {
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    if (header == nullptr) return TRUE;
    // A card or stick put in: a listed folder on it that was missing is
    // watched from now on, not only after the next list change.
    if (event == DBT_DEVICEARRIVAL && header->dbch_devicetype == DBT_DEVTYP_VOLUME) {
        StartWatching();
        return TRUE;
    }
    if (header->dbch_devicetype != DBT_DEVTYP_HANDLE) return TRUE;
    const HDEVNOTIFY notification = reinterpret_cast<const DEV_BROADCAST_HANDLE*>(header)->dbch_hdevnotify;
    switch (event) {
    case DBT_DEVICEQUERYREMOVE: PrepareForRemoval(notification); break;
    case DBT_DEVICEQUERYREMOVEFAILED: EndRemoval(notification, true); break;
    case DBT_DEVICEREMOVEPENDING:
    case DBT_DEVICEREMOVECOMPLETE: EndRemoval(notification, false); break;
    }
    return TRUE;
}

// A watch on a share often dies while the machine sleeps, silently or with
// one last signal after which the folder is given up. One restart, once
// the network is likely back, arms everything anew; a second resume before
// then only moves the restart.
void OnPowerBroadcast(HWND window, WPARAM event) {
    if (event == PBT_APMRESUMEAUTOMATIC) SetTimer(window, kResumeRestartTimer, ResumeRestartDelayMs(), nullptr);
}

void OnWatchTimer(HWND window, UINT_PTR timer) {
    if (timer != kResumeRestartTimer) return;
    KillTimer(window, timer);
    StartWatching();
}
