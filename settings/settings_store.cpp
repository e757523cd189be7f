#include "settings/settings_store.h"

#include <shlobj.h>

#include <errno.h>
#include <stdio.h>

#include <string>

#include "settings/settings_text.h"
#include "state/app_state.h"

namespace {

// A backup tool, a virus scanner or a synchronisation client may hold the
// file without sharing for a moment, typically at logon when this program
// starts too: the open is tried again every 100 ms for about two seconds.
constexpr int kUnreadableRetries = 20;
constexpr DWORD kRetryIntervalMs = 100;

// Set when the settings file existed at start-up but could not be read, was
// not UTF-8 text (a damaged byte, another encoding), or was read but its
// folder list could not be (cut inside the array, a bracket lost in a hand
// edit): the program then runs without the stored folders, and a save
// would replace them through no action of the user's. Saves are skipped
// until the user changes the folder list, whose save replaces the file on
// purpose after moving it aside; until then the file can still be mended.
bool keepUnreadFile = false;

// WriteFile but in tests; see SetSettingsFileWrite.
SettingsFileWriteCall fileWrite = WriteFile;

// Empty for the shell's folder; see SetLocalAppDataFolder.
std::wstring localAppDataFolder;

// The rectangle the window has when restored, in screen coordinates. The
// placement's normal rectangle is relative to the work area, which differs
// from the screen when a taskbar is docked at the top or left; the stored
// position is later used as screen coordinates, so convert it here or the
// window would creep by the taskbar's size at every start.
bool GetRestoredWindowRect(HWND window, RECT& rect) {
    WINDOWPLACEMENT placement{};
    placement.length = sizeof(placement);
    if (!GetWindowPlacement(window, &placement)) return GetWindowRect(window, &rect) != FALSE;
    rect = placement.rcNormalPosition;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    if (GetMonitorInfoW(MonitorFromRect(&rect, MONITOR_DEFAULTTOPRIMARY), &monitor)) {
        OffsetRect(&rect, monitor.rcWork.left - monitor.rcMonitor.left, monitor.rcWork.top - monitor.rcMonitor.top);
    }
    return true;
}

// Differences of two LONGs, wrapping instead of overflowing.
int32_t Span(LONG from, LONG to) {
    return static_cast<int32_t>(static_cast<uint32_t>(to) - static_cast<uint32_t>(from));
}

}  // namespace

void SetLocalAppDataFolder(const std::wstring& folder) {
    localAppDataFolder = folder;
}

std::wstring GetSettingsPath() {
    std::wstring path = localAppDataFolder;
    if (path.empty()) {
        wchar_t folder[MAX_PATH] = {};
        if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) return {};
        path = folder;
    }
    path += L"\\Vantly";
    // Usually there already; any other failure shows up as a failed open.
    CreateDirectoryW(path.c_str(), nullptr);
    path += L"\\window.json";
    return path;
}

void SetSettingsFileWrite(SettingsFileWriteCall write) {
    fileWrite = write;
}

bool WriteSettingsFile(const std::wstring& path, const std::wstring& text) {
    std::string bytes;
    if (!EncodeSettingsBytes(text, bytes)) return false;
    // One fixed name: a temporary file left by a killed process is simply
    // truncated by the next save instead of piling up. It is opened without
    // sharing, so a second instance saving at the same moment fails its
    // open or its move rather than mixing two texts.
    const std::wstring temp = path + L".tmp";
    HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    // A full disk or a share that went away fails the write part-way; the
    // flush and the move would still succeed and put the cut text in place
    // of the old file.
    DWORD written = 0;
    bool saved = fileWrite(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) != FALSE;
    // The text reaches the disk before the move, and the move is written
    // through: a rename over the old file that overtook the data in the
    // system's write-back cache could, after a power cut, leave a file of
    // the right size full of zeros, which loses the list at the next start.
    saved = saved && FlushFileBuffers(file);
    saved = CloseHandle(file) && saved;
    // No test can tell a move written through from one that is not (only a
    // power cut would): the flag is checked by hand on Windows.
    const DWORD moveFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (saved && MoveFileExW(temp.c_str(), path.c_str(), moveFlags)) return true;
    DeleteFileW(temp.c_str());
    return false;
}

SettingsFileRead ReadSettingsFile(const std::wstring& path, std::wstring& text) {
    text.clear();
    FILE* file = nullptr;
    // The runtime maps a missing file or folder to ENOENT; a sharing
    // violation, a lock or a denied access all mean the file is there.
    const errno_t error = _wfopen_s(&file, path.c_str(), L"rb");
    if (error == ENOENT) return SettingsFileRead::Missing;
    if (error != 0 || !file) return SettingsFileRead::Unreadable;
    // A read error (a bad sector, a share that went away) ends fread just
    // as the end of the file does: only the error flag tells them apart.
    // The bytes read so far may stop inside the list, and must not be taken
    // for the whole file.
    std::string bytes;
    char piece[4096];
    for (size_t got; (got = fread(piece, 1, sizeof(piece), file)) > 0;) bytes.append(piece, got);
    const bool failed = ferror(file) != 0;
    fclose(file);
    if (failed) return SettingsFileRead::Unreadable;
    return DecodeSettingsBytes(bytes, text) ? SettingsFileRead::Read : SettingsFileRead::NotText;
}

void SaveSettings(HWND window) {
    if (keepUnreadFile) return;
    RECT rect{};
    if (!GetRestoredWindowRect(window, rect)) return;
    const WindowGeometry geometry{rect.left, rect.top, Span(rect.left, rect.right), Span(rect.top, rect.bottom)};
    const std::wstring path = GetSettingsPath();
    if (path.empty()) return;
    WriteSettingsFile(path, FormatSettingsText(geometry, AppState.folders));
}

void SaveChangedFolderList(HWND window) {
    // The kept file is the user's only copy of the list it could not give
    // us: it is moved aside, over an older one, before anything replaces
    // it. Once it is aside (or gone), the list in memory is the user's own
    // choice, and every later save may store it, whether or not this one
    // gets through. A file that cannot be moved (held by another program)
    // stays kept, and the change unsaved, until the next change tries again.
    if (keepUnreadFile) {
        const std::wstring path = GetSettingsPath();
        const std::wstring aside = path + L".unreadable";
        if (!MoveFileExW(path.c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) &&
            GetLastError() != ERROR_FILE_NOT_FOUND) {
            return;
        }
        keepUnreadFile = false;
    }
    SaveSettings(window);
}

void LoadSettings() {
    // The outer size of a 400 x 300 client area with caption, frame and menu
    // bar, in the bottom-right corner of the primary screen.
    RECT frame{0, 0, 400, 300};
    AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, TRUE);
    AppState.geometry = DefaultWindowGeometry(frame.right - frame.left, frame.bottom - frame.top,
                                              GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    AppState.folders.clear();
    keepUnreadFile = false;

    const std::wstring path = GetSettingsPath();
    if (path.empty()) return;
    std::wstring text;
    SettingsFileRead read = ReadSettingsFile(path, text);
    for (int retry = 0; read == SettingsFileRead::Unreadable && retry < kUnreadableRetries; ++retry) {
        Sleep(kRetryIntervalMs);
        read = ReadSettingsFile(path, text);
    }
    if (read == SettingsFileRead::Unreadable || read == SettingsFileRead::NotText) keepUnreadFile = true;
    if (read != SettingsFileRead::Read) return;
    ApplySettingsText(text, AppState.geometry, AppState.folders);
    keepUnreadFile = FolderArrayIsUnreadable(text);
}
