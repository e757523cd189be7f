#pragma once
// A stand-in for the desktop the foreground routine works on
// (explorer/foreground.h), for the activation's tests and the watcher's: it
// refuses the foreground the way Windows does, to a process that did not
// receive the last input event, and has its own user and its own clock.
// The clock moves only when a case moves it (a while after the last case's),
// or with real time from the scope's start where the case says so.

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "base/win_raii.h"
#include "explorer/foreground.h"
#include "test_support.h"

enum class Grants { AtOnce, AfterOwnInput, Never };

inline HWND const kOthers = reinterpret_cast<HWND>(0x1234);  // someone else's window
inline HWND const kTarget = reinterpret_cast<HWND>(0x5678);
constexpr UINT kFlashCount = 5;  // the user's foreground flash count

struct FakeDesktop {
    Grants grants = Grants::AfterOwnInput;
    LONG userInputAt = -20000;  // the user's last input; after now: an injected tick ahead of the clock
    DWORD guiFlags = 0;         // the foreground thread's
    HWND capture = nullptr;     // the foreground thread's mouse capture: a drag
    DWORD windowGuiFlags = 0;   // any other thread's, that of the window an item is selected in
    HWND windowFocus = nullptr; // ... and its keyboard focus
    QUERY_USER_NOTIFICATION_STATE notifications = QUNS_ACCEPTS_NOTIFICATIONS;
    bool inputElsewhere = false;  // the input desktop is not ours: locked, or a secure desktop
    HWND foreground = kOthers;
    HWND minimised = nullptr;
    HWND hung = nullptr;
    LONG ownInputLateMs = 0;  // our own input shows in the last-input tick only this much later, with that tick
    bool lastInputFails = false;  // GetLastInputInfo fails
    int userBackAtRead = 0;       // the user makes an input just before the nth read of the last input
    bool clockRuns = false;       // the clock moves on with real time from the scope's start
    bool stopped = false;   // the stop event is set from the start
    int stopAtRequest = 0;  // the stop comes while the foreground is asked for the nth time
    HANDLE stopEvent = nullptr;  // a real event, the scope's, for the code under test to be given
    int requests = 0;
    DWORD origin = 0u - 101000;  // tick counts begin just below their 32-bit wrap
    LONG now = 0, ownInputAt = 0;
    bool inputSent = false;
    HWND activating = nullptr;  // granted the foreground
    std::vector<std::string> calls;
    int badInputs = 0;  // anything but one zero-distance relative mouse move
    int inputReads = 0;  // of the last input
    DWORD realStart = 0;

    bool OwnInputIsLast() const { return inputSent && ownInputAt >= userInputAt; }
    LONG Now() const { return clockRuns ? now + static_cast<LONG>(GetTickCount() - realStart) : now; }
    LONG LastInput() const {
        return OwnInputIsLast() && Now() >= ownInputAt + ownInputLateMs ? ownInputAt + ownInputLateMs : userInputAt;
    }
};
inline FakeDesktop desktop;

inline BOOL WINAPI FakeShowWindowAsync(HWND, int command) {
    desktop.calls.push_back(command == SW_RESTORE ? "restore" : command == SW_SHOWNOACTIVATE ? "noactivate" : "show?");
    return TRUE;
}
inline BOOL WINAPI FakeIsIconic(HWND window) { return window == desktop.minimised; }
inline BOOL WINAPI FakeSetForegroundWindow(HWND window) {
    desktop.calls.push_back("set");
    if (++desktop.requests == desktop.stopAtRequest) SetEvent(desktop.stopEvent);
    const bool granted =
        desktop.grants == Grants::AtOnce || (desktop.grants == Grants::AfterOwnInput && desktop.OwnInputIsLast());
    if (granted) desktop.activating = window;
    return granted;
}
inline HWND WINAPI FakeGetForegroundWindow() { return desktop.foreground; }
inline UINT WINAPI FakeSendInput(UINT count, LPINPUT inputs, int size) {
    desktop.calls.push_back("input");
    for (UINT i = 0; i < count; ++i) {
        const INPUT& input = inputs[i];
        const bool emptyMove = size == sizeof(INPUT) && input.type == INPUT_MOUSE &&
                               input.mi.dwFlags == MOUSEEVENTF_MOVE && input.mi.dx == 0 && input.mi.dy == 0 &&
                               input.mi.mouseData == 0;
        if (!emptyMove) ++desktop.badInputs;
    }
    desktop.inputSent = true;
    desktop.ownInputAt = desktop.Now();
    return count;
}
inline BOOL WINAPI FakeIsHungAppWindow(HWND window) { return window == desktop.hung; }
inline BOOL WINAPI FakeGetLastInputInfo(PLASTINPUTINFO info) {
    if (++desktop.inputReads == desktop.userBackAtRead) desktop.userInputAt = desktop.Now();
    info->dwTime = desktop.origin + desktop.LastInput();
    return info->cbSize == sizeof(LASTINPUTINFO) && !desktop.lastInputFails;
}
inline DWORD WINAPI FakeGetTickCount() { return desktop.origin + desktop.Now(); }
inline BOOL WINAPI FakeGetGUIThreadInfo(DWORD thread, PGUITHREADINFO info) {  // thread 0: the foreground thread
    *info = GUITHREADINFO{sizeof(GUITHREADINFO), thread == 0 ? desktop.guiFlags : desktop.windowGuiFlags};
    info->hwndCapture = thread == 0 ? desktop.capture : nullptr;
    info->hwndFocus = thread == 0 ? nullptr : desktop.windowFocus;
    return TRUE;
}
inline HRESULT WINAPI FakeQueryUserNotificationState(QUERY_USER_NOTIFICATION_STATE* state) {
    return *state = desktop.notifications, S_OK;
}
inline BOOL WINAPI FakeInputDesktopIsElsewhere() { return desktop.inputElsewhere; }
inline BOOL WINAPI FakeSystemParametersInfo(UINT action, UINT, PVOID value, UINT) {
    return action == SPI_GETFOREGROUNDFLASHCOUNT && (*static_cast<UINT*>(value) = kFlashCount, true);
}
inline BOOL WINAPI FakeFlashWindowEx(PFLASHWINFO flash) {
    const bool asRefused = flash->dwFlags == FLASHW_TRAY && flash->uCount == kFlashCount && flash->dwTimeout == 0;
    return desktop.calls.push_back(asRefused ? "flash" : "flash?"), FALSE;
}
inline HINSTANCE WINAPI FakeShellExecute(HWND, LPCWSTR verb, LPCWSTR, LPCWSTR, LPCWSTR, INT show) {
    const bool open = std::wstring(verb) == L"open";
    desktop.calls.push_back(!open                        ? "open?"
                            : show == SW_SHOWNORMAL      ? "open"
                            : show == SW_SHOWNOACTIVATE  ? "open noactivate"
                            : show == SW_SHOWMINNOACTIVE ? "open minimised"
                                                         : "open?");
    return reinterpret_cast<HINSTANCE>(33);
}

// Puts the fake desktop in place for one scope.
class FakeDesktopInUse {
public:
    explicit FakeDesktopInUse(FakeDesktop situation) : stop_(CreateEventW(nullptr, TRUE, situation.stopped, nullptr)) {
        situation.origin = desktop.origin + 100000;
        situation.realStart = GetTickCount();
        situation.stopEvent = stop_.get();
        desktop = situation;
    }

private:
    UniqueHandle stop_;
    ScopedCalls<DesktopCalls> calls_{CurrentDesktopCalls(),
                                     {FakeShowWindowAsync, FakeIsIconic, FakeSetForegroundWindow, FakeGetForegroundWindow,
                                      FakeIsHungAppWindow, FakeFlashWindowEx, FakeShellExecute, FakeSendInput,
                                      FakeGetLastInputInfo, FakeGetTickCount, FakeGetGUIThreadInfo,
                                      FakeQueryUserNotificationState, FakeInputDesktopIsElsewhere, FakeSystemParametersInfo}};
};
