#pragma once
// The one process-wide record of the program's state. Every subsystem reads
// and writes its fields directly; nothing is passed around.
//
// Threads: the main thread owns every field. The watcher thread reads only
// stopEvent and watchEntries, and writes only the read and changeHandle of
// the entry it handles; the main thread touches those only while no watcher runs
// (see change_watcher.cpp), except that it may take a change handle out
// of its slot while a worker it left behind still runs.

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/win_raii.h"
#include "state/folder_list.h"
#include "state/window_geometry.h"

// A change notification's place, which two threads may empty: whoever
// takes the handle out is the one to use it or close it. Reading or copying
// the slot only reads the handle.
class HandleSlot {
public:
    HandleSlot(HANDLE handle = nullptr) : handle_(handle) {}
    HandleSlot(const HandleSlot& other) : handle_(other.handle_.load()) {}
    HandleSlot& operator=(const HandleSlot& other) {
        handle_.store(other.handle_.load());
        return *this;
    }
    HandleSlot& operator=(HANDLE handle) {
        handle_.store(handle);
        return *this;
    }
    operator HANDLE() const { return handle_.load(); }
    HANDLE Take() { return handle_.exchange(nullptr); }

private:
    std::atomic<HANDLE> handle_;
};

// One outstanding read of a folder's change records. It stays where it is
// while the read is under way: the kernel writes into it until the read
// completes, whichever thread waits for that.
struct ChangeRead {
    // 64 KiB: a larger read fails over the network.
    static constexpr DWORD kBufferBytes = 64 * 1024;
    HANDLE done = nullptr;  // manual-reset event, set as the read completes
    OVERLAPPED overlapped{};
    bool pending = false;  // issued and not yet taken
    alignas(DWORD) std::byte buffer[kBufferBytes];
    ChangeRead() { done = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    ~ChangeRead() {
        if (done) CloseHandle(done);
    }
    ChangeRead(const ChangeRead&) = delete;
    ChangeRead& operator=(const ChangeRead&) = delete;
};

// One watched folder (its own copy of the path, so the list may change
// while the watcher runs) and what watches it: a directory handle whose
// changes are read with their names, or, where the file system cannot name
// them, a change notification (read is then null).
struct WatchEntry {
    HandleSlot changeHandle;
    std::wstring folderPath;
    // Decided once, when the folder was armed: a drive letter's type does
    // not change while it stays mapped, and asking again after every
    // activation costs a call each time.
    bool onNetwork = false;
    std::unique_ptr<ChangeRead> read;
    // Where the program keeps its own files, relative to the folder, when
    // that is inside it ("" when the folder is itself inside it): changes
    // there are noise.
    std::optional<std::wstring> ownFolder;
};

struct ApplicationState {
    HINSTANCE instance;
    wchar_t windowClassName[100];
    wchar_t title[100];
    ULONG_PTR gdiplusToken;
    HWND folderListBox;
    UniqueFont listFont;
    bool trayIconAdded;
    HBITMAP aboutBitmap;
    WindowGeometry geometry;
    FolderList folders;
    std::vector<WatchEntry> watchEntries;
    HANDLE watcherThread;
    HANDLE stopEvent;
    // The user's "pause watching": while set, nothing is armed. Not stored;
    // each start of the program watches.
    bool watchingPaused;
};

// Zero-initialised before anything runs. Not constinit: in MSVC's debug
// runtime the default constructors of std::vector and std::wstring allocate,
// so they are not constant expressions there; with gcc this is still
// initialised at compile time, and with MSVC before wWinMain runs.
extern ApplicationState AppState;
