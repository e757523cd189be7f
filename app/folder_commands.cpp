// Changing the watched-folder list from the main window. Every change runs
// in the same order: the list, the list box, the settings file, and last the
// watcher, whose restart stops the old worker (which works on its own copies
// of the paths and never reads the list) and arms the new list.

#include "app/folder_commands.h"

#include <shlobj.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <cstddef>

#include "base/win_raii.h"
#include "settings/settings_store.h"
#include "state/app_state.h"
#include "state/folder_list.h"
#include "watch/change_watcher.h"

using Microsoft::WRL::ComPtr;

namespace {

// The list changed: show it, store it, watch it. The user's own change is
// the one thing that may replace a settings file that could not be read at
// start-up.
void ApplyFolderListChange(HWND window) {
    RefreshFolderListView();
    SaveChangedFolderList(window);
    StartWatching();
}

// The older folder browser, for when the File Open dialog is not available.
void PickFolderWithBrowser(HWND owner) {
    BROWSEINFOW browse{};
    browse.hwndOwner = owner;
    browse.lpszTitle = L"フォルダーを選択";
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    UniqueIdList item(SHBrowseForFolderW(&browse));
    if (!item) return;  // cancelled
    wchar_t path[MAX_PATH] = {};
    if (SHGetPathFromIDListW(item.get(), path)) AddFolder(owner, path);
}

}  // namespace

FolderDialogCalls PlatformFolderDialogCalls() {
    return FolderDialogCalls{CoCreateInstance};
}

FolderDialogCalls& CurrentFolderDialogCalls() {
    static FolderDialogCalls calls = PlatformFolderDialogCalls();
    return calls;
}

// Puts path at the front of the list (an entry naming it with other A-Z
// letter case goes, the oldest drops off beyond ten) and applies the change.
// An empty path changes, saves and restarts nothing.
void AddFolder(HWND owner, const std::wstring& path) {
    if (!InsertFolderAtFront(AppState.folders, path)) return;
    ApplyFolderListChange(owner);
}

// Removes the entry selected in the list box. List box item i is list entry
// i, since the box is always refilled from the list and never sorts.
void RemoveSelectedFolder(HWND window) {
    if (AppState.folderListBox == nullptr) return;
    LRESULT selected = SendMessageW(AppState.folderListBox, LB_GETCURSEL, 0, 0);
    if (selected == LB_ERR) return;
    // Taken unsigned, so that any other negative answer is out of range too.
    auto index = static_cast<std::size_t>(selected);
    if (index >= AppState.folders.size()) return;
    AppState.folders.erase(AppState.folders.begin() + static_cast<std::ptrdiff_t>(index));
    ApplyFolderListChange(window);
}

// Refills the list box from the list, front to back. Emptying it first also
// clears the selection. Does nothing before the list box exists.
void RefreshFolderListView() {
    if (AppState.folderListBox == nullptr) return;
    SendMessageW(AppState.folderListBox, LB_RESETCONTENT, 0, 0);
    for (const std::wstring& folder : AppState.folders) {
        SendMessageW(AppState.folderListBox, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(folder.c_str()));
    }
}

// Lets the user choose a folder with the File Open dialog in folder mode
// and adds it as the dialog returns it. The older folder browser stands in
// only when the dialog object cannot be created at all.
void PickFolder(HWND owner) {
    ComPtr<IFileOpenDialog> dialog;
    if (FAILED(CurrentFolderDialogCalls().createInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                                         IID_PPV_ARGS(&dialog))) ||
        !dialog) {
        PickFolderWithBrowser(owner);
        return;
    }

    FILEOPENDIALOGOPTIONS options = 0;
    if (SUCCEEDED(dialog->GetOptions(&options))) {
        dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
    }
    if (FAILED(dialog->Show(owner))) return;  // cancelled included

    ComPtr<IShellItem> item;
    if (FAILED(dialog->GetResult(&item)) || !item) return;
    PWSTR received = nullptr;
    if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, &received))) return;
    UniqueTaskMemory<wchar_t> path(received);
    if (path) AddFolder(owner, std::wstring(path.get()));
}
