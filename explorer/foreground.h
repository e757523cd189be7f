#pragma once
// Bringing another program's window in front of the user, as far as the
// platform lets a background thread do it, and never while the user is at
// work in another program.

#include <windows.h>
#include <shellapi.h>

// The platform calls the foreground routine makes, in one table so that a
// test can stand in for a desktop that refuses the foreground (Wine grants
// every request), with its own clock and its own user. Production code
// never changes it.
struct ForegroundCalls {
    BOOL(WINAPI* showWindowAsync)(HWND, int);
    BOOL(WINAPI* setForegroundWindow)(HWND);
    HWND(WINAPI* getForegroundWindow)();
    UINT(WINAPI* sendInput)(UINT, LPINPUT, int);
    BOOL(WINAPI* isHungAppWindow)(HWND);
    DWORD(WINAPI* getWindowThreadProcessId)(HWND, LPDWORD);
    BOOL(WINAPI* attachThreadInput)(DWORD, DWORD, BOOL);
    BOOL(WINAPI* getLastInputInfo)(PLASTINPUTINFO);
    DWORD(WINAPI* getTickCount)();
    BOOL(WINAPI* getGUIThreadInfo)(DWORD, PGUITHREADINFO);
    HRESULT(WINAPI* queryUserNotificationState)(QUERY_USER_NOTIFICATION_STATE*);
    // True while the desktop that receives the user's input is not this
    // thread's: the session is locked, or a secure desktop is up.
    BOOL(WINAPI* inputDesktopIsElsewhere)();
    BOOL(WINAPI* flashWindowEx)(PFLASHWINFO);
    DWORD(WINAPI* waitForSingleObject)(HANDLE, DWORD);
};

// The table in use; the real functions unless a test replaced them.
ForegroundCalls& CurrentForegroundCalls();
// The real functions.
ForegroundCalls PlatformForegroundCalls();

// Restores window (SW_RESTORE, without waiting for its thread) and asks for
// the foreground. A refusal is gone past (one empty input event, then this
// thread's input attached to the foreground thread's) only while the user
// is away from keyboard and mouse; on the watcher's thread a user at work
// is given up to about 3 s to pause. Whenever the window does not get the
// foreground, its taskbar button flashes. True when the platform granted
// the foreground (it may take effect a moment later).
//
// stopEvent is the watcher's stop event when the watcher brings the window
// forward: a stop ends any wait and nothing more is tried. Null on the
// window's own thread, which never waits.
bool BringWindowForward(HWND window, HANDLE stopEvent);
