// Finding the shell window that shows a folder and bringing it forward, or
// opening the folder when no window shows it.
//
// Every search creates the shell's window collection afresh and walks it in
// its own index order. Each reference is held by a ComPtr in a scope of its
// own, so the releases run innermost first (window interface, browser,
// item) before the index variant is cleared and the next index is looked
// at; the collection goes after the last index.

#include "explorer/activate.h"

#include <windows.h>
#include <exdisp.h>
#include <oleidl.h>
#include <shellapi.h>
#include <wrl/client.h>

#include "explorer/folder_identity.h"
#include "explorer/window_folder_path.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr int kOpenPolls = 10;
constexpr DWORD kPollIntervalMs = 100;

// Reloads the window at index if it shows target; true once its handle has
// been restored and brought to the foreground. A window that shows target
// but yields no handle stays reloaded and answers false, so the caller goes
// on to the next index.
bool ActivateIfShowing(IShellWindows* windows, const VARIANT& index, const std::wstring& target) {
    ComPtr<IDispatch> item;
    if (FAILED(windows->Item(index, &item)) || !item) return false;

    ComPtr<IWebBrowser2> browser;
    if (FAILED(item.As(&browser)) || !browser) return false;

    std::wstring windowPath;
    if (!GetWindowFolderPath(browser.Get(), windowPath)) return false;
    if (!FolderPathsEqual(NormalizeFolderPath(windowPath), target)) return false;

    browser->Refresh();

    ComPtr<IOleWindow> oleWindow;
    if (FAILED(browser.As(&oleWindow)) || !oleWindow) return false;
    HWND handle = nullptr;
    if (FAILED(oleWindow->GetWindow(&handle)) || !handle) return false;

    // SW_RESTORE whatever the state: a minimised window comes back, a
    // maximised one returns to its normal size.
    ShowWindow(handle, SW_RESTORE);
    SetForegroundWindow(handle);
    return true;
}

// A path from the settings file can be edited by hand; "open" would run a
// program, open a document or follow a URL just as readily as a folder.
bool IsExistingDirectory(const std::wstring& path) {
    // A folder path of MAX_PATH characters or more fails in its plain form
    // without long-path support, though the folder is there.
    const DWORD attributes = GetFileAttributesW(ExtendedLengthPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

bool ActivateExistingWindow(const std::wstring& target) {
    ComPtr<IShellWindows> windows;
    if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&windows))) || !windows) {
        return false;
    }
    LONG count = 0;
    if (FAILED(windows->get_Count(&count))) return false;

    bool found = false;
    for (LONG i = 0; i < count && !found; ++i) {
        VARIANT index;
        VariantInit(&index);
        index.vt = VT_I4;
        index.lVal = i;
        found = ActivateIfShowing(windows.Get(), index, target);
        VariantClear(&index);
    }
    return found;
}

void ActivateOrOpenFolder(const std::wstring& path) {
    if (path.empty()) return;
    const std::wstring target = NormalizeFolderPath(path);
    if (target.empty()) return;

    if (ActivateExistingWindow(target)) return;
    if (!IsExistingDirectory(path)) return;

    // The path as the user stored it, not its normal form.
    ShellExecuteW(nullptr, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);

    // The shell lists a new window only some time after the request.
    for (int poll = 0; poll < kOpenPolls; ++poll) {
        Sleep(kPollIntervalMs);
        if (ActivateExistingWindow(target)) return;
    }
}
