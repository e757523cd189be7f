#pragma once
// Bringing the shell window that shows a folder to the front, or opening
// the folder when none does. Runs on the caller's thread, which must have
// entered a single-threaded apartment.

#include <windows.h>

#include <string>

#include "explorer/foreground.h"

// For a change in a watched folder: reads first what the user is doing
// (FocusRuleForChange), then reloads the first shell window showing path
// and brings it forward as far as that allows; otherwise asks the shell to
// open path (only if it is an existing folder) and searches again every
// 100 ms, ten times at most. Blocks throughout.
//
// stopEvent is the watcher's stop event. Once it is set, the activation
// makes no open request, examines no further window and makes no further
// search: a worker that was left behind must not go on acting for a list
// that has changed.
void ActivateOrOpenFolder(const std::wstring& path, HANDLE stopEvent);

// The same for the user's own request in our window (a double-click on the
// list): always restores the window and takes the foreground.
void ActivateOrOpenFolderForUser(const std::wstring& path);

// One pass over the shell's open windows for the normal form target. True
// when a matching window was brought forward as far as rule allows, or
// left alone because the user is in it. stopEvent as for
// ActivateOrOpenFolder.
bool ActivateExistingWindow(const std::wstring& target, FocusRule rule = FocusRule::Take,
                            HANDLE stopEvent = nullptr);
