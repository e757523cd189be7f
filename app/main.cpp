// Lumivane's entry point: sets up the main thread's services, creates the
// main window and runs the message loop until the window is destroyed.

#include <windows.h>

#include "app/gdiplus_include.h"
#include "app/main_window.h"
#include "app/resource.h"
#include "base/win_raii.h"
#include "settings/settings_store.h"
#include "state/app_state.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    // The main thread is a single-threaded apartment for its whole life: the
    // folder picker and the shell's window collection need one.
    ComApartment apartment;
    const ImageLibraryToken imageLibrary = StartImageLibrary();
    AppState.gdiplusToken = imageLibrary.get();

    LoadStringW(instance, IDS_APP_TITLE, AppState.title, 100);
    LoadStringW(instance, IDC_MAIN, AppState.windowClassName, 100);
    RegisterMainWindowClass(instance);

    LoadSettings();
    if (!CreateMainWindow(instance, showCommand)) return 0;

    HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDC_MAIN));
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0)) {
        // Translated for the message's own window: with the focus on the
        // button or the list, the command goes to that control.
        if (!TranslateAcceleratorW(message.hwnd, accelerators, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    AppState.gdiplusToken = 0;
    return static_cast<int>(message.wParam);
}
