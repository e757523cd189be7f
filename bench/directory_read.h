#pragma once
// One folder watched with ReadDirectoryChangesW the way the watcher watches
// it, for the floors of the benchmarks (watch_probe --floor and
// activation_floor): the folder opened for listing with every share mode
// (the user can still rename or delete it), one overlapped read of the whole
// subtree with the watcher's filter into a DWORD-aligned buffer of 64 KiB
// (larger fails over the network), and a manual-reset event that a
// completion signals. The read resets the event when it is issued.

#include <windows.h>

#include <memory>

#include "base/win_raii.h"
#include "watch/change_watcher.h"

class DirectoryRead {
public:
    static constexpr DWORD kBufferBytes = 64 * 1024;

    DirectoryRead() = default;
    // A pending read points into this object: it never moves.
    DirectoryRead(const DirectoryRead&) = delete;
    DirectoryRead& operator=(const DirectoryRead&) = delete;

    // Opens folder and issues the first read; false when either fails.
    bool Start(const wchar_t* folder) {
        directory_.reset(CreateFileW(folder, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED,
                                     nullptr));
        event_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        return directory_ && event_ && Issue();
    }

    // The next read, at once after a completion: what changes in between is
    // kept by the system for it.
    bool Issue() {
        overlapped_ = OVERLAPPED{};
        overlapped_.hEvent = event_.get();
        return ReadDirectoryChangesW(directory_.get(), buffer_.get(), kBufferBytes, TRUE, WATCH_NOTIFY_FILTER, nullptr,
                                     &overlapped_, nullptr) != FALSE;
    }

    // The completed read's size in bytes (0: something changed, but the
    // names did not fit); false when the read failed or overflowed.
    bool Complete(DWORD& bytes) { return GetOverlappedResult(directory_.get(), &overlapped_, &bytes, FALSE) != FALSE; }

    HANDLE event() const { return event_.get(); }
    // The records of the last completed read.
    const FILE_NOTIFY_INFORMATION* records() const {
        return reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(buffer_.get());
    }

private:
    UniqueHandle directory_;
    UniqueHandle event_;
    OVERLAPPED overlapped_{};
    std::unique_ptr<DWORD[]> buffer_{new DWORD[kBufferBytes / sizeof(DWORD)]};
};
