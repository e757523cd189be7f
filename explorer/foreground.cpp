// The foreground routine for every window an activation brings forward.
//
// Since Windows 2000 SetForegroundWindow is refused to a process that did
// not receive the last input event (the foreground lock), and Windows
// itself lets a program past the lock only after minutes without input.
// The lock is there so that a window cannot jump in front of someone who
// is typing: the rest of their keys would land in Explorer, where Delete
// recycles the selected file, Enter opens it, F2 renames it and Ctrl+Z
// undoes the last file operation. So what the user is doing is read before
// anything is called that could move the focus, and decides the activation
// (FocusRule); the input alone is read again right before each such call
// (the restore, the request, the empty input, the open request), because an
// activation can take a second or more and the user may come back within it:
//
// - away (about ten seconds without keyboard or mouse input, and nothing
//   else that says not to disturb): a minimised window is restored, a
//   visible one (normal or maximised) is left at its size, and it is asked
//   for the foreground. After a refusal, one empty input event (a mouse
//   move by zero pixels) sent with SendInput makes this process the one
//   that received the last input, and the request is made once more. That
//   is how the platform behaves, not a documented way past the lock, so it
//   is tried once per absence and never as a key: a synthetic Alt opens
//   menu bars, a key-up would release a key the user is holding down.
//   Input is never attached to another thread's: that makes the request
//   wait for that thread, resets its key state and defeats
//   LockSetForegroundWindow;
// - at work: nothing is shown, opened, restored or activated. Even a show
//   without activation is not safe: Windows documents that the active
//   window stays active for SW_SHOWNOACTIVATE, but a folder opened that way
//   is only passed the flag, and Explorer gives its new window the keyboard
//   whenever it owns the foreground (the desktop, another Explorer window,
//   a rename). The window the user is in is left exactly as it is; any
//   other is reloaded and its taskbar button flashes, as the platform does
//   on a refusal. The watcher holds the change back and shows it once the
//   user is away (change_watcher.cpp);
// - not to disturb (a locked session, a presentation, a full-screen
//   program, quiet time): as at work, without the flash.
//
// Idle time is measured from the user's own last input. Our empty input is
// input too, so the tick it was sent at is remembered next to the user's
// tick before it: a user who was present when it was sent (the double-click
// path sends it too) stays present.

#include "explorer/foreground.h"

#include "base/win_raii.h"
#include "explorer/stop_event.h"

namespace {

// A last-input tick this close to the moment we sent our empty input is
// ours: the input carries a tick of its own, a little before or after the
// one read just before sending it, and may be reported late.
constexpr LONG kOwnInputBeforeMs = 50;
constexpr LONG kOwnInputAfterMs = 250;
// How often a refused window's button flashes when the system setting
// cannot be read: the setting's value on Windows 10 and 11 as shipped.
constexpr UINT kDefaultForegroundFlashCount = 7;

// A menu, a window being moved or sized: a thread's modal loops, which a
// change of foreground, or of a window's view, would cut short.
constexpr DWORD kModalLoopFlags = GUI_INMENUMODE | GUI_POPUPMENUMODE | GUI_SYSTEMMENUMODE | GUI_INMOVESIZE;

// Our own empty input. It resets the idle timer that starts the screen
// saver, the automatic lock and display sleep, and a second one without
// real input in between would keep a machine awake that its user left. So
// it is remembered, process-wide because the watcher's thread and the
// window's thread may both be here at once, under a slim lock (which, unlike
// a mutex, never needs a handle): when it was sent, the user's own last
// input then, and the tick it was first seen to carry. Only that one tick
// is ours afterwards; a key of the user's a moment after it is theirs.
struct OwnInput {
    bool sending = false;  // a thread is sending one
    bool sent = false;
    DWORD sentAt = 0;
    DWORD userInputBefore = 0;
    bool seen = false;
    DWORD seenAt = 0;
};
SRWLOCK ownInputLock = SRWLOCK_INIT;
OwnInput ownInput;

// The tick of the last input in this session; unknown counts as just now.
DWORD LastInputTick(const DesktopCalls& calls) {
    LASTINPUTINFO info = {sizeof(info)};
    if (!calls.getLastInputInfo(&info)) return calls.getTickCount();
    return info.dwTime;
}

// With the lock held: the tick of the user's own last input, when the
// session's last input was lastInput. Modular, so the tick's wrap after
// 49.7 days does no harm.
DWORD UserInputTickLocked(DWORD lastInput) {
    if (!ownInput.sent) return lastInput;
    const LONG sinceSend = static_cast<LONG>(lastInput - ownInput.sentAt);
    if (sinceSend < -kOwnInputBeforeMs || sinceSend > kOwnInputAfterMs) return lastInput;
    if (!ownInput.seen) {
        ownInput.seen = true;
        ownInput.seenAt = lastInput;
    }
    return lastInput == ownInput.seenAt ? ownInput.userInputBefore : lastInput;
}

// The tick of the user's own last input, ours left out.
DWORD UserInputTick(const DesktopCalls& calls) {
    const DWORD lastInput = LastInputTick(calls);
    ExclusiveLock guard(ownInputLock);
    return UserInputTickLocked(lastInput);
}

// How long the user has made no input of their own. Signed, because an
// input injected with SendInput carries its own tick, which can be a
// little later than GetTickCount's.
LONG UserIdleMs(const DesktopCalls& calls) {
    const DWORD userInput = UserInputTick(calls);
    return static_cast<LONG>(calls.getTickCount() - userInput);
}

// Sends the empty input unless one was sent already in this absence of the
// user (no input of theirs since); true when this call sent it.
bool SendEmptyInputOncePerAbsence(const DesktopCalls& calls) {
    const DWORD lastInput = LastInputTick(calls);
    DWORD userInput = 0;
    {
        ExclusiveLock guard(ownInputLock);
        if (ownInput.sending) return false;  // the other thread is sending one
        userInput = UserInputTickLocked(lastInput);
        if (ownInput.sent && userInput == ownInput.userInputBefore) return false;  // none of theirs since ours
        ownInput.sending = true;
    }
    const DWORD sentAt = calls.getTickCount();
    INPUT nudge = {};
    nudge.type = INPUT_MOUSE;
    nudge.mi.dwFlags = MOUSEEVENTF_MOVE;  // relative, by 0 and 0
    calls.sendInput(1, &nudge, sizeof(nudge));
    // Read at once, the last input is usually ours already: from then on
    // only that tick is.
    const DWORD afterSending = LastInputTick(calls);
    ExclusiveLock guard(ownInputLock);
    ownInput = OwnInput{false, true, sentAt, userInput, false, 0};
    UserInputTickLocked(afterSending);
    return true;
}

// Shows the user where to look, the way the platform marks a window it
// refused the foreground: the taskbar button flashes as often as the
// user's setting says, then stays lit until the window is activated.
void FlashTaskbarButton(const DesktopCalls& calls, HWND window) {
    UINT count = 0;
    if (!calls.systemParametersInfo(SPI_GETFOREGROUNDFLASHCOUNT, 0, &count, 0)) count = kDefaultForegroundFlashCount;
    FLASHWINFO flash = {sizeof(flash), window, FLASHW_TRAY, count, 0};
    calls.flashWindowEx(&flash);
}

// The locked session's test: the input desktop. Locking (like Ctrl+Alt+Del
// and the elevation prompt) switches input to the Winlogon desktop, which a
// user's program may not open, and a secure screen saver to a desktop of
// its own. So the session counts as locked when the input desktop cannot
// be opened or is not the one this thread runs on. Chosen over the
// session's lock flag (WTSQuerySessionInformation), which Windows 7 and
// Server 2008 R2 report the wrong way round and which misses the secure
// desktops.
BOOL WINAPI InputDesktopIsElsewhere() {
    HDESK input = OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS);
    if (input == nullptr) return TRUE;
    wchar_t inputName[256] = {};
    wchar_t ownName[256] = {};
    DWORD needed = 0;
    const bool named =
        GetUserObjectInformationW(input, UOI_NAME, inputName, sizeof(inputName), &needed) &&
        GetUserObjectInformationW(GetThreadDesktop(GetCurrentThreadId()), UOI_NAME, ownName, sizeof(ownName), &needed);
    CloseDesktop(input);
    return named && lstrcmpiW(inputName, ownName) != 0;
}

}  // namespace

DesktopCalls PlatformDesktopCalls() {
    return DesktopCalls{// Other programs' windows.
                        ShowWindowAsync, IsIconic, SetForegroundWindow, GetForegroundWindow, IsHungAppWindow,
                        FlashWindowEx, ShellExecuteW,
                        // The user.
                        SendInput, GetLastInputInfo, GetTickCount, GetGUIThreadInfo, SHQueryUserNotificationState,
                        InputDesktopIsElsewhere, SystemParametersInfoW};
}

DesktopCalls& CurrentDesktopCalls() {
    static DesktopCalls calls = PlatformDesktopCalls();
    return calls;
}

FocusRule FocusRuleForChange() {
    const DesktopCalls& calls = CurrentDesktopCalls();
    if (calls.inputDesktopIsElsewhere()) return FocusRule::ShowNothing;
    // A failed query leaves no reason not to disturb; the input checks
    // below still protect a typing user.
    QUERY_USER_NOTIFICATION_STATE notifications = QUNS_ACCEPTS_NOTIFICATIONS;
    if (SUCCEEDED(calls.queryUserNotificationState(&notifications)) &&
        notifications != QUNS_ACCEPTS_NOTIFICATIONS) {
        return FocusRule::ShowNothing;
    }
    // Thread 0 is the foreground thread. A mouse capture there is a drag
    // in progress, which has no flag of its own.
    GUITHREADINFO gui = {sizeof(gui)};
    if (calls.getGUIThreadInfo(0, &gui) && ((gui.flags & kModalLoopFlags) != 0 || gui.hwndCapture != nullptr)) {
        return FocusRule::LeaveFocus;
    }
    return UserIdleMs(calls) >= static_cast<LONG>(kUserAwayAfterMs) ? FocusRule::Take : FocusRule::LeaveFocus;
}

FocusState FocusForChange() {
    // The input first: anything newer than what the rule was read from
    // counts as the user back.
    const DWORD userInput = UserInputTick(CurrentDesktopCalls());
    return FocusState{FocusRuleForChange(), true, userInput};
}

FocusState FocusForUser() { return FocusState{FocusRule::Take, false, 0}; }

bool MayTakeFocus(FocusState& focus) {
    if (focus.rule != FocusRule::Take) return false;
    if (!focus.looksAgain || UserInputTick(CurrentDesktopCalls()) == focus.userInputAt) return true;
    focus.rule = FocusRule::LeaveFocus;
    return false;
}

bool IsUsersWindow(HWND window) {
    if (window == nullptr) return false;
    HWND foreground = CurrentDesktopCalls().getForegroundWindow();
    return foreground == window || (foreground != nullptr && GetAncestor(foreground, GA_ROOTOWNER) == window);
}

bool WindowIsInUse(HWND window) {
    GUITHREADINFO gui = {sizeof(gui)};
    if (!CurrentDesktopCalls().getGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &gui)) return false;
    if ((gui.flags & kModalLoopFlags) != 0) return true;
    // Explorer's rename box is a plain edit control over the view.
    wchar_t className[8] = {};
    return gui.hwndFocus != nullptr && GetClassNameW(gui.hwndFocus, className, 8) > 0 &&
           lstrcmpiW(className, L"Edit") == 0;
}

bool UserIsInWindow(HWND window, FocusRule rule) {
    return rule != FocusRule::Take && IsUsersWindow(window);
}

bool BringWindowForward(HWND window, FocusState& focus, HANDLE stopEvent) {
    const DesktopCalls& calls = CurrentDesktopCalls();
    if (IsStopSet(stopEvent)) return false;
    if (UserIsInWindow(window, focus.rule)) return true;

    if (focus.rule == FocusRule::Take) {
        // Async: a plain ShowWindow on another process's window waits until
        // that window's thread has handled it, forever if the thread is
        // hung. Only a minimised window: SW_RESTORE would bring a maximised
        // one back to its normal size.
        if (calls.isIconic(window) && MayTakeFocus(focus)) calls.showWindowAsync(window, SW_RESTORE);
        // TRUE is the grant. The activation itself is asynchronous, so
        // GetForegroundWindow right afterwards may still answer the old
        // window.
        if (MayTakeFocus(focus) && calls.setForegroundWindow(window)) return true;
        if (IsStopSet(stopEvent)) return false;
        if (MayTakeFocus(focus) && SendEmptyInputOncePerAbsence(calls) && MayTakeFocus(focus) &&
            calls.setForegroundWindow(window)) {
            return true;
        }
    }
    if (focus.rule != FocusRule::ShowNothing && !IsStopSet(stopEvent)) FlashTaskbarButton(calls, window);
    return false;
}

bool RequestFolderWindow(const wchar_t* path, FocusState& focus, HANDLE stopEvent) {
    const DesktopCalls& calls = CurrentDesktopCalls();
    if (IsStopSet(stopEvent) || !MayTakeFocus(focus)) return false;
    calls.shellExecute(nullptr, L"open", path, nullptr, nullptr, SW_SHOWNORMAL);
    return true;
}

DWORD HeldChangeWaitMs() {
    const LONG idle = UserIdleMs(CurrentDesktopCalls());
    if (idle >= static_cast<LONG>(kUserAwayAfterMs)) return kHeldChangeRecheckMs;
    const LONG untilAway = static_cast<LONG>(kUserAwayAfterMs) - idle;  // more than the away time when the tick is ahead
    return static_cast<DWORD>(untilAway > static_cast<LONG>(kHeldChangeMinimumWaitMs) ? untilAway
                                                                                       : kHeldChangeMinimumWaitMs);
}
