#pragma once
// When two folder paths name the same folder, for finding the shell window
// that shows a watched folder. Pure text operations on UTF-16 code units;
// the shell side (a window's location URL) is in window_folder_path.h.

#include <string>
#include <string_view>

// Slashes become backslashes, every trailing backslash goes (so C:\ and C:
// agree), and only A-Z are lower-cased. Empty for a path of separators only.
std::wstring NormalizeFolderPath(std::wstring_view path);

// Code-unit equality of two normal forms.
bool FolderPathsEqual(std::wstring_view a, std::wstring_view b);

// Only a location that starts with exactly "file://" (lower case) can name
// a folder on disk; web pages and virtual folders do not.
bool IsFileLocation(std::wstring_view location);
