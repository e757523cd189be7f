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
//   then renews the notification. It reads stopEvent and watchEntries and
//   writes nothing but the changeHandle of the entry it is handling: the new
//   handle when it arms the folder anew, or null when it had to give the
//   folder up.
//
// No lock and no atomic is needed, because the two threads never touch the
// entries at the same time: StartWatching fills them completely before
// CreateThread (which orders those writes before anything the new thread
// does), and StopWatching signals the event and joins the thread before it
// reads or frees any of them (the thread's end orders the worker's writes
// before the join returns). In between, the main thread leaves the entries
// alone; it may change AppState.folders, which the worker never reads.
//
// A folder that can be neither renewed nor armed anew (deleted, or on a
// drive that went away) is released and dropped from the worker's wait; the
// other folders go on being watched. The worker ends on its own only when no
// folder is left to wait on or the wait itself fails; StopWatching then
// finds a finished thread and releases the rest.

#include "watch/change_watcher.h"

#include <objbase.h>

#include <cstddef>
#include <vector>

#include "app/app_state.h"
#include "explorer/activate.h"
#include "explorer/folder_identity.h"

// The stop event and every folder must fit in one wait.
static_assert(MAX_WATCHED_FOLDERS + 1 <= MAXIMUM_WAIT_OBJECTS);

namespace {

// FindFirstChangeNotificationW reports failure as INVALID_HANDLE_VALUE, but
// a null handle is never usable either.
bool IsValidChangeHandle(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

// A notification over the folder and everything below it; null on failure.
// A folder path of MAX_PATH characters or more (the picker returns them)
// goes to the kernel in extended form: without long-path support the plain
// form fails, and the folder would be listed but never watched.
HANDLE ArmFolder(const std::wstring& path) {
    const std::wstring kernelPath = ExtendedLengthPath(path);
    HANDLE handle = FindFirstChangeNotificationW(kernelPath.c_str(), TRUE, WATCH_NOTIFY_FILTER);
    return IsValidChangeHandle(handle) ? handle : nullptr;
}

// The worker's own apartment, for the shell objects the activation creates.
class ThreadApartment {
public:
    ThreadApartment() : initialized_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ThreadApartment() {
        if (initialized_) CoUninitialize();
    }
    ThreadApartment(const ThreadApartment&) = delete;
    ThreadApartment& operator=(const ThreadApartment&) = delete;

private:
    bool initialized_;
};

// After an activation: renews the entry's notification, or arms its folder
// anew when renewing fails. False when neither works; the entry's handle has
// then been released and set to null, so StopWatching skips it.
bool KeepWatching(WatchEntry& entry) {
    if (FindNextChangeNotification(entry.changeHandle)) return true;
    HANDLE fresh = ArmFolder(entry.folderPath);
    FindCloseChangeNotification(entry.changeHandle);
    entry.changeHandle = fresh;
    return fresh != nullptr;
}

}  // namespace

/*
 * Worker procedure. The wait array holds the stop event at position 0, so a
 * stop is never held up by pending changes, and the armed notifications
 * behind it in entry order, so that of several pending folders the one
 * nearest the front of the list is handled first (the wait reports the
 * lowest signalled position). waitEntry maps each position from 1 on to its
 * entry, since positions of folders given up are removed from the wait while
 * the entry list itself keeps its size.
 */
DWORD WINAPI WatcherThread(LPVOID) {
    if (AppState.stopEvent == nullptr || AppState.watchEntries.empty()) return 0;

    std::vector<WatchEntry>& entries = AppState.watchEntries;
    std::vector<HANDLE> waitHandles{AppState.stopEvent};
    std::vector<std::size_t> waitEntry{0};  // position 0 is the stop event, not an entry
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!IsValidChangeHandle(entries[i].changeHandle)) continue;
        waitHandles.push_back(entries[i].changeHandle);
        waitEntry.push_back(i);
    }

    ThreadApartment apartment;
    while (waitHandles.size() > 1) {
        DWORD result = WaitForMultipleObjects(static_cast<DWORD>(waitHandles.size()), waitHandles.data(),
                                              FALSE, INFINITE);
        if (result == WAIT_OBJECT_0 || result == WAIT_FAILED) break;
        std::size_t position = result - WAIT_OBJECT_0;
        if (position == 0 || position >= waitHandles.size()) continue;  // abandoned or time-out: not ours

        WatchEntry& entry = entries[waitEntry[position]];
        // The activation comes first; changes meanwhile stay pending on the
        // handle and satisfy the wait straight after the renewal.
        ActivateOrOpenFolder(entry.folderPath);
        if (KeepWatching(entry)) {
            waitHandles[position] = entry.changeHandle;
        } else {
            waitHandles.erase(waitHandles.begin() + static_cast<std::ptrdiff_t>(position));
            waitEntry.erase(waitEntry.begin() + static_cast<std::ptrdiff_t>(position));
        }
    }
    return 0;
}

/*
 * Arms every folder of the list, front to back, and starts a worker if at
 * least one could be armed. A folder that cannot be armed now (missing, no
 * access, unreachable) is left out until the next start.
 */
void StartWatching() {
    StopWatching();
    if (AppState.folders.empty()) return;

    AppState.stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (AppState.stopEvent == nullptr) return;

    for (const std::wstring& folder : AppState.folders) {
        if (folder.empty()) continue;
        HANDLE handle = ArmFolder(folder);
        if (handle == nullptr) continue;
        AppState.watchEntries.push_back(WatchEntry{handle, folder});
    }
    if (AppState.watchEntries.empty()) {
        CloseHandle(AppState.stopEvent);
        AppState.stopEvent = nullptr;
        return;
    }

    // Everything the worker reads is in place before it starts.
    AppState.watcherThread = CreateThread(nullptr, 0, WatcherThread, nullptr, 0, nullptr);
    if (AppState.watcherThread == nullptr) StopWatching();
}

/*
 * Ends the worker and releases everything, in an order the worker relies
 * on: signal, then wait for the thread (through an activation still under
 * way), and only then close the handles its wait array holds.
 */
void StopWatching() {
    if (AppState.stopEvent != nullptr) SetEvent(AppState.stopEvent);
    if (AppState.watcherThread != nullptr) {
        WaitForSingleObject(AppState.watcherThread, INFINITE);
        CloseHandle(AppState.watcherThread);
        AppState.watcherThread = nullptr;
    }
    if (AppState.stopEvent != nullptr) {
        CloseHandle(AppState.stopEvent);
        AppState.stopEvent = nullptr;
    }
    for (const WatchEntry& entry : AppState.watchEntries) {
        if (IsValidChangeHandle(entry.changeHandle)) FindCloseChangeNotification(entry.changeHandle);
    }
    AppState.watchEntries.clear();
}
