#include "activation_recorder.h"

#include <oleidl.h>
#include <wrl/client.h>

#include <condition_variable>
#include <mutex>
#include <utility>

#include "explorer/activate.h"

namespace {

std::mutex lock;
std::condition_variable changed;
std::vector<RecordedActivation> calls;
std::size_t finished = 0;
std::wstring holdPath;
bool holding = false;  // a hold is set for holdPath
bool held = false;     // a call is waiting in the hold
bool released = false;
std::wstring callIntoPath;
IStream* callIntoStream = nullptr;

APTTYPE CurrentApartment() {
    APTTYPE type = APTTYPE_CURRENT;
    APTTYPEQUALIFIER qualifier{};
    if (FAILED(CoGetApartmentType(&type, &qualifier))) return APTTYPE_CURRENT;
    return type;
}

}  // namespace

void ActivateOrOpenFolder(const std::wstring& path) {
    RecordedActivation call{path, GetCurrentThreadId(), CurrentApartment(), std::chrono::steady_clock::now()};
    std::unique_lock<std::mutex> guard(lock);
    calls.push_back(call);
    if (callIntoStream && path == callIntoPath) {
        IStream* stream = std::exchange(callIntoStream, nullptr);
        guard.unlock();
        Microsoft::WRL::ComPtr<IOleWindow> window;
        if (SUCCEEDED(CoGetInterfaceAndReleaseStream(stream, IID_PPV_ARGS(&window)))) {
            HWND handle = nullptr;
            window->GetWindow(&handle);
        }
        guard.lock();
    }
    if (holding && path == holdPath) {
        holding = false;
        held = true;
        changed.notify_all();
        changed.wait(guard, [] { return released; });
        held = false;
    }
    ++finished;
    changed.notify_all();
}

// The watcher never calls it; defined so the declaration has a body here.
bool ActivateExistingWindow(const std::wstring&) { return false; }

namespace recorder {

void Reset() {
    std::lock_guard<std::mutex> guard(lock);
    calls.clear();
    finished = 0;
    holdPath.clear();
    holding = held = released = false;
    if (callIntoStream) callIntoStream->Release();
    callIntoStream = nullptr;
}

void HoldNextActivationOf(const std::wstring& path) {
    std::lock_guard<std::mutex> guard(lock);
    holdPath = path;
    holding = true;
    held = released = false;
}

bool WaitUntilHeld(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, timeout, [] { return held; });
}

void Release() {
    std::lock_guard<std::mutex> guard(lock);
    released = true;
    changed.notify_all();
}

void CallIntoNextActivationOf(const std::wstring& path, IStream* stream) {
    std::lock_guard<std::mutex> guard(lock);
    callIntoPath = path;
    callIntoStream = stream;
}

std::vector<RecordedActivation> Calls() {
    std::lock_guard<std::mutex> guard(lock);
    return calls;
}

std::vector<std::wstring> Paths() {
    std::vector<std::wstring> paths;
    for (const RecordedActivation& call : Calls()) paths.push_back(call.path);
    return paths;
}

std::size_t Finished() {
    std::lock_guard<std::mutex> guard(lock);
    return finished;
}

bool WaitForCalls(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, timeout, [count] { return calls.size() >= count; });
}

bool WaitForQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        std::size_t seen = calls.size();
        if (!changed.wait_for(guard, quiet, [seen] { return calls.size() != seen; })) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
    }
}

}  // namespace recorder
