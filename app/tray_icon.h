#pragma once
// The notification-area icon: the way back to a closed (hidden) main
// window, and the second way out of the program.

#include <windows.h>

#include "base/app_messages.h"

// WM_TRAYICON is the icon's callback message. Without NIM_SETVERSION the
// shell keeps its first convention: wParam is the icon id, lParam the mouse
// message.
constexpr UINT kTrayIconId = 1;

// Registers the icon at start-up unless it is registered already.
void AddTrayIcon(HWND window);

// Registers the icon with the shell whatever AppState.trayIconAdded says,
// and sets the flag to whether the shell now has it.
void RegisterTrayIcon(HWND window);

// The tip again, after a pause or resume: "<title> (一時停止中)" while paused.
void UpdateTrayIconTip(HWND window);

// Unregisters the icon at the main window's end; the flag is cleared even
// if the shell refuses.
void RemoveTrayIcon(HWND window);

// WM_TRAYICON: a left click or double-click shows the main window; a right
// click or the keyboard's menu request opens the icon's menu ("Show Window",
// "Pause watching", "Exit"); a click on
// the balloon brings its folder's window forward at once.
void OnTrayIcon(HWND window, WPARAM iconId, LPARAM mouseMessage);

// WM_WATCH_CHANGE_HELD: a balloon names the folder whose change is held
// back until the user pauses, and the item the change named, if it named
// one. A newer balloon replaces the one shown.
void OnChangeHeld(HWND window, WPARAM worker, LPARAM entry);

// Brings the main window back, restored, in front and topmost.
void ShowMainWindow(HWND window);

// The registered "TaskbarCreated" message the shell broadcasts when the
// notification area has been re-created (Explorer restarted); 0 if the
// message could not be registered.
UINT TaskbarCreatedMessage();

// After a re-created notification area the shell knows none of our icons:
// register ours again, also when the first add had failed.
void OnTaskbarCreated(HWND window);
