#include "activation_recorder.h"

#include <gtest/gtest.h>

#include <oleidl.h>
#include <wrl/client.h>

#include <chrono>
#include <utility>

#include "base/win_raii.h"
#include "explorer/activate.h"

namespace {

// The platform's slim lock and condition variable, not std::mutex: this
// runtime's mutex makes an event the first time two threads contend for it
// and keeps it, and the watcher tests count the process's handles.
SRWLOCK lock = SRWLOCK_INIT;
CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;


void NotifyAll() { WakeAllConditionVariable(&changed); }

// With the lock held: waits until done() or the timeout, and says which.
template <typename Done>
bool WaitWhileLocked(Done done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        SleepConditionVariableSRW(&changed, &lock, static_cast<DWORD>(left.count()), 0);
    }
    return true;
}
std::vector<RecordedActivation> calls;
std::size_t finished = 0;
std::wstring holdPath;
bool holding = false;  // a hold is set for holdPath
bool held = false;     // a call is waiting in the hold
bool released = false;
std::wstring waitPath;
DWORD waitMs = 0;  // a wait is set for waitPath
std::wstring callIntoPath;
IStream* callIntoStream = nullptr;
bool byFocusRule = false;
HWND heldWindow = nullptr;

APTTYPE CurrentApartment() {
    APTTYPE type = APTTYPE_CURRENT;
    APTTYPEQUALIFIER qualifier{};
    if (FAILED(CoGetApartmentType(&type, &qualifier))) return APTTYPE_CURRENT;
    return type;
}

}  // namespace

ActivationResult ActivateOrOpenFolder(const std::wstring& path, HANDLE stopEvent, const std::wstring& item) {
    RecordedActivation call{path, GetCurrentThreadId(), CurrentApartment(), std::chrono::steady_clock::now(), item};
    IStream* stream = nullptr;
    DWORD wait = 0;
    {
        ExclusiveLock guard(lock);
        calls.push_back(call);
        if (callIntoStream && path == callIntoPath) stream = std::exchange(callIntoStream, nullptr);
        if (path == waitPath) wait = std::exchange(waitMs, 0);
        NotifyAll();
    }
    if (wait != 0 && stopEvent != nullptr) WaitForSingleObject(stopEvent, wait);
    if (wait != 0 && stopEvent == nullptr) Sleep(wait);
    if (stream) {
        Microsoft::WRL::ComPtr<IOleWindow> window;
        if (SUCCEEDED(CoGetInterfaceAndReleaseStream(stream, IID_PPV_ARGS(&window)))) {
            HWND handle = nullptr;
            // As the real activation: a window whose call was cancelled
            // still hangs, and is not even released.
            if (window->GetWindow(&handle) == RPC_E_CALL_CANCELED) window.Detach();
        }
    }
    ExclusiveLock guard(lock);
    if (holding && path == holdPath) {
        holding = false;
        held = true;
        NotifyAll();
        // Never let go, it fails the test instead of hanging the worker.
        if (!WaitWhileLocked([] { return released; }, std::chrono::seconds(20))) {
            ADD_FAILURE() << "the held activation was never released";
        }
        held = false;
    }
    ++finished;
    NotifyAll();
    // The user's own requests (no stop event) are never held back.
    if (!byFocusRule || stopEvent == nullptr) return {};
    const FocusRule rule = FocusRuleForChange();
    if (rule == FocusRule::Take) return {};
    return ActivationResult{true, rule == FocusRule::ShowNothing, heldWindow};
}

// The double-click's activation, recorded like the watcher's.
void ActivateOrOpenFolderForUser(const std::wstring& path, const std::wstring& item) {
    ActivateOrOpenFolder(path, nullptr, item);
}

// The watcher never calls it; defined so the declaration has a body here.
bool ActivateExistingWindow(const std::wstring&, FocusRule, HANDLE) { return false; }

namespace recorder {

void Reset() {
    ExclusiveLock guard(lock);
    calls.clear();
    finished = 0;
    holdPath.clear();
    holding = held = released = false;
    waitMs = 0;
    if (callIntoStream) callIntoStream->Release();
    callIntoStream = nullptr;
    byFocusRule = false;
    heldWindow = nullptr;
}

void AnswerByFocusRule(HWND window) {
    ExclusiveLock guard(lock);
    byFocusRule = true;
    heldWindow = window;
}

void HoldNextActivationOf(const std::wstring& path) {
    ExclusiveLock guard(lock);
    holdPath = path;
    holding = true;
    held = released = false;
}

bool WaitUntilHeld(std::chrono::milliseconds timeout) {
    ExclusiveLock guard(lock);
    return WaitWhileLocked([] { return held; }, timeout);
}

void Release() {
    ExclusiveLock guard(lock);
    released = true;
    NotifyAll();
}

void WaitInNextActivationOf(const std::wstring& path, std::chrono::milliseconds timeout) {
    ExclusiveLock guard(lock);
    waitPath = path;
    waitMs = static_cast<DWORD>(timeout.count());
}

void CallIntoNextActivationOf(const std::wstring& path, IStream* stream) {
    ExclusiveLock guard(lock);
    callIntoPath = path;
    callIntoStream = stream;
}

std::vector<RecordedActivation> Calls() {
    ExclusiveLock guard(lock);
    return calls;
}

std::vector<std::wstring> Paths() {
    std::vector<std::wstring> paths;
    for (const RecordedActivation& call : Calls()) paths.push_back(call.path);
    return paths;
}

std::size_t Finished() {
    ExclusiveLock guard(lock);
    return finished;
}

bool WaitForCalls(std::size_t count, std::chrono::milliseconds timeout) {
    ExclusiveLock guard(lock);
    return WaitWhileLocked([count] { return calls.size() >= count; }, timeout);
}

bool WaitForQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    ExclusiveLock guard(lock);
    for (;;) {
        std::size_t seen = calls.size();
        if (!WaitWhileLocked([seen] { return calls.size() != seen; }, quiet)) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
    }
}

}  // namespace recorder
