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

#include "explorer/foreground.h"

namespace {

bool ForegroundGranted(const ForegroundCalls& calls, HWND window) {
    calls.setForegroundWindow(window);
    return calls.getForegroundWindow() == window;
}

}  // namespace

ForegroundCalls PlatformForegroundCalls() {
    return ForegroundCalls{ShowWindowAsync,        SetForegroundWindow,      GetForegroundWindow, SendInput,
                           IsHungAppWindow,     GetWindowThreadProcessId, AttachThreadInput};
}

ForegroundCalls& CurrentForegroundCalls() {
    static ForegroundCalls calls = PlatformForegroundCalls();
    return calls;
}

bool BringWindowForward(HWND window, HANDLE /*stopEvent*/) {
    const ForegroundCalls& calls = CurrentForegroundCalls();

    // Async: a plain ShowWindow on another process's window waits until that
    // window's thread has handled it, forever if the thread is hung.
    // SW_RESTORE whatever the state: a minimised window comes back, a
    // maximised one returns to its normal size.
    calls.showWindowAsync(window, SW_RESTORE);
    if (ForegroundGranted(calls, window)) return true;

    INPUT nudge = {};
    nudge.type = INPUT_MOUSE;
    nudge.mi.dwFlags = MOUSEEVENTF_MOVE;  // relative, by 0 and 0
    calls.sendInput(1, &nudge, sizeof(nudge));
    if (ForegroundGranted(calls, window)) return true;

    if (calls.isHungAppWindow(window)) return false;
    HWND foreground = calls.getForegroundWindow();
    if (foreground == nullptr) return false;
    const DWORD ownThread = GetCurrentThreadId();
    const DWORD foregroundThread = calls.getWindowThreadProcessId(foreground, nullptr);
    if (foregroundThread == 0 || foregroundThread == ownThread) return false;
    if (!calls.attachThreadInput(ownThread, foregroundThread, TRUE)) return false;
    const bool granted = ForegroundGranted(calls, window);
    calls.attachThreadInput(ownThread, foregroundThread, FALSE);
    return granted;
}
