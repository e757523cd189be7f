#pragma once
// Where the settings file lives, and saving and loading it.

#include <windows.h>

#include <string>

// <local application data>\Vantly\window.json, creating the Vantly folder on
// the way; empty when the platform cannot say where local data goes.
std::wstring GetSettingsPath();

// Makes folder stand for local application data in GetSettingsPath, or
// the shell's own folder again when empty. Only tests call it, each with a
// folder of its own: Windows' shell keeps the known folders it has looked
// up for the life of the process, so pointing the "Local AppData" registry
// value elsewhere would not reach a process that already asked.
void SetLocalAppDataFolder(const std::wstring& folder);

// Writes the main window's restored rectangle and AppState.folders. Silent:
// a failed save leaves the previous file exactly as it was. Does nothing
// while a settings file whose folders could not be read at start-up is kept
// (see LoadSettings) until the folder list changes.
void SaveSettings(HWND window);

// The save after the user changed the folder list: the one save that may
// replace a settings file that could not be read at start-up, which it
// first renames to window.json.unreadable beside it (replacing an older
// one). While that rename fails for any reason but a file no longer there,
// nothing is saved.
void SaveChangedFolderList(HWND window);

// Sets AppState.geometry and AppState.folders: defaults first, then what the
// settings file holds. A file that exists but is held by another program, or
// fails a read, is tried again for about two seconds; if it stays
// unreadable, the program runs on the defaults and keeps the file as it is
// (no save replaces it) until the folder list changes. A file that is not
// UTF-8 text is kept the same way at once, and one whose "folders" array
// cannot be read (see FolderArrayIsUnreadable) too, with whatever else it
// held applied.
void LoadSettings();

// Replaces the file at path with BOM + UTF-8 of text in one step: the text
// goes to a temporary file beside it, is flushed to the disk, and only then
// is moved over the old file with write-through. Returns false, with the old
// file untouched and no temporary file left, when any step fails, and when
// text has no UTF-8 form (a lone surrogate in a folder name).
bool WriteSettingsFile(const std::wstring& path, const std::wstring& text);

// The call WriteSettingsFile makes to write the bytes into its temporary
// file. Only tests change it, to a call that fails as a full disk does;
// SetSettingsFileWrite(WriteFile) puts the real one back.
using SettingsFileWriteCall = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
void SetSettingsFileWrite(SettingsFileWriteCall write);

enum class SettingsFileRead {
    Read,        // text holds the whole content
    Missing,     // no such file (or folder): nothing stored yet
    Unreadable,  // there, but it cannot be opened or read now (held, no access, a read error)
    NotText,     // read, but a NUL byte or bytes that are not UTF-8 (damaged, another encoding)
};

// The whole content of the file as text, in one attempt (see
// DecodeSettingsBytes).
SettingsFileRead ReadSettingsFile(const std::wstring& path, std::wstring& text);
