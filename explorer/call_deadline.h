#pragma once
// A deadline on each call an activation makes into another process.
//
// A call into an Explorer window is answered by that window's own thread;
// a window stuck on an unreachable network share does not answer for
// minutes, and the activation, on the watcher's thread or the main
// window's, would wait with it. So each such call runs under a deadline:
// when it is still outstanding after kCallDeadlineMs, it is cancelled, and
// it fails like any other failed call.

#include <windows.h>

#include <utility>

// How cancellation is reached, in one table so that a test can stand in
// for a platform whose cancellation works (Wine's does not). Production
// code never changes it. A thread allows its own calls to be cancelled
// (enable and disable in nested pairs); cancelCall is refused for a thread
// that has not.
struct CallCancelCalls {
    bool (*cancellationWorks)();
    // As CoCancelCall: the second argument is how long, in seconds (not
    // milliseconds), the call waits for the server to agree; 0 cancels at
    // once.
    HRESULT(WINAPI* cancelCall)(DWORD threadId, ULONG timeoutSeconds);
    HRESULT(WINAPI* enableCancellation)(void* reserved);
    HRESULT(WINAPI* disableCancellation)(void* reserved);
};

// The table in use; the real functions unless a test replaced them.
CallCancelCalls& CurrentCallCancelCalls();
// The real functions: CallCancellationWorks, ole32's CoCancelCall,
// CoEnableCallCancellation and CoDisableCallCancellation.
CallCancelCalls PlatformCallCancelCalls();

// True when ole32 exports CoCancelCall and the process is not under Wine,
// whose CoCancelCall (Wine 8) is a stub that aborts the process.
bool CallCancellationWorks();

constexpr DWORD kCallDeadlineMs = 2000;

// The deadline of one activation, on the thread that runs it. Lives as
// long as the activation: it allows the thread's calls to be cancelled
// (call cancellation slows every call a thread makes, so it is allowed
// only meanwhile) and keeps one threadpool timer, which Bounded arms
// around each call. Where cancellation does not work, it does nothing.
class CallDeadline {
public:
    CallDeadline();
    ~CallDeadline();
    CallDeadline(const CallDeadline&) = delete;
    CallDeadline& operator=(const CallDeadline&) = delete;

    // Runs call() under the deadline and returns what it returns.
    template <typename Call>
    auto Bounded(Call&& call) {
        Arm();
        auto result = std::forward<Call>(call)();
        Disarm();
        return result;
    }

private:
    void Arm();
    void Disarm();
    static void CALLBACK Expired(PTP_CALLBACK_INSTANCE, void* context, PTP_TIMER);

    DWORD threadId_;
    PTP_TIMER timer_ = nullptr;
};
