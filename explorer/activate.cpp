// Finding the shell window that shows a folder and bringing it forward, or
// opening the folder when no window shows it.
//
// Every search creates the shell's window collection afresh and walks it in
// its own index order. The references into one window are held by that
// window's RemoteCalls and released innermost first (window interface,
// browser, item) before the index variant is cleared and the next index is
// looked at; the collection goes after the last index. The one exception is
// a match found only in a background tab: its references are kept until
// the walk is over, in case no active tab shows the folder.
//
// Windows 11 lists every Explorer tab as its own item, and all tabs of one
// frame report the frame's handle. So the first match may be a tab the
// user does not see; a match in its frame's active tab wins over it, and a
// background tab is brought to the front of its frame only when no active
// tab shows the folder and the focus may be taken (a switch is never made
// while the user works). It is selected through the frame's tab strip, as a
// click would (tab_strip.h), and reloaded only when both the frame and the
// strip show it selected; otherwise the tab selected before is selected
// again and the frame comes forward as it was.
// Raising the tab's window would not do: the frame would show one folder
// while its strip and address bar name another. Shells without tabs
// (Windows 10, Wine) answer no tab window, and every match there is taken
// as before.
//
// Every call into another process runs under the activation's deadline
// (call_deadline.h): a hung window's call is cancelled after about two
// seconds and the search goes on with the next window, as after any
// failed call. Nothing more is then called on the hung window, not even a
// Release: its references are abandoned (RemoteCalls).

#include "explorer/activate.h"

#include <windows.h>
#include <exdisp.h>
#include <oleidl.h>
#include <shlobj.h>
#include <shlguid.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <memory>
#include <vector>

#include "base/win_raii.h"
#include "explorer/call_deadline.h"
#include "explorer/folder_access.h"
#include "explorer/folder_identity.h"
#include "explorer/foreground.h"
#include "explorer/item_selection.h"
#include "explorer/remote_calls.h"
#include "explorer/stop_event.h"
#include "explorer/tab_strip.h"
#include "explorer/window_folder_path.h"


namespace {

constexpr int kOpenPolls = 10;
constexpr DWORD kPollIntervalMs = 100;
constexpr wchar_t kTabWindowClass[] = L"ShellTabWindowClass";
// How long a frame may take to show a tab its strip has just selected.
constexpr int kTabChecks = 5;
constexpr DWORD kTabCheckIntervalMs = 50;
// The tab switch's budget: reading the strip, selecting and confirming.
// Past it no further tab is tried; the wait for the frame to show a tab
// may run over it by its own quarter of a second.
constexpr ULONGLONG kTabBudgetMs = 1000;
// What selecting the earlier tab again may take beyond it.
constexpr ULONGLONG kTabRestoreMs = 500;

// The tab window of a browser that lives in a tabbed frame, or null. The
// shell browser of a tab answers its own ShellTabWindowClass window; a
// browser without tabs answers its frame, or nothing at all.
HWND TabWindowOf(IWebBrowser2* browser, RemoteCalls& calls) {
    IShellBrowser* shellBrowser = TopLevelBrowserOf(browser, calls);
    if (!shellBrowser) return nullptr;
    HWND tab = nullptr;
    if (FAILED(calls.Run([&] { return shellBrowser->GetWindow(&tab); })) || !tab) return nullptr;
    wchar_t className[32] = {};
    GetClassNameW(tab, className, static_cast<int>(std::size(className)));
    return std::wcscmp(className, kTabWindowClass) == 0 ? tab : nullptr;
}

// True when frame shows tab: its first tab window in z-order, as Explorer
// keeps the active one, and visible.
bool FrameShowsTab(HWND frame, HWND tab) {
    return FindWindowExW(frame, nullptr, kTabWindowClass, nullptr) == tab && IsWindowVisible(tab);
}

// Waits briefly for frame to show tab, which it may do a moment after its
// strip has answered.
bool FrameComesToShowTab(HWND frame, HWND tab) {
    for (int check = 0; check < kTabChecks; ++check) {
        if (FrameShowsTab(frame, tab)) return true;
        Sleep(kTabCheckIntervalMs);
    }
    return FrameShowsTab(frame, tab);
}

// Selects tab through frame's strip: each item named name in turn, until
// the frame shows tab and the strip reports that item selected. Several
// tabs may carry the same name (two folders called Data), so one select is
// not proof. Reading, selecting and confirming share one budget; past it
// no further item is tried. False when none worked: the item that was
// selected before is then selected again, so that a wrong tab of the same
// name is not left in front.
bool SelectTab(HWND frame, HWND tab, const std::wstring& name) {
    const TabStripCalls& strip = CurrentTabStripCalls();
    const ULONGLONG deadline = GetTickCount64() + kTabBudgetMs;
    std::vector<TabItem> tabs;
    if (name.empty() || !strip.listTabs(frame, deadline, tabs)) return false;
    bool asked = false;
    for (std::size_t i = 0; i < tabs.size() && GetTickCount64() < deadline; ++i) {
        if (tabs[i].name != name) continue;
        // A request that timed out may still be carried out: it counts.
        asked = true;
        if (!strip.selectTab(frame, deadline, i) || !FrameComesToShowTab(frame, tab)) continue;
        std::vector<TabItem> after;
        if (strip.listTabs(frame, deadline, after) && i < after.size() && after[i].selected) return true;
    }
    const auto before = std::find_if(tabs.begin(), tabs.end(), [](const TabItem& item) { return item.selected; });
    if (asked && before != tabs.end()) {
        const ULONGLONG now = GetTickCount64();
        strip.selectTab(frame, std::max(deadline, now + kTabRestoreMs), static_cast<std::size_t>(before - tabs.begin()));
    }
    return false;
}

// The window handle that the browser's window interface answers, or null.
HWND FrameWindowOf(IWebBrowser2* browser, RemoteCalls& calls) {
    auto* oleWindow =
        calls.Obtain<IOleWindow>([&](IOleWindow** out) { return browser->QueryInterface(IID_PPV_ARGS(out)); });
    if (!oleWindow) return nullptr;
    HWND handle = nullptr;
    if (FAILED(calls.Run([&] { return oleWindow->GetWindow(&handle); }))) return nullptr;
    return handle;
}

// The name the window's tab carries, or empty.
std::wstring LocationNameOf(IWebBrowser2* browser, RemoteCalls& calls) {
    BSTR name = nullptr;
    if (FAILED(calls.Run([&] { return browser->get_LocationName(&name); })) || !name) return {};
    std::wstring copy(name, SysStringLen(name));
    SysFreeString(name);
    return copy;
}

// A window whose thread has stopped answering (typically one browsing an
// unreachable network share) counts as no window: anything that waits for
// it would wait with it. So does one not shown yet: the shell lists a new
// window a moment before it shows, and it takes the foreground itself when
// it does, which would put it in front of whatever was brought forward
// after it. A minimised window is shown.
bool IsUsableWindow(HWND window) {
    return window != nullptr && IsWindowVisible(window) && !CurrentDesktopCalls().isHungAppWindow(window);
}

// The first match that is only a background tab of its frame, with the
// calls that hold its references.
struct BackgroundTab {
    std::unique_ptr<RemoteCalls> calls;
    IWebBrowser2* browser = nullptr;
    HWND tab = nullptr;
    HWND frame = nullptr;
    std::wstring name;
};

// What a search came to, for one window or for all of them.
enum class Match {
    // No window shows the folder (or none that can be asked: no handle,
    // hung, lost).
    None,
    // A window shows it in front: reloaded and brought forward as far as
    // the rule allows.
    BroughtForward,
    // A window shows it in front, and the user is in it under a rule that
    // leaves the focus: left exactly as it is.
    LeftForUser,
    // Only a background tab of a frame shows it. For one window: kept in
    // the search, which goes on. For the search: the tab was brought to
    // the front of its frame, or the frame forward as it was.
    InBackgroundTab,
};

// One search over the shell's windows: what it looks for and under which
// rule, the calls into the collection, and what it has found so far.
struct Search {
    const std::wstring& target;  // normal form
    const std::wstring& item;    // the changed child to select, or empty
    FocusState& focus;
    HANDLE stopEvent;
    CallDeadline& deadline;
    IShellWindows* windows;
    RemoteCalls& shellCalls;
    // The first match that is only a background tab.
    BackgroundTab background;
    // The window that shows the folder in front, once one does.
    HWND window = nullptr;
};

// What one search found, and the window that shows the folder in front.
struct Found {
    Match match = Match::None;
    HWND window = nullptr;
};

// The found window, reloaded unless the user is in it or a stop came, and
// brought forward as far as focus allows; then the item is selected in it
// where the focus may be taken (SelectItemInWindow), once the reloaded
// view can list it.
Match ReloadAndBringForward(Search& search, HWND window, IWebBrowser2* browser, RemoteCalls* calls) {
    search.window = window;
    if (UserIsInWindow(window, search.focus.rule)) return Match::LeftForUser;
    if (browser && !IsStopSet(search.stopEvent)) calls->Run([&] { return browser->Refresh(); });
    BringWindowForward(window, search.focus, search.stopEvent);
    if (browser) SelectItemInWindow(browser, window, search.item, search.focus, search.stopEvent, *calls);
    return Match::BroughtForward;
}

// Looks at the window at index. A window that shows the folder in front
// is reloaded and brought forward as far as focus allows, or left as it is
// for the user. A match in a background tab is kept in the search (the
// first such), and a match whose handle is missing or hung is asked
// nothing more; either way the caller goes on to the next index.
Match ActivateIfShowing(Search& search, const VARIANT& index) {
    auto calls = std::make_unique<RemoteCalls>(search.deadline);
    IDispatch* listed = nullptr;
    const HRESULT found = search.shellCalls.Run([&] { return search.windows->Item(index, &listed); });
    calls->Hold(listed);
    if (FAILED(found) || !listed) return Match::None;

    auto* browser =
        calls->Obtain<IWebBrowser2>([&](IWebBrowser2** out) { return listed->QueryInterface(IID_PPV_ARGS(out)); });
    if (!browser) return Match::None;

    std::wstring windowPath;
    if (!calls->Run([&] { return GetWindowFolderPath(browser, windowPath); })) return Match::None;
    if (!FolderPathsEqual(NormalizeFolderPath(windowPath), search.target)) return Match::None;

    // The handle before the reload: a reload ends a rename or a new
    // folder's name the user is typing, and a hung window is asked nothing.
    HWND tab = TabWindowOf(browser, *calls);
    HWND frame = FrameWindowOf(browser, *calls);
    if (!IsUsableWindow(frame) || calls->Lost()) return Match::None;
    if (tab && !FrameShowsTab(frame, tab)) {
        if (search.background.calls) return Match::InBackgroundTab;
        std::wstring name = LocationNameOf(browser, *calls);
        if (calls->Lost()) return Match::None;
        search.background = BackgroundTab{std::move(calls), browser, tab, frame, std::move(name)};
        return Match::InBackgroundTab;
    }
    return ReloadAndBringForward(search, frame, browser, calls.get());
}

// The folder's ID list as the byte-array variant FindWindowSW takes.
bool MakeIdListVariant(const std::wstring& target, VARIANT& location) {
    // The normal form drops the separator of a drive's root, and "c:" alone
    // would name the current folder of drive C instead.
    std::wstring parsing = target;
    if (parsing.size() == 2 && parsing[1] == L':') parsing += L'\\';
    UniqueIdList idList(ILCreateFromPathW(parsing.c_str()));
    if (!idList) return false;
    const UINT size = ILGetSize(idList.get());
    SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 0, size);
    if (!bytes) return false;
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(bytes, &data))) {
        SafeArrayDestroy(bytes);
        return false;
    }
    std::memcpy(data, idList.get(), size);
    SafeArrayUnaccessData(bytes);
    location.vt = VT_ARRAY | VT_UI1;
    location.parray = bytes;
    return true;
}

// Where the collection cannot be counted (Wine serves none of get_Count,
// Item and _NewEnum), the shell can still name the frame of a file browser
// that shows the folder. It hands out no browser interface with it, so the
// window cannot be reloaded; it is restored and brought forward.
Match ActivateFoundByShell(Search& search) {
    VARIANT location;
    VariantInit(&location);
    if (!MakeIdListVariant(search.target, location)) return Match::None;
    VARIANT root;
    VariantInit(&root);
    LONG handle = 0;
    // A null dispatch out-pointer is refused (RPC_X_NULL_REF_POINTER), even
    // when no dispatch is asked for.
    IDispatch* unused = nullptr;
    const HRESULT hr = search.shellCalls.Run(
        [&] { return search.windows->FindWindowSW(&location, &root, SWC_EXPLORER, &handle, 0, &unused); });
    search.shellCalls.Hold(unused);
    VariantClear(&location);
    if (hr != S_OK) return Match::None;
    HWND window = reinterpret_cast<HWND>(static_cast<LONG_PTR>(handle));
    if (!IsUsableWindow(window)) return Match::None;
    return ReloadAndBringForward(search, window, nullptr, nullptr);
}

// Where only a background tab shows the folder: a tab switch only where
// the focus may be taken, never in the frame the user is in. Otherwise
// reload what the user will see: if the frame keeps another tab in front,
// the frame still comes forward, but nothing is reloaded. The frame does
// not count as the folder's window: the user in front of it may not see
// the folder.
void ShowBackgroundTab(Search& search) {
    BackgroundTab& background = search.background;
    FocusState& focus = search.focus;
    if (UserIsInWindow(background.frame, focus.rule)) return;
    const bool switched = MayTakeFocus(focus) && SelectTab(background.frame, background.tab, background.name) &&
                          !IsStopSet(search.stopEvent);
    if (switched) background.calls->Run([&] { return background.browser->Refresh(); });
    BringWindowForward(background.frame, focus, search.stopEvent);
    if (switched) {
        SelectItemInWindow(background.browser, background.frame, search.item, focus, search.stopEvent,
                           *background.calls);
    }
}

// One search (see ActivateExistingWindow), its calls under deadline. A
// stop ends it between windows.
Found SearchOnce(const std::wstring& target, const std::wstring& item, FocusState& focus, HANDLE stopEvent,
                 CallDeadline& deadline) {
    RemoteCalls shellCalls(deadline);
    auto* windows = shellCalls.Obtain<IShellWindows>([](IShellWindows** out) {
        return CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_ALL, IID_PPV_ARGS(out));
    });
    if (!windows) return {};
    Search search{target, item, focus, stopEvent, deadline, windows, shellCalls};
    LONG count = 0;
    if (FAILED(shellCalls.Run([&] { return windows->get_Count(&count); }))) {
        if (shellCalls.Lost()) return {};
        const Match match = ActivateFoundByShell(search);
        return Found{match, search.window};
    }

    for (LONG i = 0; i < count && !IsStopSet(stopEvent) && !shellCalls.Lost(); ++i) {
        VARIANT index;
        VariantInit(&index);
        index.vt = VT_I4;
        index.lVal = i;
        const Match match = ActivateIfShowing(search, index);
        VariantClear(&index);
        if (match == Match::BroughtForward || match == Match::LeftForUser) return Found{match, search.window};
    }
    if (!search.background.calls || IsStopSet(stopEvent)) return {};
    ShowBackgroundTab(search);
    return Found{Match::InBackgroundTab, nullptr};
}

// What the activation comes to: found is what its search found, focus the
// rule as the activation ended.
ActivationResult Outcome(const Found& found, const FocusState& focus, HANDLE stopEvent) {
    if (focus.rule == FocusRule::Take || found.match == Match::LeftForUser || IsStopSet(stopEvent)) return {};
    return ActivationResult{true, focus.rule == FocusRule::ShowNothing, found.window};
}

// The activation of path, whose normal form is target, for a rule decided
// before anything was called.
ActivationResult ActivateOrOpen(const std::wstring& path, const std::wstring& target, const std::wstring& item,
                                FocusState& focus, HANDLE stopEvent) {
    CallDeadline deadline;
    const Found found = SearchOnce(target, item, focus, stopEvent, deadline);
    if (found.match != Match::None) return Outcome(found, focus, stopEvent);
    // A path from the settings file can be edited by hand; "open" would run
    // a program, open a document or follow a URL just as readily as a folder.
    if (!IsExistingDirectory(path) || IsStopSet(stopEvent)) return {};

    // The path as the user stored it, not its normal form. While the user
    // works, no window is opened at all (see foreground.cpp).
    if (!RequestFolderWindow(path.c_str(), focus, stopEvent)) return Outcome({}, focus, stopEvent);

    // The shell lists a new window only some time after the request.
    for (int poll = 0; poll < kOpenPolls; ++poll) {
        if (WaitUnlessStopped(stopEvent, kPollIntervalMs)) return {};
        const Found opened = SearchOnce(target, item, focus, stopEvent, deadline);
        if (opened.match != Match::None) return Outcome(opened, focus, stopEvent);
    }
    return {};
}

}  // namespace

bool ActivateExistingWindow(const std::wstring& target, FocusRule rule, HANDLE stopEvent) {
    CallDeadline deadline;
    FocusState focus{rule, false, 0};
    return SearchOnce(target, {}, focus, stopEvent, deadline).match != Match::None;
}

// An empty path, or one of separators only, names no folder: nothing is
// searched, opened or waited for.
ActivationResult ActivateOrOpenFolder(const std::wstring& path, HANDLE stopEvent, const std::wstring& item) {
    const std::wstring target = NormalizeFolderPath(path);
    if (target.empty()) return {};
    FocusState focus = FocusForChange();
    return ActivateOrOpen(path, target, item, focus, stopEvent);
}

void ActivateOrOpenFolderForUser(const std::wstring& path, const std::wstring& item) {
    const std::wstring target = NormalizeFolderPath(path);
    if (target.empty()) return;
    // The user asked in our window (or on our balloon): whatever the input
    // says, they are not at work somewhere else.
    FocusState focus = FocusForUser();
    ActivateOrOpen(path, target, item, focus, nullptr);
}
