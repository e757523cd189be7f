// The foreground routine for every window an activation brings forward.
//
// Since Windows 2000 SetForegroundWindow is refused to a process that did
// not receive the last input event (the foreground lock): the window's
// taskbar button flashes instead. The watcher thread never receives input,
// so a plain request mostly fails on a real desktop. Two documented ways
// around the lock are tried, each only after a refusal:
//
// - an empty input event (a mouse move by zero pixels) sent with SendInput
//   makes this process the one that received the last input; it moves
//   nothing and presses nothing. Never a key: a synthetic Alt opens menu
//   bars, and a key-up would release a key the user is holding down;
// - attaching this thread's input to the foreground window's thread shares
//   its input state, including the right to change the foreground. Not for
//   a hung window, and always detached again: an attachment left in place
//   ties our input queue to another program's.
//
// The lock is there so that a window cannot jump in front of someone who
// is typing: the rest of their keys would land in Explorer, where Delete
// recycles the selected file, Enter opens it, F2 renames it and Ctrl+Z
// undoes the last file operation. So the lock is only gone past while the
// user is away from keyboard and mouse and nothing else says not to
// disturb them. Otherwise the watcher's thread waits for a pause in the
// typing, the window's own thread never waits (its window would freeze),
// and a window that stays behind flashes its taskbar button instead.

#include "explorer/foreground.h"

#include <atomic>
#include <climits>

namespace {

// The user counts as away after this long without keyboard or mouse input.
constexpr DWORD kUserAwayAfterMs = 1000;
// How often the watcher looks again for such a pause, and for how long.
constexpr DWORD kPausePollMs = 50;
constexpr DWORD kPauseWaitMs = 3000;

// A menu, a window being moved or sized: the foreground thread's modal
// loops, which a change of foreground would cut short.
constexpr DWORD kModalLoopFlags = GUI_INMENUMODE | GUI_POPUPMENUMODE | GUI_SYSTEMMENUMODE | GUI_INMOVESIZE;

// The empty input resets the idle timer that starts the screen saver, the
// automatic lock and display sleep, and a second one without real input in
// between would keep a machine awake that its user left. So the last-input
// tick our own empty input left behind is remembered, process-wide because
// the watcher's thread and the window's thread may both be here at once.
// One value, no lock: a thread claims the absence by compare-and-swap
// (kNudgePending plus the user's last tick), so that the other thread does
// not send a second input meanwhile, then stores the tick of its own.
// Values outside the 32-bit tick range stand for "none yet" and "being
// sent".
constexpr ULONGLONG kNudgePending = 1ull << 32;
constexpr ULONGLONG kNoNudge = 1ull << 33;
std::atomic<ULONGLONG> nudgeInputTick{kNoNudge};

enum class UserState {
    Away,          // no input for a while: the lock may be gone past
    AtWork,        // typing, or in a menu: wait for a pause
    NotToDisturb,  // locked, full screen, presenting, quiet time: flash only
};

// The tick of the last input in this session; unknown counts as just now.
DWORD LastInputTick(const ForegroundCalls& calls) {
    LASTINPUTINFO info = {sizeof(info)};
    if (!calls.getLastInputInfo(&info)) return calls.getTickCount();
    return info.dwTime;
}

UserState CurrentUserState(const ForegroundCalls& calls) {
    if (calls.inputDesktopIsElsewhere()) return UserState::NotToDisturb;
    // A failed query leaves no reason not to disturb; the input checks
    // below still protect a typing user.
    QUERY_USER_NOTIFICATION_STATE notifications = QUNS_ACCEPTS_NOTIFICATIONS;
    if (SUCCEEDED(calls.queryUserNotificationState(&notifications)) &&
        notifications != QUNS_ACCEPTS_NOTIFICATIONS) {
        return UserState::NotToDisturb;
    }
    // Thread 0 is the foreground thread. A mouse capture there is a drag
    // in progress, which has no flag of its own.
    GUITHREADINFO gui = {sizeof(gui)};
    if (calls.getGUIThreadInfo(0, &gui) && ((gui.flags & kModalLoopFlags) != 0 || gui.hwndCapture != nullptr)) {
        return UserState::AtWork;
    }
    const DWORD lastInput = LastInputTick(calls);
    // Our own empty input is the last one: the user has not been back since
    // we sent it, and we only ever send it to a user who is away.
    if (lastInput == nudgeInputTick.load()) return UserState::Away;
    // Modular, so the tick's wrap after 49.7 days does no harm; signed,
    // because an input injected with SendInput carries its own tick, which
    // can be a little later than GetTickCount's.
    const LONG idle = static_cast<LONG>(calls.getTickCount() - lastInput);
    return idle >= static_cast<LONG>(kUserAwayAfterMs) ? UserState::Away : UserState::AtWork;
}

bool Stopped(const ForegroundCalls& calls, HANDLE stopEvent) {
    return stopEvent != nullptr && calls.waitForSingleObject(stopEvent, 0) != WAIT_TIMEOUT;
}

// True once the user is away. The watcher's thread waits for that, on its
// stop event so that a stop ends the wait at once; the window's own thread
// (no stop event) takes the answer as it is.
bool WaitUntilUserIsAway(const ForegroundCalls& calls, HANDLE stopEvent) {
    if (Stopped(calls, stopEvent)) return false;
    const DWORD start = calls.getTickCount();
    for (;;) {
        switch (CurrentUserState(calls)) {
        case UserState::Away: return true;
        case UserState::NotToDisturb: return false;
        case UserState::AtWork: break;
        }
        if (stopEvent == nullptr || calls.getTickCount() - start >= kPauseWaitMs) return false;
        if (calls.waitForSingleObject(stopEvent, kPausePollMs) != WAIT_TIMEOUT) return false;
    }
}

// Sends the empty input unless one was sent already in this absence of the
// user; true when this call sent it.
bool SendEmptyInputOncePerAbsence(const ForegroundCalls& calls) {
    ULONGLONG recorded = nudgeInputTick.load();
    if ((recorded & kNudgePending) != 0) return false;  // the other thread is sending one
    const DWORD lastInput = LastInputTick(calls);
    if (lastInput == recorded) return false;  // no real input since ours
    if (!nudgeInputTick.compare_exchange_strong(recorded, kNudgePending | lastInput)) return false;

    INPUT nudge = {};
    nudge.type = INPUT_MOUSE;
    nudge.mi.dwFlags = MOUSEEVENTF_MOVE;  // relative, by 0 and 0
    calls.sendInput(1, &nudge, sizeof(nudge));
    // Recorded even if the input was blocked (SendInput says nothing when
    // UIPI drops it): the user's own last tick then stands for this absence.
    nudgeInputTick.store(LastInputTick(calls));
    return true;
}

// Goes past a refusal: the empty input, then attached input.
bool GoPastRefusal(const ForegroundCalls& calls, HWND window) {
    if (SendEmptyInputOncePerAbsence(calls) && calls.setForegroundWindow(window)) return true;

    // Attaching to a hung thread can block this one until that thread
    // answers, so neither the target nor the current foreground window may
    // be hung.
    HWND foreground = calls.getForegroundWindow();
    if (foreground == nullptr || calls.isHungAppWindow(foreground) || calls.isHungAppWindow(window)) return false;
    const DWORD ownThread = GetCurrentThreadId();
    const DWORD foregroundThread = calls.getWindowThreadProcessId(foreground, nullptr);
    if (foregroundThread == 0 || foregroundThread == ownThread) return false;
    if (!calls.attachThreadInput(ownThread, foregroundThread, TRUE)) return false;
    const bool granted = calls.setForegroundWindow(window) != FALSE;
    calls.attachThreadInput(ownThread, foregroundThread, FALSE);
    return granted;
}

// Shows the user where to look. Windows may flash the button of a refused
// window by itself, a few times; this makes sure it flashes, until the
// window comes to the foreground (with that flag the count is no limit).
void FlashTaskbarButton(const ForegroundCalls& calls, HWND window) {
    FLASHWINFO flash = {sizeof(flash), window, FLASHW_TRAY | FLASHW_TIMERNOFG, UINT_MAX, 0};
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

ForegroundCalls PlatformForegroundCalls() {
    return ForegroundCalls{ShowWindowAsync,        SetForegroundWindow,      GetForegroundWindow, SendInput,
                           IsHungAppWindow,     GetWindowThreadProcessId, AttachThreadInput,
                           GetLastInputInfo,    GetTickCount,             GetGUIThreadInfo,
                           SHQueryUserNotificationState, InputDesktopIsElsewhere, FlashWindowEx,
                           WaitForSingleObject};
}

ForegroundCalls& CurrentForegroundCalls() {
    static ForegroundCalls calls = PlatformForegroundCalls();
    return calls;
}

bool BringWindowForward(HWND window, HANDLE stopEvent) {
    const ForegroundCalls& calls = CurrentForegroundCalls();

    // Async: a plain ShowWindow on another process's window waits until that
    // window's thread has handled it, forever if the thread is hung.
    // SW_RESTORE whatever the state: a minimised window comes back, a
    // maximised one returns to its normal size.
    calls.showWindowAsync(window, SW_RESTORE);
    // TRUE is the grant. The activation itself is asynchronous, so
    // GetForegroundWindow right afterwards may still answer the old window.
    if (calls.setForegroundWindow(window)) return true;

    if (WaitUntilUserIsAway(calls, stopEvent) && GoPastRefusal(calls, window)) return true;
    FlashTaskbarButton(calls, window);
    return false;
}
