#pragma once
// The main window: an always-on-top frame with the folder button and the
// list of watched folders. Closing it only hides it; the program ends by
// the "Exit" commands, which destroy it.

#include <windows.h>

// The class of the main window, registered once at start-up.
void RegisterMainWindowClass(HINSTANCE instance);

// Creates and shows the main window at the stored geometry (kept on the
// primary screen), fills the list, starts watching, saves the settings and
// adds the notification icon. False when the window could not be created.
bool CreateMainWindow(HINSTANCE instance, int showCommand);

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Double-click on a list row: bring up the folder it names.
void OpenSelectedFolder();
