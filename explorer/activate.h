#pragma once
// Bringing the shell window that shows a folder to the front, or opening
// the folder when none does. Runs on the caller's thread, which must have
// entered a single-threaded apartment.

#include <windows.h>

#include <string>

// Reloads, restores and foregrounds the first shell window showing path;
// otherwise asks the shell to open path (only if it is an existing folder)
// and searches again every 100 ms, ten times at most. Blocks throughout.
//
// stopEvent is the watcher's stop event when the watcher runs the
// activation, null on the window's own thread. Once it is set, the
// activation makes no open request and no further search: a worker that
// was left behind must not go on acting for a list that has changed.
void ActivateOrOpenFolder(const std::wstring& path, HANDLE stopEvent = nullptr);

// One pass over the shell's open windows for the normal form target. True
// when a matching window's handle was restored and foregrounded. stopEvent
// as for ActivateOrOpenFolder; it goes on to the foreground routine.
bool ActivateExistingWindow(const std::wstring& target, HANDLE stopEvent = nullptr);
