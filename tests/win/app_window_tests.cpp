// The real main window, created by CreateMainWindow in this process and
// driven through its window procedure: controls, geometry, hiding, the
// notification icon's callback and menu, the list's context menu, the
// icon's return after the shell re-creates the notification area, and the
// end. Menus are inspected and closed from a timer that their modal loop
// dispatches.

#include <gtest/gtest.h>

#include <windows.h>
#include <dbt.h>
#include <initguid.h>
#include <ioevent.h>
#include <knownfolders.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "activation_recorder.h"
#include "app/main_window.h"
#include "app/resource.h"
#include "app/tray_icon.h"
#include "base/win_raii.h"
#include "explorer/folder_access.h"
#include "fake_desktop.h"
#include "handle_count.h"
#include "scoped_local_app_data.h"
#include "settings/settings_store.h"
#include "state/app_state.h"
#include "test_support.h"
#include "watch/change_watcher.h"
#include "watch/drive_events.h"
#include "watch/watch_messages.h"

using namespace std::chrono_literals;

namespace {

HMODULE Self() {
    return GetModuleHandleW(nullptr);
}

// True while the shell holds our icon: a modify of nothing succeeds only
// for a registered icon.
bool ShellHasIcon(HWND window) {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = window;
    data.uID = kTrayIconId;
    return Shell_NotifyIconW(NIM_MODIFY, &data);
}

// What the shell does to every icon when its notification area is gone.
void ShellForgetsIcon(HWND window) {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = window;
    data.uID = kTrayIconId;
    Shell_NotifyIconW(NIM_DELETE, &data);
}

struct MenuItem {
    std::wstring text;
    UINT command;
    bool checked = false;
    bool operator==(const MenuItem&) const = default;
};

// A pop-up menu as it was on screen, and whether one appeared at all.
struct ShownMenu {
    bool seen = false;
    std::vector<MenuItem> items;
    LRESULT listSelection = LB_ERR;  // the list's selection while the menu was open
};

ShownMenu* watchedMenu = nullptr;
// Past this tick a menu that is open but not found is ended unseen, so that
// a failing test fails instead of waiting in the menu's loop for ever.
ULONGLONG menuGiveUpAt = 0;

void CALLBACK InspectAndCloseMenu(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND popup = ThreadWindowOfClass(L"#32768");
    if (!popup) {
        if (GetTickCount64() < menuGiveUpAt) return;  // not open yet: look again
        KillTimer(nullptr, timer);
        EndMenu();
        return;
    }
    KillTimer(nullptr, timer);
    ShownMenu& shown = *watchedMenu;
    shown.seen = true;
    HMENU menu = reinterpret_cast<HMENU>(SendMessageW(popup, MN_GETHMENU, 0, 0));
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        wchar_t text[64] = {};
        GetMenuStringW(menu, i, text, 64, MF_BYPOSITION);
        shown.items.push_back({text, GetMenuItemID(menu, i), (GetMenuState(menu, i, MF_BYPOSITION) & MF_CHECKED) != 0});
    }
    if (AppState.folderListBox) shown.listSelection = SendMessageW(AppState.folderListBox, LB_GETCURSEL, 0, 0);
    EndMenu();
}

// Sends a message that may open a pop-up menu, and reports the menu.
ShownMenu SendAndWatchForMenu(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ShownMenu shown;
    watchedMenu = &shown;
    menuGiveUpAt = GetTickCount64() + 3000;
    UINT_PTR timer = SetTimer(nullptr, 0, 20, InspectAndCloseMenu);
    SendMessageW(window, message, wParam, lParam);
    KillTimer(nullptr, timer);
    watchedMenu = nullptr;
    return shown;
}

// Removes everything queued for the thread; true if a WM_NULL to window
// was among it.
bool DrainQueueFindingNull(HWND window) {
    bool found = false;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.hwnd == window && message.message == WM_NULL) found = true;
        if (message.message != WM_QUIT) DispatchMessageW(&message);
    }
    return found;
}

RECT ChildRect(HWND parent, HWND child) {
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

class MainWindow : public ::testing::Test {
protected:
    // The apartment start-up enters, for the whole suite.
    static inline std::optional<ComApartment> apartment_;

    static void SetUpTestSuite() {
        apartment_.emplace();
        LoadStringW(Self(), IDS_APP_TITLE, AppState.title, 100);
        LoadStringW(Self(), IDC_MAIN, AppState.windowClassName, 100);
        RegisterMainWindowClass(Self());
    }
    static void TearDownTestSuite() { apartment_.reset(); }

    // Loads the settings of a fresh Local AppData (the defaults), lets the
    // test adjust them, and creates the window as start-up does.
    void Create(const std::function<void()>& adjust = [] {}) {
        LoadSettings();
        AppState.folders = {L"C:\\lumivane-test\\新しいフォルダー", L"C:\\lumivane-test\\b", L"C:\\lumivane-test\\c"};
        adjust();
        ASSERT_TRUE(CreateMainWindow(Self(), SW_SHOWNORMAL));
        window_ = FindWindowW(AppState.windowClassName, AppState.title);
        ASSERT_NE(window_, nullptr);
        list_ = AppState.folderListBox;
        ASSERT_NE(list_, nullptr);
        DrainQueueFindingNull(window_);
    }

    void TearDown() override {
        if (window_ && IsWindow(window_)) DestroyWindow(window_);
        DrainQueueFindingNull(window_);
        AppState.folders.clear();
        AppState.folderListBox = nullptr;
        AppState.watchingPaused = false;
    }

    ScopedLocalAppData appData_;
    HWND window_ = nullptr;
    HWND list_ = nullptr;
};

TEST_F(MainWindow, HasItsButtonListFontAndIcon) {
    Create();
    EXPECT_EQ(GetWindowLongW(window_, GWL_STYLE) & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);
    EXPECT_TRUE(GetWindowLongW(window_, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_TRUE(IsWindowVisible(window_));
    EXPECT_NE(GetMenu(window_), nullptr) << "the class menu";

    HWND button = GetDlgItem(window_, IDC_SELECT_FOLDER);
    ASSERT_NE(button, nullptr);
    wchar_t text[64] = {};
    GetWindowTextW(button, text, 64);
    EXPECT_STREQ(text, L"監視フォルダー選択");
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(button, GWL_STYLE)), static_cast<DWORD>(WS_CHILD | WS_VISIBLE));
    RECT rect = ChildRect(window_, button);
    EXPECT_EQ(rect.left, 10);
    EXPECT_EQ(rect.top, 10);
    EXPECT_EQ(rect.right - rect.left, 150);
    EXPECT_EQ(rect.bottom - rect.top, 30);
    EXPECT_EQ(SendMessageW(button, WM_GETFONT, 0, 0), 0) << "the button keeps the system font";

    EXPECT_EQ(GetDlgItem(window_, IDC_FOLDER_LIST), list_);
    // The list drops WS_VSCROLL by itself while all rows fit.
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(list_, GWL_STYLE)) & ~WS_VSCROLL,
              static_cast<DWORD>(WS_CHILD | WS_VISIBLE | LBS_NOTIFY));
    EXPECT_TRUE(GetWindowLongW(list_, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
    // Created 40 pixels narrower than the window; showing it sized the list
    // to the client width less 40. The list rounds its height down to whole
    // rows.
    RECT outer{}, client{};
    GetWindowRect(window_, &outer);
    GetClientRect(window_, &client);
    rect = ChildRect(window_, list_);
    EXPECT_EQ(rect.left, 10);
    EXPECT_EQ(rect.top, 50);
    EXPECT_EQ(rect.right - rect.left, client.right - 40);
    const int height = rect.bottom - rect.top;
    EXPECT_LE(height, (outer.bottom - outer.top) - 100);
    EXPECT_GT(height, (outer.bottom - outer.top) - 100 - SendMessageW(list_, LB_GETITEMHEIGHT, 0, 0));
    ASSERT_EQ(SendMessageW(list_, LB_GETCOUNT, 0, 0), 3);
    GetWindowTextW(list_, text, 64);
    EXPECT_STREQ(text, L"");
    SendMessageW(list_, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(text, L"C:\\lumivane-test\\新しいフォルダー");

    HFONT font = reinterpret_cast<HFONT>(SendMessageW(list_, WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(font, AppState.listFont.get());
    LOGFONTW description{};
    GetObjectW(font, sizeof(description), &description);
    EXPECT_STREQ(description.lfFaceName, L"Segoe UI");
    HDC dc = GetDC(window_);
    EXPECT_EQ(description.lfHeight, -MulDiv(8, GetDeviceCaps(dc, LOGPIXELSY), 72));
    ReleaseDC(window_, dc);
    EXPECT_EQ(description.lfWeight, FW_NORMAL);
    EXPECT_EQ(description.lfQuality, CLEARTYPE_QUALITY);
    EXPECT_EQ(description.lfCharSet, 0);

    EXPECT_TRUE(AppState.trayIconAdded);
    EXPECT_TRUE(ShellHasIcon(window_));
}

TEST_F(MainWindow, OpensAtTheStoredGeometryKeptOnThePrimaryScreen) {
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    // The platform itself never makes a framed window smaller than this.
    const int smallestWidth = std::max(100, GetSystemMetrics(SM_CXMINTRACK));
    const int smallestHeight = std::max(100, GetSystemMetrics(SM_CYMINTRACK));
    struct Case {
        WindowGeometry stored;
        RECT expected;  // left, top, right, bottom
    };
    const Case cases[] = {
        {{120, 80, 420, 350}, {120, 80, 540, 430}},
        {{-300, 40, 50, 20}, {0, 40, smallestWidth, 40 + smallestHeight}},
        {{screenWidth - 100, 10, 400, 300}, {screenWidth - 400, 10, screenWidth, 310}},
        {{50, 50, screenWidth + 500, screenHeight + 500}, {0, 0, screenWidth, screenHeight}},
    };
    for (const Case& c : cases) {
        Create([&] { AppState.geometry = c.stored; });
        RECT rect{};
        GetWindowRect(window_, &rect);
        EXPECT_EQ(rect.left, c.expected.left) << c.stored.x;
        EXPECT_EQ(rect.top, c.expected.top) << c.stored.y;
        EXPECT_EQ(rect.right, c.expected.right) << c.stored.width;
        EXPECT_EQ(rect.bottom, c.expected.bottom) << c.stored.height;
        TearDown();
    }
}

TEST_F(MainWindow, ResizingWidensTheListButNeverHeightensIt) {
    Create([] { AppState.geometry = {100, 100, 420, 350}; });
    const RECT before = ChildRect(window_, list_);
    for (int width : {600, 300, 120}) {
        SetWindowPos(window_, nullptr, 0, 0, width, 500, SWP_NOMOVE | SWP_NOZORDER);
        RECT client{};
        GetClientRect(window_, &client);
        RECT rect = ChildRect(window_, list_);
        EXPECT_EQ(rect.left, 10);
        EXPECT_EQ(rect.top, 50);
        EXPECT_EQ(rect.right - rect.left, std::max<int>(client.right - 40, 50)) << width;
        EXPECT_EQ(rect.bottom - rect.top, before.bottom - before.top) << width;
    }
}

// A drag runs the system's size/move loop: its many WM_SIZEs save nothing,
// and its end saves the final rectangle. A maximise or restore from the
// caption buttons runs no loop and saves at once. The file is deleted before
// each step, so only a save can bring it back.
TEST_F(MainWindow, ADragSavesOnceAtItsEndAndACaptionMaximiseAtOnce) {
    Create([] {
        AppState.geometry = {100, 100, 420, 350};
        AppState.folders.clear();
    });
    const std::wstring file = appData_.settingsFile();
    const std::string dragged = "\xEF\xBB\xBF{\"x\":100,\"y\":100,\"width\":500,\"height\":398,\"folders\":[]}";
    ASSERT_TRUE(DeleteFileW(file.c_str()));
    SendMessageW(window_, WM_ENTERSIZEMOVE, 0, 0);
    for (int step = 1; step <= 16; ++step) {
        SetWindowPos(window_, nullptr, 0, 0, 420 + step * 5, 350 + step * 3, SWP_NOMOVE | SWP_NOZORDER);
        EXPECT_FALSE(FileExists(file)) << "saved during the drag, step " << step;
    }
    SendMessageW(window_, WM_EXITSIZEMOVE, 0, 0);
    EXPECT_EQ(ReadBytes(file), dragged);
    for (WPARAM command : {SC_MAXIMIZE, SC_RESTORE}) {
        ASSERT_TRUE(DeleteFileW(file.c_str()));
        SendMessageW(window_, WM_SYSCOMMAND, command, 0);
        EXPECT_EQ(ReadBytes(file), dragged) << "caption command " << command;
    }
}

TEST_F(MainWindow, ClosingOnlyHidesTheWindowAndTheIconStays) {
    Create();
    SendMessageW(window_, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(window_));
    EXPECT_FALSE(IsWindowVisible(window_));
    EXPECT_TRUE(AppState.trayIconAdded);
    EXPECT_TRUE(ShellHasIcon(window_));
}

TEST_F(MainWindow, IconClicksShowTheWindowAgain) {
    Create();
    struct Case {
        const char* what;
        WPARAM icon;
        LPARAM mouse;
        bool shows;
    };
    const Case cases[] = {
        {"left button up", kTrayIconId, WM_LBUTTONUP, true},
        {"left double-click", kTrayIconId, WM_LBUTTONDBLCLK, true},
        {"left button down", kTrayIconId, WM_LBUTTONDOWN, false},
        {"mouse move", kTrayIconId, WM_MOUSEMOVE, false},
        {"another icon's click", kTrayIconId + 1, WM_LBUTTONUP, false},
    };
    for (const Case& c : cases) {
        SendMessageW(window_, WM_CLOSE, 0, 0);
        SetWindowPos(window_, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        SendMessageW(window_, WM_TRAYICON, c.icon, c.mouse);
        EXPECT_EQ(IsWindowVisible(window_) != FALSE, c.shows) << c.what;
        EXPECT_EQ((GetWindowLongW(window_, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0, c.shows) << c.what;
    }
}

// A change held back while the user types (input 9 s ago, on a stand-in
// desktop whose clock runs): a click on its balloon, or a double-click on
// its row, is the user's own request for the folder, made at once, and the
// watcher then shows nothing more of that change once the user is away.
// (Wine's notification area shows balloons but reports no click on them:
// the click is sent here as the shell sends it.)
TEST_F(MainWindow, TheUsersOwnRequestForAFolderWithAHeldChangeIsMadeAtOnceAndOnce) {
    ScratchFolder root;
    const std::wstring folder = root.Make(L"Scans");
    for (const LPARAM request : {LPARAM{NIN_BALLOONUSERCLICK}, LPARAM{LBN_DBLCLK}}) {
        SCOPED_TRACE(request == LBN_DBLCLK ? "double-click" : "balloon click");
        recorder::Reset();
        recorder::AnswerByFocusRule();
        FakeDesktopInUse typing({.userInputAt = -9000, .clockRuns = true});
        Create([&] { AppState.folders = {folder}; });
        SendMessageW(window_, WM_TRAYICON, kTrayIconId, NIN_BALLOONUSERCLICK);  // no balloon yet: names nothing
        CreateDirectoryW((folder + L"\\" + std::to_wstring(request)).c_str(), nullptr);
        ASSERT_TRUE(recorder::WaitForCalls(1, 5s));
        SendMessageW(list_, LB_SETCURSEL, 0, 0);
        // Until the worker's report has reached the window, a balloon click
        // names nothing.
        EXPECT_TRUE(WaitUntil(
            [&] {
                PumpMessages();
                if (request == LBN_DBLCLK) SendMessageW(window_, WM_COMMAND, MAKEWPARAM(IDC_FOLDER_LIST, LBN_DBLCLK), 0);
                else SendMessageW(window_, WM_TRAYICON, kTrayIconId, NIN_BALLOONUSERCLICK);
                return recorder::Calls().size() >= 2;
            },
            3s));
        Sleep(1500);  // past the moment the user counts as away
        PumpMessages();
        ASSERT_EQ(recorder::Paths(), (std::vector<std::wstring>{folder, folder}));
        EXPECT_EQ(recorder::Calls()[1].threadId, GetCurrentThreadId()) << "not the user's own request";
        DestroyWindow(window_);
    }
    recorder::Reset();
}

TEST_F(MainWindow, ShowWindowRestoresAMinimisedWindowToItsPlace) {
    Create([] { AppState.geometry = {150, 120, 420, 350}; });
    ShowWindow(window_, SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(window_));
    SendMessageW(window_, WM_COMMAND, IDM_SHOW_WINDOW, 0);
    EXPECT_FALSE(IsIconic(window_));
    EXPECT_TRUE(IsWindowVisible(window_));
    RECT rect{};
    GetWindowRect(window_, &rect);
    EXPECT_EQ(rect.left, 150);
    EXPECT_EQ(rect.top, 120);
    EXPECT_EQ(rect.right - rect.left, 420);
}

// "Pause watching" is checked while paused, the second time round.
TEST_F(MainWindow, IconMenuOffersShowWindowPauseAndExitInEnglish) {
    Create();
    for (bool paused : {false, true}) {
        const std::vector<MenuItem> expected = {
            {L"Show Window", IDM_SHOW_WINDOW}, {L"Pause watching", IDM_PAUSE_WATCHING, paused}, {L"Exit", IDM_EXIT}};
        if (paused) SendMessageW(window_, WM_COMMAND, IDM_PAUSE_WATCHING, 0);
        for (LPARAM request : {LPARAM{WM_RBUTTONUP}, LPARAM{WM_CONTEXTMENU}}) {
            ShownMenu shown = SendAndWatchForMenu(window_, WM_TRAYICON, kTrayIconId, request);
            EXPECT_TRUE(shown.seen) << request;
            EXPECT_EQ(shown.items, expected) << request;
            // The message that lets the next click on the icon work.
            EXPECT_TRUE(DrainQueueFindingNull(window_)) << request;
        }
    }
    ShownMenu other = SendAndWatchForMenu(window_, WM_TRAYICON, kTrayIconId + 1, WM_RBUTTONUP);
    EXPECT_FALSE(other.seen);
}

TEST_F(MainWindow, ListContextMenuSelectsTheRowUnderThePoint) {
    Create([] {
        for (int i = 0; i < 30; ++i) AppState.folders.push_back(L"C:\\row" + std::to_wstring(i));
    });
    const LRESULT rowHeight = SendMessageW(list_, LB_GETITEMHEIGHT, 0, 0);
    ASSERT_GT(rowHeight, 0);
    auto screenPoint = [&](int clientX, int clientY) {
        POINT point{clientX, clientY};
        ClientToScreen(list_, &point);
        return MAKELPARAM(point.x, point.y);
    };
    struct Case {
        const char* what;
        int topRow;
        int selectedBefore;
        std::function<LPARAM()> point;
        int selectedAfter;
    };
    const Case cases[] = {
        {"right click on row 2", 0, 0, [&] { return screenPoint(5, int(rowHeight * 2 + 1)); }, 2},
        {"right click on the first visible row when scrolled", 5, 0, [&] { return screenPoint(5, 1); }, 5},
        {"keyboard with a row selected: that row stays", 4, 1, [] { return MAKELPARAM(-1, -1); }, 1},
        {"keyboard with nothing selected: the row at the top-left corner", 4, -1, [] { return MAKELPARAM(-1, -1); }, 4},
        {"right click left of the list's client area", 0, 3, [&] { return screenPoint(-3, int(rowHeight)); }, 3},
    };
    const std::vector<MenuItem> expected = {{L"削除", IDM_DELETE}};
    for (const Case& c : cases) {
        SendMessageW(list_, LB_SETCURSEL, c.selectedBefore, 0);
        SendMessageW(list_, LB_SETTOPINDEX, c.topRow, 0);
        ShownMenu shown = SendAndWatchForMenu(window_, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list_), c.point());
        EXPECT_TRUE(shown.seen) << c.what;
        EXPECT_EQ(shown.items, expected) << c.what;
        EXPECT_EQ(shown.listSelection, c.selectedAfter) << c.what;
    }
}

TEST_F(MainWindow, NoContextMenuOutsideTheList) {
    Create();
    POINT centre{200, 20};
    ClientToScreen(window_, &centre);
    for (HWND target : {window_, GetDlgItem(window_, IDC_SELECT_FOLDER)}) {
        ShownMenu shown = SendAndWatchForMenu(window_, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(target),
                                              MAKELPARAM(centre.x, centre.y));
        EXPECT_FALSE(shown.seen);
    }
}

TEST_F(MainWindow, IconComesBackWhenTheShellRecreatesTheNotificationArea) {
    Create();
    const UINT taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    ASSERT_NE(taskbarCreated, 0u);
    struct Case {
        const char* what;
        bool shellLostIcon;
        bool flagBefore;  // what the program believed before the announcement
    };
    const Case cases[] = {
        {"Explorer restarted: the icon is gone", true, true},
        {"the first add had failed", true, false},
        {"announcement while the icon is still there", false, true},
    };
    for (const Case& c : cases) {
        if (c.shellLostIcon) ShellForgetsIcon(window_);
        ASSERT_EQ(ShellHasIcon(window_), !c.shellLostIcon) << c.what;
        AppState.trayIconAdded = c.flagBefore;
        SendMessageW(window_, taskbarCreated, 0, 0);
        EXPECT_TRUE(ShellHasIcon(window_)) << c.what;
        EXPECT_TRUE(AppState.trayIconAdded) << c.what;
        // And the re-added icon works: a click shows the hidden window.
        SendMessageW(window_, WM_CLOSE, 0, 0);
        SendMessageW(window_, WM_TRAYICON, kTrayIconId, WM_LBUTTONUP);
        EXPECT_TRUE(IsWindowVisible(window_)) << c.what;
    }
}

TEST_F(MainWindow, ExitRemovesTheIconFreesTheFontAndEndsTheLoop) {
    Create();
    SendMessageW(window_, WM_COMMAND, IDM_EXIT, 0);
    EXPECT_FALSE(IsWindow(window_));
    EXPECT_FALSE(AppState.trayIconAdded);
    EXPECT_FALSE(ShellHasIcon(window_));
    EXPECT_EQ(AppState.listFont.get(), nullptr);
    MSG message{};
    bool quit = false;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            quit = true;
            EXPECT_EQ(message.wParam, 0u);
        }
    }
    EXPECT_TRUE(quit);
    window_ = nullptr;
}

// --- Drives that come and go ----------------------------------------------

// What the system knows of the program's registrations: each one made and
// not yet dropped, in the order made, with the handle the system returned.
std::vector<HDEVNOTIFY> liveRegistrations;
int registrationsMade = 0;
HDEVNOTIFY WINAPI RecordRegistration(HANDLE recipient, LPVOID filter, DWORD flags) {
    HDEVNOTIFY made = RegisterDeviceNotificationW(recipient, filter, flags);
    if (made) liveRegistrations.push_back(made);
    registrationsMade += made != nullptr;
    return made;
}
std::vector<HDEVNOTIFY> droppedRegistrations;
BOOL WINAPI RecordUnregistration(HDEVNOTIFY notification) {
    std::erase(liveRegistrations, notification);
    droppedRegistrations.push_back(notification);
    return UnregisterDeviceNotification(notification);
}

DeviceNotificationCalls RecordingDeviceCalls() {
    DeviceNotificationCalls calls = PlatformDeviceNotificationCalls();
    calls.registerDeviceNotification = RecordRegistration;
    calls.unregisterDeviceNotification = RecordUnregistration;
    return calls;
}

// What the system sends about one registration (a volume event, with its
// kind), or a volume's arrival.
LRESULT SendHandleEvent(HWND window, WPARAM event, HDEVNOTIFY notification, const GUID* custom = nullptr) {
    DEV_BROADCAST_HANDLE handle{};
    handle.dbch_size = sizeof(handle);
    handle.dbch_devicetype = DBT_DEVTYP_HANDLE;
    handle.dbch_hdevnotify = notification;
    if (custom) handle.dbch_eventguid = *custom;
    return SendMessageW(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&handle));
}
// Restarts that follow an arrival or a pulled-out drive wait for a short
// timer: the messages are pumped until it has surely fired.
void PumpForAWhile() {
    WaitUntil([] { PumpMessages(); return false; }, 600ms, 10ms);
}
void SendArrival(HWND window, wchar_t drive, bool thenPump = true) {
    DEV_BROADCAST_VOLUME volume{};
    volume.dbcv_size = sizeof(volume);
    volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    volume.dbcv_unitmask = 1u << (drive - L'A');
    SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&volume));
    if (thenPump) PumpForAWhile();
}

// Wine's drive letters are links in the prefix's dosdevices folder: a
// letter mapped during a test stands for a card put into a reader, or a
// network drive.
std::wstring DosDevice(wchar_t drive) {
    std::wstring dosDevice = QuotedUnixPath(L"C:\\");
    if (!dosDevice.ends_with(L"/c:/\"")) return {};
    return dosDevice.replace(dosDevice.size() - 4, 4, std::wstring(1, towlower(drive)) + L":\"");
}
bool MapDrive(wchar_t drive, const std::wstring& folder) {
    const std::wstring root = std::wstring(1, drive) + L":\\";
    return StartUnixProgram(L"/bin/ln", L"/bin/ln -s " + QuotedUnixPath(folder) + L" " + DosDevice(drive)) &&
           WaitUntil([&root] { return GetFileAttributesW(root.c_str()) != INVALID_FILE_ATTRIBUTES; }, 5s);
}
bool UnmapDrive(wchar_t drive) {
    const std::wstring root = std::wstring(1, drive) + L":\\";
    return StartUnixProgram(L"/bin/rm", L"/bin/rm -f " + DosDevice(drive)) &&
           WaitUntil([&root] { return GetFileAttributesW(root.c_str()) == INVALID_FILE_ATTRIBUTES; }, 5s);
}
// However the test ends: a letter left mapped would fail every later run in
// this prefix.
struct UnmapAtEnd {
    wchar_t drive;
    ~UnmapAtEnd() { UnmapDrive(drive); }
};

// What the file system is asked about folders (arming, existence), by
// path, from any thread; and a drive letter the platform reports as a
// network drive.
SRWLOCK folderCallsLock = SRWLOCK_INIT;
std::vector<std::wstring> folderCalls;
wchar_t networkDrive = 0;
void RecordFolderCall(LPCWSTR path) {
    AcquireSRWLockExclusive(&folderCallsLock);
    folderCalls.push_back(path);
    ReleaseSRWLockExclusive(&folderCallsLock);
}
HANDLE WINAPI RecordedOpen(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD how,
                          DWORD flags, HANDLE model) {
    RecordFolderCall(path);
    return CreateFileW(path, access, share, security, how, flags, model);
}
DWORD WINAPI RecordedAttributes(LPCWSTR path) {
    RecordFolderCall(path);
    return GetFileAttributesW(path);
}
UINT WINAPI DriveTypeWithNetworkDrive(LPCWSTR root) {
    return towupper(root[0]) == networkDrive ? DRIVE_REMOTE : GetDriveTypeW(root);
}
std::size_t FolderCallsFor(const std::wstring& folder) {
    AcquireSRWLockExclusive(&folderCallsLock);
    const auto count = std::count_if(folderCalls.begin(), folderCalls.end(),
                                     [&folder](const std::wstring& path) { return path.ends_with(folder); });
    ReleaseSRWLockExclusive(&folderCallsLock);
    return static_cast<std::size_t>(count);
}

std::vector<std::wstring> WatchedFolders() {
    std::vector<std::wstring> folders;
    for (const WatchEntry& entry : AppState.watchEntries) folders.push_back(entry.folderPath);
    return folders;
}

// Watched for real: a change reaches the activation.
bool IsWatched(const std::wstring& folder) {
    recorder::Reset();
    CreateDirectoryW((folder + L"\\change-" + std::to_wstring(GetTickCount64())).c_str(), nullptr);
    return recorder::WaitForCalls(1, std::chrono::seconds(5)) && recorder::Paths().front() == folder;
}

// Start at sign-in is a shortcut named "Lumivane" in this prefix's Startup
// folder: checked as the menu opens only if it points at this very exe;
// chosen, it is written (minimised, in the exe's folder) or deleted. One
// pointing at another exe, as after a move, is replaced.
TEST_F(MainWindow, StartAtSignInIsAShortcutToThisExeInTheStartupFolder) {
    PWSTR startup = nullptr;
    ASSERT_TRUE(SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Startup, 0, nullptr, &startup)));
    const std::wstring shortcut = std::wstring(startup) + L"\\Lumivane.lnk";
    CoTaskMemFree(startup);
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring exe = self;
    std::wstring upperCase = exe;
    CharUpperW(upperCase.data());
    using Microsoft::WRL::ComPtr;
    ComPtr<IShellLinkW> link;
    ComPtr<IPersistFile> file;
    ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link))) &&
                SUCCEEDED(link.As(&file)));
    DeleteFileW(shortcut.c_str());
    Create();
    HMENU fileMenu = GetSubMenu(GetMenu(window_), 0);
    auto shownChecked = [&] {
        SendMessageW(window_, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(fileMenu), 0);
        return (GetMenuState(fileMenu, IDM_START_AT_SIGN_IN, MF_BYCOMMAND) & MF_CHECKED) != 0;
    };
    // The shortcut's target beforehand (empty: as the last step left it),
    // and the check mark it earns.
    const std::pair<std::wstring, bool> cases[] = {
        {L"", false}, {L"", true}, {upperCase, true}, {L"C:\\windows\\notepad.exe", false}};
    for (const auto& [before, checked] : cases) {
        SCOPED_TRACE(before);
        if (!before.empty()) {
            ASSERT_TRUE(SUCCEEDED(link->SetPath(before.c_str())) && SUCCEEDED(file->Save(shortcut.c_str(), TRUE)));
        }
        EXPECT_EQ(shownChecked(), checked);
        SendMessageW(window_, WM_COMMAND, IDM_START_AT_SIGN_IN, 0);
        EXPECT_EQ(shownChecked(), !checked);
        if (checked) {
            EXPECT_FALSE(FileExists(shortcut));
            continue;
        }
        wchar_t target[MAX_PATH] = {}, folder[MAX_PATH] = {};
        ASSERT_TRUE(SUCCEEDED(file->Load(shortcut.c_str(), STGM_READ)));
        link->GetPath(target, MAX_PATH, nullptr, 0);
        link->GetWorkingDirectory(folder, MAX_PATH);
        EXPECT_EQ(target, exe);
        EXPECT_EQ(folder, exe.substr(0, exe.rfind(L'\\')));
        // Wine's shell link loads no show command: read where the file format keeps it.
        EXPECT_EQ(ReadBytes(shortcut).substr(60, 4), std::string("\x07\0\0\0", 4)) << "not SW_SHOWMINNOACTIVE";
    }
    DeleteFileW(shortcut.c_str());
}

// A card whose drive letter Wine maps to a folder of the test's own during
// the test, as a card put into a reader gets its letter.
TEST_F(MainWindow, RemovableDriveCanGoAndComeBackWhileItsFolderIsListed) {
    ScratchFolder root;
    const std::wstring local = root.Make(L"local");
    const std::wstring card = root.Make(L"card");
    const wchar_t drive = L'Q';
    const std::wstring onCard = L"Q:\\inbox";
    ASSERT_EQ(GetFileAttributesW(L"Q:\\"), INVALID_FILE_ATTRIBUTES) << "drive Q is taken";
    const UnmapAtEnd unmap{drive};
    ScopedCalls devices(CurrentDeviceNotificationCalls(), RecordingDeviceCalls());
    ScopedCalls access(CurrentFolderAccessCalls(), {RecordedOpen, RecordedAttributes, GetDriveTypeW});
    Create([&] { AppState.folders = {onCard, local}; });
    EXPECT_EQ(WatchedFolders(), std::vector<std::wstring>{local});

    // The card arrives: its folder is watched at once.
    ASSERT_TRUE(MapDrive(drive, card));
    ASSERT_TRUE(CreateDirectoryW(onCard.c_str(), nullptr));
    SendArrival(window_, drive);
    EXPECT_EQ(WatchedFolders(), (std::vector<std::wstring>{onCard, local}));
    // Each restart starts a new worker, which makes a few handles of its own
    // as it starts: counts are compared between fresh workers only.
    auto handlesAfterRestart = [] {
        Sleep(300);
        return ProcessHandleCountBesidesOwnThread();
    };
    long withCard = handlesAfterRestart();
    EXPECT_TRUE(IsWatched(onCard));

    // Removal asked for, then refused by another program, then asked for
    // again and done. While it is pending nothing of ours is open on the
    // card, and the system keeps the card's registration to report the
    // outcome through.
    // Wine makes a few handles of its own, for good and some time later,
    // for the Unix programs that map the drive: a first refused round only
    // takes the counts.
    bool countsTaken = false;
    for (WPARAM outcome : {DBT_DEVICEQUERYREMOVEFAILED, DBT_DEVICEQUERYREMOVEFAILED, DBT_DEVICEREMOVECOMPLETE}) {
        SCOPED_TRACE(outcome == DBT_DEVICEREMOVECOMPLETE ? "removed" : "refused");
        ASSERT_EQ(liveRegistrations.size(), 2u);
        // Registered last: when the card arrived, or when it stayed.
        const HDEVNOTIFY cardRegistration = liveRegistrations.back();
        droppedRegistrations.clear();
        EXPECT_EQ(SendHandleEvent(window_, DBT_DEVICEQUERYREMOVE, cardRegistration), TRUE);
        EXPECT_EQ(WatchedFolders(), std::vector<std::wstring>{local});
        // Less the card's directory handle, its read's event and its
        // registration's directory handle.
        handlesAfterRestart();
        if (countsTaken) {
            EXPECT_EQ(SettledCount(ProcessHandleCountBesidesOwnThread, withCard - 3), withCard - 3);
        }
        EXPECT_EQ(std::count(droppedRegistrations.begin(), droppedRegistrations.end(), cardRegistration), 0);
        EXPECT_TRUE(IsWatched(local));

        SendHandleEvent(window_, outcome, cardRegistration);
        EXPECT_EQ(std::count(droppedRegistrations.begin(), droppedRegistrations.end(), cardRegistration), 1);
        if (outcome == DBT_DEVICEREMOVECOMPLETE) {
            EXPECT_EQ(WatchedFolders(), std::vector<std::wstring>{local});
            break;
        }
        EXPECT_EQ(WatchedFolders(), (std::vector<std::wstring>{onCard, local}));
        if (!countsTaken) withCard = handlesAfterRestart();
        countsTaken = true;
        handlesAfterRestart();
        EXPECT_EQ(SettledCount(ProcessHandleCountBesidesOwnThread, withCard), withCard);
        EXPECT_TRUE(IsWatched(onCard));
    }
    ASSERT_TRUE(UnmapDrive(drive));

    // Resumed from sleep twice in a row: one restart, after the delay. Each
    // restart arms every folder anew, and keeps the registrations of those
    // that stay armed.
    ResumeRestartDelayMs() = 300;
    const std::size_t armedBefore = FolderCallsFor(local);
    const int madeBefore = registrationsMade;
    SendMessageW(window_, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
    SendMessageW(window_, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
    EXPECT_EQ(FolderCallsFor(local), armedBefore) << "restarted before the delay";
    WaitUntil([] { PumpMessages(); return false; }, 1500ms, 10ms);
    EXPECT_EQ(FolderCallsFor(local), armedBefore + 1) << "not exactly one restart";
    EXPECT_EQ(registrationsMade, madeBefore);
    EXPECT_EQ(WatchedFolders(), std::vector<std::wstring>{local});
    ResumeRestartDelayMs() = 10000;

    // Arrivals 100 ms apart for two seconds (a hub's burst): the restart
    // comes about a second after the first, not after the last.
    const std::size_t beforeBurst = FolderCallsFor(local);
    const auto burst = std::chrono::steady_clock::now();
    auto restartedAfter = 0ms;
    while (std::chrono::steady_clock::now() - burst < 2s) {
        SendArrival(window_, drive, false);
        WaitUntil([] { PumpMessages(); return false; }, 100ms, 10ms);
        if (restartedAfter == 0ms && FolderCallsFor(local) > beforeBurst) {
            restartedAfter = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - burst);
        }
    }
    EXPECT_GT(restartedAfter, 0ms) << "no restart during the burst";
    EXPECT_LT(restartedAfter, 1800ms);
}

// A stand-in for the volume names of a volume mounted in a folder (an NTFS
// mount point, which Wine cannot make): paths under the mount folder lie on
// the mounted volume, with a name of its own, as Windows reports them; every
// other path is the platform's. The paths asked about are kept.
std::wstring mountFolder;  // ends with a separator
std::vector<std::wstring> volumeLookUps;
BOOL WINAPI MountedVolumePath(LPCWSTR path, LPWSTR volume, DWORD size) {
    volumeLookUps.push_back(path);
    std::wstring_view plain(path);
    if (plain.starts_with(L"\\\\?\\")) plain.remove_prefix(4);
    if ((std::wstring(plain) + L"\\").starts_with(mountFolder)) {
        return lstrcpynW(volume, mountFolder.c_str(), size) != nullptr;
    }
    return GetVolumePathNameW(path, volume, size);
}
BOOL WINAPI MountedVolumeName(LPCWSTR mountPoint, LPWSTR name, DWORD size) {
    const wchar_t* mounted = L"\\\\?\\Volume{4c560000-1111-2222-3333-444455556666}\\";
    if (mountPoint == mountFolder) return lstrcpynW(name, mounted, size) != nullptr;
    return GetVolumeNameForVolumeMountPointW(mountPoint, name, size);
}

// Folders A and A2 on a volume mounted at <scratch>\Mnt\Usb\, B on the
// volume holding that folder, N on a network drive (a letter mapped for the
// test). The volume's quiet times are shortened to two seconds.
class VolumeEvents : public MainWindow {
protected:
    void SetUp() override {
        root_.Make(L"Mnt");
        ASSERT_TRUE(MapDrive(L'R', share_.Path()));
        networkDrive = L'R';
        mountFolder = root_.Make(L"Mnt\\Usb") + L"\\";
        DeviceNotificationCalls calls = RecordingDeviceCalls();
        calls.getVolumePathName = MountedVolumePath;
        calls.getVolumeNameForVolumeMountPoint = MountedVolumeName;
        CurrentDeviceNotificationCalls() = calls;
        CurrentFolderAccessCalls() = {RecordedOpen, RecordedAttributes, DriveTypeWithNetworkDrive};
        CurrentVolumeQuietTimes() = {2000, 2000};
        CreateDirectoryW(a_.c_str(), nullptr);
        CreateDirectoryW(a2_.c_str(), nullptr);
        share_.Make(L"team");
    }
    void TearDown() override {
        MainWindow::TearDown();
        CurrentVolumeQuietTimes() = kVolumeQuietTimes;
        networkDrive = 0;
        EXPECT_TRUE(UnmapDrive(L'R'));
    }
    // The names of the watched folders, in list order.
    std::vector<std::wstring> Watched() {
        std::vector<std::wstring> names;
        for (const std::wstring& folder : WatchedFolders()) {
            names.push_back(folder == a_ ? L"A" : folder == a2_ ? L"A2" : folder == b_ ? L"B" : L"N");
        }
        return names;
    }
    ScratchFolder root_, share_;
    const std::wstring a_ = root_.Child(L"Mnt\\Usb\\inbox");
    const std::wstring a2_ = root_.Child(L"Mnt\\Usb\\second");
    const std::wstring b_ = root_.Make(L"local");
    const std::wstring n_ = L"R:\\team";
    ScopedCalls<DeviceNotificationCalls> devices_{CurrentDeviceNotificationCalls()};
    ScopedCalls<FolderAccessCalls> access_{CurrentFolderAccessCalls()};
};

// Each step acts on the registration of A (or of A2), after what comes
// before it: A taken away for real, as a stick pulled out does, or made
// again, or a second and more of nothing. The watched folders are those of
// the watcher's entries, given up or not: only a restart drops an entry. B
// changed before the steps, and is never activated again for nothing.
TEST_F(VolumeEvents, OnlyTheFoldersOfTheVolumeConcernedAreClosedAndArmedAgain) {
    enum class Before { Nothing, DeleteA, DeleteAUnnoticed, MakeA, Quiet };
    struct Step {
        Before before;
        WPARAM event;  // 0: none; DBT_DEVICEARRIVAL: another volume arrives
        const GUID* kind;
        std::vector<std::wstring> watched;
        std::size_t registrations;
        bool onA2 = false;
    };
    struct Case {
        const char* what;
        std::vector<Step> steps;
        std::size_t restarts;
    };
    const std::vector<std::wstring> all{L"A", L"A2", L"B", L"N"}, off{L"B", L"N"};
    const Case cases[] = {
        {"removal asked for, then done",
         {{Before::Nothing, DBT_DEVICEQUERYREMOVE, nullptr, off, 3},
          {Before::Nothing, DBT_DEVICEREMOVECOMPLETE, nullptr, off, 1}},
         0},
        {"removal asked for, then pending",
         {{Before::Nothing, DBT_DEVICEQUERYREMOVE, nullptr, off, 3},
          {Before::Nothing, DBT_DEVICEREMOVEPENDING, nullptr, off, 1}},
         0},
        {"removal asked for on both registrations, refused on both",
         {{Before::Nothing, DBT_DEVICEQUERYREMOVE, nullptr, off, 3},
          {Before::Nothing, DBT_DEVICEQUERYREMOVE, nullptr, off, 3, true},
          {Before::Nothing, DBT_DEVICEQUERYREMOVEFAILED, nullptr, all, 3},
          {Before::Nothing, DBT_DEVICEQUERYREMOVEFAILED, nullptr, all, 3, true}},
         1},
        {"lock, lock failed, quiet",
         {{Before::Nothing, DBT_CUSTOMEVENT, &GUID_IO_VOLUME_LOCK, off, 3},
          {Before::Nothing, DBT_CUSTOMEVENT, &GUID_IO_VOLUME_LOCK_FAILED, off, 3},
          {Before::Quiet, 0, nullptr, all, 3}},
         1},
        {"lock, then unlock",
         {{Before::Nothing, DBT_CUSTOMEVENT, &GUID_IO_VOLUME_LOCK, off, 3},
          {Before::Nothing, DBT_CUSTOMEVENT, &GUID_IO_VOLUME_UNLOCK, all, 3}},
         1},
        {"dismount, dismount failed, quiet",
         {{Before::Nothing, DBT_CUSTOMEVENT, &GUID_IO_VOLUME_DISMOUNT, off, 3},
          {Before::Nothing, DBT_CUSTOMEVENT, &GUID_IO_VOLUME_DISMOUNT_FAILED, off, 3},
          {Before::Quiet, 0, nullptr, all, 3}},
         1},
        {"dismount, then mounted again",
         {{Before::Nothing, DBT_CUSTOMEVENT, &GUID_IO_VOLUME_DISMOUNT, off, 3},
          {Before::Nothing, DBT_CUSTOMEVENT, &GUID_IO_VOLUME_MOUNT, all, 3}},
         1},
        {"dismount with no outcome: left out until a restart after a while",
         {{Before::Nothing, DBT_CUSTOMEVENT, &GUID_IO_VOLUME_DISMOUNT, off, 3},
          {Before::Quiet, 0, nullptr, off, 3},
          {Before::Nothing, DBT_DEVICEARRIVAL, nullptr, all, 3}},
         1},
        {"formatted: the folder made again is watched",
         {{Before::Nothing, DBT_CUSTOMEVENT, &GUID_IO_VOLUME_LOCK, off, 3},
          {Before::DeleteA, DBT_CUSTOMEVENT, &GUID_IO_VOLUME_UNLOCK, {L"A2", L"B", L"N"}, 2},
          {Before::MakeA, 0, nullptr, all, 3}},
         2},
        {"pulled out without asking", {{Before::DeleteA, DBT_DEVICEREMOVECOMPLETE, nullptr, {L"A2", L"B", L"N"}, 2}}, 1},
        {"folder deleted: the watcher gives it up", {{Before::DeleteAUnnoticed, 0, nullptr, all, 2}}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CreateDirectoryW(a_.c_str(), nullptr);
        liveRegistrations.clear();
        volumeLookUps.clear();
        recorder::Reset();
        Create([&] { AppState.folders = {a_, a2_, b_, n_}; });
        ASSERT_EQ(Watched(), all);
        // A report from no worker of this run names nobody.
        SendMessageW(window_, WM_WATCH_FOLDER_GIVEN_UP, 0, 0);
        ASSERT_EQ(liveRegistrations.size(), 3u) << "the network folder is never registered";
        const HDEVNOTIFY registrationOf[] = {liveRegistrations[0], liveRegistrations[1]};
        // Registered, a folder can still be renamed by another program.
        EXPECT_TRUE(MoveFileW(a2_.c_str(), (a2_ + L"-renamed").c_str()) &&
                    MoveFileW((a2_ + L"-renamed").c_str(), a2_.c_str()));
        const std::size_t armingsOfB = FolderCallsFor(b_) + 1;  // and the check before its renewal
        CreateDirectoryW((b_ + L"\\before-" + std::to_wstring(GetTickCount64())).c_str(), nullptr);
        ASSERT_TRUE(recorder::WaitForCalls(1, 5s));
        ASSERT_TRUE(WaitUntil([&] { return FolderCallsFor(b_) == armingsOfB; }, 5s));

        for (const Step& step : c.steps) {
            // Deleted with no event: while the worker is in A's activation,
            // so that it finds A gone when it comes back.
            if (step.before == Before::DeleteAUnnoticed) {
                recorder::HoldNextActivationOf(a_);
                ASSERT_TRUE(CreateDirectoryW((a_ + L"\\x").c_str(), nullptr) && recorder::WaitUntilHeld(5s));
            }
            if (step.before == Before::DeleteA || step.before == Before::DeleteAUnnoticed) {
                ASSERT_TRUE(StartUnixProgram(L"/bin/rm", L"/bin/rm -rf " + QuotedUnixPath(a_)));
                ASSERT_TRUE(WaitUntil([&] { return !FileExists(a_); }, 5s));
            }
            if (step.before == Before::MakeA) {
                ASSERT_TRUE(CreateDirectoryW(a_.c_str(), nullptr));
            }
            recorder::Release();
            if (step.event == DBT_DEVICEARRIVAL) {
                SendArrival(window_, L'Z');
            } else if (step.event != 0) {
                EXPECT_EQ(SendHandleEvent(window_, step.event, registrationOf[step.onA2], step.kind), TRUE);
            }
            PumpForAWhile();
            if (step.before == Before::Quiet) WaitUntil([] { PumpMessages(); return false; }, 2400ms, 10ms);
            // Looked for again every few seconds.
            if (step.before == Before::MakeA) {
                WaitUntil([&] { PumpMessages(); return Watched() == step.watched; }, 5s, 20ms);
            }
            EXPECT_EQ(Watched(), step.watched);
            EXPECT_EQ(liveRegistrations.size(), step.registrations);
        }
        EXPECT_EQ(FolderCallsFor(b_) - armingsOfB, c.restarts) << "restarts";
        const std::vector<std::wstring> activated = recorder::Paths();
        EXPECT_EQ(std::count(activated.begin(), activated.end(), b_), 1) << "B activated for nothing";
        EXPECT_EQ(std::count_if(volumeLookUps.begin(), volumeLookUps.end(),
                                [](const std::wstring& path) { return path.find(L"R:") != std::wstring::npos; }),
                  0)
            << "the volume of a network folder asked for";
        EXPECT_TRUE(IsWatched(b_));
        MainWindow::TearDown();
    }
}

// Held in an activation of A for 3 s, the worker is left behind by the
// query for A's volume. Its handles on the volume are closed at once all
// the same (Wine keeps a folder deleted under a live notification until it
// is closed), and when it comes back it asks nothing more about A: no
// renewal, no arming.
TEST_F(VolumeEvents, AWorkerStuckDuringAnEjectHoldsNothingOnTheVolumeAndArmsNothing) {
    volumeLookUps.clear();
    Create([&] { AppState.folders = {a_, b_, n_}; });
    ASSERT_EQ(liveRegistrations.size(), 2u);
    recorder::Reset();
    recorder::HoldNextActivationOf(a_);
    ASSERT_TRUE(CreateDirectoryW((a_ + L"\\held").c_str(), nullptr));
    ASSERT_TRUE(recorder::WaitUntilHeld(5s));

    SendHandleEvent(window_, DBT_DEVICEQUERYREMOVE, liveRegistrations.front());
    const std::size_t callsForA = FolderCallsFor(a_);
    EXPECT_EQ(Watched(), (std::vector<std::wstring>{L"B", L"N"}));
    ASSERT_TRUE(RemoveDirectoryW((a_ + L"\\held").c_str()));
    ASSERT_TRUE(RemoveDirectoryW(a_.c_str()));
    EXPECT_TRUE(WaitUntil([&] { return !FileExists(a_); }, 1s, 20ms)) << "the stuck worker still holds A";
    recorder::Release();

    Sleep(500);
    EXPECT_EQ(FolderCallsFor(a_), callsForA) << "the worker asked about A after the stop";
    EXPECT_TRUE(IsWatched(b_));
    for (const std::wstring& path : volumeLookUps) EXPECT_EQ(path.find(L"R:"), std::wstring::npos) << "a network folder";
}

}  // namespace
