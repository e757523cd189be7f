#pragma once
// The folder that an open shell window shows, from its location URL.

#include <windows.h>
#include <exdisp.h>

#include <string>

// True when browser's location is a file:// URL that converts to a
// non-empty local path, which is then placed in path (as converted, not in
// normal form). browser is borrowed and may be null.
bool GetWindowFolderPath(IWebBrowser2* browser, std::wstring& path);
