#pragma once
// The one process-wide record of the program's state. Every subsystem reads
// and writes its fields directly; nothing is passed around.
//
// Threads: the main thread owns every field. The watcher thread reads only
// stopEvent and watchEntries, and writes only the changeHandle of the entry
// it re-arms; the main thread touches those only while no watcher runs
// (see change_watcher.cpp), which is the whole synchronisation.

#include <windows.h>

#include <string>
#include <vector>

#include "state/folder_list.h"
#include "state/window_geometry.h"

// One armed change notification and the folder it watches (its own copy,
// so the list may change while the watcher runs).
struct WatchEntry {
    HANDLE changeHandle;
    std::wstring folderPath;
    // Decided once, when the folder was armed: a drive letter's type does
    // not change while it stays mapped, and asking again after every
    // activation costs a call each time.
    bool onNetwork = false;
};

struct ApplicationState {
    HINSTANCE instance;
    wchar_t windowClassName[100];
    wchar_t title[100];
    ULONG_PTR gdiplusToken;
    HWND folderListBox;
    HFONT listFont;
    bool trayIconAdded;
    HBITMAP aboutBitmap;
    WindowGeometry geometry;
    FolderList folders;
    std::vector<WatchEntry> watchEntries;
    HANDLE watcherThread;
    HANDLE stopEvent;
};

// Zero-initialised before anything runs. Not constinit: in MSVC's debug
// runtime the default constructors of std::vector and std::wstring allocate,
// so they are not constant expressions there; with gcc this is still
// initialised at compile time, and with MSVC before wWinMain runs.
extern ApplicationState AppState;
