#pragma once
// Bringing another program's window in front of the user, as far as the
// platform lets a background thread do it, and never while the user is at
// work: nothing may move the keyboard focus away from someone typing. A
// change that cannot be shown for that reason is held back by the watcher
// and shown once the user pauses.

#include <windows.h>
#include <shellapi.h>

// How long the program waits for the user, all in one place.
//
// The user counts as away after this long without keyboard or mouse input.
constexpr DWORD kUserAwayAfterMs = 10000;
// While a change is held back, the watcher looks again no sooner than this
// after its last look, however close the user is to counting as away.
constexpr DWORD kHeldChangeMinimumWaitMs = 250;
// ...and this often while the user is away from the input but something
// else says not now (a presentation, quiet time, a menu held open).
constexpr DWORD kHeldChangeRecheckMs = 2000;
// A balloon about a held-back change, at most this often per folder.
constexpr DWORD kHeldChangeBalloonIntervalMs = 10000;

// How far one activation may go with the keyboard focus, as decided before
// anything is called that could move it.
enum class FocusRule {
    // The user is away from keyboard and mouse, or asked in our own window:
    // reload, restore a minimised window and take the foreground.
    Take,
    // The user is at work: nothing is shown, opened, restored, activated or
    // switched. A window other than the user's is reloaded and its taskbar
    // button flashes; the change is held back.
    LeaveFocus,
    // A locked session, a presentation, a full-screen program, quiet time:
    // as LeaveFocus, without the flash.
    ShowNothing,
};

// One activation's hold on the focus: the rule, and for a change the tick
// of the user's own last input when the rule was read. Before each call
// that could move the focus the input is read again (MayTakeFocus): a user
// back since then turns the rule into LeaveFocus for the rest of the
// activation.
struct FocusState {
    FocusRule rule = FocusRule::Take;
    // False for the user's own request in our window, which is not looked
    // at again: the user's next mouse move would otherwise cancel it.
    bool looksAgain = false;
    DWORD userInputAt = 0;
};

// The desktop as an activation meets it: the user (input, clock, what the
// session and the foreground thread are doing) and the other programs'
// windows it may act on (show, restore, foreground, flash, the hung check,
// a new window opened). In one table so that a test can stand in for a
// desktop that refuses the foreground (Wine grants every request), with
// its own clock, its own user and its own windows. Production code never
// changes it.
struct DesktopCalls {
    // Other programs' windows.
    BOOL(WINAPI* showWindowAsync)(HWND, int);
    BOOL(WINAPI* isIconic)(HWND);
    BOOL(WINAPI* setForegroundWindow)(HWND);
    HWND(WINAPI* getForegroundWindow)();
    BOOL(WINAPI* isHungAppWindow)(HWND);
    BOOL(WINAPI* flashWindowEx)(PFLASHWINFO);
    // The open request, which starts a window that may take the focus.
    HINSTANCE(WINAPI* shellExecute)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);
    // The user.
    UINT(WINAPI* sendInput)(UINT, LPINPUT, int);
    BOOL(WINAPI* getLastInputInfo)(PLASTINPUTINFO);
    DWORD(WINAPI* getTickCount)();
    BOOL(WINAPI* getGUIThreadInfo)(DWORD, PGUITHREADINFO);
    HRESULT(WINAPI* queryUserNotificationState)(QUERY_USER_NOTIFICATION_STATE*);
    // True while the desktop that receives the user's input is not this
    // thread's: the session is locked, or a secure desktop is up.
    BOOL(WINAPI* inputDesktopIsElsewhere)();
    BOOL(WINAPI* systemParametersInfo)(UINT, UINT, PVOID, UINT);
};

// The table in use; the real functions unless a test replaced them.
DesktopCalls& CurrentDesktopCalls();
// The real functions.
DesktopCalls PlatformDesktopCalls();

// The rule for an activation the user did not ask for (a change in a
// watched folder), from what the user is doing now: Take only after about
// ten seconds without input of the user's own (our empty input does not
// count), with no menu, drag or move/size loop in the foreground,
// notifications accepted and the session not locked.
FocusRule FocusRuleForChange();
// The same rule with the user's last input, for one activation.
FocusState FocusForChange();
// For the user's own request in our window: take, and do not look again.
FocusState FocusForUser();

// True while focus may still be taken: the rule is Take and, for a change,
// the user has made no input since the rule was read. Otherwise the rule
// is LeaveFocus from now on.
bool MayTakeFocus(FocusState& focus);

// True when window is the one the user is in: the foreground window, or the
// top-level window that owns it (a dialog, a rename box's popup).
bool IsUsersWindow(HWND window);

// True while window's thread is in a menu or a move/size loop, or has an
// edit control with the keyboard focus (a rename, a new folder's name):
// a change to its view would cut that short.
bool WindowIsInUse(HWND window);

// True when window must be left exactly as it is: the user may be typing
// in it and the rule does not take the focus. No reload, no tab switch.
bool UserIsInWindow(HWND window, FocusRule rule);

// Brings window forward as far as focus allows. Take: restores it if it is
// minimised (without waiting for its thread; a maximised window stays
// maximised) and asks for the foreground; after a refusal one empty input
// event, once per absence of the user, and one more request. The input is
// looked at again before each of these. Otherwise nothing is shown. When
// the window does not get the foreground, its taskbar button flashes as
// often as the system flashes a refused window; not to disturb, not even
// that. True when the platform granted the foreground (it may take effect
// a moment later).
//
// stopEvent is the watcher's stop event when the watcher brings the window
// forward: once it is set, nothing more is done, not even a flash. Null on
// the window's own thread.
bool BringWindowForward(HWND window, FocusState& focus, HANDLE stopEvent);

// Asks the shell to open path in a window of its own, which may take the
// focus: only while focus may be taken. False when it was not asked.
bool RequestFolderWindow(const wchar_t* path, FocusState& focus, HANDLE stopEvent);

// How long a watcher holding a change back may wait before it looks again:
// until the user would count as away, at least kHeldChangeMinimumWaitMs; or
// kHeldChangeRecheckMs once the input alone would let the change be shown.
DWORD HeldChangeWaitMs();
