#include "state/folder_list.h"

#include <algorithm>

wchar_t FoldAsciiLetter(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool FolderNamesEqual(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](wchar_t x, wchar_t y) { return FoldAsciiLetter(x) == FoldAsciiLetter(y); });
}

bool InsertFolderAtFront(FolderList& folders, std::wstring_view path) {
    if (path.empty()) return false;
    auto same = std::find_if(folders.begin(), folders.end(),
                             [path](const std::wstring& entry) { return FolderNamesEqual(entry, path); });
    if (same != folders.end()) folders.erase(same);
    folders.insert(folders.begin(), std::wstring(path));
    if (folders.size() > MAX_WATCHED_FOLDERS) folders.resize(MAX_WATCHED_FOLDERS);
    return true;
}
