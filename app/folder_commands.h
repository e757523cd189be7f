#pragma once
// Changing the watched-folder list from the main window: picking a folder,
// deleting the selected one, and mirroring the list in the list box. Each
// change refills the list box, saves the settings and restarts the watcher.

#include <windows.h>
#include <objbase.h>

#include <string>

// How the folder picker makes its File Open dialog, in one table so that a
// test can stand in for a system where the dialog is not registered.
// Production code never changes it.
struct FolderDialogCalls {
    HRESULT(WINAPI* createInstance)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*);
};

// The table in use; the real functions unless a test replaced them.
FolderDialogCalls& CurrentFolderDialogCalls();
// The real functions: CoCreateInstance.
FolderDialogCalls PlatformFolderDialogCalls();

void AddFolder(HWND owner, const std::wstring& path);
void RemoveSelectedFolder(HWND window);
void PickFolder(HWND owner);
void RefreshFolderListView();
