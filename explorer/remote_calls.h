#pragma once
// The calls an activation makes into one Explorer window's objects (or into
// the shell's window collection), each under the activation's deadline
// (call_deadline.h), and the references obtained from them.
//
// A call that was cancelled, that ran into the deadline, or that found the
// process gone loses the objects: a cancelled call leaves their thread
// hung, and releasing the last reference to a proxy is itself a call, which
// waits for that thread as long as it hangs. So from then on nothing more
// is called on them, and the references still held are abandoned instead
// of released: one small leak per hung window, against a search that would
// stall with it. Otherwise they are released when the calls end, the last
// obtained first, each release under the deadline too.

#include <windows.h>
#include <unknwn.h>

#include <type_traits>
#include <utility>
#include <vector>

#include "explorer/call_deadline.h"

// The answers of a call whose object's thread hangs or whose process is gone.
bool IsLostObject(HRESULT hr);

class RemoteCalls {
public:
    explicit RemoteCalls(CallDeadline& deadline) : deadline_(deadline) {}
    ~RemoteCalls();
    RemoteCalls(const RemoteCalls&) = delete;
    RemoteCalls& operator=(const RemoteCalls&) = delete;

    // Runs call (one call into the objects) unless they are lost; a lost
    // object answers RPC_E_CALL_CANCELED, or false.
    template <typename Call>
    auto Run(Call&& call) {
        using Result = decltype(call());
        constexpr bool kHresult = std::is_same_v<Result, HRESULT>;
        if (lost_) {
            if constexpr (kHresult) return Result{RPC_E_CALL_CANCELED};
            else return Result{};
        }
        const ULONGLONG start = GetTickCount64();
        Result result = deadline_.Bounded(std::forward<Call>(call));
        if (GetTickCount64() - start >= kCallDeadlineMs) lost_ = true;
        if constexpr (kHresult) lost_ = lost_ || IsLostObject(result);
        return result;
    }

    // The reference that get obtains (an HRESULT call that fills its
    // out-pointer), held until the calls end; null when the call fails.
    template <typename T, typename Get>
    T* Obtain(Get&& get) {
        T* reference = nullptr;
        const HRESULT hr = Run([&] { return get(&reference); });
        Hold(reference);
        return SUCCEEDED(hr) ? reference : nullptr;
    }

    // Takes over a reference into these objects that another call obtained.
    void Hold(IUnknown* reference) {
        if (reference) held_.push_back(reference);
    }

    bool Lost() const { return lost_; }

private:
    CallDeadline& deadline_;
    bool lost_ = false;
    std::vector<IUnknown*> held_;
};
