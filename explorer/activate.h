#pragma once
// Bringing the shell window that shows a folder to the front, or opening
// the folder when none does. Runs on the caller's thread, which must have
// entered a single-threaded apartment.

#include <string>

// Reloads, restores and foregrounds the first shell window showing path;
// otherwise asks the shell to open path (only if it is an existing folder)
// and searches again every 100 ms, ten times at most. Blocks throughout.
void ActivateOrOpenFolder(const std::wstring& path);

// One pass over the shell's open windows for the normal form target. True
// when a matching window's handle was restored and foregrounded.
bool ActivateExistingWindow(const std::wstring& target);
