#pragma once
// Changing the watched-folder list from the main window: picking a folder,
// deleting the selected one, and mirroring the list in the list box. Each
// change refills the list box, saves the settings and restarts the watcher.

#include <windows.h>

#include <string>

void AddFolder(HWND owner, const std::wstring& path);
void RemoveSelectedFolder(HWND window);
void PickFolder(HWND owner);
void RefreshFolderListView();
