// The deadline on calls into Explorer (see call_deadline.h).
//
// CoCancelCall cancels the call outstanding on a given thread, so the timer
// that enforces the deadline can run on any pool thread. Each call arms the
// timer on its way in and disarms it on its way out, waiting for a callback
// already under way: a cancellation that came too late for its own call
// must not land on the next one. Between calls nothing is armed.

#include "explorer/call_deadline.h"

#include <objbase.h>

namespace {

using CancelCallFunction = HRESULT(WINAPI*)(DWORD threadId, ULONG timeoutSeconds);

// CoCancelCall is looked up, never imported: Wine 8 binds an import of it
// to a stub that aborts the process when called. ole32 is loaded already,
// since the program imports its other functions.
CancelCallFunction PlatformCancelCall() {
    HMODULE ole32 = GetModuleHandleW(L"ole32.dll");
    if (ole32 == nullptr) return nullptr;
    return reinterpret_cast<CancelCallFunction>(reinterpret_cast<void*>(GetProcAddress(ole32, "CoCancelCall")));
}

HRESULT WINAPI CancelCall(DWORD threadId, ULONG timeoutSeconds) {
    static const CancelCallFunction cancel = PlatformCancelCall();
    return cancel != nullptr ? cancel(threadId, timeoutSeconds) : E_NOTIMPL;
}

// Wine's ntdll is recognised by its own export.
bool UnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace

CallCancelCalls PlatformCallCancelCalls() {
    return CallCancelCalls{CallCancellationWorks, CancelCall, CoEnableCallCancellation, CoDisableCallCancellation};
}

CallCancelCalls& CurrentCallCancelCalls() {
    static CallCancelCalls calls = PlatformCallCancelCalls();
    return calls;
}

bool CallCancellationWorks() { return PlatformCancelCall() != nullptr && !UnderWine(); }

CallDeadline::CallDeadline() : threadId_(GetCurrentThreadId()) {
    if (!CurrentCallCancelCalls().cancellationWorks()) return;
    // Counted per thread: the watcher's own lasting permission is left as
    // it is when this one is withdrawn.
    if (FAILED(CurrentCallCancelCalls().enableCancellation(nullptr))) return;
    timer_ = CreateThreadpoolTimer(Expired, this, nullptr);
    if (timer_ == nullptr) CurrentCallCancelCalls().disableCancellation(nullptr);
}

CallDeadline::~CallDeadline() {
    if (timer_ == nullptr) return;
    Disarm();
    CloseThreadpoolTimer(timer_);
    CurrentCallCancelCalls().disableCancellation(nullptr);
}

void CallDeadline::Arm() {
    if (timer_ == nullptr) return;
    FILETIME due{};
    ULARGE_INTEGER relative{};
    relative.QuadPart = static_cast<ULONGLONG>(-static_cast<LONGLONG>(kCallDeadlineMs) * 10000);
    due.dwLowDateTime = relative.LowPart;
    due.dwHighDateTime = relative.HighPart;
    SetThreadpoolTimer(timer_, &due, 0, 0);
}

void CallDeadline::Disarm() {
    if (timer_ == nullptr) return;
    SetThreadpoolTimer(timer_, nullptr, 0, 0);
    WaitForThreadpoolTimerCallbacks(timer_, TRUE);
}

void CALLBACK CallDeadline::Expired(PTP_CALLBACK_INSTANCE, void* context, PTP_TIMER) {
    const auto* deadline = static_cast<const CallDeadline*>(context);
    // No wait for the server's consent (0 seconds): the call returns
    // RPC_E_CALL_CANCELED at once.
    CurrentCallCancelCalls().cancelCall(deadline->threadId_, 0);
}
