// Everything here runs on the main thread, from the main window's messages
// and from the watcher's start; no other thread touches it.
//
// A removal goes like this. The system sends DBT_DEVICEQUERYREMOVE for each
// registration on the device; at the first, the registrations of that
// volume move to the "removing" list and their directory handles are
// closed, and the caller is told that the volume is leaving, so that it
// closes what it holds there before the message returns. The registrations
// themselves stay: they are what brings the outcome, either
// DBT_DEVICEQUERYREMOVEFAILED (another program said no: the volume stays)
// or DBT_DEVICEREMOVECOMPLETE (gone: forget the volume). A lock or a
// dismount (format, chkdsk /f, some eject paths) arrives on the same
// registrations as DBT_CUSTOMEVENT and is handled the same way: the lock or
// dismount is the query, the unlock or the volume mounted again the
// refusal. A failed lock or dismount is a refusal too, but the tool that
// locks retries: the volume stays let go until none of its registrations
// has heard anything for a while (a new lock in between lets it go again),
// and a volume let go that never hears an outcome is let go only for so
// long. The folders stay in the list and in the settings throughout.

#include "watch/drive_events.h"

#include <dbt.h>
// clang-format off
#include <initguid.h>
#include <ioevent.h>
// clang-format on

#include <algorithm>

#include "base/win_raii.h"
#include "explorer/folder_access.h"
#include "explorer/folder_identity.h"

namespace {

// One folder's registration. The system needs an open handle on the device
// to register, and the documented way keeps it open until removal is asked
// for; the registration outlives it and is dropped only when the removal is
// decided or the folder is no longer armed.
struct Registration {
    std::wstring folder;
    std::wstring volume;
    UniqueHandle directory;
    HDEVNOTIFY notification;
    // While removing: when the volume was let go, and when its lock failed
    // last (0: no failure since).
    ULONGLONG leavingSince = 0;
    ULONGLONG lockFailedAt = 0;
};

HWND eventWindow = nullptr;
std::vector<Registration> armedRegistrations;
std::vector<Registration> removingRegistrations;

void Unregister(Registration& registration) {
    CurrentDeviceNotificationCalls().unregisterDeviceNotification(registration.notification);
}

// Drops, from list, the registrations that match.
template <typename Match>
void UnregisterWhere(std::vector<Registration>& list, Match match) {
    for (Registration& registration : list) {
        if (match(registration)) Unregister(registration);
    }
    std::erase_if(list, match);
}

const Registration* Find(const std::vector<Registration>& list, HDEVNOTIFY notification) {
    for (const Registration& registration : list) {
        if (registration.notification == notification) return &registration;
    }
    return nullptr;
}

template <typename Action>
void ForEachRemovingOn(const std::wstring& volume, Action action) {
    for (Registration& registration : removingRegistrations) {
        if (registration.volume == volume) action(registration);
    }
}

// The first query for a volume: close our handles on it, keep listening.
// A query on a volume already let go (a second registration, a lock tried
// again) only starts its time anew.
DriveEvent Leaving(HDEVNOTIFY notification) {
    const ULONGLONG now = GetTickCount64();
    if (const Registration* removing = Find(removingRegistrations, notification)) {
        ForEachRemovingOn(removing->volume, [now](Registration& r) {
            r.leavingSince = now;
            r.lockFailedAt = 0;
        });
        return {VolumeChange::None, {}};
    }
    const Registration* asked = Find(armedRegistrations, notification);
    if (asked == nullptr) return {VolumeChange::None, {}};
    const std::wstring volume = asked->volume;
    for (auto it = armedRegistrations.begin(); it != armedRegistrations.end();) {
        if (it->volume != volume) {
            ++it;
            continue;
        }
        it->directory.reset();
        it->leavingSince = now;
        removingRegistrations.push_back(std::move(*it));
        it = armedRegistrations.erase(it);
    }
    return {VolumeChange::Leaving, volume};
}

// A lock or dismount failed: the volume stays, but is left alone a while
// longer.
DriveEvent LockFailed(HDEVNOTIFY notification) {
    const Registration* asked = Find(removingRegistrations, notification);
    if (asked == nullptr) return {VolumeChange::None, {}};
    const std::wstring volume = asked->volume;
    const ULONGLONG now = GetTickCount64();
    ForEachRemovingOn(volume, [now](Registration& r) { r.lockFailedAt = now; });
    return {VolumeChange::QuietThenStaying, volume};
}

// The removal or lock is decided: the volume stays (refused, unlocked) or
// is gone. Either way its old registrations are done with; folders armed
// again are registered anew.
DriveEvent Decided(HDEVNOTIFY notification, bool stays) {
    const Registration* asked = Find(removingRegistrations, notification);
    if (asked == nullptr) {
        // Pulled out without asking: the watcher's notifications on it are dead.
        const Registration* pulled = stays ? nullptr : Find(armedRegistrations, notification);
        if (pulled != nullptr) return {VolumeChange::PulledOut, pulled->volume};
        return {VolumeChange::None, {}};
    }
    const std::wstring volume = asked->volume;
    UnregisterWhere(removingRegistrations, [&volume](const Registration& r) { return r.volume == volume; });
    if (!stays) return {VolumeChange::None, {}};
    return {VolumeChange::Staying, volume};
}

// The volume events that registrations on a handle receive as
// DBT_CUSTOMEVENT, and which of them asks to let the volume go.
DriveEvent CustomEvent(const DEV_BROADCAST_HANDLE& event) {
    const GUID& kind = event.dbch_eventguid;
    if (kind == GUID_IO_VOLUME_LOCK || kind == GUID_IO_VOLUME_DISMOUNT) return Leaving(event.dbch_hdevnotify);
    if (kind == GUID_IO_VOLUME_LOCK_FAILED || kind == GUID_IO_VOLUME_DISMOUNT_FAILED) {
        return LockFailed(event.dbch_hdevnotify);
    }
    // A dismount need not come with a lock, nor end with an unlock: the
    // volume mounted again is the end of it.
    if (kind == GUID_IO_VOLUME_UNLOCK || kind == GUID_IO_VOLUME_MOUNT) return Decided(event.dbch_hdevnotify, true);
    return {VolumeChange::None, {}};
}

// GetVolumeNameForVolumeMountPointW wants a mount point as a plain path:
// drive letter or folder, ending in a separator.
std::wstring PlainMountPoint(std::wstring mountPoint) {
    if (mountPoint.starts_with(L"\\\\?\\") && mountPoint.size() > 5 && mountPoint[5] == L':') mountPoint.erase(0, 4);
    if (!mountPoint.ends_with(L'\\')) mountPoint += L'\\';
    return mountPoint;
}

bool IsRegistered(const std::wstring& folder) {
    return std::any_of(armedRegistrations.begin(), armedRegistrations.end(),
                       [&folder](const Registration& r) { return r.folder == folder; });
}

void Register(const std::wstring& folder) {
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
    armedRegistrations.push_back(Registration{folder, VolumeOf(folder), std::move(directory), notification});
}

}  // namespace

DeviceNotificationCalls PlatformDeviceNotificationCalls() {
    return DeviceNotificationCalls{RegisterDeviceNotificationW, UnregisterDeviceNotification, GetVolumePathNameW,
                                   GetVolumeNameForVolumeMountPointW};
}

DeviceNotificationCalls& CurrentDeviceNotificationCalls() {
    static DeviceNotificationCalls calls = PlatformDeviceNotificationCalls();
    return calls;
}

void WatchDriveEventsOf(HWND window) {
    eventWindow = window;
    if (window != nullptr) return;
    RegisterArmedFolders({});
    UnregisterWhere(removingRegistrations, [](const Registration&) { return true; });
}

std::wstring VolumeOf(const std::wstring& folder) {
    const DeviceNotificationCalls& calls = CurrentDeviceNotificationCalls();
    wchar_t mountPoint[MAX_PATH + 1] = {};
    if (!calls.getVolumePathName(ExtendedLengthPath(folder).c_str(), mountPoint, MAX_PATH)) return {};
    const std::wstring plain = PlainMountPoint(mountPoint);
    wchar_t name[MAX_PATH + 1] = {};
    if (calls.getVolumeNameForVolumeMountPoint(plain.c_str(), name, MAX_PATH)) return name;
    // A volume without a name (Wine names none of its drives): its mount
    // point, which still tells a volume mounted in a folder from the one
    // holding that folder.
    return NormalizeFolderPath(plain);
}

VolumeQuietTimes& CurrentVolumeQuietTimes() {
    static VolumeQuietTimes times = kVolumeQuietTimes;
    return times;
}

// Whether a registration of a volume let go has been quiet long enough.
bool IsSettled(const Registration& registration, ULONGLONG now) {
    const VolumeQuietTimes& times = CurrentVolumeQuietTimes();
    if (registration.lockFailedAt != 0) return now - registration.lockFailedAt >= times.afterFailedLockMs;
    return now - registration.leavingSince >= times.leavingAtMostMs;
}

void ForgetSettledRemovals() {
    const ULONGLONG now = GetTickCount64();
    // A volume is forgotten whole, once every registration on it is settled.
    std::vector<std::wstring> unsettled;
    for (const Registration& registration : removingRegistrations) {
        if (!IsSettled(registration, now)) unsettled.push_back(registration.volume);
    }
    UnregisterWhere(removingRegistrations, [&unsettled](const Registration& r) {
        return std::find(unsettled.begin(), unsettled.end(), r.volume) == unsettled.end();
    });
}

DWORD QuietLeftMs() {
    const ULONGLONG now = GetTickCount64();
    const DWORD quiet = CurrentVolumeQuietTimes().afterFailedLockMs;
    DWORD left = 0;
    for (const Registration& registration : removingRegistrations) {
        if (registration.lockFailedAt == 0) continue;
        const ULONGLONG quietSoFar = now - registration.lockFailedAt;
        const DWORD mine = quietSoFar >= quiet ? 1 : static_cast<DWORD>(quiet - quietSoFar);
        if (left == 0 || mine < left) left = mine;
    }
    return left;
}

bool IsOnVolumeBeingRemoved(const std::wstring& folder) {
    if (removingRegistrations.empty() || IsNetworkFolder(folder)) return false;
    const std::wstring volume = VolumeOf(folder);
    return std::any_of(removingRegistrations.begin(), removingRegistrations.end(),
                       [&volume](const Registration& r) { return r.volume == volume; });
}

void RegisterArmedFolders(const std::vector<std::wstring>& armedLocal) {
    UnregisterWhere(armedRegistrations, [&armedLocal](const Registration& r) {
        return std::find(armedLocal.begin(), armedLocal.end(), r.folder) == armedLocal.end();
    });
    if (eventWindow == nullptr) return;
    for (const std::wstring& folder : armedLocal) {
        if (!IsRegistered(folder)) Register(folder);
    }
}

void UnregisterFolder(const std::wstring& folder) {
    UnregisterWhere(armedRegistrations, [&folder](const Registration& r) { return r.folder == folder; });
}

DriveEvent ReadDeviceChange(WPARAM event, LPARAM data) {
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    if (header == nullptr) return {VolumeChange::None, {}};
    if (event == DBT_DEVICEARRIVAL && header->dbch_devicetype == DBT_DEVTYP_VOLUME) return {VolumeChange::Arrived, {}};
    if (header->dbch_devicetype != DBT_DEVTYP_HANDLE) return {VolumeChange::None, {}};
    const auto& handle = *reinterpret_cast<const DEV_BROADCAST_HANDLE*>(header);
    switch (event) {
    case DBT_DEVICEQUERYREMOVE: return Leaving(handle.dbch_hdevnotify);
    case DBT_DEVICEQUERYREMOVEFAILED: return Decided(handle.dbch_hdevnotify, true);
    case DBT_DEVICEREMOVEPENDING:
    case DBT_DEVICEREMOVECOMPLETE: return Decided(handle.dbch_hdevnotify, false);
    case DBT_CUSTOMEVENT: return CustomEvent(handle);
    }
    return {VolumeChange::None, {}};
}
