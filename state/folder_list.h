#pragma once
// The rules of the watched-folder list: newest first, at most ten entries,
// no empty entry, and an added folder replaces an earlier entry that names
// it with other A-Z letter case. Pure: no platform headers.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

using FolderList = std::vector<std::wstring>;

constexpr std::size_t MAX_WATCHED_FOLDERS = 10;

// c with only A-Z mapped to a-z: the one case folding of folder paths in
// this program (towlower would fold more outside the C locale).
wchar_t FoldAsciiLetter(wchar_t c);

// True when both have the same length and equal code units after mapping
// only A-Z to a-z; what the runtime's case-insensitive compare does in the
// default locale, which this program never changes. Ä and ä differ.
bool FolderNamesEqual(std::wstring_view a, std::wstring_view b);

// Moves path to the front of the list: the first entry equal to it goes,
// the new text is inserted at position 0, and the list is cut to the cap.
// Returns false, with the list untouched, for an empty path.
bool InsertFolderAtFront(FolderList& folders, std::wstring_view path);
