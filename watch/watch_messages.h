#pragma once
// The main window's messages that concern watching. Here the device code's
// reports (which volume is leaving, staying or back) become decisions about
// what the watcher closes and arms, and restarts that may come in bursts
// (a stick's volumes arriving, a hub pulled out, a resume) are run once.

#include <windows.h>

// The window that receives the device events and the watcher's reports:
// the main window at its creation, null at its destruction.
void WatchFrom(HWND window);

// WM_DEVICECHANGE. The answer is the message's result: TRUE grants a
// removal, which is never refused here.
BOOL OnDeviceChange(HWND window, WPARAM event, LPARAM data);
// WM_POWERBROADCAST: after a resume, watching restarts once, a little
// later.
void OnPowerBroadcast(HWND window, WPARAM event);
// WM_WATCH_FOLDER_GIVEN_UP: the folder's device registration is dropped.
void OnFolderGivenUp(WPARAM worker, LPARAM entry);

// How long after a resume watching restarts: long enough for the network
// to come back, which the watches on shares need.
DWORD& ResumeRestartDelayMs();
