// The calls into one window's objects under the deadline (see remote_calls.h).

#include "explorer/remote_calls.h"

bool IsLostObject(HRESULT hr) {
    return hr == RPC_E_CALL_CANCELED || hr == RPC_E_DISCONNECTED || hr == RPC_E_SERVER_DIED ||
           hr == RPC_E_SERVER_DIED_DNE;
}

// Once the objects are lost (before or during these releases), Run calls
// nothing: the references left are abandoned.
RemoteCalls::~RemoteCalls() {
    for (auto reference = held_.rbegin(); reference != held_.rend(); ++reference) {
        Run([&] { return (*reference)->Release(), true; });
    }
}
