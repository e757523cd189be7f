#include "app/startup_shortcut.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <string>

#include "base/win_raii.h"
#include "state/app_state.h"

using Microsoft::WRL::ComPtr;

namespace {

// <Startup>\<title>.lnk; empty when the shell knows no Startup folder.
std::wstring ShortcutPath() {
    PWSTR folder = nullptr;
    const HRESULT found = SHGetKnownFolderPath(FOLDERID_Startup, KF_FLAG_DEFAULT, nullptr, &folder);
    // Freed whether the call succeeded or not, as its documentation asks.
    const UniqueTaskMemory<wchar_t> owned(folder);
    if (FAILED(found) || !folder) return {};
    return std::wstring(folder) + L"\\" + AppState.title + L".lnk";
}

// The full path of the running exe, however long; empty if it cannot be had.
std::wstring ThisExe() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        if (path.size() >= 32768) return {};
        path.resize(path.size() * 2);
    }
}

ComPtr<IShellLinkW> NewShellLink() {
    ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link)))) return nullptr;
    return link;
}

}  // namespace

bool StartsAtSignIn() {
    const std::wstring shortcut = ShortcutPath();
    const std::wstring exe = ThisExe();
    if (shortcut.empty() || exe.empty()) return false;
    ComPtr<IShellLinkW> link = NewShellLink();
    ComPtr<IPersistFile> file;
    // Loading only reads the file: the target is not resolved, which could
    // search the disks for a moved exe.
    if (!link || FAILED(link.As(&file)) || FAILED(file->Load(shortcut.c_str(), STGM_READ))) return false;
    wchar_t target[MAX_PATH] = {};
    if (FAILED(link->GetPath(target, MAX_PATH, nullptr, 0))) return false;
    // File names are compared as the file system does, without case.
    return CompareStringOrdinal(target, -1, exe.c_str(), -1, TRUE) == CSTR_EQUAL;
}

void SetStartAtSignIn(bool start) {
    const std::wstring shortcut = ShortcutPath();
    if (shortcut.empty()) return;
    if (!start) {
        DeleteFileW(shortcut.c_str());
        return;
    }
    const std::wstring exe = ThisExe();
    const std::size_t lastSeparator = exe.find_last_of(L'\\');
    if (lastSeparator == std::wstring::npos) return;
    ComPtr<IShellLinkW> link = NewShellLink();
    ComPtr<IPersistFile> file;
    if (!link || FAILED(link->SetPath(exe.c_str())) ||
        FAILED(link->SetWorkingDirectory(exe.substr(0, lastSeparator).c_str())) ||
        FAILED(link->SetShowCmd(SW_SHOWMINNOACTIVE)) || FAILED(link.As(&file))) {
        return;
    }
    file->Save(shortcut.c_str(), TRUE);
}
