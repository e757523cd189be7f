// Selecting the changed item in a shell window (see item_selection.h).
//
// The way in is the one a shell extension takes: the window's top-level
// shell browser (SID_STopLevelBrowser), its active view, and the view's
// folder, which turns the item's name into the child ID the view selects.
// The view is asked for afresh on each try: a window that is still being
// created, or that has just been reloaded, may answer another view, or
// none, a moment later. The selection is then read back through the view
// (the first selected item, compared by the folder): with
// SVSI_DESELECTOTHERS the item is the only one once it worked.

#include "explorer/item_selection.h"

#include <servprov.h>
#include <shlguid.h>
#include <shlobj.h>

#include "base/win_raii.h"
#include "explorer/stop_event.h"

namespace {

constexpr ULONGLONG kSelectForMs = 1000;
constexpr DWORD kSelectIntervalMs = 100;
// No SVSI_EDIT (a rename), and the view does not take the keyboard focus.
constexpr UINT kSelectFlags = SVSI_SELECT | SVSI_DESELECTOTHERS | SVSI_ENSUREVISIBLE | SVSI_FOCUSED | SVSI_NOTAKEFOCUS;

enum class Attempt { Selected, NotYet, GiveUp };

// True when the first item of view's selection is item.
bool SelectionIs(IFolderView* view, IShellFolder* folder, PCUITEMID_CHILD item, RemoteCalls& calls) {
    auto* selection = calls.Obtain<IEnumIDList>(
        [&](IEnumIDList** out) { return view->Items(SVGIO_SELECTION, IID_PPV_ARGS(out)); });
    if (!selection) return false;
    PITEMID_CHILD first = nullptr;
    const HRESULT next = calls.Run([&] { return selection->Next(1, &first, nullptr); });
    UniqueItemId owned(first);
    if (next != S_OK || !first) return false;
    // CompareIDs answers the order in the code of a success HRESULT: 0 is
    // the same item.
    const HRESULT order = calls.Run([&] { return folder->CompareIDs(0, first, item); });
    return SUCCEEDED(order) && HRESULT_CODE(order) == 0;
}

// One try in the view that shellBrowser shows now.
Attempt TrySelect(IShellBrowser* shellBrowser, const std::wstring& item, RemoteCalls& calls) {
    const auto failed = [&] { return calls.Lost() ? Attempt::GiveUp : Attempt::NotYet; };
    auto* view = calls.Obtain<IShellView>([&](IShellView** out) { return shellBrowser->QueryActiveShellView(out); });
    if (!view) return failed();
    auto* folderView =
        calls.Obtain<IFolderView>([&](IFolderView** out) { return view->QueryInterface(IID_PPV_ARGS(out)); });
    if (!folderView) return failed();
    auto* folder =
        calls.Obtain<IShellFolder>([&](IShellFolder** out) { return folderView->GetFolder(IID_PPV_ARGS(out)); });
    if (!folder) return failed();

    std::wstring name = item;  // ParseDisplayName takes a writable string
    PIDLIST_RELATIVE parsed = nullptr;
    ULONG eaten = 0;
    const HRESULT hr =
        calls.Run([&] { return folder->ParseDisplayName(nullptr, nullptr, name.data(), &eaten, &parsed, nullptr); });
    UniqueItemId child(parsed);
    if (FAILED(hr) || !child) return failed();
    const auto childId = static_cast<PCUITEMID_CHILD>(child.get());
    // What it answers proves nothing either way: the selection read back does.
    calls.Run([&] { return view->SelectItem(childId, kSelectFlags); });
    return SelectionIs(folderView, folder, childId, calls) ? Attempt::Selected : failed();
}

}  // namespace

IShellBrowser* TopLevelBrowserOf(IWebBrowser2* browser, RemoteCalls& calls) {
    auto* services = calls.Obtain<IServiceProvider>(
        [&](IServiceProvider** out) { return browser->QueryInterface(IID_PPV_ARGS(out)); });
    if (!services) return nullptr;
    return calls.Obtain<IShellBrowser>(
        [&](IShellBrowser** out) { return services->QueryService(SID_STopLevelBrowser, IID_PPV_ARGS(out)); });
}

bool SelectItemInWindow(IWebBrowser2* browser, HWND window, const std::wstring& item, FocusState& focus,
                        HANDLE stopEvent, RemoteCalls& calls) {
    // A name with a separator is no direct child: the view selects only those.
    if (item.empty() || item.find_first_of(L"\\/") != std::wstring::npos) return false;
    // Asked for only once a try may be made: while the user works, nothing
    // is called in the window at all.
    IShellBrowser* shellBrowser = nullptr;
    const ULONGLONG giveUpAt = GetTickCount64() + kSelectForMs;
    for (;;) {
        if (IsStopSet(stopEvent) || !MayTakeFocus(focus) || WindowIsInUse(window)) return false;
        if (!shellBrowser) shellBrowser = TopLevelBrowserOf(browser, calls);
        if (!shellBrowser) return false;
        const Attempt attempt = TrySelect(shellBrowser, item, calls);
        if (attempt != Attempt::NotYet) return attempt == Attempt::Selected;
        if (GetTickCount64() >= giveUpAt) return false;
        // A stop meanwhile ends the tries before the next one.
        Sleep(kSelectIntervalMs);
    }
}
