#pragma once
// Bringing the shell window that shows a folder to the front, or opening
// the folder when none does. Runs on the caller's thread, which must have
// entered a single-threaded apartment.

#include <windows.h>

#include <string>

#include "explorer/foreground.h"

// How an activation for a change ended.
struct ActivationResult {
    // True when the change could not be shown because the user is at work
    // (or not to be disturbed): the watcher shows it once they are away.
    // False when it was shown, or there is nothing to show (no such folder,
    // the user is in its window, a stop).
    bool heldBack = false;
    // Held back not to disturb: no balloon either.
    bool quietly = false;
    // The window that shows the folder, when one did in front: once the
    // user brings it forward themselves, the change has been seen.
    HWND window = nullptr;
};

// For a change in a watched folder: reads first what the user is doing
// (FocusForChange), then reloads the first shell window showing path and
// brings it forward as far as that allows; otherwise, while the focus may
// be taken, asks the shell to open path (only if it is an existing folder)
// and searches again every 100 ms, ten times at most. Blocks throughout.
//
// item is the long name of the one direct child of path that changed (no
// separators), or empty. Where the window comes forward taking the focus,
// item is then selected in it, alone, without the keyboard focus moving
// (item_selection.h); never in the user's own window, never while the user
// is at work, never in a window in a menu, a move or a rename.
//
// stopEvent is the watcher's stop event. Once it is set, the activation
// makes no open request, examines no further window and makes no further
// search: a worker that was left behind must not go on acting for a list
// that has changed.
ActivationResult ActivateOrOpenFolder(const std::wstring& path, HANDLE stopEvent, const std::wstring& item = {});

// The same for the user's own request in our window (a double-click on the
// list, a click on the balloon): always restores a minimised window and
// takes the foreground, and selects item (as above) when one is given.
void ActivateOrOpenFolderForUser(const std::wstring& path, const std::wstring& item = {});

// One pass over the shell's open windows for the normal form target. True
// when a matching window was brought forward as far as rule allows, or
// left alone because the user is in it. The rule is not read again.
// stopEvent as for ActivateOrOpenFolder.
bool ActivateExistingWindow(const std::wstring& target, FocusRule rule = FocusRule::Take,
                            HANDLE stopEvent = nullptr);
