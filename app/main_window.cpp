#include "app/main_window.h"

#include <windowsx.h>

#include <algorithm>
#include <string>

#include "app/about_box.h"
#include "app/folder_commands.h"
#include "app/resource.h"
#include "app/startup_shortcut.h"
#include "app/tray_icon.h"
#include "base/win_raii.h"
#include "explorer/activate.h"
#include "settings/settings_store.h"
#include "state/app_state.h"
#include "state/window_geometry.h"
#include "watch/change_watcher.h"
#include "watch/watch_messages.h"

namespace {

// Layout, in client pixels: the button at the top left, the list below it.
constexpr int kMargin = 10;
constexpr int kButtonWidth = 150;
constexpr int kButtonHeight = 30;
constexpr int kListTop = 50;
// The list is created from the outer window size and ends short of its
// right and bottom edges by about the frame, menu and caption; later only
// its width follows the client area, never narrower than kMinListWidth.
constexpr int kListWidthInset = 40;
constexpr int kListHeightInset = 100;
constexpr int kMinListWidth = 50;

// WM_CONTEXTMENU asked for from the keyboard (Shift+F10, the menu key)
// carries no point: x and y are both -1.
bool IsKeyboardContextMenu(LPARAM lParam) {
    return GET_X_LPARAM(lParam) == -1 && GET_Y_LPARAM(lParam) == -1;
}

// Between WM_ENTERSIZEMOVE and WM_EXITSIZEMOVE the user is dragging the
// window's frame or caption: WM_SIZE then comes dozens of times a second,
// and only the rectangle at the end of the drag is worth a save.
bool inSizeMoveLoop = false;

// The list gets 8-point Segoe UI at the display's resolution; the button
// keeps the system font. Without a device context or a font the list keeps
// the system font too.
void CreateListFont(HWND window) {
    LOGFONTW description{};
    {
        WindowDC dc(window);
        if (!dc) return;
        description.lfHeight = -MulDiv(8, GetDeviceCaps(dc.get(), LOGPIXELSY), 72);
    }
    description.lfWeight = FW_NORMAL;
    description.lfQuality = CLEARTYPE_QUALITY;
    lstrcpynW(description.lfFaceName, L"Segoe UI", LF_FACESIZE);

    HFONT font = CreateFontIndirectW(&description);
    if (!font) return;
    AppState.listFont.reset(font);
    SendMessageW(AppState.folderListBox, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

// Ending the program: the settings are saved while the window still has
// its rectangle, the watcher is stopped before anything it might use goes,
// and the loop in wWinMain ends with the quit message.
void OnDestroy(HWND window) {
    SaveSettings(window);
    StopWatching();
    WatchFrom(nullptr);
    RemoveTrayIcon(window);
    AppState.listFont.reset();
    PostQuitMessage(0);
}

// At sign-out and shutdown Windows ends the process after WM_ENDSESSION
// without destroying its windows, so WM_DESTROY's save never runs: a window
// moved without a drag (Win+Shift+arrow, another program) would lose its
// place. The same save as at exit, held back as that one is for a settings
// file that could not be read.
void OnEndSession(HWND window, bool sessionEnds) {
    if (sessionEnds) SaveSettings(window);
}

// Only the list's width follows the window; its height stays as created.
// A minimised window (client width 0) neither saves nor moves anything.
// During a drag no save is made: a flushed save at every step would make
// the resize stutter, and WM_EXITSIZEMOVE saves the final rectangle. A
// maximise or restore from the caption buttons runs no drag and saves here.
void OnSize(HWND window, WPARAM sizeType, UINT clientWidth) {
    if ((sizeType == SIZE_RESTORED || sizeType == SIZE_MAXIMIZED) && !inSizeMoveLoop) SaveSettings(window);
    HWND list = AppState.folderListBox;
    if (!list || clientWidth == 0) return;
    RECT listRect{};
    GetWindowRect(list, &listRect);
    int width = std::max(static_cast<int>(clientWidth) - kListWidthInset, kMinListWidth);
    MoveWindow(list, kMargin, kListTop, width, listRect.bottom - listRect.top, TRUE);
}

void OnPaint(HWND window) {
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    EndPaint(window, &paint);
}

void OnExitSizeMove(HWND window) {
    inSizeMoveLoop = false;
    SaveSettings(window);
}

// Closing only hides the window: the program keeps watching, and the
// notification icon brings the window back.
void OnClose(HWND window) {
    SaveSettings(window);
    ShowWindow(window, SW_HIDE);
}

// Where the list's context menu opens, in screen coordinates: the point
// of WM_CONTEXTMENU, or the list's top-left corner when the menu was asked
// for from the keyboard.
POINT ListContextMenuPoint(HWND list, LPARAM lParam) {
    POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    if (IsKeyboardContextMenu(lParam)) {
        RECT client{};
        GetClientRect(list, &client);
        point = {client.left, client.top};
        ClientToScreen(list, &point);
    }
    return point;
}

// Selects the row at a screen point, so the menu acts on what was clicked;
// a point outside the list's client area changes nothing.
void SelectListRowAt(HWND list, POINT screenPoint) {
    POINT client = screenPoint;
    ScreenToClient(list, &client);
    // The high word says whether the point lies outside the client area;
    // the low word is then only the nearest row, not the one clicked.
    LRESULT hit = SendMessageW(list, LB_ITEMFROMPOINT, 0, MAKELPARAM(client.x, client.y));
    if (HIWORD(hit) == 0) SendMessageW(list, LB_SETCURSEL, LOWORD(hit), 0);
}

// The list's one-item menu, "削除", for the row under the click.
void OnContextMenu(HWND window, HWND target, LPARAM lParam) {
    HWND list = AppState.folderListBox;
    if (!list || target != list) return;
    POINT point = ListContextMenuPoint(list, lParam);
    // From the keyboard the menu is for the row the user has selected: taking
    // the row at the corner instead would delete a folder the user never
    // chose. Only with nothing selected does that row become the selection.
    if (!IsKeyboardContextMenu(lParam) || SendMessageW(list, LB_GETCURSEL, 0, 0) == LB_ERR) {
        SelectListRowAt(list, point);
    }

    UniqueMenu menu(CreatePopupMenu());
    if (!menu) return;
    AppendMenuW(menu.get(), MF_STRING, IDM_DELETE, L"削除");
    // The menu only closes on a click elsewhere if our window is foreground.
    SetForegroundWindow(window);
    TrackPopupMenu(menu.get(), TPM_RIGHTBUTTON, point.x, point.y, 0, window, nullptr);
}

// Pausing lets go of every folder, so that nothing of ours keeps a drive
// from being ejected meanwhile; resuming arms the list as it is by then.
void TogglePause(HWND window) {
    AppState.watchingPaused = !AppState.watchingPaused;
    if (AppState.watchingPaused) StopWatching();
    else StartWatching();
    UpdateTrayIconTip(window);
}

// The check marks of the menu bar's first pop-up and of the icon's menu,
// as things are now: the shortcut is read each time, since the user may
// have deleted it or moved the exe. Items a menu does not hold are left
// alone by CheckMenuItem.
void OnInitMenuPopup(HMENU menu) {
    CheckMenuItem(menu, IDM_PAUSE_WATCHING, MF_BYCOMMAND | (AppState.watchingPaused ? MF_CHECKED : MF_UNCHECKED));
    CheckMenuItem(menu, IDM_START_AT_SIGN_IN, MF_BYCOMMAND | (StartsAtSignIn() ? MF_CHECKED : MF_UNCHECKED));
}

LRESULT OnCommand(HWND window, WPARAM wParam, LPARAM lParam) {
    WORD notification = HIWORD(wParam);
    switch (LOWORD(wParam)) {
    case IDM_ABOUT:
        DialogBoxParamW(AppState.instance, MAKEINTRESOURCEW(IDD_ABOUTBOX), window, AboutDialogProc, 0);
        return 0;
    case IDM_EXIT: DestroyWindow(window); return 0;
    case IDM_SHOW_WINDOW: ShowMainWindow(window); return 0;
    case IDM_PAUSE_WATCHING: TogglePause(window); return 0;
    case IDM_START_AT_SIGN_IN: SetStartAtSignIn(!StartsAtSignIn()); return 0;
    case IDC_SELECT_FOLDER:
        if (notification == BN_CLICKED) PickFolder(window);
        return 0;
    case IDC_FOLDER_LIST:
        if (notification == LBN_DBLCLK) OpenSelectedFolder();
        return 0;
    case IDM_DELETE: RemoveSelectedFolder(window); return 0;
    }
    return DefWindowProcW(window, WM_COMMAND, wParam, lParam);
}

}  // namespace

void RegisterMainWindowClass(HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_MAIN));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszMenuName = MAKEINTRESOURCEW(IDC_MAIN);
    windowClass.lpszClassName = AppState.windowClassName;
    windowClass.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_SMALL));
    // A failure shows up as a window that cannot be created.
    RegisterClassExW(&windowClass);
}

bool CreateMainWindow(HINSTANCE instance, int showCommand) {
    AppState.instance = instance;
    // Placed for the size the platform will really give it: a framed window
    // is never narrower than its minimum tracking width, so a stored 50 x 20
    // placed as 100 wide at the right edge would stick out past it.
    WindowGeometry placed = ClampWindowGeometry(AppState.geometry, GetSystemMetrics(SM_CXSCREEN),
                                                GetSystemMetrics(SM_CYSCREEN), GetSystemMetrics(SM_CXMINTRACK),
                                                GetSystemMetrics(SM_CYMINTRACK));
    HWND window = CreateWindowExW(0, AppState.windowClassName, AppState.title, WS_OVERLAPPEDWINDOW, placed.x,
                                  placed.y, placed.width, placed.height, nullptr, nullptr, instance, nullptr);
    if (!window) return false;

    CreateWindowExW(0, L"BUTTON", L"監視フォルダー選択", WS_CHILD | WS_VISIBLE, kMargin, kMargin, kButtonWidth,
                    kButtonHeight, window,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_SELECT_FOLDER)), instance, nullptr);
    // Sized from the outer window size: the list ends short of the bottom
    // and right edges by about the frame, menu and caption.
    AppState.folderListBox = CreateWindowExW(
        WS_EX_CLIENTEDGE, L"LISTBOX", nullptr, WS_CHILD | WS_VISIBLE | WS_VSCROLL | LBS_NOTIFY, kMargin, kListTop,
        placed.width - kListWidthInset, placed.height - kListHeightInset, window,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_FOLDER_LIST)), instance, nullptr);
    RefreshFolderListView();
    if (AppState.folderListBox) CreateListFont(window);

    WatchFrom(window);
    // Saving the settings is no change anyone wants to be shown.
    const std::wstring settingsPath = GetSettingsPath();
    IgnoreChangesIn(settingsPath.substr(0, settingsPath.find_last_of(L'\\')));
    StartWatching();
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    SaveSettings(window);
    AddTrayIcon(window);
    return true;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_DESTROY: OnDestroy(window); return 0;
    case WM_SIZE: OnSize(window, wParam, LOWORD(lParam)); return 0;
    case WM_PAINT: OnPaint(window); return 0;
    case WM_CLOSE: OnClose(window); return 0;
    case WM_CONTEXTMENU: OnContextMenu(window, reinterpret_cast<HWND>(wParam), lParam); return 0;
    case WM_COMMAND: return OnCommand(window, wParam, lParam);
    case WM_INITMENUPOPUP: OnInitMenuPopup(reinterpret_cast<HMENU>(wParam)); return 0;
    case WM_ENTERSIZEMOVE: inSizeMoveLoop = true; return 0;
    case WM_EXITSIZEMOVE: OnExitSizeMove(window); return 0;
    case WM_ENDSESSION: OnEndSession(window, wParam != FALSE); return 0;
    case WM_TRAYICON: OnTrayIcon(window, wParam, lParam); return 0;
    case WM_DEVICECHANGE: return OnDeviceChange(window, wParam, lParam);
    case WM_POWERBROADCAST: OnPowerBroadcast(window, wParam); return TRUE;
    case WM_WATCH_FOLDER_GIVEN_UP: OnFolderGivenUp(wParam, lParam); return 0;
    case WM_WATCH_CHANGE_HELD: OnChangeHeld(window, wParam, lParam); return 0;
    }
    // A registered message, not a constant: Explorer restarted and its new
    // notification area knows none of our icons.
    if (message != 0 && message == TaskbarCreatedMessage()) {
        OnTaskbarCreated(window);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void OpenSelectedFolder() {
    HWND list = AppState.folderListBox;
    if (!list) return;
    LRESULT selected = SendMessageW(list, LB_GETCURSEL, 0, 0);
    if (selected == LB_ERR) return;
    LRESULT length = SendMessageW(list, LB_GETTEXTLEN, selected, 0);
    if (length < 1) return;
    std::wstring path(static_cast<size_t>(length) + 1, L'\0');
    if (SendMessageW(list, LB_GETTEXT, selected, reinterpret_cast<LPARAM>(path.data())) == LB_ERR) return;
    path.resize(static_cast<size_t>(length));
    // The user's own request: a change held back for the folder is seen.
    DropHeldChange(path);
    ActivateOrOpenFolderForUser(path, LatestChangedItem(path));
}
