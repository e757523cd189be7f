#include "app/tray_icon.h"

#include <shellapi.h>

#include <string>
#include <utility>

#include "app/resource.h"
#include "base/win_raii.h"
#include "explorer/activate.h"
#include "explorer/folder_identity.h"
#include "state/app_state.h"
#include "watch/change_watcher.h"

namespace {

NOTIFYICONDATAW IconIdentity(HWND window) {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = window;
    data.uID = kTrayIconId;
    return data;
}

// The tip names the program, and says so while watching is paused.
void SetTip(NOTIFYICONDATAW& data) {
    std::wstring tip = AppState.title;
    if (AppState.watchingPaused) tip += L" (一時停止中)";
    lstrcpynW(data.szTip, tip.c_str(), ARRAYSIZE(data.szTip));
}

// "Show Window" / "Pause watching" / "Exit" at the cursor; the pause gets
// its check mark as the menu opens (WM_INITMENUPOPUP), the choice arrives
// later as WM_COMMAND.
void ShowTrayIconMenu(HWND window) {
    UniqueMenu menu(CreatePopupMenu());
    if (!menu) return;
    AppendMenuW(menu.get(), MF_STRING, IDM_SHOW_WINDOW, L"Show Window");
    AppendMenuW(menu.get(), MF_STRING, IDM_PAUSE_WATCHING, L"Pause watching");
    AppendMenuW(menu.get(), MF_STRING, IDM_EXIT, L"Exit");
    POINT cursor{0, 0};
    GetCursorPos(&cursor);
    // The menu only closes on a click elsewhere if our window is foreground.
    SetForegroundWindow(window);
    TrackPopupMenu(menu.get(), TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, window, nullptr);
    // Without a message after the menu, the next click on the icon's menu
    // can close it at once (a known shell quirk).
    PostMessageW(window, WM_NULL, 0, 0);
}

// The folder the balloon shown last is about, and the item it names;
// empty when none is.
std::wstring balloonFolder;
std::wstring balloonItem;

// The balloon is the user's own request for its folder's window, as a
// double-click on the list is: the watcher drops the change it holds. A
// folder taken off the list since is still shown: the balloon named it.
void OpenBalloonFolder() {
    const std::wstring folder = std::exchange(balloonFolder, {});
    const std::wstring item = std::exchange(balloonItem, {});
    if (folder.empty()) return;  // no balloon of ours is showing
    DropHeldChange(folder);
    ActivateOrOpenFolderForUser(folder, item);
}

}  // namespace

void AddTrayIcon(HWND window) {
    // An elevated instance would never hear the non-elevated shell's
    // "TaskbarCreated" through the message filter.
    if (UINT taskbarCreated = TaskbarCreatedMessage()) {
        ChangeWindowMessageFilterEx(window, taskbarCreated, MSGFLT_ALLOW, nullptr);
    }
    if (AppState.trayIconAdded) return;
    RegisterTrayIcon(window);
}

void RegisterTrayIcon(HWND window) {
    NOTIFYICONDATAW data = IconIdentity(window);
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = WM_TRAYICON;
    data.hIcon = LoadIconW(AppState.instance, MAKEINTRESOURCEW(IDI_MAIN));
    SetTip(data);
    // An add fails when the shell still holds an icon with this window and
    // id (a "TaskbarCreated" sent while nothing was lost, or a shell that
    // re-reads its icons itself); a modify that succeeds then tells us the
    // icon is there.
    AppState.trayIconAdded = Shell_NotifyIconW(NIM_ADD, &data) || Shell_NotifyIconW(NIM_MODIFY, &data);
}

void UpdateTrayIconTip(HWND window) {
    NOTIFYICONDATAW data = IconIdentity(window);
    data.uFlags = NIF_TIP;
    SetTip(data);
    Shell_NotifyIconW(NIM_MODIFY, &data);
}

void RemoveTrayIcon(HWND window) {
    if (!AppState.trayIconAdded) return;
    NOTIFYICONDATAW data = IconIdentity(window);
    Shell_NotifyIconW(NIM_DELETE, &data);
    AppState.trayIconAdded = false;
}

void OnTrayIcon(HWND window, WPARAM iconId, LPARAM mouseMessage) {
    if (iconId != kTrayIconId) return;
    switch (mouseMessage) {
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK: ShowMainWindow(window); break;
    case WM_CONTEXTMENU:
    case WM_RBUTTONUP: ShowTrayIconMenu(window); break;
    case NIN_BALLOONUSERCLICK: OpenBalloonFolder(); break;
    }
}

void OnChangeHeld(HWND window, WPARAM worker, LPARAM entry) {
    const std::wstring folder = ReportedFolder(worker, entry);
    if (folder.empty()) return;
    NOTIFYICONDATAW data = IconIdentity(window);
    data.uFlags = NIF_INFO;
    // Quiet time (a new account's first hour, a presentation) is the
    // shell's to honour; the watcher asks for no balloon at all while it
    // knows the user is not to be disturbed.
    data.dwInfoFlags = NIIF_INFO | NIIF_RESPECT_QUIET_TIME | NIIF_NOSOUND;
    lstrcpynW(data.szInfoTitle, AppState.title, ARRAYSIZE(data.szInfoTitle));
    const std::wstring item = ReportedItem(worker, entry);
    const std::wstring text = item.empty() ? L"「" + FolderDisplayName(folder) + L"」が変更されました"
                                           : L"「" + item + L"」— " + FolderDisplayName(folder);
    lstrcpynW(data.szInfo, text.c_str(), ARRAYSIZE(data.szInfo));
    if (Shell_NotifyIconW(NIM_MODIFY, &data)) {
        balloonFolder = folder;
        balloonItem = item;
    }
}

void ShowMainWindow(HWND window) {
    ShowWindow(window, SW_RESTORE);
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

UINT TaskbarCreatedMessage() {
    static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
    return message;
}

void OnTaskbarCreated(HWND window) {
    RegisterTrayIcon(window);
}
