// A call about a folder on the network runs on a short-lived thread of its
// own, and the caller waits for it at most kNetworkCallLimitMs. A call that
// has not answered by then is abandoned: the caller goes on as if the
// folder were out of reach, and the thread, whenever the kernel lets its
// call return, releases what it got (a change notification) and ends by
// itself. Nothing ever waits for such a thread, so it can hang as long as
// the network likes. Several folders are armed side by side, one thread
// each, and the caller waits for all of them until one shared deadline.
// While a folder's abandoned call still hangs, no second thread is started
// for that folder: it counts as out of reach at once, so that restarts
// against a dead share never pile up threads (at most one per folder).
//
// Local folders are asked directly, with no thread: their calls do not wait
// on anything that can go away.

#include "explorer/folder_access.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <utility>

#include "base/win_raii.h"
#include "explorer/folder_identity.h"

namespace {

// What the caller and the call's thread share. Whoever comes second frees
// it: the thread when the caller has given up on it, else the caller.
template <typename T>
struct BoundedCall {
    enum State { kRunning, kAnswered, kAbandoned };
    std::function<T()> call;
    void (*discard)(T);  // for a result nobody waits for any more
    std::wstring folder;  // the folder asked about, kernel form
    T result{};
    std::atomic<int> state{kRunning};
};

// The folders with a call under way on a thread of their own, from any
// thread; each thread takes its folder off as its call returns.
SRWLOCK callsUnderWayLock = SRWLOCK_INIT;
std::vector<std::wstring> foldersWithCallUnderWay;

// False when folder already has a call under way (one that hangs, as a
// rule: the caller of the last one gave up on it).
bool MarkCallUnderWay(const std::wstring& folder) {
    ExclusiveLock guard(callsUnderWayLock);
    auto& under = foldersWithCallUnderWay;
    if (std::find(under.begin(), under.end(), folder) != under.end()) return false;
    under.push_back(folder);
    return true;
}

void MarkCallReturned(const std::wstring& folder) {
    ExclusiveLock guard(callsUnderWayLock);
    auto& under = foldersWithCallUnderWay;
    const auto it = std::find(under.begin(), under.end(), folder);
    if (it != under.end()) under.erase(it);
}

template <typename T>
DWORD WINAPI RunBoundedCall(LPVOID parameter) {
    auto* shared = static_cast<BoundedCall<T>*>(parameter);
    shared->result = shared->call();
    MarkCallReturned(shared->folder);
    int expected = BoundedCall<T>::kRunning;
    if (!shared->state.compare_exchange_strong(expected, BoundedCall<T>::kAnswered)) {
        // The caller has gone on without us.
        if (shared->discard) shared->discard(shared->result);
        delete shared;
    }
    return 0;
}

// A call under way on a thread of its own. shared is null when no thread
// could be made, or while the folder's last call still hangs: without a
// thread of its own the call cannot be bounded, and made here it could hang
// the caller for the network's time-out, so the folder counts as out of
// reach until the next try.
template <typename T>
struct StartedCall {
    BoundedCall<T>* shared = nullptr;
    UniqueHandle thread;
};

template <typename T>
StartedCall<T> StartBoundedCall(const std::wstring& folder, std::function<T()> call, void (*discard)(T)) {
    if (!MarkCallUnderWay(folder)) return {};
    auto shared = std::make_unique<BoundedCall<T>>();
    shared->call = std::move(call);
    shared->discard = discard;
    shared->folder = folder;
    UniqueHandle thread(CreateThread(nullptr, 0, RunBoundedCall<T>, shared.get(), 0, nullptr));
    if (!thread) {
        MarkCallReturned(folder);
        return {};
    }
    return StartedCall<T>{shared.release(), std::move(thread)};
}

// The started call's result if it answers by deadline (a GetTickCount64
// time); otherwise fallback, and the call's thread discards its result
// once it does return.
template <typename T>
T FinishBoundedCall(StartedCall<T>& started, T fallback, ULONGLONG deadline) {
    BoundedCall<T>* running = started.shared;
    if (running == nullptr) return fallback;
    const ULONGLONG now = GetTickCount64();
    WaitForSingleObject(started.thread.get(), now < deadline ? static_cast<DWORD>(deadline - now) : 0);
    int expected = BoundedCall<T>::kRunning;
    if (running->state.compare_exchange_strong(expected, BoundedCall<T>::kAbandoned)) return fallback;
    // Answered, in time or just after the wait gave up. The thread has only
    // to return now; the caller may rely on its having ended.
    WaitForSingleObject(started.thread.get(), kNetworkCallLimitMs);
    const T result = running->result;
    delete running;
    return result;
}

// call() on a thread of its own, if it answers within kNetworkCallLimitMs;
// otherwise fallback, and discard(result) once the call does return.
template <typename T>
T CallWithinLimit(const std::wstring& folder, std::function<T()> call, T fallback, void (*discard)(T)) {
    StartedCall<T> started = StartBoundedCall<T>(folder, std::move(call), discard);
    return FinishBoundedCall(started, fallback, GetTickCount64() + kNetworkCallLimitMs);
}

// The calls below answer null, never INVALID_HANDLE_VALUE, for failure.
void CloseChangeNotification(HANDLE handle) {
    if (handle != nullptr) FindCloseChangeNotification(handle);
}

void CloseDirectory(HANDLE handle) {
    if (handle != nullptr) CloseHandle(handle);
}

// A folder path of MAX_PATH characters or more (the picker returns them)
// goes to the kernel in extended form: without long-path support the plain
// form fails, though the folder is there.
std::function<HANDLE()> ArmCall(const std::wstring& path, DWORD filter) {
    const auto find = CurrentFolderAccessCalls().findFirstChangeNotification;
    return [find, kernelPath = ExtendedLengthPath(path), filter]() -> HANDLE {
        HANDLE handle = find(kernelPath.c_str(), TRUE, filter);
        // Failure comes as INVALID_HANDLE_VALUE, but null is no handle either.
        return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
    };
}

// Every sharing mode: this handle must never be what stops another program
// from renaming or deleting the folder.
std::function<HANDLE()> OpenCall(const std::wstring& path) {
    const auto open = CurrentFolderAccessCalls().createFile;
    return [open, kernelPath = ExtendedLengthPath(path)]() -> HANDLE {
        constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        HANDLE handle = open(kernelPath.c_str(), FILE_LIST_DIRECTORY, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
        return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
    };
}

// Every path's handle from call(path), in order: those on the network each
// on a thread of its own, under one shared deadline, the local ones
// meanwhile. finish is applied to each network handle that arrived in time.
std::vector<ArmedNotification> HandlesFor(const std::vector<std::wstring>& paths,
                                          const std::function<std::function<HANDLE()>(const std::wstring&)>& call,
                                          void (*discard)(HANDLE), HANDLE (*finish)(HANDLE)) {
    std::vector<ArmedNotification> armed(paths.size());
    std::vector<std::pair<std::size_t, StartedCall<HANDLE>>> onNetwork;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        armed[i].onNetwork = IsNetworkFolder(paths[i]);
        if (armed[i].onNetwork) {
            onNetwork.emplace_back(i, StartBoundedCall<HANDLE>(ExtendedLengthPath(paths[i]), call(paths[i]), discard));
        }
    }
    const ULONGLONG deadline = GetTickCount64() + kNetworkCallLimitMs;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (!armed[i].onNetwork) armed[i].handle = call(paths[i])();
    }
    for (auto& [i, started] : onNetwork) {
        armed[i].handle = finish(FinishBoundedCall<HANDLE>(started, nullptr, deadline));
    }
    return armed;
}

HANDLE AsItCame(HANDLE handle) {
    return handle;
}

}  // namespace

// Armed on a thread of its own, every folder on the network would otherwise
// be activated once, for nothing, right after it was armed.
HANDLE RenewedHere(HANDLE handle) {
    if (handle != nullptr && WaitForSingleObject(handle, 0) == WAIT_OBJECT_0) FindNextChangeNotification(handle);
    return handle;
}

FolderAccessCalls PlatformFolderAccessCalls() {
    return FolderAccessCalls{CreateFileW, GetFileAttributesW, GetDriveTypeW};
}

FolderAccessCalls& CurrentFolderAccessCalls() {
    static FolderAccessCalls calls = PlatformFolderAccessCalls();
    return calls;
}

bool IsNetworkFolder(const std::wstring& path) {
    if (IsSharePath(path)) return true;
    const std::wstring root = DriveRootOf(path);
    // Asking for a drive's type is answered from what the system already
    // knows about the drive letter; it does not go to the server.
    return !root.empty() && CurrentFolderAccessCalls().getDriveType(root.c_str()) == DRIVE_REMOTE;
}

HANDLE OpenWatchedFolder(const std::wstring& path) {
    return OpenWatchedFolders({path}).front().handle;
}

HANDLE ArmChangeNotification(const std::wstring& path, DWORD filter) {
    return ArmChangeNotifications({path}, filter).front().handle;
}

std::vector<ArmedNotification> OpenWatchedFolders(const std::vector<std::wstring>& paths) {
    return HandlesFor(paths, OpenCall, CloseDirectory, AsItCame);
}

std::vector<ArmedNotification> ArmChangeNotifications(const std::vector<std::wstring>& paths, DWORD filter) {
    return HandlesFor(paths, [filter](const std::wstring& path) { return ArmCall(path, filter); },
                      CloseChangeNotification, RenewedHere);
}

std::wstring ChildItemOf(const std::wstring& folder, const std::wstring& child, bool onNetwork) {
    std::wstring top = folder;
    while (!top.empty() && (top.back() == L'\\' || top.back() == L'/')) top.pop_back();
    const std::wstring kernelPath = ExtendedLengthPath(top + L"\\" + child);
    // A child that no longer exists has no long name.
    auto longName = [kernelPath]() -> std::wstring {
        const DWORD size = GetLongPathNameW(kernelPath.c_str(), nullptr, 0);
        if (size == 0) return {};
        std::wstring found(size, L'\0');
        const DWORD written = GetLongPathNameW(kernelPath.c_str(), found.data(), size);
        if (written == 0 || written >= size) return {};
        found.resize(written);
        return found;
    };
    const std::wstring found =
        onNetwork ? CallWithinLimit<std::wstring>(kernelPath, longName, {}, nullptr) : longName();
    const std::size_t separator = found.find_last_of(L'\\');
    return separator == std::wstring::npos ? std::wstring() : found.substr(separator + 1);
}

bool IsExistingDirectory(const std::wstring& path) {
    return PresenceOf(path, IsNetworkFolder(path)) == FolderPresence::Present;
}

FolderPresence PresenceOf(const std::wstring& path, bool onNetwork) {
    const auto getAttributes = CurrentFolderAccessCalls().getFileAttributes;
    const std::wstring kernelPath = ExtendedLengthPath(path);
    // Not an answer GetFileAttributesW gives: a folder has no such bits.
    constexpr DWORD kNoAnswer = INVALID_FILE_ATTRIBUTES - 1;
    auto attributes = [getAttributes, kernelPath] { return getAttributes(kernelPath.c_str()); };
    const DWORD found = onNetwork ? CallWithinLimit<DWORD>(kernelPath, attributes, kNoAnswer, nullptr) : attributes();
    if (found == kNoAnswer) return FolderPresence::NoAnswer;
    if (found == INVALID_FILE_ATTRIBUTES || !(found & FILE_ATTRIBUTE_DIRECTORY)) return FolderPresence::Gone;
    return FolderPresence::Present;
}
