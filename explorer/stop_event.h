#pragma once
// The watcher's stop event, as the watcher and the activation see it: once
// it is set, a worker must not go on acting for a list that has changed
// (its folders may be on a volume being ejected). Null when there is no
// stop (the user's own request). An event that can no longer be waited on
// counts as set: the safe answer is to stop.

#include <windows.h>

inline bool IsStopSet(HANDLE stopEvent) {
    return stopEvent != nullptr && WaitForSingleObject(stopEvent, 0) != WAIT_TIMEOUT;
}

// Waits milliseconds, or less when stopEvent is set meanwhile; true when
// it is set. Without an event, a plain sleep.
inline bool WaitUnlessStopped(HANDLE stopEvent, DWORD milliseconds) {
    if (stopEvent == nullptr) {
        Sleep(milliseconds);
        return false;
    }
    return WaitForSingleObject(stopEvent, milliseconds) != WAIT_TIMEOUT;
}
