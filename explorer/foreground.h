#pragma once
// Bringing another program's window in front of the user, as far as the
// platform lets a background thread do it.

#include <windows.h>

// The platform calls the foreground routine makes, in one table so that a
// test can stand in for a desktop that refuses the foreground (Wine grants
// every request). Production code never changes it.
struct ForegroundCalls {
    BOOL(WINAPI* showWindowAsync)(HWND, int);
    BOOL(WINAPI* setForegroundWindow)(HWND);
    HWND(WINAPI* getForegroundWindow)();
    UINT(WINAPI* sendInput)(UINT, LPINPUT, int);
    BOOL(WINAPI* isHungAppWindow)(HWND);
    DWORD(WINAPI* getWindowThreadProcessId)(HWND, LPDWORD);
    BOOL(WINAPI* attachThreadInput)(DWORD, DWORD, BOOL);
};

// The table in use; the real functions unless a test replaced them.
ForegroundCalls& CurrentForegroundCalls();
// The real functions.
ForegroundCalls PlatformForegroundCalls();

// Restores window (SW_RESTORE, without waiting for its thread) and asks for
// the foreground until the platform grants it: plainly, then after one
// empty input event, then with this thread's input attached to the current
// foreground window's thread (not for a hung window). True when window ends
// up as the foreground window.
//
// stopEvent is the watcher's stop event when the watcher brings the window
// forward, null on the window's own thread.
bool BringWindowForward(HWND window, HANDLE stopEvent);
