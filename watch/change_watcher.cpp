// The change watcher: one read of its change records per watched folder
// (a change notification, without names, where the file system cannot name
// its changes) and one worker thread that waits on all of them.
//
// Each folder's directory handle has one overlapped ReadDirectoryChangesW
// outstanding, into the entry's own 64 KiB buffer, with the entry's own
// manual-reset event. The first read is issued on the main thread, before
// StartWatching returns, so that no change after it is missed: a read ends
// with the thread that issued it, and the main thread outlives every
// worker. After each completion the worker judges the names (noise wakes
// nobody; the item the wake-up was about is chosen, change_names.h),
// activates the folder once, and issues the next read. Every worker ends
// its reads (cancels them and waits for them) before it ends, so that a
// buffer never goes while the kernel may still write into it; the next
// worker issues the reads of folders it is handed anew.
//
// Two threads meet here.
//
// - The main thread owns AppState. It is the only caller of StartWatching and
//   StopWatching, and the only code that creates or frees the stop event, the
//   worker's thread handle and the list of WatchEntry records.
// - The worker thread (WatcherThread) blocks in one WaitForMultipleObjects
//   over the stop event and every entry's read (or notification). When a
//   folder is signalled it calls ActivateOrOpenFolder with that entry's own
//   copy of the path, on this thread and in this thread's own
//   single-threaded apartment, then renews the read. It reads the stop
//   event and the entry records that StartWatching hands it at its
//   creation (never AppState itself) and writes nothing but the read and
//   the changeHandle of the entry it is handling (the new handle when it
//   arms the folder anew, or null when it had to give the folder up), the
//   items the changes named (under a lock, in its fate) and, as it ends,
//   the changes it still holds back, into its fate.
//
// No lock is needed, because the two threads never touch the entries at the
// same time (with one exception, below): StartWatching fills them completely before
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
// about a second. A worker still busy after that is left behind, and from
// then on owns what it uses: the event and the entry records (the vector's
// buffer, which the worker addresses directly, moves with the vector and
// stays where it is) go into its WorkerFate, and AppState takes the next
// worker's. Which of the two threads closes the entries is settled by one
// exchange on the fate: the worker marks itself ended as it leaves, the
// main thread marks it left behind; whoever comes second knows the other's
// decision. A worker left behind finds its stop event set when its call
// returns, does nothing more (no renewal, no arming: its folders may be on
// a volume about to go), closes its notifications and ends. The exception:
// for an eject, the main thread closes the notifications on the leaving
// volume at once, even those of a worker it has left behind. Each entry's
// handle sits in a slot that either thread empties with one atomic
// exchange before it uses or closes the handle, so each is closed once,
// and a worker that finds its entry's slot empty after an activation
// treats the folder as given up.
//
// A folder that is gone after its activation (deleted, or on a drive that
// went away), or whose notification can be neither renewed nor armed anew,
// is released and dropped from the worker's wait; the other folders go on
// being watched. The worker ends on its own only when no folder is left to
// wait on or the wait itself fails; StopWatching then finds a finished
// thread and releases the rest. A folder given up is reported to the window
// (a posted message), which drops its device registration: a folder deleted
// on a FAT or exFAT stick lingers, pending deletion, while anything holds it.
//
// A change that comes while the user works is not shown then (nothing may
// take the focus from them, see foreground.cpp): the activation reloads the
// folder's window if it is not the user's, flashes its button and reports
// the change held back. The worker keeps, per folder, the latest held-back
// change (one slot, in the order the changes came) and nothing else, and
// asks the window to show a balloon about it. While any is held, its wait
// has a timeout reaching the moment the user would count as away; once they
// are, each held folder gets the whole activation, oldest first, so that the
// most recent change ends in front. With nothing held the wait has no
// timeout, and the idle program never wakes. A held change is dropped when
// the user brings its folder's window forward themselves (or clicks its
// balloon: the window thread sets a flag in the fate, read at the worker's
// next wake-up), when a later change of the folder replaces it, when the
// folder is given up, and at a stop. A restart for a new list or a drive
// hands the held changes of the folders that stay on to the next worker
// (the joined worker leaves them in its fate).
//
// Arming a folder on the network, and asking whether it still exists, take
// at most about a second each (folder_access.h): an unreachable share must
// not keep the window's thread, which arms, from answering.

#include "watch/change_watcher.h"

#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "base/win_raii.h"
#include "explorer/activate.h"
#include "explorer/call_deadline.h"
#include "explorer/folder_access.h"
#include "explorer/stop_event.h"
#include "state/app_state.h"
#include "watch/change_names.h"
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

// Where the program keeps its own files; changes there are noise.
std::wstring ownFiles;

std::optional<std::wstring> OwnFolderIn(const std::wstring& folder) {
    if (ownFiles.empty()) return std::nullopt;
    if (std::optional<std::wstring> below = PathBelow(folder, ownFiles)) return below;
    if (PathBelow(ownFiles, folder)) return std::wstring();
    return std::nullopt;
}

// Issues the next read of directory's change records into read. False when
// the file system refuses it (GetLastError says why).
bool StartRead(HANDLE directory, ChangeRead& read) {
    ResetEvent(read.done);
    read.overlapped = OVERLAPPED{};
    read.overlapped.hEvent = read.done;
    read.pending = CurrentFolderAccessCalls().readDirectoryChanges(directory, read.buffer, ChangeRead::kBufferBytes,
                                                                   TRUE, WATCH_NOTIFY_FILTER, nullptr,
                                                                   &read.overlapped, nullptr) != FALSE;
    return read.pending;
}

// The answers of a file system that cannot name its changes: its folders
// are watched with a change notification instead.
bool NamesAreRefused(DWORD error) {
    return error == ERROR_INVALID_FUNCTION || error == ERROR_INVALID_PARAMETER;
}

// Ends entry's outstanding read, if any: cancelled, when its handle is
// still there (one closed meanwhile has ended the read itself), and waited
// for, since the kernel writes into the buffer until the read is over.
// Only the thread that owns the read may call it.
void EndRead(WatchEntry& entry) {
    if (!entry.read || !entry.read->pending) return;
    const HANDLE handle = entry.changeHandle;
    if (IsValidChangeHandle(handle)) CancelIoEx(handle, &entry.read->overlapped);
    WaitForSingleObject(entry.read->done, INFINITE);
    entry.read->pending = false;
}

// The one way a watch's handle goes, whichever thread took it.
void CloseWatchHandle(const WatchEntry& entry, HANDLE handle) {
    if (!IsValidChangeHandle(handle)) return;
    if (entry.read) {
        UniqueHandle directory(handle);
    } else {
        UniqueChangeNotification notification(handle);
    }
}

// What the worker waits on for entry: its read's event, or its notification.
HANDLE WaitHandleOf(const WatchEntry& entry) {
    return entry.read ? entry.read->done : static_cast<HANDLE>(entry.changeHandle);
}

NameChange ChangeOf(DWORD action) {
    switch (action) {
    case FILE_ACTION_ADDED: return NameChange::Added;
    case FILE_ACTION_REMOVED: return NameChange::Removed;
    case FILE_ACTION_RENAMED_OLD_NAME: return NameChange::RenamedFrom;
    case FILE_ACTION_RENAMED_NEW_NAME: return NameChange::RenamedTo;
    default: return NameChange::Modified;
    }
}

// The records of entry's completed read; none when the names were lost
// (the buffer overflowed, or the read came back empty). False when the
// read was cancelled, which is no change.
bool TakeNames(WatchEntry& entry, std::vector<ChangedName>& names) {
    names.clear();
    ChangeRead& read = *entry.read;
    read.pending = false;
    DWORD bytes = 0;
    if (!GetOverlappedResult(entry.changeHandle, &read.overlapped, &bytes, FALSE)) {
        return GetLastError() != ERROR_OPERATION_ABORTED;
    }
    for (DWORD offset = 0; offset + sizeof(FILE_NOTIFY_INFORMATION) <= bytes;) {
        const auto* record = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(read.buffer + offset);
        const DWORD room = bytes - offset - static_cast<DWORD>(offsetof(FILE_NOTIFY_INFORMATION, FileName));
        const DWORD nameBytes = std::min<DWORD>(record->FileNameLength, room);
        names.push_back({ChangeOf(record->Action), std::wstring(record->FileName, nameBytes / sizeof(wchar_t))});
        if (record->NextEntryOffset == 0) break;
        offset += record->NextEntryOffset;
    }
    return true;
}

void CloseEntry(WatchEntry& entry) {
    EndRead(entry);
    CloseWatchHandle(entry, entry.changeHandle.Take());
}

void CloseEntries(std::vector<WatchEntry>& entries) {
    for (WatchEntry& entry : entries) CloseEntry(entry);
}

// Closes the notifications of the local folders on volume. Safe while a
// worker left behind still runs over entries: each handle is closed by
// whichever thread takes it out of its slot.
void CloseEntriesOnVolume(std::vector<WatchEntry>& entries, const std::wstring& volume) {
    for (WatchEntry& entry : entries) {
        if (!IsValidChangeHandle(entry.changeHandle) || entry.onNetwork) continue;
        // The read stays the worker's: closing the handle ends it.
        if (VolumeOf(entry.folderPath) == volume) CloseWatchHandle(entry, entry.changeHandle.Take());
    }
}

// A change held back while the user worked, for one entry.
struct HeldChange {
    std::size_t entry;
    // The folder's window when the change came, if one showed it in front.
    HWND window;
    // The item to select once it is shown; empty for none.
    std::wstring item;
};

// A held change as one worker hands it on to the next, by folder.
struct CarriedChange {
    std::wstring folder;
    HWND window;
    std::wstring item;
};

// Who closes a worker's handles: the main thread once it has joined the
// worker, or the worker itself once the main thread has left it behind.
// Shared by both; the last one to let go frees it.
struct WorkerFate {
    explicit WorkerFate(std::size_t entryCount)
        : dropHeld(new std::atomic<bool>[entryCount]()), items(entryCount) {}
    enum State { kRunning, kEnded, kLeftBehind };
    std::atomic<int> state{kRunning};
    // Filled by the main thread before it marks the worker left behind.
    std::vector<WatchEntry> entries;
    UniqueHandle stopEvent;
    // Per entry: the user has seen the folder, its held change goes. Set by
    // the main thread, taken by the worker.
    std::unique_ptr<std::atomic<bool>[]> dropHeld;
    // The changes the worker still held back when it ended, oldest first;
    // read by the main thread once it has joined the worker.
    std::vector<CarriedChange> held;
    // Per entry, the item its latest change named: written by the worker,
    // read by the main thread (for a balloon, a double-click), under lock.
    SRWLOCK itemsLock = SRWLOCK_INIT;
    std::vector<std::wstring> items;

    void SetItem(std::size_t entry, const std::wstring& item) {
        ExclusiveLock guard(itemsLock);
        items[entry] = item;
    }
    std::wstring Item(std::size_t entry) {
        ExclusiveLock guard(itemsLock);
        return entry < items.size() ? items[entry] : std::wstring();
    }
};

// What a worker uses of AppState, handed to it at its creation: the records
// themselves rather than AppState's vector, whose buffer moves into the
// fate with the vector if the worker is left behind, while AppState takes
// the next worker's entries. The worker deletes it.
struct WorkerStart {
    WatchEntry* entries;
    std::size_t entryCount;
    HANDLE stopEvent;
    std::shared_ptr<WorkerFate> fate;
    HWND reportTo;
    WPARAM serial;
    // Changes an earlier worker held back for these entries, oldest first.
    std::vector<HeldChange> held;
};

// The running worker's fate and serial number; main thread only.
std::shared_ptr<WorkerFate> currentFate;
WPARAM currentSerial = 0;
HWND reportWindow = nullptr;
// What the last joined worker still held back, oldest first: handed to the
// next worker for the folders it arms.
std::vector<CarriedChange> carried;

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
// anew when renewing fails. False when neither works, when the folder is
// gone, or when the main thread has taken the handle (its volume is
// leaving); the entry's handle has then been released and set to null, so
// StopWatching skips it. A share that gives no answer in time is kept: a
// slow answer says nothing about the folder.
//
// A deleted folder is given up even where renewing still works: on Windows
// a folder deleted while a notification holds it open can linger, pending
// deletion, and its notification then signals again and again, each signal
// an activation, for as long as it is watched.
//
// A folder keeps the kind of watch it was armed with: one whose file system
// no longer names its changes is given up (the main thread may read the
// kind at any time).
bool KeepWatching(WatchEntry& entry) {
    const HANDLE handle = entry.changeHandle.Take();
    if (!IsValidChangeHandle(handle)) return false;
    const FolderPresence presence = PresenceOf(entry.folderPath, entry.onNetwork);
    auto renewed = [&entry](HANDLE watch) {
        return entry.read ? StartRead(watch, *entry.read) : FindNextChangeNotification(watch) != FALSE;
    };
    if (presence != FolderPresence::Gone && renewed(handle)) {
        entry.changeHandle = handle;
        return true;
    }
    HANDLE fresh = nullptr;
    if (presence == FolderPresence::Present) {
        fresh = entry.read ? OpenWatchedFolder(entry.folderPath) : ArmFolder(entry.folderPath);
    }
    CloseWatchHandle(entry, handle);
    if (fresh && entry.read && !StartRead(fresh, *entry.read)) {
        CloseWatchHandle(entry, fresh);
        fresh = nullptr;
    }
    entry.changeHandle = fresh;
    return fresh != nullptr;
}

// The worker's held-back changes, oldest first, one per entry at most.
class HeldChanges {
public:
    HeldChanges(WatchEntry* entries, const WorkerStart& start)
        : entries_(entries), held_(start.held), balloonAt_(start.entryCount) {}

    bool Empty() const { return held_.empty(); }

    // After an activation for entry: a change it could not show replaces
    // the folder's earlier one at the end of the line; one it showed, or
    // that had nothing to show, clears it. True when the window should be
    // told, for a balloon.
    bool Update(std::size_t entry, const ActivationResult& result, const std::wstring& item) {
        Drop(entry);
        if (!result.heldBack) return false;
        held_.push_back(HeldChange{entry, result.window, item});
        if (result.quietly) return false;
        const ULONGLONG now = GetTickCount64();
        if (balloonAt_[entry] != 0 && now - balloonAt_[entry] < kHeldChangeBalloonIntervalMs) return false;
        balloonAt_[entry] = now;
        return true;
    }

    void Drop(std::size_t entry) {
        std::erase_if(held_, [entry](const HeldChange& change) { return change.entry == entry; });
    }

    // Drops what the user has seen: a folder whose window they brought
    // forward, or whose balloon they clicked.
    void DropSeen(WorkerFate& fate) {
        std::erase_if(held_, [&fate](const HeldChange& change) {
            const bool clicked = fate.dropHeld[change.entry].exchange(false);
            return clicked || IsUsersWindow(change.window);
        });
    }

    // Once the user is away: the whole activation for each held folder,
    // oldest first. One that is held back again (the user came back
    // meanwhile) stays, with those not reached yet. False after a stop.
    bool ShowAll(HANDLE stopEvent) {
        while (!held_.empty()) {
            if (IsStopSet(stopEvent)) return false;
            const HeldChange change = held_.front();
            const ActivationResult result =
                ActivateOrOpenFolder(entries_[change.entry].folderPath, stopEvent, change.item);
            if (result.heldBack) {
                held_.front().window = result.window;
                return true;
            }
            held_.erase(held_.begin());
        }
        return true;
    }

    std::vector<CarriedChange> Carried() const {
        std::vector<CarriedChange> carried;
        for (const HeldChange& change : held_) {
            carried.push_back({entries_[change.entry].folderPath, change.window, change.item});
        }
        return carried;
    }

private:
    WatchEntry* entries_;
    std::vector<HeldChange> held_;
    // When each entry's balloon was last asked for; 0: never.
    std::vector<ULONGLONG> balloonAt_;
};

// The worker's last act. Its reads end first: their buffers must outlive
// them. Left behind, it is the only one who can still close its handles;
// otherwise the main thread, which joins it, does (or hands them to the
// next worker, issuing their reads anew).
void EndWorker(WorkerFate& fate, WatchEntry* entries, std::size_t entryCount) {
    for (std::size_t i = 0; i < entryCount; ++i) EndRead(entries[i]);
    int expected = WorkerFate::kRunning;
    if (fate.state.compare_exchange_strong(expected, WorkerFate::kEnded)) return;
    CloseEntries(fate.entries);
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
        // Kept from the worker before, whose reads ended with it. One the
        // file system refuses now is given up.
        if (entries[i].read && !entries[i].read->pending && !StartRead(entries[i].changeHandle, *entries[i].read)) {
            CloseEntry(entries[i]);
            if (view->reportTo != nullptr) {
                PostMessageW(view->reportTo, WM_WATCH_FOLDER_GIVEN_UP, view->serial, static_cast<LPARAM>(i));
            }
            continue;
        }
        waitHandles.push_back(WaitHandleOf(entries[i]));
        waitEntry.push_back(i);
    }

    {
        // The worker's own apartment, for the shell objects the activation creates.
        const ComApartment apartment;
        // Lets StopWatching cancel a call into a hung Explorer window.
        CurrentCallCancelCalls().enableCancellation(nullptr);
        HeldChanges held(entries, *view);
        while (waitHandles.size() > 1) {
            if (!held.Empty()) {
                held.DropSeen(*view->fate);
                if (!held.Empty() && FocusRuleForChange() == FocusRule::Take && !held.ShowAll(view->stopEvent)) break;
            }
            const DWORD timeout = held.Empty() ? INFINITE : HeldChangeWaitMs();
            DWORD result = WaitForMultipleObjects(static_cast<DWORD>(waitHandles.size()), waitHandles.data(),
                                                  FALSE, timeout);
            if (result == WAIT_OBJECT_0 || result == WAIT_FAILED) break;
            std::size_t position = result - WAIT_OBJECT_0;
            if (position == 0 || position >= waitHandles.size()) continue;  // time-out, or abandoned: not ours

            const std::size_t index = waitEntry[position];
            WatchEntry& entry = entries[index];
            // The activation comes first; changes meanwhile wait for the next
            // read and satisfy the wait straight after it is issued. One
            // activation however many records the wake-up carries, none
            // when they are all noise.
            std::vector<ChangedName> names;
            const bool changed = !entry.read || TakeNames(entry, names);
            WakeUpJudgement judged = JudgeWakeUp(names, entry.ownFolder);
            // A short (8.3) name becomes the long one. Only a name that may
            // be short is looked up: finding a name's long form reads the
            // folder, which would cost every wake-up a pass over it.
            if (judged.item.find(L'~') != std::wstring::npos) {
                judged.item = ChildItemOf(entry.folderPath, judged.item, entry.onNetwork);
            }
            if (changed && !judged.quiet) {
                view->fate->SetItem(index, judged.item);
                const ActivationResult shown = ActivateOrOpenFolder(entry.folderPath, view->stopEvent, judged.item);
                // Held back even when a stop has come since: a restart hands it on.
                if (held.Update(index, shown, judged.item) && view->reportTo != nullptr) {
                    PostMessageW(view->reportTo, WM_WATCH_CHANGE_HELD, view->serial, static_cast<LPARAM>(index));
                }
            }
            // Stopped meanwhile: the folder may be on a volume that is being
            // ejected, where renewing or arming it again would refuse the eject.
            if (IsStopSet(view->stopEvent)) break;
            if (KeepWatching(entry)) {
                waitHandles[position] = WaitHandleOf(entry);
                continue;
            }
            held.Drop(index);
            waitHandles.erase(waitHandles.begin() + static_cast<std::ptrdiff_t>(position));
            waitEntry.erase(waitEntry.begin() + static_cast<std::ptrdiff_t>(position));
            if (view->reportTo != nullptr) {
                PostMessageW(view->reportTo, WM_WATCH_FOLDER_GIVEN_UP, view->serial, static_cast<LPARAM>(index));
            }
        }
        // Left for the main thread, which reads it only once it has joined
        // this thread; a worker left behind hands on nothing.
        view->fate->held = held.Carried();
    }
    EndWorker(*view->fate, entries, entryCount);
    return 0;
}

// The changes the last worker held back, in its order, each for one armed
// entry of its folder; those of folders no longer armed are dropped.
// Forgets them: they are the next worker's now.
std::vector<HeldChange> CarriedOn() {
    std::vector<HeldChange> held;
    for (const CarriedChange& change : carried) {
        for (std::size_t i = 0; i < AppState.watchEntries.size(); ++i) {
            const WatchEntry& entry = AppState.watchEntries[i];
            if (entry.folderPath != change.folder || !IsValidChangeHandle(entry.changeHandle)) continue;
            if (std::any_of(held.begin(), held.end(), [i](const HeldChange& taken) { return taken.entry == i; })) {
                continue;
            }
            held.push_back(HeldChange{i, change.window, change.item});
            break;
        }
    }
    carried.clear();
    return held;
}

// Starts a worker over AppState.watchEntries as they are, if any is armed.
void StartWorker() {
    std::vector<HeldChange> held = CarriedOn();
    const bool anyArmed = std::any_of(AppState.watchEntries.begin(), AppState.watchEntries.end(),
                                      [](const WatchEntry& entry) { return IsValidChangeHandle(entry.changeHandle); });
    if (!anyArmed) return;
    AppState.stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (AppState.stopEvent == nullptr) return;

    // Everything the worker reads is in place before it starts.
    currentFate = std::make_shared<WorkerFate>(AppState.watchEntries.size());
    auto start = std::make_unique<WorkerStart>(WorkerStart{AppState.watchEntries.data(), AppState.watchEntries.size(),
                                                           AppState.stopEvent, currentFate, reportWindow,
                                                           ++currentSerial, std::move(held)});
    AppState.watcherThread = CreateThread(nullptr, 0, WatcherThread, start.get(), 0, nullptr);
    if (AppState.watcherThread == nullptr) {
        StopWatching();
        return;
    }
    start.release();  // the worker's now
}

// The first half of ending the worker: the stop, then the cancellation of
// its call into Explorer if it is in one (a call that starts after the
// cancellation finds the stop set before it).
void SignalWorker() {
    if (AppState.stopEvent != nullptr) SetEvent(AppState.stopEvent);
    if (AppState.watcherThread != nullptr) CancelWorkerCall(AppState.watcherThread);
}

// The second half: waits for the signalled worker (through an activation
// still under way, and the end of its reads, for about a second). Null when
// the entries are the main thread's again, handles and all, none with a
// read under way; the worker's fate when it was left behind with them (see
// the overview) and AppState holds none any more.
std::shared_ptr<WorkerFate> AwaitWorker() {
    bool joined = true;
    std::shared_ptr<WorkerFate> leftBehind;
    if (AppState.watcherThread != nullptr) {
        if (WaitForSingleObject(AppState.watcherThread, kStopWaitMs) == WAIT_TIMEOUT) {
            WorkerFate& fate = *currentFate;
            fate.entries = std::move(AppState.watchEntries);
            fate.stopEvent.reset(AppState.stopEvent);
            AppState.watchEntries.clear();
            AppState.stopEvent = nullptr;
            int expected = WorkerFate::kRunning;
            joined = !fate.state.compare_exchange_strong(expected, WorkerFate::kLeftBehind);
            if (joined) {
                // It ended just now, before it could know: everything is ours.
                AppState.watchEntries = std::move(fate.entries);
                AppState.stopEvent = fate.stopEvent.release();
                WaitForSingleObject(AppState.watcherThread, INFINITE);  // it has only to return
            }
        }
        // Joined, it has handed over what it held back.
        carried = joined ? std::move(currentFate->held) : std::vector<CarriedChange>{};
        if (!joined) leftBehind = currentFate;
        CloseHandle(AppState.watcherThread);
        AppState.watcherThread = nullptr;
    }
    currentFate.reset();
    if (AppState.stopEvent != nullptr) {
        CloseHandle(AppState.stopEvent);
        AppState.stopEvent = nullptr;
    }
    return leftBehind;
}

std::shared_ptr<WorkerFate> JoinWorker() {
    SignalWorker();
    return AwaitWorker();
}

// Issues the first read of a folder opened for its names, on the main
// thread: a read is cancelled when the thread that issued it ends, and this
// one outlives every worker. An entry whose file system refuses the read is
// watched with a notification instead (refused set).
std::optional<WatchEntry> EntryReading(HANDLE directory, const std::wstring& folder, bool onNetwork, bool& refused) {
    WatchEntry entry{directory, folder, onNetwork, std::make_unique<ChangeRead>(), OwnFolderIn(folder)};
    refused = false;
    if (entry.read->done != nullptr && StartRead(directory, *entry.read)) return entry;
    refused = NamesAreRefused(GetLastError());
    CloseEntry(entry);
    return std::nullopt;
}

// Arms folders: each opened for its names where the file system gives them,
// with a notification where it refuses, and nothing where neither works.
// In the order of folders; those on the network side by side.
std::vector<WatchEntry> ArmedEntries(const std::vector<std::wstring>& folders) {
    const std::vector<ArmedNotification> opened = OpenWatchedFolders(folders);
    std::vector<std::optional<WatchEntry>> armed(folders.size());
    std::vector<std::wstring> refusedFolders;
    std::vector<std::size_t> refusedAt;
    for (std::size_t i = 0; i < folders.size(); ++i) {
        if (opened[i].handle == nullptr) continue;
        bool refused = false;
        armed[i] = EntryReading(opened[i].handle, folders[i], opened[i].onNetwork, refused);
        if (refused) refusedFolders.push_back(folders[i]), refusedAt.push_back(i);
    }
    const std::vector<ArmedNotification> notified = ArmChangeNotifications(refusedFolders, WATCH_NOTIFY_FILTER);
    for (std::size_t k = 0; k < refusedAt.size(); ++k) {
        const std::size_t i = refusedAt[k];
        if (!notified[k].handle) continue;
        armed[i] = WatchEntry{notified[k].handle, folders[i], notified[k].onNetwork, nullptr, OwnFolderIn(folders[i])};
    }
    std::vector<WatchEntry> entries;
    for (std::optional<WatchEntry>& entry : armed) {
        if (entry) entries.push_back(std::move(*entry));
    }
    return entries;
}

// The armed folders that get a device registration: those on a local
// drive, as the arming found.
std::vector<std::wstring> ArmedLocalFolders() {
    std::vector<std::wstring> armed;
    for (const WatchEntry& entry : AppState.watchEntries) {
        if (IsValidChangeHandle(entry.changeHandle) && !entry.onNetwork) armed.push_back(entry.folderPath);
    }
    return armed;
}

}  // namespace

// Arms every folder of the list (those on the network side by side) and
// starts a worker if at least one could be armed. A folder that cannot be
// armed now (missing, no access, unreachable, on a volume that is leaving)
// is left out until the next start. The device registrations of folders
// that stay armed are kept. Paused, nothing is armed and no handle stays
// open, so a drive with a listed folder on it can always be ejected.
void StartWatching() {
    if (AppState.watchingPaused) {
        StopWatching();
        return;
    }
    JoinWorker();
    CloseEntries(AppState.watchEntries);
    AppState.watchEntries.clear();
    ForgetSettledRemovals();

    std::vector<std::wstring> folders;
    for (const std::wstring& folder : AppState.folders) {
        if (!folder.empty() && !IsOnVolumeBeingRemoved(folder)) folders.push_back(folder);
    }
    AppState.watchEntries = ArmedEntries(folders);
    RegisterArmedFolders(ArmedLocalFolders());
    StartWorker();
}

void StopWatching() {
    JoinWorker();
    carried.clear();
    CloseEntries(AppState.watchEntries);
    AppState.watchEntries.clear();
    RegisterArmedFolders({});
}

// Local folders only: a share is never on a volume that can be ejected from
// here, and asking for its volume may block.
void StopWatchingVolume(const std::wstring& volume) {
    if (const std::shared_ptr<WorkerFate> away = JoinWorker()) {
        // The worker took its handles with it, but those on the volume are
        // closed here all the same (it skips what it finds taken); the
        // folders off the volume are armed anew.
        CloseEntriesOnVolume(away->entries, volume);
        StartWatching();
        return;
    }
    CloseEntriesOnVolume(AppState.watchEntries, volume);
    // The requests the worker renewed were cancelled as it ended, which
    // signalled them: renewed here, only a change that really came shows.
    // Its reads ended with it; the next worker issues them anew.
    for (const WatchEntry& entry : AppState.watchEntries) {
        if (!entry.read) RenewedHere(entry.changeHandle);
    }
    std::erase_if(AppState.watchEntries,
                  [](const WatchEntry& entry) { return !IsValidChangeHandle(entry.changeHandle); });
    RegisterArmedFolders(ArmedLocalFolders());
    StartWorker();
}

bool AnyUnwatchedFolderIsBack() {
    for (const std::wstring& folder : AppState.folders) {
        if (folder.empty() || IsNetworkFolder(folder) || IsOnVolumeBeingRemoved(folder)) continue;
        const bool watched = std::any_of(AppState.watchEntries.begin(), AppState.watchEntries.end(),
                                         [&folder](const WatchEntry& entry) {
                                             return entry.folderPath == folder && IsValidChangeHandle(entry.changeHandle);
                                         });
        if (!watched && IsExistingDirectory(folder)) return true;
    }
    return false;
}

void ReportToWindow(HWND window) {
    reportWindow = window;
}

std::wstring ReportedFolder(WPARAM worker, LPARAM entry) {
    if (worker != currentSerial) return {};
    if (entry < 0 || static_cast<std::size_t>(entry) >= AppState.watchEntries.size()) return {};
    // The path is the entry's own copy, which the worker never writes.
    return AppState.watchEntries[static_cast<std::size_t>(entry)].folderPath;
}

std::wstring ReportedItem(WPARAM worker, LPARAM entry) {
    if (worker != currentSerial || !currentFate || entry < 0) return {};
    return currentFate->Item(static_cast<std::size_t>(entry));
}

std::wstring LatestChangedItem(const std::wstring& folder) {
    if (!currentFate) return {};
    std::wstring item;
    for (std::size_t i = 0; i < AppState.watchEntries.size() && item.empty(); ++i) {
        if (AppState.watchEntries[i].folderPath == folder) item = currentFate->Item(i);
    }
    return item;
}

void IgnoreChangesIn(const std::wstring& folder) {
    ownFiles = folder;
}

void DropHeldChange(const std::wstring& folder) {
    if (!currentFate) return;
    for (std::size_t i = 0; i < AppState.watchEntries.size(); ++i) {
        if (AppState.watchEntries[i].folderPath == folder) currentFate->dropHeld[i] = true;
    }
}
