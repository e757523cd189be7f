#pragma once
// The two texts the save loop alternates between: ten long folders each,
// so that a save takes long enough to be cut by a kill.

#include <string>

#include "settings/settings_text.h"

inline std::wstring SaveLoopText(int which) {
    FolderList folders;
    for (int i = 0; i < 10; ++i) {
        folders.push_back(L"C:\\" + std::wstring(2000, static_cast<wchar_t>(L'a' + which)) + std::to_wstring(i));
    }
    return FormatSettingsText({which, which, 400 + which, 300 + which}, folders);
}
