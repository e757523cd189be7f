#pragma once
// The watcher's stop event as the activation sees it: once it is set, a
// worker left behind must not go on acting for a list that has changed.
// Null when the activation has no stop (the user's own request).

#include <windows.h>

inline bool IsStopped(HANDLE stopEvent) {
    return stopEvent != nullptr && WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0;
}

// Waits milliseconds, or less when stopEvent is set meanwhile; true when
// it is set. Without an event, a plain sleep.
inline bool WaitUnlessStopped(HANDLE stopEvent, DWORD milliseconds) {
    if (stopEvent == nullptr) {
        Sleep(milliseconds);
        return false;
    }
    return WaitForSingleObject(stopEvent, milliseconds) == WAIT_OBJECT_0;
}
