#pragma once
// Real folders and files for the watcher's tests: a fresh folder under the
// temp folder, removed with everything in it at the end of the test.

#include <windows.h>

#include <filesystem>
#include <string>
#include <string_view>

class ScratchFolder {
public:
    ScratchFolder() {
        static int serial = 0;
        wchar_t temp[MAX_PATH + 1]{};
        GetTempPathW(MAX_PATH + 1, temp);
        // Wine hands out the same small process ids run after run, so the
        // time goes into the name too: a folder left by a killed run is
        // never reused.
        path_ = std::wstring(temp) + L"lumivane-watch-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(++serial);
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::wstring& Path() const { return path_; }
    // The full path of relative inside, without creating anything.
    std::wstring Child(std::wstring_view relative) const { return path_ + L"\\" + std::wstring(relative); }
    // Creates the folder relative inside and returns its full path.
    std::wstring Make(std::wstring_view relative) const {
        std::wstring full = Child(relative);
        CreateDirectoryW(full.c_str(), nullptr);
        return full;
    }

private:
    std::wstring path_;
};

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
