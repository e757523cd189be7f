#pragma once
// Asking the file system about a watched folder without hanging on the
// network. On a share that does not answer (a file server out of reach, a
// mapped drive while away from the office) the kernel's file calls block
// for the network's time-out, often tens of seconds, and the window's
// thread that made them would show "Not Responding" all that time.

#include <windows.h>

#include <string>
#include <vector>

// The calls that may block on the network, in one table so that a test can
// stand in for a share that never answers (or a file system that cannot
// name its changes). Production code never changes it.
struct FolderAccessCalls {
    HANDLE(WINAPI* createFile)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    DWORD(WINAPI* getFileAttributes)(LPCWSTR);
    UINT(WINAPI* getDriveType)(LPCWSTR);
    HANDLE(WINAPI* findFirstChangeNotification)(LPCWSTR, BOOL, DWORD) = FindFirstChangeNotificationW;
    BOOL(WINAPI* readDirectoryChanges)(HANDLE, LPVOID, DWORD, BOOL, DWORD, LPDWORD, LPOVERLAPPED,
                                       LPOVERLAPPED_COMPLETION_ROUTINE) = ReadDirectoryChangesW;
};

// The table in use; the real functions unless a test replaced them.
FolderAccessCalls& CurrentFolderAccessCalls();
// The real functions.
FolderAccessCalls PlatformFolderAccessCalls();

// How long a call about a folder on the network may take before the folder
// counts as out of reach.
constexpr DWORD kNetworkCallLimitMs = 1000;

// A share, or a folder on a drive the platform reports as remote (a mapped
// network drive).
bool IsNetworkFolder(const std::wstring& path);

// The folder opened for reading the names of its changes: a directory
// handle for overlapped ReadDirectoryChangesW, which never stops the user
// from renaming or deleting the folder; null when the folder cannot be
// opened now (missing, no access, out of reach).
HANDLE OpenWatchedFolder(const std::wstring& path);
// A change notification over path and everything below it, or null when
// the folder cannot be armed now: for a folder whose file system cannot
// name its changes.
HANDLE ArmChangeNotification(const std::wstring& path, DWORD filter);
// One folder's handle (null when it could not be had), and whether the
// folder is on the network, as asking found out.
struct ArmedNotification {
    HANDLE handle = nullptr;
    bool onNetwork = false;
};
// The same for every path, in order. The folders on the network are asked
// side by side under one shared limit of about a second, so that ten shares
// out of reach cost one second, not ten.
std::vector<ArmedNotification> OpenWatchedFolders(const std::vector<std::wstring>& paths);
std::vector<ArmedNotification> ArmChangeNotifications(const std::vector<std::wstring>& paths, DWORD filter);

// The long name of folder's child named child (which may be its short,
// 8.3 name), or empty when it no longer exists. On the network within the
// limit; no answer counts as gone.
std::wstring ChildItemOf(const std::wstring& folder, const std::wstring& child, bool onNetwork);

// True when path names an existing folder. A folder on the network that
// does not answer in time counts as missing.
bool IsExistingDirectory(const std::wstring& path);

// What asking for a folder found: it is there, it is gone (or no folder),
// or the network gave no answer in time (which says nothing either way).
enum class FolderPresence { Present, Gone, NoAnswer };
// For a folder whose place (on the network or not) is already known,
// without asking for its drive's type again.
FolderPresence PresenceOf(const std::wstring& path, bool onNetwork);

// A notification renewed on the calling thread if its request was ended
// (signalled) by the end of the thread that made it. The kernel ties a
// notification's pending request to the thread that made it, and cancels it
// when that thread ends, which signals the handle just as a change would; a
// change that really came meanwhile signals the renewed handle again at
// once. Returns handle.
HANDLE RenewedHere(HANDLE handle);
