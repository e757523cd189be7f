#pragma once
// When two folder paths name the same folder, for finding the shell window
// that shows a watched folder. Pure text operations on UTF-16 code units;
// the shell side (a window's location URL) is in window_folder_path.h.

#include <cstddef>
#include <string>
#include <string_view>

// The path with every slash a backslash: the separator the kernel and the
// shell answer with.
std::wstring WithBackslashes(std::wstring_view path);

// Slashes become backslashes, every trailing backslash goes (so C:\ and C:
// agree), and only A-Z are lower-cased. Empty for a path of separators only.
std::wstring NormalizeFolderPath(std::wstring_view path);

// Code-unit equality of two normal forms.
bool FolderPathsEqual(std::wstring_view a, std::wstring_view b);

// Only a location that starts with exactly "file://" (lower case) can name
// a folder on disk; web pages and virtual folders do not.
bool IsFileLocation(std::wstring_view location);

// A path this long or longer (the platform's MAX_PATH) fails the kernel's
// file calls unless the process is long-path aware, which takes both the
// manifest and a system setting, or the path is given in extended form.
constexpr std::size_t kClassicPathLimit = 260;

// The path as the kernel's file calls (change notifications, attributes)
// take it whatever its length: a drive path of kClassicPathLimit characters
// or more gets "\\?\" in front, a share's "\\server\share" becomes
// "\\?\UNC\server\share", and every slash becomes a backslash, since the
// extended form also turns off the kernel's own conversion of slashes.
// Shorter paths, relative paths (which have no extended form) and paths
// already in a device form ("\\?\", "\\.\") come back unchanged. Only
// for handing to the kernel: the path stored, shown, opened and compared is
// always the one the user chose.
std::wstring ExtendedLengthPath(std::wstring_view path);

// The root of the drive that an absolute drive path lies on, as the
// platform's drive calls take it: "C:\" for "c:/Data" or "\\?\C:\Data".
// Empty for a share, a relative path or a device path.
std::wstring DriveRootOf(std::wstring_view path);

// A path on a share: "\\server\share..." with either kind of slash, or its
// extended form "\\?\UNC\server\share...".
bool IsSharePath(std::wstring_view path);

// The folder's own name as the user knows it: the last part of the path,
// trailing separators left out ("Scans" for "D:\Scans\"); the whole path
// when it has no such part (a drive's root "C:\", a path of separators).
std::wstring FolderDisplayName(std::wstring_view path);
