#pragma once
// Bringing another program's window in front of the user, as far as the
// platform lets a background thread do it, and never while the user is at
// work: nothing may move the keyboard focus away from someone typing.

#include <windows.h>
#include <shellapi.h>

// How far one activation may go with the keyboard focus. Decided once,
// before anything is called that could move the focus, and kept for the
// whole activation.
enum class FocusRule {
    // The user is away from keyboard and mouse, or asked in our own window:
    // reload, restore and take the foreground.
    Take,
    // The user is at work: the window the user is in is left exactly as it
    // is; another is reloaded, a minimised one shown without activation,
    // and its taskbar button flashes.
    LeaveFocus,
    // A locked session, a presentation, a full-screen program, quiet time:
    // as LeaveFocus, but nothing is shown over what the user is doing.
    ShowNothing,
};

// The platform calls the foreground routine makes, in one table so that a
// test can stand in for a desktop that refuses the foreground (Wine grants
// every request), with its own clock and its own user. Production code
// never changes it.
struct ForegroundCalls {
    BOOL(WINAPI* showWindowAsync)(HWND, int);
    BOOL(WINAPI* isIconic)(HWND);
    BOOL(WINAPI* setForegroundWindow)(HWND);
    HWND(WINAPI* getForegroundWindow)();
    UINT(WINAPI* sendInput)(UINT, LPINPUT, int);
    BOOL(WINAPI* isHungAppWindow)(HWND);
    BOOL(WINAPI* getLastInputInfo)(PLASTINPUTINFO);
    DWORD(WINAPI* getTickCount)();
    BOOL(WINAPI* getGUIThreadInfo)(DWORD, PGUITHREADINFO);
    HRESULT(WINAPI* queryUserNotificationState)(QUERY_USER_NOTIFICATION_STATE*);
    // True while the desktop that receives the user's input is not this
    // thread's: the session is locked, or a secure desktop is up.
    BOOL(WINAPI* inputDesktopIsElsewhere)();
    BOOL(WINAPI* systemParametersInfo)(UINT, UINT, PVOID, UINT);
    BOOL(WINAPI* flashWindowEx)(PFLASHWINFO);
    // The open request, which starts a window that may take the focus.
    HINSTANCE(WINAPI* shellExecute)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);
    DWORD(WINAPI* waitForSingleObject)(HANDLE, DWORD);
};

// The table in use; the real functions unless a test replaced them.
ForegroundCalls& CurrentForegroundCalls();
// The real functions.
ForegroundCalls PlatformForegroundCalls();

// The rule for an activation the user did not ask for (a change in a
// watched folder), from what the user is doing now: Take only after about
// ten seconds without keyboard or mouse input, with no menu, drag or
// move/size loop in the foreground, notifications accepted and the session
// not locked.
FocusRule FocusRuleForChange();

// True when window must be left exactly as it is: the user may be typing
// in it (it is the foreground window) and the rule does not take the focus.
// No reload, no tab switch, no restore.
bool UserIsInWindow(HWND window, FocusRule rule);

// Brings window forward as far as rule allows. Take: restores it (without
// waiting for its thread) and asks for the foreground; after a refusal one
// empty input event, once per absence of the user, and one more request.
// LeaveFocus: a minimised window is shown without activation. ShowNothing:
// nothing is shown. Whenever the window does not get the foreground, its
// taskbar button flashes as often as the system flashes a refused window.
// True when the platform granted the foreground (it may take effect a
// moment later).
//
// stopEvent is the watcher's stop event when the watcher brings the window
// forward: once it is set, nothing more is done, not even a flash. Null on
// the window's own thread.
bool BringWindowForward(HWND window, FocusRule rule, HANDLE stopEvent);

// Asks the shell to open path in a window that takes the focus only when
// rule allows it. Nothing once stopEvent is set.
void RequestFolderWindow(const wchar_t* path, FocusRule rule, HANDLE stopEvent);
