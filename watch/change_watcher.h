#pragma once
// The background watcher: one thread waiting on every watched folder's
// changes, activating that folder's window on each change that is not
// noise and selecting there the item the change was about.

#include <windows.h>

#include <string>

#include "base/app_messages.h"

// File names, folder names, attributes, size, last write and creation time;
// not last access and not security.
constexpr DWORD WATCH_NOTIFY_FILTER = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                      FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SIZE |
                                      FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_CREATION;
static_assert(WATCH_NOTIFY_FILTER == 0x5F);

// Stops any running watcher, then arms every folder of AppState.folders and
// starts a new worker if at least one could be armed. Changes held back for
// folders that stay armed are handed on to the new worker. While watching
// is paused (AppState.watchingPaused) it only stops, whoever asks for the
// start: a list change, a drive, a resume. Main thread only.
void StartWatching();

// Signals the worker, cancels its call into Explorer if it is in one, waits
// for it to finish (including an activation in progress) for about a second
// and releases every handle; a worker still busy by then is left to end on
// its own, and closes its handles itself as it ends. Changes held back are
// dropped. Safe in any state. Main thread only.
void StopWatching();

// For a volume that is leaving: closes the notifications of the folders on
// it before returning, even those of a worker that does not end in time,
// and keeps every other folder armed as it is (only a worker that does not
// end in time makes the others be armed anew).
void StopWatchingVolume(const std::wstring& volume);

// Whether a listed local folder that is not watched now (missing at the
// last start, say, or given up) exists again: a start would arm it. Reads
// only what the worker never writes, and the handles' slots. Main thread
// only.
bool AnyUnwatchedFolderIsBack();

// The worker's reports to the window named here (null: nothing is posted),
// each naming the worker and an entry, which ReportedFolder reads:
// - a folder given up (gone, or no longer armable);
// - a change held back while the user works, to be shown once they are
//   away: the window shows a balloon about it (at most one per folder
//   every kHeldChangeBalloonIntervalMs; none when the user is not to be
//   disturbed).
// The messages are WM_WATCH_FOLDER_GIVEN_UP and WM_WATCH_CHANGE_HELD.
void ReportToWindow(HWND window);
// The folder a report names; empty when the worker that posted it has been
// replaced since (the restart settled its folders).
std::wstring ReportedFolder(WPARAM worker, LPARAM entry);
// The item of that folder its latest change named, in the same terms;
// empty when the change named none.
std::wstring ReportedItem(WPARAM worker, LPARAM entry);
// The item the latest change of folder named while the running worker
// watched it; empty for none. Main thread only.
std::wstring LatestChangedItem(const std::wstring& folder);

// Where the program keeps its own files: a change there is noise, even
// in a folder that holds it (a watched profile folder). Main thread only,
// before StartWatching.
void IgnoreChangesIn(const std::wstring& folder);

// The user has seen folder (clicked its balloon, say): the running
// worker drops the change it holds back for it. Main thread only.
void DropHeldChange(const std::wstring& folder);
