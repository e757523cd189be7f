// Lumivane's own start-up, taken one step at a time with the real code, so
// that the benchmark can read the process's memory from /proc after each
// step: the bare main window (with the COM apartment and GDI+ that wWinMain
// sets up first), plus the folder list and its font, plus the notification
// icon, then either (with --one first) the watcher thread with its
// apartment and the first folder armed, or all folders armed, plus their
// drive-removal registrations, and after a
// first change in every folder has been handled (the real activation: Wine's
// file browser opens each folder). Two runs rather than one restart of the
// watcher, because Wine frees an ended thread's stack only when another
// thread ends, and the old worker's would be counted with the new one.
// With --thread it measures one idle thread instead (see MeasureOneThread).
// Prints "step <name>" when a state is reached and holds it for a second,
// pumping messages, before the next step. Folders come on the command line.

#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/folder_commands.h"
#include "app/gdiplus_include.h"
#include "app/main_window.h"
#include "app/resource.h"
#include "app/tray_icon.h"
#include "state/app_state.h"
#include "watch/change_watcher.h"
#include "watch/drive_events.h"

namespace {

void PumpFor(DWORD milliseconds) {
    const ULONGLONG end = GetTickCount64() + milliseconds;
    for (ULONGLONG now = GetTickCount64(); now < end; now = GetTickCount64()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

void Step(const char* name) {
    PumpFor(500);
    std::printf("step %s\n", name);
    std::fflush(stdout);
    PumpFor(1000);
}

DWORD WINAPI WaitForever(LPVOID) {
    Sleep(INFINITE);
    return 0;
}

// What one more thread costs, alone: "--thread <KiB>" starts one that only
// waits, with that much stack reserved (0: the exe's default), and prints
// "step before" and "step after" around it.
int MeasureOneThread(SIZE_T reserveKiB) {
    Step("before");
    CreateThread(nullptr, reserveKiB * 1024, WaitForever, nullptr,
                 reserveKiB ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0, nullptr);
    Step("after");
    Sleep(INFINITE);
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    if (__argc > 2 && lstrcmpW(__wargv[1], L"--thread") == 0) return MeasureOneThread(_wtoi(__wargv[2]));
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Gdiplus::GdiplusStartupInput startupInput;
    Gdiplus::GdiplusStartup(&AppState.gdiplusToken, &startupInput, nullptr);
    AppState.instance = instance;
    LoadStringW(instance, IDS_APP_TITLE, AppState.title, 100);
    LoadStringW(instance, IDC_MAIN, AppState.windowClassName, 100);
    RegisterMainWindowClass(instance);
    HWND window = CreateWindowExW(0, AppState.windowClassName, AppState.title, WS_OVERLAPPEDWINDOW, 100, 100, 416,
                                  359, nullptr, nullptr, instance, nullptr);
    if (!window) return 1;
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    Step("window");

    const bool oneFolder = __argc > 1 && lstrcmpW(__wargv[1], L"--one") == 0;
    for (int i = oneFolder ? 2 : 1; i < __argc; ++i) AppState.folders.push_back(__wargv[i]);
    // The same controls and font as the main window makes.
    CreateWindowExW(0, L"BUTTON", L"監視フォルダー選択", WS_CHILD | WS_VISIBLE, 10, 10, 150, 30, window,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_SELECT_FOLDER)), instance, nullptr);
    AppState.folderListBox = CreateWindowExW(WS_EX_CLIENTEDGE, L"LISTBOX", nullptr,
                                             WS_CHILD | WS_VISIBLE | WS_VSCROLL | LBS_NOTIFY, 10, 50, 376, 259,
                                             window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_FOLDER_LIST)),
                                             instance, nullptr);
    RefreshFolderListView();
    HDC dc = GetDC(window);
    LOGFONTW description{};
    description.lfHeight = -MulDiv(8, GetDeviceCaps(dc, LOGPIXELSY), 72);
    description.lfWeight = FW_NORMAL;
    description.lfQuality = CLEARTYPE_QUALITY;
    lstrcpynW(description.lfFaceName, L"Segoe UI", LF_FACESIZE);
    ReleaseDC(window, dc);
    AppState.listFont.reset(CreateFontIndirectW(&description));
    SendMessageW(AppState.folderListBox, WM_SETFONT, reinterpret_cast<WPARAM>(AppState.listFont.get()), TRUE);
    Step("list");

    AddTrayIcon(window);
    Step("icon");

    if (oneFolder) {
        AppState.folders.resize(1);
        StartWatching();
        Step("thread");
        PumpFor(INFINITE);
        return 0;
    }
    StartWatching();
    Step("folders");
    // What the main window does once the watcher has armed the folders: one
    // registration per folder for its drive's removal. The first one starts
    // Wine's device-notification listener thread.
    WatchDriveEventsOf(window);
    std::vector<std::wstring> armed;
    for (const WatchEntry& entry : AppState.watchEntries) {
        if (!entry.onNetwork) armed.push_back(entry.folderPath);
    }
    RegisterArmedFolders(armed);
    Step("registrations");

    // One change in every folder, made here so that the step ends when the
    // activations have had time to run (each opens a file browser).
    for (const std::wstring& folder : AppState.folders) {
        const std::wstring file = folder + L"\\memory-probe";
        HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
        PumpFor(1500);
    }
    // Wine makes the activation's COM calls on pool threads that end about
    // five seconds after their last call; the step counts what stays.
    PumpFor(8000);
    Step("activated");
    PumpFor(INFINITE);
    return 0;
}
