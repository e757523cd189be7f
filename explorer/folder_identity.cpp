#include "explorer/folder_identity.h"

#include "state/folder_list.h"

namespace {

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

bool IsDriveLetter(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

}  // namespace

std::wstring WithBackslashes(std::wstring_view path) {
    std::wstring converted(path);
    for (wchar_t& c : converted) {
        if (c == L'/') c = L'\\';
    }
    return converted;
}

std::wstring NormalizeFolderPath(std::wstring_view path) {
    std::wstring normal = WithBackslashes(path);
    while (!normal.empty() && normal.back() == L'\\') normal.pop_back();
    // The folder list's own duplicate test folds exactly these letters.
    for (wchar_t& c : normal) c = FoldAsciiLetter(c);
    return normal;
}

bool FolderPathsEqual(std::wstring_view a, std::wstring_view b) {
    return a == b;
}

bool IsFileLocation(std::wstring_view location) {
    return location.substr(0, 7) == L"file://";
}

std::wstring ExtendedLengthPath(std::wstring_view path) {
    if (path.size() < kClassicPathLimit) return std::wstring(path);
    // "C:\..." (not "C:..." relative to that drive's current folder).
    if (IsDriveLetter(path[0]) && path[1] == L':' && IsSeparator(path[2])) {
        return L"\\\\?\\" + WithBackslashes(path);
    }
    if (IsSeparator(path[0]) && IsSeparator(path[1])) {
        const bool device = (path[2] == L'?' || path[2] == L'.') && IsSeparator(path[3]);
        if (device) return std::wstring(path);
        return L"\\\\?\\UNC\\" + WithBackslashes(path.substr(2));
    }
    return std::wstring(path);  // relative to a current folder: no extended form
}

std::wstring DriveRootOf(std::wstring_view path) {
    if (path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) && path[2] == L'?' &&
        IsSeparator(path[3])) {
        path.remove_prefix(4);
    }
    if (path.size() < 3 || !IsDriveLetter(path[0]) || path[1] != L':' || !IsSeparator(path[2])) return {};
    return {path[0], L':', L'\\'};
}

bool IsSharePath(std::wstring_view path) {
    if (path.size() < 3 || !IsSeparator(path[0]) || !IsSeparator(path[1])) return false;
    if (path[2] == L'.') return false;
    if (path[2] != L'?') return true;
    // "\\?\UNC\" in any case, as the kernel takes it.
    return path.size() >= 8 && IsSeparator(path[3]) && (path[4] | 0x20) == L'u' && (path[5] | 0x20) == L'n' &&
           (path[6] | 0x20) == L'c' && IsSeparator(path[7]);
}

std::wstring FolderDisplayName(std::wstring_view path) {
    std::wstring_view rest = path;
    while (!rest.empty() && IsSeparator(rest.back())) rest.remove_suffix(1);
    std::size_t start = rest.size();
    while (start > 0 && !IsSeparator(rest[start - 1])) --start;
    const std::wstring_view name = rest.substr(start);
    if (name.empty() || name.back() == L':') return std::wstring(path);
    return std::wstring(name);
}
