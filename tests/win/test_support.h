#pragma once
// What the Windows tests share: real folders and files of their own, real
// windows to hand to the code under test, and waiting for something to
// happen on another thread or in another process, and putting a stand-in
// in place of the platform for one scope.
//
// Header-only and free of the program's own headers, so that any test,
// the fake shell and the benchmarks can include it without linking more.

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

// Calls predicate every interval until it answers true; false if it still
// answers false after timeout.
inline bool WaitUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout,
                      std::chrono::milliseconds interval = std::chrono::milliseconds(50)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        Sleep(static_cast<DWORD>(interval.count()));
    }
    return true;
}

// What count() gives once it has come back to expected, or after ten
// seconds. Wine lets go of a finished thread's handles and of a closed
// notification a moment after the call that ends them returns; a real leak
// never comes back.
template <typename Count, typename Value>
Value SettledCount(Count count, Value expected) {
    Value now{};
    WaitUntil(
        [&] {
            now = count();
            return now == expected;
        },
        std::chrono::seconds(10), std::chrono::milliseconds(100));
    return now;
}

// Wine drops a change that comes between a wake-up and the renewal of the
// notification (Windows holds it for the next wait): a test whose next
// change must be seen waits until the worker has renewed.
inline bool BecomesRenewed(HANDLE handle) {
    return WaitUntil([handle] { return WaitForSingleObject(handle, 0) != WAIT_OBJECT_0; },
                     std::chrono::seconds(5), std::chrono::milliseconds(5));
}

// True for a change notification as FindFirstChangeNotificationW hands
// one out: it reports failure as INVALID_HANDLE_VALUE, not as null, and
// the watcher keeps null for an entry it has given up.
inline bool IsValidChangeHandle(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

// Puts standIn into a table of platform calls (a Current...Calls() slot)
// for one scope and what was there back at its end, however it ends; with
// no stand-in, keeps the table for a test that changes an entry of it.
template <typename Calls>
class ScopedCalls {
public:
    explicit ScopedCalls(Calls& slot) : slot_(slot), saved_(slot) {}
    ScopedCalls(Calls& slot, Calls standIn) : ScopedCalls(slot) { slot_ = std::move(standIn); }
    ~ScopedCalls() { slot_ = saved_; }
    ScopedCalls(const ScopedCalls&) = delete;

private:
    Calls& slot_;
    Calls saved_;
};

// --- Folders and files ---------------------------------------------------

// Creates (or replaces) a file holding text.
inline bool WriteTextFile(const std::wstring& path, std::string_view text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == text.size();
}

inline bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The temp folder, with a separator at the end, in its long form: a
// hosted runner's %TEMP% is in 8.3 form (C:\Users\RUNNER~1\...), while the
// shell reports the folders it shows by their long names.
inline std::wstring TempFolder() {
    wchar_t temp[MAX_PATH + 1]{};
    GetTempPathW(MAX_PATH + 1, temp);
    wchar_t full[MAX_PATH + 1]{};
    const DWORD length = GetLongPathNameW(temp, full, MAX_PATH + 1);
    return length > 0 && length <= MAX_PATH ? full : temp;
}

// A fresh folder under the temp folder, removed with everything in it at
// the end of the test. Its name starts with prefix; the rest makes it unique.
class ScratchFolder {
public:
    explicit ScratchFolder(std::wstring_view prefix = L"lumivane-scratch") {
        static int serial = 0;
        // Wine hands out the same small process ids run after run, so the
        // time goes into the name too: a folder left by a killed run (or a
        // file browser still showing it) is never taken for this one.
        name_ = std::wstring(prefix) + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(++serial);
        path_ = TempFolder() + name_;
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::wstring& Path() const { return path_; }
    // The folder's own name, the last part of its path: the title a file
    // browser showing it carries.
    const std::wstring& Name() const { return name_; }
    // The folder as a file URL, the way a shell window reports it.
    std::wstring Url() const {
        std::wstring url = L"file:///" + path_;
        std::replace(url.begin(), url.end(), L'\\', L'/');
        return url;
    }
    // The full path of relative inside, without creating anything.
    std::wstring Child(std::wstring_view relative) const { return path_ + L"\\" + std::wstring(relative); }
    // Creates the folder relative inside and returns its full path.
    std::wstring Make(std::wstring_view relative) const {
        std::wstring full = Child(relative);
        CreateDirectoryW(full.c_str(), nullptr);
        return full;
    }
    // Creates an empty file relative inside and returns its full path.
    std::wstring MakeFile(std::wstring_view relative) const {
        std::wstring full = Child(relative);
        WriteTextFile(full, "");
        return full;
    }

private:
    std::wstring name_;
    std::wstring path_;
};

// Under Wine, starts a Unix program (program and commandLine name it by its
// Unix path), for what Windows code cannot do to Wine's files: delete a
// folder that a notification holds, or map a drive letter. Wine hands back
// no process handle to wait on: the caller waits for the effect. False
// outside Wine.
inline bool StartUnixProgram(const wchar_t* program, std::wstring commandLine) {
    STARTUPINFOW startup{sizeof(startup)};
    PROCESS_INFORMATION process{};
    const std::wstring windowsName = std::wstring(L"Z:") + program;
    if (!CreateProcessW(windowsName.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return false;
    }
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return true;
}

// Under Wine, the Unix path of a Windows path, quoted for a command line;
// empty outside Wine.
inline std::wstring QuotedUnixPath(const std::wstring& path) {
    using UnixName = char*(CDECL*)(LPCWSTR);
    auto unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* name = unixName ? unixName(path.c_str()) : nullptr;
    if (!name) return {};
    std::wstring quoted = L"\"" + std::wstring(name, name + std::strlen(name)) + L"\"";
    HeapFree(GetProcessHeap(), 0, name);
    return quoted;
}

// --- Windows --------------------------------------------------------------

// Lets the test thread's windows count as answering: IsHungAppWindow calls
// a window hung when its thread has not looked for messages for five
// seconds, and a test thread rarely does.
inline void PumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// A visible top-level window of this thread with the class className (a
// dialog box is "#32770", a pop-up menu "#32768"), or null. Searching by
// class alone may find another thread's, or the hidden menu window that
// Windows keeps.
inline HWND ThreadWindowOfClass(const wchar_t* className) {
    struct Search {
        const wchar_t* className;
        HWND found;
    } search{className, nullptr};
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            wchar_t name[64] = {};
            GetClassNameW(window, name, 64);
            if (std::wcscmp(name, s->className) != 0 || !IsWindowVisible(window)) return TRUE;
            s->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The window class of the tests' own top-level windows: nothing but
// DefWindowProc.
inline const wchar_t* TestWindowClass() {
    static const wchar_t* name = [] {
        WNDCLASSEXW windowClass = {};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        windowClass.lpszClassName = L"LumivaneTestWindow";
        RegisterClassExW(&windowClass);
        return windowClass.lpszClassName;
    }();
    return name;
}

// A real top-level window, for code that acts on a window or stores its
// placement, and for a fake shell window's handle, so that ShowWindow and
// SetForegroundWindow act on something a test can observe. Destroyed with
// the object, its children with it.
class TestWindow {
public:
    // Created with the title at the given place and size, and shown with
    // showCommand (SW_HIDE leaves it hidden).
    TestWindow(const wchar_t* title, int showCommand, int x = 100, int y = 100, int width = 320, int height = 200)
        : handle_(CreateWindowExW(0, TestWindowClass(), title, WS_OVERLAPPEDWINDOW, x, y, width, height, nullptr,
                                  nullptr, GetModuleHandleW(nullptr), nullptr)) {
        if (handle_) ShowWindow(handle_, showCommand);
        PumpMessages();
    }
    ~TestWindow() {
        if (handle_) DestroyWindow(handle_);
    }
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;
    HWND Handle() const { return handle_; }

    // Adds a list box made like the main window's folder list (no sorting,
    // one selection at most) and returns it: for AppState.folderListBox.
    HWND AddFolderList() {
        return CreateWindowExW(WS_EX_CLIENTEDGE, L"LISTBOX", nullptr, WS_CHILD | WS_VISIBLE | WS_VSCROLL | LBS_NOTIFY,
                               10, 50, 380, 250, handle_, nullptr, GetModuleHandleW(nullptr), nullptr);
    }

private:
    HWND handle_;
};
