#pragma once
// Drives that come and go, and the machine's sleep, as far as watching is
// concerned. The main window receives the messages and hands them on here.
//
// An armed change notification keeps its folder open, and an open handle
// makes "Safely Remove Hardware" answer that the device is in use. So every
// armed folder on a local drive is registered for the device's removal
// events; when removal is asked for, everything the watcher holds on that
// volume is closed at once and its folders are left out until the removal
// is either refused (they are watched again) or done.

#include <windows.h>

#include <string>

// The window that receives the device events: the main window at its
// creation, null at its destruction (every registration is then dropped).
// Device broadcasts reach top-level windows only, never message-only ones.
void WatchDriveEventsOf(HWND window);

// WM_DEVICECHANGE. The answer is the message's result: TRUE grants a
// removal, which is never refused here.
BOOL OnDeviceChange(WPARAM event, LPARAM data);
// WM_POWERBROADCAST: after a resume, watching restarts once, a little
// later, through a timer of window.
void OnPowerBroadcast(HWND window, WPARAM event);
// WM_TIMER.
void OnWatchTimer(HWND window, UINT_PTR timer);

// How long after a resume watching restarts: long enough for the network
// to come back, which the watches on shares need.
DWORD& ResumeRestartDelayMs();

// The registration calls, in one table so that a test can see what the
// system was asked to report, as the system itself knows it.
struct DeviceNotificationCalls {
    HDEVNOTIFY(WINAPI* registerDeviceNotification)(HANDLE, LPVOID, DWORD);
    BOOL(WINAPI* unregisterDeviceNotification)(HDEVNOTIFY);
};
DeviceNotificationCalls& CurrentDeviceNotificationCalls();
DeviceNotificationCalls PlatformDeviceNotificationCalls();

// For StartWatching and StopWatching, on the main thread:
// whether folder lies on a volume whose removal was asked for;
bool IsOnVolumeBeingRemoved(const std::wstring& folder);
// registers an armed folder for its device's removal events (local drives
// only: network drives refuse, and opening an unreachable share would
// block);
void RegisterForRemoval(const std::wstring& folder);
// drops the registrations of every armed folder.
void UnregisterArmedFolders();
