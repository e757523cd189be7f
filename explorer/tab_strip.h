#pragma once
// The tab strip of a Windows 11 Explorer frame, reached the way assistive
// tools reach it: through UI Automation on the frame window. Selecting a
// tab item there is what a click on the tab does; nothing else public
// switches Explorer's tabs.

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

namespace uia {
struct IUIAutomationElementArray;
}

// One tab item of the strip.
struct TabItem {
    std::wstring name;  // the tab's caption: the folder's display name
    bool selected = false;
};

// The strip's calls in one table, so that a test can stand in for
// Explorer's strip (Wine has no tabbed file browser, and its UI Automation
// client is not served). Production code never changes it. Each call ends
// by deadline, a GetTickCount64 tick: a request that Explorer has not
// answered by then fails.
struct TabStripCalls {
    // Every tab item of frame, in the strip's order; false when the strip
    // cannot be read.
    bool (*listTabs)(HWND frame, ULONGLONG deadline, std::vector<TabItem>& tabs);
    // Asks the strip to select its item at index, as listTabs lists them.
    // True when the request was delivered, not that the frame obeyed.
    bool (*selectTab)(HWND frame, ULONGLONG deadline, std::size_t index);
};

// The table in use; the real functions unless a test replaced them.
TabStripCalls& CurrentTabStripCalls();
// UI Automation, each request given only what is left until the deadline.
TabStripCalls PlatformTabStripCalls();

// The tab items of one read of the strip, each element's name and selected
// state read from the cache the read brought back. An item that cannot be
// read keeps its place, nameless and not selected, so that the indexes
// still match the strip's.
void TabItemsFromCache(uia::IUIAutomationElementArray* items, std::vector<TabItem>& tabs);
