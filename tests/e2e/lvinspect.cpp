// lvinspect: a small console tool that the end-to-end driver runs under Wine
// next to Lumivane.exe. It reports, as "key: value" lines in UTF-8, what a
// user would see of the running program, and performs the few actions that
// xdotool cannot (window messages, notification-icon calls from outside).
//
//   lvinspect main             the main window: title, place, state, menu bar,
//                              button, list rows and selection, keyboard focus
//   lvinspect about            the About box, if open: title, image
//   lvinspect popup            an open pop-up menu: place and item texts
//   lvinspect tray             Wine's own notification area, its icons and
//                              the tip shown for one
//   lvinspect windows CLASS    every top-level window of a class
//   lvinspect close-button TITLE   where the close button of a window is
//   lvinspect close [HWND...]  posts WM_CLOSE to these windows (hexadecimal
//                              handles), or to the main window
//   lvinspect command ID       posts WM_COMMAND ID to the main window
//   lvinspect state HWND       whether a window is minimised and foreground,
//                              and how long the session has had no input
//   lvinspect view HWND        the list a file-browser window shows: how many
//                              items, and the name of each selected one
//   lvinspect minimize HWND    minimises a window
//   lvinspect maximize HWND    maximises a window
//   lvinspect open FOLDER      asks the shell to open a folder, as a user
//                              opening it in the file browser would
//   lvinspect balloons         the notification area's balloons on screen
//                              and their texts
//   lvinspect move X Y         moves the main window, as another program (or
//                              Win+Shift+arrow) would: no move loop
//   lvinspect foreground [HWND]  gives the foreground to a window, or to the
//                              main window
//   lvinspect delete-icon      removes the main window's icon (id 1), as a
//                              shell that lost its icons would have
//   lvinspect taskbar-created  broadcasts the shell's "TaskbarCreated"
//   lvinspect health           whether the main window answers a message
//                              within a second, and its process's handles
//   lvinspect hold FILE [MS]   opens FILE without sharing, as a backup or
//                              synchronisation tool would, prints "held: 1"
//                              and keeps it MS milliseconds, or until killed
//   lvinspect pick FOLDER      chooses FOLDER in the folder dialog that the
//                              main window has open
//   lvinspect typist           a window "lvtypist" with an edit box that takes
//                              the foreground and whatever is typed while it
//                              has the focus; closed, it prints "typed: TEXT"
//
// Exit code 0 on success, 1 when the window an action needs is missing,
// 2 for a usage error.

#include <windows.h>
#include <shellapi.h>
#include <commctrl.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

// The program's own identifiers, so that lvinspect looks for the controls
// and the icon the program really makes.
#include "app/resource.h"
#include "app/tray_icon.h"
#include "handle_count.h"

namespace {

constexpr wchar_t kMainClass[] = L"VANTLY";
constexpr wchar_t kAboutTitle[] = L"\u30D0\u30FC\u30B8\u30E7\u30F3\u60C5\u5831";  // バージョン情報
// How long a message to the program may take before we call it hung.
constexpr UINT kSendTimeoutMs = 2000;

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

// Line breaks inside a value would split it; shown escaped instead.
void Fact(const std::string& key, const std::wstring& value) {
    std::string line = key + ": ";
    for (char c : Utf8(value)) {
        if (c == '\n') line += "\\n";
        else if (c == '\r') line += "\\r";
        else line += c;
    }
    line += '\n';
    fwrite(line.data(), 1, line.size(), stdout);
}

void Fact(const std::string& key, long long value) { Fact(key, std::to_wstring(value)); }

std::wstring Hex(const void* handle) {
    wchar_t text[32];
    swprintf(text, 32, L"0x%llx", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(handle)));
    return text;
}

std::wstring RectText(const RECT& r) {
    return std::to_wstring(r.left) + L" " + std::to_wstring(r.top) + L" " + std::to_wstring(r.right - r.left) + L" " +
           std::to_wstring(r.bottom - r.top);
}

// A window's place on the screen, as RectText gives it.
std::wstring WindowRectText(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    return RectText(rect);
}

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

// WM_GETTEXT through a timeout, so that a hung program cannot hang us.
std::wstring TextOf(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &length)) return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                        kSendTimeoutMs, &copied);
    text.resize(copied);
    return text;
}

LRESULT Send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result)) return -1;
    return static_cast<LRESULT>(result);
}

struct TopWindows {
    const wchar_t* className;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectByClass(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<TopWindows*>(context);
    if (!wcscmp(search->className, L"*") || ClassOf(window) == search->className) search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> TopLevelWindows(const wchar_t* className) {
    TopWindows search{className, {}};
    EnumWindows(CollectByClass, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND MainWindow() { return FindWindowW(kMainClass, nullptr); }

// Menus belong to their process: under Wine another process cannot read
// them, so the items are reported as far as the platform lets us.
void MenuFacts(const std::string& prefix, HMENU menu) {
    int count = GetMenuItemCount(menu);
    Fact(prefix + ".count", count);
    for (int i = 0; i < count; ++i) {
        wchar_t text[256] = {};
        GetMenuStringW(menu, i, text, 256, MF_BYPOSITION);
        std::string key = prefix + "." + std::to_string(i);
        Fact(key, text);
        if (HMENU sub = GetSubMenu(menu, i)) MenuFacts(key, sub);
    }
}

BOOL CALLBACK FirstLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR found) {
    *reinterpret_cast<WORD*>(found) = language;
    return FALSE;
}

// LoadMenuW from a data-file module looks only in the caller's languages;
// the program's menu is Japanese whatever language this tool runs in.
HMENU LoadMenuInAnyLanguage(HMODULE module, LPCWSTR name) {
    WORD language = 0;
    EnumResourceLanguagesW(module, RT_MENU, name, FirstLanguage, reinterpret_cast<LONG_PTR>(&language));
    HRSRC resource = FindResourceExW(module, RT_MENU, name, language);
    HGLOBAL data = resource ? LoadResource(module, resource) : nullptr;
    void* bytes = data ? LockResource(data) : nullptr;
    return bytes ? LoadMenuIndirectW(bytes) : nullptr;
}

BOOL CALLBACK CollectMenuName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR found) {
    if (IS_INTRESOURCE(name)) reinterpret_cast<std::vector<WORD>*>(found)->push_back(LOWORD(name));
    return TRUE;
}

// The menu bar's items. Wine lets no process read another's menu, nor the
// menu name of another's window class; then the texts come from the
// program's file, when it holds exactly one menu resource (the one its
// class loads into the bar).
void MenuBarFacts(HWND main) {
    HMENU menu = GetMenu(main);
    if (!menu) {
        Fact("menu", L"none");
        return;
    }
    if (GetMenuItemCount(menu) >= 0) {
        Fact("menu.source", L"window");
        MenuFacts("menu", menu);
        return;
    }
    DWORD processId = 0;
    GetWindowThreadProcessId(main, &processId);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    wchar_t path[MAX_PATH] = {};
    DWORD length = MAX_PATH;
    bool havePath = process && QueryFullProcessImageNameW(process, 0, path, &length);
    if (process) CloseHandle(process);
    HMODULE module = havePath ? LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE) : nullptr;
    std::vector<WORD> names;
    if (module) EnumResourceNamesW(module, RT_MENU, CollectMenuName, reinterpret_cast<LONG_PTR>(&names));
    HMENU loaded = names.size() == 1 ? LoadMenuInAnyLanguage(module, MAKEINTRESOURCEW(names[0])) : nullptr;
    if (!loaded) {
        Fact("menu", L"unreadable");
    } else {
        Fact("menu.source", L"resource " + std::to_wstring(names[0]));
        MenuFacts("menu", loaded);
        DestroyMenu(loaded);
    }
    if (module) FreeLibrary(module);
}

std::wstring FocusName(HWND focus, HWND main) {
    if (!focus) return L"none";
    if (focus == main) return L"main";
    if (GetParent(focus) == main) {
        switch (GetDlgCtrlID(focus)) {
        case IDC_SELECT_FOLDER: return L"button";
        case IDC_FOLDER_LIST: return L"list";
        }
    }
    return ClassOf(focus);
}

int MainFacts() {
    int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    Fact("screen", std::to_wstring(screenWidth) + L" " + std::to_wstring(screenHeight));
    // The first-start place: a 400 x 300 client area with caption, frame and
    // menu bar, in the bottom-right corner of the primary screen.
    RECT outer = {0, 0, 400, 300};
    AdjustWindowRect(&outer, WS_OVERLAPPEDWINDOW, TRUE);
    int width = outer.right - outer.left;
    int height = outer.bottom - outer.top;
    RECT expected = {screenWidth - width, screenHeight - height, screenWidth, screenHeight};
    if (expected.left < 0) OffsetRect(&expected, -expected.left, 0);
    if (expected.top < 0) OffsetRect(&expected, 0, -expected.top);
    Fact("default.rect", RectText(expected));
    // The smallest outer size the platform lets an overlapped window have.
    Fact("mintrack", std::to_wstring(GetSystemMetrics(SM_CXMINTRACK)) + L" " + std::to_wstring(GetSystemMetrics(SM_CYMINTRACK)));

    HWND main = MainWindow();
    if (!main) {
        Fact("window", L"none");
        return 1;
    }
    Fact("window", Hex(main));
    Fact("windows", TopLevelWindows(kMainClass).size());
    Fact("title", TextOf(main));
    Fact("rect", WindowRectText(main));
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof placement;
    if (GetWindowPlacement(main, &placement)) Fact("normal.rect", RectText(placement.rcNormalPosition));
    Fact("visible", IsWindowVisible(main) ? 1 : 0);
    Fact("iconic", IsIconic(main) ? 1 : 0);
    Fact("topmost", (GetWindowLongW(main, GWL_EXSTYLE) & WS_EX_TOPMOST) ? 1 : 0);
    MenuBarFacts(main);

    HWND button = GetDlgItem(main, IDC_SELECT_FOLDER);
    Fact("button", button ? TextOf(button) : L"(none)");
    HWND list = GetDlgItem(main, IDC_FOLDER_LIST);
    if (list) {
        Fact("list.rect", WindowRectText(list));
        LRESULT count = Send(list, LB_GETCOUNT);
        Fact("list.count", count);
        for (LRESULT i = 0; i < count; ++i) {
            LRESULT length = Send(list, LB_GETTEXTLEN, i);
            std::wstring row(length > 0 ? length + 1 : 1, L'\0');
            LRESULT copied = Send(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(row.data()));
            row.resize(copied > 0 ? copied : 0);
            Fact("list." + std::to_string(i), row);
            RECT item = {};
            if (Send(list, LB_GETITEMRECT, i, reinterpret_cast<LPARAM>(&item)) != LB_ERR) {
                MapWindowPoints(list, nullptr, reinterpret_cast<POINT*>(&item), 2);
                Fact("list." + std::to_string(i) + ".rect", RectText(item));
            }
        }
        Fact("list.selection", Send(list, LB_GETCURSEL));
    } else {
        Fact("list.count", -1);
    }

    GUITHREADINFO gui = {};
    gui.cbSize = sizeof gui;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &gui)) {
        Fact("focus", FocusName(gui.hwndFocus, main));
        Fact("menumode", (gui.flags & (GUI_INMENUMODE | GUI_POPUPMENUMODE)) ? 1 : 0);
    }
    Fact("foreground", GetForegroundWindow() == main ? 1 : 0);
    return 0;
}

int AboutFacts() {
    HWND main = MainWindow();
    HWND about = nullptr;
    for (HWND dialog : TopLevelWindows(L"#32770"))
        if (TextOf(dialog) == kAboutTitle && (!main || GetWindow(dialog, GW_OWNER) == main)) about = dialog;
    if (!about) {
        Fact("about", L"closed");
        return 0;
    }
    Fact("about", IsWindowVisible(about) ? L"open" : L"hidden");
    Fact("about.window", Hex(about));
    Fact("about.owner", GetWindow(about, GW_OWNER) == main ? L"main" : L"other");
    GUITHREADINFO gui = {};
    gui.cbSize = sizeof gui;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(about, nullptr), &gui))
        Fact("about.active", gui.hwndActive == about && gui.hwndFocus && (gui.hwndFocus == about || IsChild(about, gui.hwndFocus)) ? 1 : 0);
    Fact("about.rect", WindowRectText(about));
    HWND picture = GetDlgItem(about, IDC_ABOUT_IMAGE);
    if (!picture) {
        Fact("about.image", L"no control");
        return 0;
    }
    HBITMAP image = reinterpret_cast<HBITMAP>(Send(picture, STM_GETIMAGE, IMAGE_BITMAP));
    Fact("about.image", image && image != reinterpret_cast<HBITMAP>(-1) ? 1 : 0);
    BITMAP info = {};
    if (image && GetObjectW(image, sizeof info, &info)) Fact("about.image.size", std::to_wstring(info.bmWidth) + L" " + std::to_wstring(info.bmHeight));
    Fact("about.picture.rect", WindowRectText(picture));
    for (HWND child = GetWindow(about, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (child == picture) continue;
        Fact("about.text", TextOf(child));
    }
    return 0;
}

int PopupFacts() {
    std::vector<HWND> shown;
    for (HWND popup : TopLevelWindows(L"#32768"))
        if (IsWindowVisible(popup)) shown.push_back(popup);
    Fact("popup", shown.empty() ? L"none" : L"open");
    for (HWND popup : shown) {
        Fact("popup.rect", WindowRectText(popup));
        // MN_GETHMENU: the menu the pop-up window shows.
        if (HMENU menu = reinterpret_cast<HMENU>(Send(popup, 0x01E1))) MenuFacts("popup.menu", menu);
    }
    return 0;
}

int TrayFacts() {
    // Wine 8's X11 driver shows icons in a window of its own when no tray
    // manager runs; later Wine versions use explorer's Shell_TrayWnd.
    HWND tray = FindWindowW(L"__winex11_standalone_tray", nullptr);
    if (!tray) tray = FindWindowW(L"Shell_TrayWnd", nullptr);
    if (!tray) {
        Fact("tray", L"none");
        return 0;
    }
    Fact("tray", IsWindowVisible(tray) ? L"shown" : L"hidden");
    Fact("tray.title", TextOf(tray));
    Fact("tray.rect", WindowRectText(tray));
    int icons = 0;
    for (HWND child = GetWindow(tray, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsWindowVisible(child)) continue;
        Fact("tray.icon", WindowRectText(child) + L" " + ClassOf(child));
        ++icons;
    }
    Fact("tray.icons", icons);
    // An icon's tip, while the pointer rests on the icon and its tooltip shows.
    for (HWND tip : TopLevelWindows(TOOLTIPS_CLASSW))
        if (IsWindowVisible(tip) && GetWindowThreadProcessId(tip, nullptr) == GetWindowThreadProcessId(tray, nullptr))
            Fact("tray.tip", TextOf(tip));
    return 0;
}

int WindowsFacts(const std::wstring& className) {
    std::vector<HWND> windows = TopLevelWindows(className.c_str());
    Fact("count", windows.size());
    for (HWND window : windows) {
        Fact("window", Hex(window) + L" " + (IsWindowVisible(window) ? L"visible " : L"hidden ") + WindowRectText(window) +
                           L" " + ClassOf(window) + L" " + TextOf(window));
    }
    return 0;
}

// Where a user would click to close a window: the middle of its caption's
// close button, found by asking the window itself (WM_NCHITTEST) along the
// caption, so that the frame metrics of the Wine-drawn caption don't matter.
int CloseButtonPoint(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    for (int y = rect.top; y < rect.top + 40 && y < rect.bottom; ++y) {
        int right = -1;
        int left = -1;
        for (int x = rect.right - 1; x >= rect.left; --x) {
            bool close = Send(window, WM_NCHITTEST, 0, MAKELPARAM(x, y)) == HTCLOSE;
            if (close && right < 0) right = x;
            if (!close && right >= 0) {
                left = x + 1;
                break;
            }
        }
        if (right < 0) continue;
        // Found the button's row; take its vertical middle too.
        int bottom = y;
        while (bottom + 1 < rect.bottom && Send(window, WM_NCHITTEST, 0, MAKELPARAM((left + right) / 2, bottom + 1)) == HTCLOSE)
            ++bottom;
        Fact("point", std::to_wstring((left + right) / 2) + L" " + std::to_wstring((y + bottom) / 2));
        return 0;
    }
    Fact("point", L"none");
    return 1;
}

HWND WindowTitled(const std::wstring& title) {
    for (HWND window : TopLevelWindows(L"*"))
        if (IsWindowVisible(window) && TextOf(window) == title) return window;
    return nullptr;
}

// WM_CLOSE to the given windows (hexadecimal handles), or to the main window.
HWND HandleFrom(const wchar_t* text) {
    return reinterpret_cast<HWND>(static_cast<UINT_PTR>(wcstoull(text, nullptr, 16)));
}

int CloseWindows(int count, wchar_t** handles) {
    if (count == 0) {
        HWND main = MainWindow();
        return main && PostMessageW(main, WM_CLOSE, 0, 0) ? 0 : 1;
    }
    int result = 0;
    for (int i = 0; i < count; ++i) {
        HWND window = HandleFrom(handles[i]);
        if (!IsWindow(window) || !PostMessageW(window, WM_CLOSE, 0, 0)) result = 1;
    }
    return result;
}

int StateFacts(HWND window) {
    if (!IsWindow(window)) return 1;
    Fact("iconic", IsIconic(window) ? 1 : 0);
    Fact("zoomed", IsZoomed(window) ? 1 : 0);
    Fact("foreground", GetForegroundWindow() == window ? 1 : 0);
    LASTINPUTINFO input = {sizeof(input)};
    if (GetLastInputInfo(&input)) Fact("idle-ms", static_cast<long long>(static_cast<LONG>(GetTickCount() - input.dwTime)));
    return 0;
}

BOOL CALLBACK FindListView(HWND window, LPARAM found) {
    if (ClassOf(window) != WC_LISTVIEWW) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// The list view lives in the file browser's process: its item texts are
// read through a buffer in that process, the only memory it can write to.
int ViewFacts(HWND window) {
    HWND list = nullptr;
    if (!IsWindow(window)) return 1;
    EnumChildWindows(window, FindListView, reinterpret_cast<LPARAM>(&list));
    if (!list) return 1;
    Fact("items", static_cast<long long>(Send(list, LVM_GETITEMCOUNT)));
    DWORD processId = 0;
    GetWindowThreadProcessId(list, &processId);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    if (!process) return 1;
    constexpr int kTextChars = MAX_PATH;
    const SIZE_T size = sizeof(LVITEMW) + kTextChars * sizeof(wchar_t);
    auto* remote = static_cast<BYTE*>(VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE));
    for (LRESULT index = Send(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED); remote && index >= 0;
         index = Send(list, LVM_GETNEXTITEM, static_cast<WPARAM>(index), LVNI_SELECTED)) {
        LVITEMW item{};
        item.pszText = reinterpret_cast<wchar_t*>(remote + sizeof(LVITEMW));
        item.cchTextMax = kTextChars;
        wchar_t text[kTextChars] = {};
        if (WriteProcessMemory(process, remote, &item, sizeof(item), nullptr) &&
            Send(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(remote)) >= 0) {
            ReadProcessMemory(process, remote + sizeof(LVITEMW), text, sizeof(text) - sizeof(wchar_t), nullptr);
        }
        Fact("selected", text);
    }
    if (remote) VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    return remote ? 0 : 1;
}

int Show(HWND window, int command) {
    return IsWindow(window) && ShowWindow(window, command) >= 0 ? 0 : 1;
}

int Open(const wchar_t* folder) {
    return reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", folder, nullptr, nullptr, SW_SHOWNORMAL)) > 32 ? 0
                                                                                                                   : 1;
}

// Wine's notification area shows a balloon as a tooltip window of its own
// in the balloon style; its text is the balloon's.
int BalloonFacts() {
    int shown = 0;
    for (HWND window : TopLevelWindows(L"tooltips_class32")) {
        if (!IsWindowVisible(window) || (GetWindowLongW(window, GWL_STYLE) & TTS_BALLOON) == 0) continue;
        Fact("balloon", TextOf(window));
        ++shown;
    }
    Fact("balloons", shown);
    return 0;
}

int Move(const wchar_t* x, const wchar_t* y) {
    HWND main = MainWindow();
    return main && SetWindowPos(main, nullptr, _wtoi(x), _wtoi(y), 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE) ? 0 : 1;
}

int GiveForeground(HWND window) {
    return window && SetForegroundWindow(window) ? 0 : 1;
}

int PostCommand(const wchar_t* id) {
    HWND main = MainWindow();
    if (!main) return 1;
    return PostMessageW(main, WM_COMMAND, MAKEWPARAM(_wtoi(id), 0), 0) ? 0 : 1;
}

int DeleteIcon() {
    HWND main = MainWindow();
    if (!main) return 1;
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof data;
    data.hWnd = main;
    data.uID = kTrayIconId;
    Fact("deleted", Shell_NotifyIconW(NIM_DELETE, &data) ? 1 : 0);
    return 0;
}

int TaskbarCreated() {
    UINT message = RegisterWindowMessageW(L"TaskbarCreated");
    DWORD_PTR result = 0;
    // What the shell does when its notification area comes back.
    Fact("broadcast", SendMessageTimeoutW(HWND_BROADCAST, message, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result) ? 1 : 0);
    return 0;
}

int HealthFacts() {
    HWND window = MainWindow();
    if (!window) return 1;
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    const ULONGLONG start = GetTickCount64();
    DWORD_PTR ignored = 0;
    const bool answered = SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &ignored) != 0;
    Fact("answers", answered ? L"yes" : L"no");
    Fact("answer.ms", std::to_wstring(GetTickCount64() - start));
    Fact("handles", std::to_wstring(ProcessHandleCount(processId)));
    return 0;
}

// Wine enforces share modes only among its own processes, so the holder of a
// file has to be a Windows program too.
int HoldFile(const wchar_t* path, const wchar_t* milliseconds) {
    HANDLE file = CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    Fact("held", 1);
    fflush(stdout);
    Sleep(milliseconds ? static_cast<DWORD>(_wtoi(milliseconds)) : INFINITE);
    CloseHandle(file);
    return 0;
}

LRESULT CALLBACK TypistProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND edit = GetWindow(window, GW_CHILD);
    switch (message) {
    case WM_SETFOCUS: SetFocus(edit); return 0;
    case WM_CLOSE: {
        wchar_t text[1024] = {};
        GetWindowTextW(edit, text, 1024);
        Fact("typed", text);
        DestroyWindow(window);
        return 0;
    }
    case WM_DESTROY: PostQuitMessage(0); return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// A user's window of its own to type into: the keys that reach it are the
// keys that did not land anywhere else.
int Typist() {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = TypistProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"LvTypist";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, L"LvTypist", L"lvtypist", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 400, 200,
                                  nullptr, nullptr, windowClass.hInstance, nullptr);
    if (!window) return 1;
    CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 10, 10, 360, 24, window, nullptr,
                    windowClass.hInstance, nullptr);
    SetForegroundWindow(window);
    SetFocus(GetWindow(window, GW_CHILD));
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

// The visible window that the main window owns: its modal dialog.
HWND OwnedDialog(HWND owner) {
    for (HWND window : TopLevelWindows(L"*"))
        if (IsWindowVisible(window) && GetWindow(window, GW_OWNER) == owner) return window;
    return nullptr;
}

// The folder dialog's name box takes a full path, and with folder picking on
// OK then returns that folder instead of browsing into it.
int PickFolder(const std::wstring& folder) {
    constexpr int kFileNameBox = 0x480;
    HWND main = MainWindow();
    if (!main) return 1;
    HWND dialog = nullptr;
    for (int wait = 0; wait < 100 && !(dialog = OwnedDialog(main)); ++wait) Sleep(50);
    if (!dialog) return 1;
    // Set until it stays: the dialog writes the box itself while it fills
    // its view.
    std::wstring shown;
    for (int attempt = 0; attempt < 50 && shown != folder; ++attempt) {
        SetDlgItemTextW(dialog, kFileNameBox, folder.c_str());
        Sleep(100);
        shown = TextOf(GetDlgItem(dialog, kFileNameBox));
    }
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    for (int wait = 0; wait < 100 && IsWindow(dialog); ++wait) Sleep(50);
    Fact("picked", IsWindow(dialog) ? 0 : 1);
    return IsWindow(dialog) ? 1 : 0;
}

int Usage() {
    fputs("usage: lvinspect main|about|popup|tray|windows CLASS|close-button TITLE|close [HWND...]|command ID|state HWND|view HWND|minimize HWND|maximize HWND|open FOLDER|balloons|move X Y|foreground [HWND]|delete-icon|taskbar-created|health|hold FILE [MS]|pick FOLDER\n",
          stderr);
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Plain LF line ends: msvcrt's text mode would add a CR to each line.
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 2) return Usage();
    std::wstring command = argv[1];
    int result = 2;
    if (command == L"main") result = MainFacts();
    else if (command == L"about") result = AboutFacts();
    else if (command == L"popup") result = PopupFacts();
    else if (command == L"tray") result = TrayFacts();
    else if (command == L"windows" && argc > 2) result = WindowsFacts(argv[2]);
    else if (command == L"close") result = CloseWindows(argc - 2, argv + 2);
    else if (command == L"close-button" && argc > 2) {
        HWND window = WindowTitled(argv[2]);
        result = window ? CloseButtonPoint(window) : 1;
    }
    else if (command == L"command" && argc > 2) result = PostCommand(argv[2]);
    else if (command == L"state" && argc > 2) result = StateFacts(HandleFrom(argv[2]));
    else if (command == L"view" && argc > 2) result = ViewFacts(HandleFrom(argv[2]));
    else if (command == L"minimize" && argc > 2) result = Show(HandleFrom(argv[2]), SW_MINIMIZE);
    else if (command == L"maximize" && argc > 2) result = Show(HandleFrom(argv[2]), SW_MAXIMIZE);
    else if (command == L"open" && argc > 2) result = Open(argv[2]);
    else if (command == L"balloons") result = BalloonFacts();
    else if (command == L"move" && argc > 3) result = Move(argv[2], argv[3]);
    else if (command == L"foreground") result = GiveForeground(argc > 2 ? HandleFrom(argv[2]) : MainWindow());
    else if (command == L"delete-icon") result = DeleteIcon();
    else if (command == L"taskbar-created") result = TaskbarCreated();
    else if (command == L"health") result = HealthFacts();
    else if (command == L"hold" && argc > 2) result = HoldFile(argv[2], argc > 3 ? argv[3] : nullptr);
    else if (command == L"pick" && argc > 2) result = PickFolder(argv[2]);
    else if (command == L"typist") result = Typist();
    else return Usage();
    fflush(stdout);
    return result;
}
