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
//       when there is none yet, opens the folder as above.
//
// The window is shown as Lumivane shows it to a user who is away (the
// benchmarks keep the session quiet): a minimised window is restored, and
// the window is asked for the foreground. Prints "ready" once armed.

#include <windows.h>
#include <exdisp.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "bench/directory_read.h"

namespace {

constexpr int kOpenPolls = 10;
constexpr DWORD kPollIntervalMs = 100;

// The folder's window as the shell names it, or null.
HWND FindFolderWindow(const std::wstring& folder) {
    IShellWindows* windows = nullptr;
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
            IDispatch* unused = nullptr;
            if (windows->FindWindowSW(&location, &root, SWC_EXPLORER, &handle, 0, &unused) == S_OK) {
                found = reinterpret_cast<HWND>(static_cast<LONG_PTR>(handle));
            }
            if (unused) unused->Release();
        }
        VariantClear(&location);
        ILFree(idList);
    }
    windows->Release();
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
        // The next read at once, as the watcher issues it: what changes
        // during the activation is kept for it.
        DWORD bytes = 0;
        read.Complete(bytes);
        if (!read.Issue()) break;
        HWND window = mode == L"front" ? FindFolderWindow(folder) : nullptr;
        if (window) Show(window);
        else Open(folder);
    }
    return 0;
}
