#pragma once
// The program's private window messages, in one place so that no two share
// a number. Each is described where it is handled.

#include <windows.h>

// The notification icon's callback (app/tray_icon.h).
constexpr UINT WM_TRAYICON = WM_APP + 1;
// The change watcher's reports to the main window (watch/change_watcher.h).
constexpr UINT WM_WATCH_FOLDER_GIVEN_UP = WM_APP + 2;
constexpr UINT WM_WATCH_CHANGE_HELD = WM_APP + 3;
