// The reference for the start-up, idle and memory figures: the least a
// Windows program with a window can be (one window, a message loop), run
// under the same Wine as Lumivane. With --platform it also sets up what any
// program with Lumivane's duties needs before its first line of logic (a COM
// apartment, the image library, the shell and COM libraries), which tells
// how much of Lumivane's memory those take, and makes one registration for
// a folder's drive-removal events (a window's device notification with a
// handle filter), so that what the platform itself starts for that service
// (under Wine 8, sechost's listener thread, which never ends) is in the
// reference, not counted as Lumivane's.

#include <windows.h>
#include <dbt.h>

#include <cwchar>
#include <initializer_list>

namespace {

LRESULT CALLBACK MinimalWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int showCommand) {
    // Loaded by name, so that without --platform the program imports
    // nothing beyond the window basics.
    if (std::wcsstr(commandLine, L"--platform")) {
        using CoInitializeExFunction = HRESULT(WINAPI*)(void*, DWORD);
        if (auto init = reinterpret_cast<CoInitializeExFunction>(
                reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(L"ole32.dll"), "CoInitializeEx")))) {
            init(nullptr, 0x2 /* COINIT_APARTMENTTHREADED */);
        }
        struct GdiplusStartupInput {
            UINT32 GdiplusVersion = 1;
            void* DebugEventCallback = nullptr;
            BOOL SuppressBackgroundThread = FALSE;
            BOOL SuppressExternalCodecs = FALSE;
        } input;
        using GdiplusStartupFunction = int(WINAPI*)(ULONG_PTR*, const GdiplusStartupInput*, void*);
        ULONG_PTR token = 0;
        if (auto startup = reinterpret_cast<GdiplusStartupFunction>(
                reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(L"gdiplus.dll"), "GdiplusStartup")))) {
            startup(&token, &input, nullptr);
        }
        for (const wchar_t* library : {L"shell32.dll", L"shlwapi.dll", L"oleaut32.dll"}) LoadLibraryW(library);
    }
    WNDCLASSEXW cls{sizeof(cls)};
    cls.lpfnWndProc = MinimalWindowProc;
    cls.hInstance = instance;
    cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    cls.lpszClassName = L"MinimalWindow";
    RegisterClassExW(&cls);
    HWND window = CreateWindowExW(0, cls.lpszClassName, L"Minimal", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                  416, 359, nullptr, nullptr, instance, nullptr);
    if (!window) return 0;
    if (std::wcsstr(commandLine, L"--platform")) {
        wchar_t folder[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, folder);
        HANDLE directory = CreateFileW(folder, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        DEV_BROADCAST_HANDLE filter{};
        filter.dbch_size = sizeof(filter);
        filter.dbch_devicetype = DBT_DEVTYP_HANDLE;
        filter.dbch_handle = directory;
        if (directory != INVALID_HANDLE_VALUE) RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    }
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
