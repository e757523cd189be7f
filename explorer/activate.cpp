// Finding the shell window that shows a folder and bringing it forward, or
// opening the folder when no window shows it.
//
// Every search creates the shell's window collection afresh and walks it in
// its own index order. Each reference is held by a ComPtr in a scope of its
// own, so the releases run innermost first (window interface, browser,
// item) before the index variant is cleared and the next index is looked
// at; the collection goes after the last index. The one exception is a
// match found only in a background tab: its browser is kept until the walk
// is over, in case no active tab shows the folder.
//
// Windows 11 lists every Explorer tab as its own item, and all tabs of one
// frame report the frame's handle. So the first match may be a tab the
// user does not see; a match in its frame's active tab wins over it, and a
// background tab is brought to the front of its frame only when no active
// tab shows the folder. It is selected through the frame's tab strip, as a
// click would (tab_strip.h), and reloaded only when both the frame and the
// strip show it selected; otherwise the frame comes forward as it is.
// Raising the tab's window would not do: the frame would show one folder
// while its strip and address bar name another. Shells without tabs
// (Windows 10, Wine) answer no tab window, and every match there is taken
// as before.
//
// Every call into another process runs under the activation's deadline
// (call_deadline.h): a hung window's call is cancelled after about two
// seconds and the search goes on with the next window, as after any
// failed call.

#include "explorer/activate.h"

#include <windows.h>
#include <exdisp.h>
#include <oleidl.h>
#include <servprov.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlguid.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <vector>

#include "base/win_raii.h"
#include "explorer/call_deadline.h"
#include "explorer/folder_access.h"
#include "explorer/folder_identity.h"
#include "explorer/foreground.h"
#include "explorer/tab_strip.h"
#include "explorer/window_folder_path.h"

using Microsoft::WRL::ComPtr;

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

using UniqueIdList = UniqueResource<PIDLIST_ABSOLUTE, ILFree>;

// The tab window of a browser that lives in a tabbed frame, or null. The
// shell browser of a tab answers its own ShellTabWindowClass window; a
// browser without tabs answers its frame, or nothing at all.
HWND TabWindowOf(IWebBrowser2* browser, CallDeadline& deadline) {
    ComPtr<IServiceProvider> services;
    if (FAILED(deadline.Bounded([&] { return browser->QueryInterface(IID_PPV_ARGS(&services)); })) || !services) {
        return nullptr;
    }
    ComPtr<IShellBrowser> shellBrowser;
    if (FAILED(deadline.Bounded(
            [&] { return services->QueryService(SID_STopLevelBrowser, IID_PPV_ARGS(&shellBrowser)); })) ||
        !shellBrowser) {
        return nullptr;
    }
    HWND tab = nullptr;
    if (FAILED(deadline.Bounded([&] { return shellBrowser->GetWindow(&tab); })) || !tab) return nullptr;
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
HWND FrameWindowOf(IWebBrowser2* browser, CallDeadline& deadline) {
    ComPtr<IOleWindow> oleWindow;
    if (FAILED(deadline.Bounded([&] { return browser->QueryInterface(IID_PPV_ARGS(&oleWindow)); })) || !oleWindow) {
        return nullptr;
    }
    HWND handle = nullptr;
    if (FAILED(deadline.Bounded([&] { return oleWindow->GetWindow(&handle); }))) return nullptr;
    return handle;
}

// The name the window's tab carries, or empty.
std::wstring LocationNameOf(IWebBrowser2* browser, CallDeadline& deadline) {
    BSTR name = nullptr;
    if (FAILED(deadline.Bounded([&] { return browser->get_LocationName(&name); })) || !name) return {};
    std::wstring copy(name, SysStringLen(name));
    SysFreeString(name);
    return copy;
}

// A window whose thread has stopped answering (typically one browsing an
// unreachable network share) counts as no window: anything that waits for
// it would wait with it.
bool IsUsableWindow(HWND window) {
    return window != nullptr && !CurrentForegroundCalls().isHungAppWindow(window);
}

// The first match that is only a background tab of its frame.
struct BackgroundTab {
    ComPtr<IWebBrowser2> browser;
    HWND tab = nullptr;
    HWND frame = nullptr;
    std::wstring name;
};

// Looks at the window at index. A window that shows target is reloaded
// and brought forward, and the answer is true; but a match in a background
// tab is only kept in background (the first such) and answers false. A
// window that shows target but yields no usable handle stays reloaded and
// answers false, so the caller goes on to the next index.
bool ActivateIfShowing(IShellWindows* windows, const VARIANT& index, const std::wstring& target,
                       BackgroundTab& background, HANDLE stopEvent, CallDeadline& deadline) {
    ComPtr<IDispatch> item;
    if (FAILED(deadline.Bounded([&] { return windows->Item(index, &item); })) || !item) return false;

    ComPtr<IWebBrowser2> browser;
    if (FAILED(deadline.Bounded([&] { return item.As(&browser); })) || !browser) return false;

    std::wstring windowPath;
    if (!deadline.Bounded([&] { return GetWindowFolderPath(browser.Get(), windowPath); })) return false;
    if (!FolderPathsEqual(NormalizeFolderPath(windowPath), target)) return false;

    if (HWND tab = TabWindowOf(browser.Get(), deadline)) {
        // Only the tab that is finally shown is reloaded.
        HWND frame = FrameWindowOf(browser.Get(), deadline);
        if (!IsUsableWindow(frame)) return false;
        if (!FrameShowsTab(frame, tab)) {
            if (!background.browser) {
                background = BackgroundTab{browser, tab, frame, LocationNameOf(browser.Get(), deadline)};
            }
            return false;
        }
        deadline.Bounded([&] { return browser->Refresh(); });
        BringWindowForward(frame, stopEvent);
        return true;
    }

    deadline.Bounded([&] { return browser->Refresh(); });
    HWND handle = FrameWindowOf(browser.Get(), deadline);
    if (!IsUsableWindow(handle)) return false;
    BringWindowForward(handle, stopEvent);
    return true;
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
bool ActivateFoundByShell(IShellWindows* windows, const std::wstring& target, HANDLE stopEvent,
                          CallDeadline& deadline) {
    VARIANT location;
    VariantInit(&location);
    if (!MakeIdListVariant(target, location)) return false;
    VARIANT root;
    VariantInit(&root);
    LONG handle = 0;
    // A null dispatch out-pointer is refused (RPC_X_NULL_REF_POINTER), even
    // when no dispatch is asked for.
    ComPtr<IDispatch> unused;
    const HRESULT hr =
        deadline.Bounded([&] { return windows->FindWindowSW(&location, &root, SWC_EXPLORER, &handle, 0, &unused); });
    VariantClear(&location);
    if (hr != S_OK) return false;
    HWND window = reinterpret_cast<HWND>(static_cast<LONG_PTR>(handle));
    if (!IsUsableWindow(window)) return false;
    BringWindowForward(window, stopEvent);
    return true;
}

bool IsStopped(HANDLE stopEvent) {
    return stopEvent != nullptr && WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0;
}

// Waits milliseconds, or less when stopEvent is set meanwhile; true when
// it is set. Without an event, a plain sleep.
bool WaitUnlessStopped(HANDLE stopEvent, DWORD milliseconds) {
    if (stopEvent == nullptr) {
        Sleep(milliseconds);
        return false;
    }
    return WaitForSingleObject(stopEvent, milliseconds) == WAIT_OBJECT_0;
}

// One search (see ActivateExistingWindow), its calls under deadline.
bool SearchOnce(const std::wstring& target, HANDLE stopEvent, CallDeadline& deadline) {
    ComPtr<IShellWindows> windows;
    if (FAILED(deadline.Bounded([&] {
            return CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&windows));
        })) ||
        !windows) {
        return false;
    }
    LONG count = 0;
    if (FAILED(deadline.Bounded([&] { return windows->get_Count(&count); }))) {
        return ActivateFoundByShell(windows.Get(), target, stopEvent, deadline);
    }

    bool found = false;
    BackgroundTab background;
    for (LONG i = 0; i < count && !found; ++i) {
        VARIANT index;
        VariantInit(&index);
        index.vt = VT_I4;
        index.lVal = i;
        found = ActivateIfShowing(windows.Get(), index, target, background, stopEvent, deadline);
        VariantClear(&index);
    }
    if (!found && background.browser) {
        // Reload what the user will see: if the frame keeps another tab in
        // front, the frame still comes forward, but nothing is reloaded.
        if (SelectTab(background.frame, background.tab, background.name)) {
            deadline.Bounded([&] { return background.browser->Refresh(); });
        }
        BringWindowForward(background.frame, stopEvent);
        found = true;
    }
    return found;
}

}  // namespace

bool ActivateExistingWindow(const std::wstring& target, HANDLE stopEvent) {
    CallDeadline deadline;
    return SearchOnce(target, stopEvent, deadline);
}

void ActivateOrOpenFolder(const std::wstring& path, HANDLE stopEvent) {
    if (path.empty()) return;
    const std::wstring target = NormalizeFolderPath(path);
    if (target.empty()) return;

    CallDeadline deadline;
    if (SearchOnce(target, stopEvent, deadline)) return;
    // A path from the settings file can be edited by hand; "open" would run
    // a program, open a document or follow a URL just as readily as a folder.
    if (!IsExistingDirectory(path)) return;
    if (IsStopped(stopEvent)) return;

    // The path as the user stored it, not its normal form.
    ShellExecuteW(nullptr, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);

    // The shell lists a new window only some time after the request.
    for (int poll = 0; poll < kOpenPolls; ++poll) {
        if (WaitUnlessStopped(stopEvent, kPollIntervalMs)) return;
        if (SearchOnce(target, stopEvent, deadline)) return;
    }
}
