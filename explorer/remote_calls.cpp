// The calls into one window's objects under the deadline (see remote_calls.h).

#include "explorer/remote_calls.h"

bool IsLostObject(HRESULT hr) {
    return hr == RPC_E_CALL_CANCELED || hr == RPC_E_DISCONNECTED || hr == RPC_E_SERVER_DIED ||
           hr == RPC_E_SERVER_DIED_DNE;
}

RemoteCalls::~RemoteCalls() {
    while (!held_.empty() && !lost_) {
        IUnknown* reference = held_.back();
        held_.pop_back();
        Run([&] { return reference->Release(), true; });
    }
}
