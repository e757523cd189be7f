#include "explorer/folder_identity.h"

std::wstring NormalizeFolderPath(std::wstring_view path) {
    std::wstring normal(path);
    for (wchar_t& c : normal) {
        if (c == L'/') c = L'\\';
    }
    while (!normal.empty() && normal.back() == L'\\') normal.pop_back();
    // Not towlower: outside the C locale it would fold more than A-Z, and
    // the folder list's own duplicate test folds exactly these letters.
    for (wchar_t& c : normal) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return normal;
}

bool FolderPathsEqual(std::wstring_view a, std::wstring_view b) {
    return a == b;
}

bool IsFileLocation(std::wstring_view location) {
    return location.substr(0, 7) == L"file://";
}
