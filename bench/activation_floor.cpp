// The least a Windows program can do to answer a change in a folder with
// that folder's window, for the activation benchmarks' floors. It watches
// the folder the way the watcher does (directory_read.h) and, on each
// change:
//
//   activation_floor open <folder>   asks the shell to open the folder and
//       looks for its window every 100 ms, ten times at most, as Lumivane
//       does after its open request, without Lumivane's search beforehand;
//   activation_floor front <folder>  creates the shell's window collection,
//       asks it for the folder's window (FindWindowSW, the call Lumivane's
//       search makes where the collection cannot be counted) and shows it;
//       when there is none yet, opens the folder as above;
//   activation_floor select <folder> as front, but asks FindWindowSW for the
//       window's browser too; with one, reloads the view (IWebBrowser2::
//       Refresh) before showing the window, then selects the changed item
//       (the folder's child named by the change's last creation, rewrite or
//       new name) through SID_STopLevelBrowser, IShellBrowser,
//       QueryActiveShellView and IShellView::SelectItem, tried again every
//       100 ms for up to a second while the refreshed view does not list it,
//       and confirmed by reading the view's selection back (IFolderView),
//       since a view may answer S_OK for an item it does not have. Prints
//       one line per change: "selected", or "not selected: " and why.
//
// The window is shown as Lumivane shows it to a user who is away (the
// benchmarks keep the session quiet): a minimised window is restored, and
// the window is asked for the foreground. Prints "ready" once armed.

#include <windows.h>
#include <exdisp.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <wrl/client.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "bench/directory_read.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr int kOpenPolls = 10;
constexpr DWORD kPollIntervalMs = 100;
constexpr int kSelectTries = 10;
constexpr UINT kSelectFlags =
    SVSI_SELECT | SVSI_DESELECTOTHERS | SVSI_ENSUREVISIBLE | SVSI_FOCUSED | SVSI_NOTAKEFOCUS;

// The folder's window as the shell names it, or null; with browser, also
// the window's browser object when the shell hands one out.
HWND FindFolderWindow(const std::wstring& folder, ComPtr<IDispatch>* browser = nullptr) {
    ComPtr<IShellWindows> windows;
    if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&windows)))) return nullptr;
    HWND found = nullptr;
    if (PIDLIST_ABSOLUTE idList = ILCreateFromPathW(folder.c_str())) {
        const UINT size = ILGetSize(idList);
        VARIANT location;
        VariantInit(&location);
        location.vt = VT_ARRAY | VT_UI1;
        location.parray = SafeArrayCreateVector(VT_UI1, 0, size);
        void* data = nullptr;
        if (location.parray && SUCCEEDED(SafeArrayAccessData(location.parray, &data))) {
            std::memcpy(data, idList, size);
            SafeArrayUnaccessData(location.parray);
            VARIANT root;
            VariantInit(&root);
            LONG handle = 0;
            ComPtr<IDispatch> dispatch;
            if (windows->FindWindowSW(&location, &root, SWC_EXPLORER, &handle, browser ? SWFO_NEEDDISPATCH : 0,
                                      &dispatch) == S_OK) {
                found = reinterpret_cast<HWND>(static_cast<LONG_PTR>(handle));
                if (browser) *browser = dispatch;
            }
        }
        VariantClear(&location);
        ILFree(idList);
    }
    return found;
}

void Show(HWND window) {
    if (IsIconic(window)) ShowWindowAsync(window, SW_RESTORE);
    SetForegroundWindow(window);
}

void Open(const std::wstring& folder) {
    ShellExecuteW(nullptr, L"open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    for (int poll = 0; poll < kOpenPolls; ++poll) {
        Sleep(kPollIntervalMs);
        if (FindFolderWindow(folder)) return;
    }
}

// The watched folder's child that the last creation, rewrite or new name
// among the records names; empty when none does (a deletion, an old name,
// a completion without names).
std::wstring ChangedItem(const FILE_NOTIFY_INFORMATION* record, DWORD bytes) {
    std::wstring item;
    while (bytes != 0) {
        if (record->Action == FILE_ACTION_ADDED || record->Action == FILE_ACTION_MODIFIED ||
            record->Action == FILE_ACTION_RENAMED_NEW_NAME) {
            const std::wstring name(record->FileName, record->FileNameLength / sizeof(wchar_t));
            item = name.substr(0, name.find(L'\\'));
        }
        if (record->NextEntryOffset == 0) break;
        record = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(reinterpret_cast<const BYTE*>(record) +
                                                                  record->NextEntryOffset);
    }
    return item;
}

// Whether the view's selection is exactly item.
bool SelectionIs(IFolderView* view, IShellFolder* folder, PCUITEMID_CHILD item) {
    ComPtr<IEnumIDList> selection;
    if (FAILED(view->Items(SVGIO_SELECTION, IID_PPV_ARGS(&selection))) || !selection) return false;
    PITEMID_CHILD first = nullptr;
    ULONG fetched = 0;
    if (selection->Next(1, &first, &fetched) != S_OK || fetched != 1) return false;
    const bool same = HRESULT_CODE(folder->CompareIDs(0, first, item)) == 0;
    CoTaskMemFree(first);
    PITEMID_CHILD second = nullptr;
    const bool more = selection->Next(1, &second, &fetched) == S_OK;
    CoTaskMemFree(second);
    return same && !more;
}

// Selects item in the browser's active view; "selected" or why not.
const char* SelectInView(IDispatch* browser, const std::wstring& item) {
    ComPtr<IServiceProvider> services;
    ComPtr<IShellBrowser> shellBrowser;
    if (FAILED(browser->QueryInterface(IID_PPV_ARGS(&services))) ||
        FAILED(services->QueryService(SID_STopLevelBrowser, IID_PPV_ARGS(&shellBrowser)))) {
        return "not selected: no shell browser";
    }
    for (int attempt = 0; attempt < kSelectTries; ++attempt) {
        if (attempt > 0) Sleep(kPollIntervalMs);
        // The refresh may replace the view: ask for the active one each time.
        ComPtr<IShellView> view;
        ComPtr<IFolderView> folderView;
        ComPtr<IShellFolder> folder;
        if (FAILED(shellBrowser->QueryActiveShellView(&view)) || !view || FAILED(view.As(&folderView)) ||
            FAILED(folderView->GetFolder(IID_PPV_ARGS(&folder)))) {
            continue;
        }
        PIDLIST_RELATIVE child = nullptr;
        if (FAILED(folder->ParseDisplayName(nullptr, nullptr, const_cast<wchar_t*>(item.c_str()), nullptr, &child,
                                            nullptr))) {
            continue;
        }
        const bool selected = SUCCEEDED(view->SelectItem(child, kSelectFlags)) && SelectionIs(folderView.Get(),
                                                                                               folder.Get(), child);
        CoTaskMemFree(child);
        if (selected) return "selected";
    }
    return "not selected: not in the view within a second";
}

void Report(const char* outcome) {
    std::printf("%s\n", outcome);
    std::fflush(stdout);
}

// The select mode's answer to one change.
void ShowAndSelect(const std::wstring& folder, const std::wstring& item) {
    ComPtr<IDispatch> browser;
    HWND window = FindFolderWindow(folder, &browser);
    if (!window) {
        Open(folder);
        return Report("not selected: no window");
    }
    ComPtr<IWebBrowser2> webBrowser;
    if (browser && SUCCEEDED(browser.As(&webBrowser))) webBrowser->Refresh();
    Show(window);
    if (!webBrowser) return Report("not selected: no browser for the window");
    if (item.empty()) return Report("not selected: no item named");
    Report(SelectInView(browser.Get(), item));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 2;
    const std::wstring mode = argv[1];
    const std::wstring folder = argv[2];
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    DirectoryRead read;
    if (!read.Start(folder.c_str())) return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    while (WaitForSingleObject(read.event(), INFINITE) == WAIT_OBJECT_0) {
        DWORD bytes = 0;
        if (!read.Complete(bytes)) bytes = 0;
        // The names first, then the next read at once, as the watcher does:
        // the read reuses the buffer, and what changes meanwhile is kept.
        const std::wstring item = ChangedItem(read.records(), bytes);
        if (!read.Issue()) break;
        if (mode == L"select") {
            ShowAndSelect(folder, item);
            continue;
        }
        HWND window = mode == L"front" ? FindFolderWindow(folder) : nullptr;
        if (window) Show(window);
        else Open(folder);
    }
    return 0;
}
