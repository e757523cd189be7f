#pragma once
// Selecting the item that changed in the shell window that shows its
// folder, once the window has been reloaded and brought forward, without
// taking the keyboard focus.

#include <windows.h>
#include <exdisp.h>
#include <shobjidl.h>

#include <string>

#include "explorer/foreground.h"
#include "explorer/remote_calls.h"

// The top-level shell browser of browser's window (of its tab, where the
// frame has tabs), or null. Its reference is held by calls.
IShellBrowser* TopLevelBrowserOf(IWebBrowser2* browser, RemoteCalls& calls);

// Selects item (the name of a direct child of the folder that browser
// shows) in browser's view, and nothing else: it becomes the focused item
// and is scrolled into view, while the keyboard focus stays where it is.
// window is the frame browser belongs to.
//
// A reloaded view lists its items a moment after the reload, and a new
// window has no view at first: the item is tried every 100 ms for about a
// second. It counts as selected only when the view's selection reads back
// as the item, since some shells answer S_OK for an item they do not list.
// Each try is made only while focus may be taken (MayTakeFocus) and while
// window is not in use (WindowIsInUse); a stop, or a call lost to the
// deadline, ends the tries. Every call goes through calls, which holds
// the references it obtains. True when the item read back as selected.
bool SelectItemInWindow(IWebBrowser2* browser, HWND window, const std::wstring& item, FocusState& focus,
                        HANDLE stopEvent, RemoteCalls& calls);
