// The change watcher: one armed change notification per watched folder and
// one worker thread that waits on all of them.
//
// Two threads meet here.
//
// - The main thread owns AppState. It is the only caller of StartWatching and
//   StopWatching, and the only code that creates or frees the stop event, the
//   worker's thread handle and the list of WatchEntry records.
// - The worker thread (WatcherThread) blocks in one WaitForMultipleObjects
//   over the stop event and every entry's notification. When a folder is
//   signalled it calls ActivateOrOpenFolder with that entry's own copy of the
//   path, on this thread and in this thread's own single-threaded apartment,
//   then renews the notification. It reads the stop event and the entry
//   records that StartWatching hands it at its creation (never AppState
//   itself) and writes nothing but the changeHandle of the entry it is
//   handling: the new handle when it arms the folder anew, or null when it
//   had to give the folder up.
//
// No lock and no atomic is needed, because the two threads never touch the
// entries at the same time: StartWatching fills them completely before
// CreateThread (which orders those writes before anything the new thread
// does), and StopWatching signals the event and joins the thread before it
// reads or frees any of them (the thread's end orders the worker's writes
// before the join returns). In between, the main thread leaves the entries
// alone; it may change AppState.folders, which the worker never reads.
//
// The join has a limit. An activation calls into Explorer, and one hung
// Explorer window (one browsing an unreachable network share, say) would
// keep the worker, and with it the main thread's add, delete or exit,
// waiting for ever. So the worker allows its calls to be cancelled,
// StopWatching cancels the outstanding one before it waits, and it waits
// about a second. A worker still busy after that is left behind: the event,
// the thread handle and the entry records (the vector's buffer, which the
// worker addresses directly, moves with the vector and stays where it is)
// go into a list of leftovers that only the main thread touches. A later
// StopWatching releases a leftover once its thread has ended, which again
// orders the worker's last writes before the release. The main thread is
// then free to arm a fresh set of entries; the worker left behind sees its
// own stop event when its call finally returns, and ends.
//
// A folder that is gone after its activation (deleted, or on a drive that
// went away), or whose notification can be neither renewed nor armed anew,
// is released and dropped from the worker's wait; the other folders go on
// being watched. The worker ends on its own only when no folder is left to
// wait on or the wait itself fails; StopWatching then finds a finished
// thread and releases the rest.
//
// Arming a folder on the network, and asking whether it still exists, take
// at most about a second each (folder_access.h): an unreachable share must
// not keep the window's thread, which arms, from answering.

#include "watch/change_watcher.h"

#include <objbase.h>

#include <cstddef>
#include <memory>
#include <vector>

#include "base/win_raii.h"
#include "explorer/activate.h"
#include "explorer/call_deadline.h"
#include "explorer/folder_access.h"
#include "state/app_state.h"
#include "watch/drive_events.h"

// The stop event and every folder must fit in one wait.
static_assert(MAX_WATCHED_FOLDERS + 1 <= MAXIMUM_WAIT_OBJECTS);

namespace {

// FindFirstChangeNotificationW reports failure as INVALID_HANDLE_VALUE, but
// a null handle is never usable either.
bool IsValidChangeHandle(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

// A notification over the folder and everything below it; null when the
// folder cannot be armed now. On the network this takes at most about a
// second, however long the share keeps the kernel waiting.
HANDLE ArmFolder(const std::wstring& path) {
    return ArmChangeNotification(path, WATCH_NOTIFY_FILTER);
}

constexpr DWORD kStopWaitMs = 1000;

// What a worker uses of AppState, handed to it at its creation: the records
// themselves rather than AppState's vector, whose buffer moves to the
// leftovers with the vector if the worker is left behind, while AppState
// takes the next worker's entries. The worker deletes it.
struct WorkerStart {
    WatchEntry* entries;
    std::size_t entryCount;
    HANDLE stopEvent;
};

// A worker that did not end within kStopWaitMs, with everything it may
// still read or write.
struct LeftoverWorker {
    UniqueHandle thread;
    UniqueHandle stopEvent;
    std::vector<WatchEntry> entries;
};

// Never destroyed: at the program's end a worker may still be stuck in a
// call, and it must find its entries where it left them until the process
// is torn down.
std::vector<LeftoverWorker>& LeftoverWorkers() {
    static auto* leftovers = new std::vector<LeftoverWorker>;
    return *leftovers;
}

void CloseEntries(const std::vector<WatchEntry>& entries) {
    for (const WatchEntry& entry : entries) {
        if (IsValidChangeHandle(entry.changeHandle)) FindCloseChangeNotification(entry.changeHandle);
    }
}

// Releases the leftovers whose thread has ended.
void ReleaseFinishedLeftovers() {
    std::vector<LeftoverWorker>& leftovers = LeftoverWorkers();
    for (auto it = leftovers.begin(); it != leftovers.end();) {
        if (WaitForSingleObject(it->thread.get(), 0) != WAIT_OBJECT_0) {
            ++it;
            continue;
        }
        CloseEntries(it->entries);
        it = leftovers.erase(it);
    }
}

// Asks the worker's outstanding call into another process, if any, to
// return at once (RPC_E_CALL_CANCELED); the activation then goes on as
// after any failed call.
void CancelWorkerCall(HANDLE thread) {
    const CallCancelCalls& calls = CurrentCallCancelCalls();
    if (!calls.cancellationWorks()) return;
    const DWORD threadId = GetThreadId(thread);
    if (threadId != 0) calls.cancelCall(threadId, 0);
}

// After an activation: renews the entry's notification, or arms its folder
// anew when renewing fails. False when neither works, or when the folder is
// gone; the entry's handle has then been released and set to null, so
// StopWatching skips it.
//
// A deleted folder is given up even where renewing still works: on Windows
// a folder deleted while a notification holds it open can linger, pending
// deletion, and its notification then signals again and again, each signal
// an activation, for as long as it is watched.
bool KeepWatching(WatchEntry& entry) {
    HANDLE fresh = nullptr;
    if (IsExistingDirectory(entry.folderPath)) {
        if (FindNextChangeNotification(entry.changeHandle)) return true;
        fresh = ArmFolder(entry.folderPath);
    }
    FindCloseChangeNotification(entry.changeHandle);
    entry.changeHandle = fresh;
    return fresh != nullptr;
}

// Worker procedure. The wait array holds the stop event at position 0, so a
// stop is never held up by pending changes, and the armed notifications
// behind it in entry order, so that of several pending folders the one
// nearest the front of the list is handled first (the wait reports the
// lowest signalled position). waitEntry maps each position from 1 on to its
// entry, since positions of folders given up are removed from the wait while
// the entry list itself keeps its size.
DWORD WINAPI WatcherThread(LPVOID start) {
    const std::unique_ptr<WorkerStart> view(static_cast<WorkerStart*>(start));
    if (!view || view->stopEvent == nullptr || view->entryCount == 0) return 0;

    WatchEntry* const entries = view->entries;
    const std::size_t entryCount = view->entryCount;
    std::vector<HANDLE> waitHandles{view->stopEvent};
    std::vector<std::size_t> waitEntry{0};  // position 0 is the stop event, not an entry
    for (std::size_t i = 0; i < entryCount; ++i) {
        if (!IsValidChangeHandle(entries[i].changeHandle)) continue;
        waitHandles.push_back(entries[i].changeHandle);
        waitEntry.push_back(i);
    }

    // The worker's own apartment, for the shell objects the activation creates.
    const ComApartment apartment;
    // Lets StopWatching cancel a call into a hung Explorer window.
    CurrentCallCancelCalls().enableCancellation(nullptr);
    while (waitHandles.size() > 1) {
        DWORD result = WaitForMultipleObjects(static_cast<DWORD>(waitHandles.size()), waitHandles.data(),
                                              FALSE, INFINITE);
        if (result == WAIT_OBJECT_0 || result == WAIT_FAILED) break;
        std::size_t position = result - WAIT_OBJECT_0;
        if (position == 0 || position >= waitHandles.size()) continue;  // abandoned or time-out: not ours

        WatchEntry& entry = entries[waitEntry[position]];
        // The activation comes first; changes meanwhile stay pending on the
        // handle and satisfy the wait straight after the renewal.
        ActivateOrOpenFolder(entry.folderPath, view->stopEvent);
        if (KeepWatching(entry)) {
            waitHandles[position] = entry.changeHandle;
        } else {
            waitHandles.erase(waitHandles.begin() + static_cast<std::ptrdiff_t>(position));
            waitEntry.erase(waitEntry.begin() + static_cast<std::ptrdiff_t>(position));
        }
    }
    return 0;
}

}  // namespace

// Arms every folder of the list, front to back, and starts a worker if at
// least one could be armed. A folder that cannot be armed now (missing, no
// access, unreachable) is left out until the next start.
void StartWatching() {
    StopWatching();
    if (AppState.folders.empty()) return;

    AppState.stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (AppState.stopEvent == nullptr) return;

    for (const std::wstring& folder : AppState.folders) {
        if (folder.empty() || IsOnVolumeBeingRemoved(folder)) continue;
        HANDLE handle = ArmFolder(folder);
        if (handle == nullptr) continue;
        AppState.watchEntries.push_back(WatchEntry{handle, folder});
        RegisterForRemoval(folder);
    }
    if (AppState.watchEntries.empty()) {
        CloseHandle(AppState.stopEvent);
        AppState.stopEvent = nullptr;
        return;
    }

    // Everything the worker reads is in place before it starts.
    auto start = std::make_unique<WorkerStart>(
        WorkerStart{AppState.watchEntries.data(), AppState.watchEntries.size(), AppState.stopEvent});
    AppState.watcherThread = CreateThread(nullptr, 0, WatcherThread, start.get(), 0, nullptr);
    if (AppState.watcherThread == nullptr) {
        StopWatching();
        return;
    }
    start.release();  // the worker's now
}

// Ends the worker and releases everything, in an order the worker relies
// on: signal, cancel its call into Explorer if it is in one, then wait for
// the thread (through an activation still under way, for about a second),
// and only then close the handles its wait array holds. A worker that is
// still busy by then is left behind with what it uses (see the overview).
void StopWatching() {
    ReleaseFinishedLeftovers();
    UnregisterArmedFolders();
    if (AppState.stopEvent != nullptr) SetEvent(AppState.stopEvent);
    if (AppState.watcherThread != nullptr) {
        CancelWorkerCall(AppState.watcherThread);
        if (WaitForSingleObject(AppState.watcherThread, kStopWaitMs) == WAIT_TIMEOUT) {
            LeftoverWorkers().push_back(LeftoverWorker{UniqueHandle(AppState.watcherThread),
                                                       UniqueHandle(AppState.stopEvent),
                                                       std::move(AppState.watchEntries)});
            AppState.watcherThread = nullptr;
            AppState.stopEvent = nullptr;
            AppState.watchEntries.clear();
            return;
        }
        CloseHandle(AppState.watcherThread);
        AppState.watcherThread = nullptr;
    }
    if (AppState.stopEvent != nullptr) {
        CloseHandle(AppState.stopEvent);
        AppState.stopEvent = nullptr;
    }
    CloseEntries(AppState.watchEntries);
    AppState.watchEntries.clear();
}
