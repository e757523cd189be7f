#pragma once
// Where the settings file lives, and saving and loading it.

#include <windows.h>

#include <string>

// <local application data>\Vantly\window.json, creating the Vantly folder on
// the way; empty when the platform cannot say where local data goes.
std::wstring GetSettingsPath();

// Writes the main window's restored rectangle and AppState.folders. Silent:
// a failed save leaves the previous file exactly as it was.
void SaveSettings(HWND window);

// Sets AppState.geometry and AppState.folders: defaults first, then what the
// settings file holds.
void LoadSettings();

// Replaces the file at path with BOM + UTF-8 of text in one step: the text
// goes to a temporary file beside it, is flushed to disk, and only then is
// moved over the old file. Returns false, with the old file untouched and no
// temporary file left, when any step fails.
bool WriteSettingsFile(const std::wstring& path, const std::wstring& text);

// The whole content of the file as text. False when it cannot be opened.
bool ReadSettingsFile(const std::wstring& path, std::wstring& text);
