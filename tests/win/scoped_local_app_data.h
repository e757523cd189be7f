#pragma once
// Gives the settings store a fresh folder for local application data for
// the lifetime of the object, and the shell's own afterwards, so that a
// test's settings file is its own.

#include <windows.h>

#include <string>
#include <vector>

class ScopedLocalAppData {
public:
    ScopedLocalAppData();
    ~ScopedLocalAppData();
    ScopedLocalAppData(const ScopedLocalAppData&) = delete;
    ScopedLocalAppData& operator=(const ScopedLocalAppData&) = delete;

    const std::wstring& folder() const { return folder_; }
    std::wstring vantlyFolder() const { return folder_ + L"\\Vantly"; }
    std::wstring settingsFile() const { return folder_ + L"\\Vantly\\window.json"; }

private:
    std::wstring folder_;
};

// Deletes a folder and everything below it.
void DeleteTree(const std::wstring& folder);

// A file's bytes as they are on disk (empty when it cannot be read).
std::string ReadBytes(const std::wstring& path);

// The names in a folder, without "." and "..".
std::vector<std::wstring> FilesIn(const std::wstring& folder);
