// The foreground routine for every window an activation brings forward.
//
// Since Windows 2000 SetForegroundWindow is refused to a process that did
// not receive the last input event (the foreground lock), and Windows
// itself lets a program past the lock only after minutes without input.
// The lock is there so that a window cannot jump in front of someone who
// is typing: the rest of their keys would land in Explorer, where Delete
// recycles the selected file, Enter opens it, F2 renames it and Ctrl+Z
// undoes the last file operation. So what the user is doing is read once,
// before anything is called that could move the focus, and decides the
// whole activation (FocusRule):
//
// - away (about ten seconds without keyboard or mouse input, and nothing
//   else that says not to disturb): the window is restored and asked for
//   the foreground. After a refusal, one empty input event (a mouse move
//   by zero pixels) sent with SendInput makes this process the one that
//   received the last input, and the request is made once more. That is
//   how the platform behaves, not a documented way past the lock, so it is
//   tried once per absence and never as a key: a synthetic Alt opens menu
//   bars, a key-up would release a key the user is holding down. Input is
//   never attached to another thread's: that makes the request wait for
//   that thread, resets its key state and defeats LockSetForegroundWindow;
// - at work: nothing takes the focus. The window the user is in is left
//   exactly as it is; any other is shown without activation if minimised,
//   and its taskbar button flashes, as the platform does on a refusal;
// - not to disturb (a locked session, a presentation, a full-screen
//   program, quiet time): as at work, but nothing is shown either.
//
// Nothing waits for a pause in the typing: a short pause is exactly when a
// typing user's next keys would be taken.

#include "explorer/foreground.h"

#include <atomic>

namespace {

// The user counts as away after this long without keyboard or mouse input.
constexpr DWORD kUserAwayAfterMs = 10000;
// A last-input tick this close to the moment we sent our empty input is
// ours: the input carries a tick of its own, a little before or after the
// one read just before sending it, and may be reported late.
constexpr LONG kOwnInputBeforeMs = 50;
constexpr LONG kOwnInputAfterMs = 250;
// How often a refused window's button flashes when the system setting
// cannot be read: the setting's value on Windows 10 and 11 as shipped.
constexpr UINT kDefaultForegroundFlashCount = 7;

// A menu, a window being moved or sized: the foreground thread's modal
// loops, which a change of foreground would cut short.
constexpr DWORD kModalLoopFlags = GUI_INMENUMODE | GUI_POPUPMENUMODE | GUI_SYSTEMMENUMODE | GUI_INMOVESIZE;

// The empty input resets the idle timer that starts the screen saver, the
// automatic lock and display sleep, and a second one without real input in
// between would keep a machine awake that its user left. So the tick at
// which our own empty input was sent is remembered, process-wide because
// the watcher's thread and the window's thread may both be here at once.
// One value, no lock: a thread claims the absence by compare-and-swap
// (kNudgePending plus the user's last tick), so that the other thread does
// not send a second input meanwhile, then stores the tick it sent at.
// Values outside the 32-bit tick range stand for "none yet" and "being
// sent".
constexpr ULONGLONG kNudgePending = 1ull << 32;
constexpr ULONGLONG kNoNudge = 1ull << 33;
std::atomic<ULONGLONG> nudgeSentAt{kNoNudge};

// The tick of the last input in this session; unknown counts as just now.
DWORD LastInputTick(const ForegroundCalls& calls) {
    LASTINPUTINFO info = {sizeof(info)};
    if (!calls.getLastInputInfo(&info)) return calls.getTickCount();
    return info.dwTime;
}

// True when lastInput is the empty input we sent, by the record recorded.
bool IsOwnInput(DWORD lastInput, ULONGLONG recorded) {
    if (recorded >= kNudgePending) return false;  // none sent, or being sent
    // Modular, so the tick's wrap after 49.7 days does no harm.
    const LONG sinceSend = static_cast<LONG>(lastInput - static_cast<DWORD>(recorded));
    return sinceSend >= -kOwnInputBeforeMs && sinceSend <= kOwnInputAfterMs;
}

bool Stopped(const ForegroundCalls& calls, HANDLE stopEvent) {
    return stopEvent != nullptr && calls.waitForSingleObject(stopEvent, 0) != WAIT_TIMEOUT;
}

// Sends the empty input unless one was sent already in this absence of the
// user; true when this call sent it.
bool SendEmptyInputOncePerAbsence(const ForegroundCalls& calls) {
    ULONGLONG recorded = nudgeSentAt.load();
    if ((recorded & kNudgePending) != 0) return false;  // the other thread is sending one
    const DWORD lastInput = LastInputTick(calls);
    if (IsOwnInput(lastInput, recorded)) return false;  // no real input since ours
    if (!nudgeSentAt.compare_exchange_strong(recorded, kNudgePending | lastInput)) return false;

    const DWORD sentAt = calls.getTickCount();
    INPUT nudge = {};
    nudge.type = INPUT_MOUSE;
    nudge.mi.dwFlags = MOUSEEVENTF_MOVE;  // relative, by 0 and 0
    calls.sendInput(1, &nudge, sizeof(nudge));
    nudgeSentAt.store(sentAt);
    return true;
}

// Shows the user where to look, the way the platform marks a window it
// refused the foreground: the taskbar button flashes as often as the
// user's setting says, then stays lit until the window is activated.
void FlashTaskbarButton(const ForegroundCalls& calls, HWND window) {
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

ForegroundCalls PlatformForegroundCalls() {
    return ForegroundCalls{ShowWindowAsync,         IsIconic,
                           SetForegroundWindow,     GetForegroundWindow,
                           SendInput,               IsHungAppWindow,
                           GetLastInputInfo,        GetTickCount,
                           GetGUIThreadInfo,        SHQueryUserNotificationState,
                           InputDesktopIsElsewhere, SystemParametersInfoW,
                           FlashWindowEx,           ShellExecuteW,
                           WaitForSingleObject};
}

ForegroundCalls& CurrentForegroundCalls() {
    static ForegroundCalls calls = PlatformForegroundCalls();
    return calls;
}

FocusRule FocusRuleForChange() {
    const ForegroundCalls& calls = CurrentForegroundCalls();
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
    const DWORD lastInput = LastInputTick(calls);
    // Our own empty input is the last one: the user has not been back since
    // we sent it, and we only ever send it to a user who is away.
    if (IsOwnInput(lastInput, nudgeSentAt.load())) return FocusRule::Take;
    // Signed, because an input injected with SendInput carries its own
    // tick, which can be a little later than GetTickCount's.
    const LONG idle = static_cast<LONG>(calls.getTickCount() - lastInput);
    return idle >= static_cast<LONG>(kUserAwayAfterMs) ? FocusRule::Take : FocusRule::LeaveFocus;
}

bool UserIsInWindow(HWND window, FocusRule rule) {
    return rule != FocusRule::Take && window != nullptr && CurrentForegroundCalls().getForegroundWindow() == window;
}

bool BringWindowForward(HWND window, FocusRule rule, HANDLE stopEvent) {
    const ForegroundCalls& calls = CurrentForegroundCalls();
    if (Stopped(calls, stopEvent)) return false;
    if (UserIsInWindow(window, rule)) return true;

    switch (rule) {
    case FocusRule::Take:
        // Async: a plain ShowWindow on another process's window waits until
        // that window's thread has handled it, forever if the thread is
        // hung. SW_RESTORE whatever the state: a minimised window comes
        // back, a maximised one returns to its normal size.
        calls.showWindowAsync(window, SW_RESTORE);
        // TRUE is the grant. The activation itself is asynchronous, so
        // GetForegroundWindow right afterwards may still answer the old
        // window.
        if (calls.setForegroundWindow(window)) return true;
        if (Stopped(calls, stopEvent)) return false;
        if (SendEmptyInputOncePerAbsence(calls) && calls.setForegroundWindow(window)) return true;
        break;
    case FocusRule::LeaveFocus:
        // SW_RESTORE would activate it; a visible window is not shown again.
        if (calls.isIconic(window)) calls.showWindowAsync(window, SW_SHOWNOACTIVATE);
        break;
    case FocusRule::ShowNothing:
        break;
    }
    if (!Stopped(calls, stopEvent)) FlashTaskbarButton(calls, window);
    return false;
}

void RequestFolderWindow(const wchar_t* path, FocusRule rule, HANDLE stopEvent) {
    const ForegroundCalls& calls = CurrentForegroundCalls();
    if (Stopped(calls, stopEvent)) return;
    // Not to disturb: the new window waits on the taskbar, minimised.
    const int show = rule == FocusRule::Take         ? SW_SHOWNORMAL
                     : rule == FocusRule::LeaveFocus ? SW_SHOWNOACTIVATE
                                                     : SW_SHOWMINNOACTIVE;
    calls.shellExecute(nullptr, L"open", path, nullptr, nullptr, show);
}
