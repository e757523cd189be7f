// Fuzzes the settings reader with arbitrary file contents. Besides not
// crashing, whatever it reads must obey the list's rules and must survive a
// write and a second read unchanged.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "settings/settings_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::wstring text;
    if (!DecodeSettingsBytes({reinterpret_cast<const char*>(data), size}, text)) return 0;

    WindowGeometry geometry{1, 2, 3, 4};
    FolderList folders;
    ApplySettingsText(text, geometry, folders);
    if (folders.size() > MAX_WATCHED_FOLDERS) std::abort();
    for (const std::wstring& folder : folders) {
        if (folder.empty()) std::abort();
    }
    if (geometry.width <= 0 || geometry.height <= 0) std::abort();

    // An array that cannot be read gives no folders.
    std::vector<std::wstring> entries;
    const bool found = ReadFolderArray(text, entries);
    if (FolderArrayIsUnreadable(text) && (found || !folders.empty())) std::abort();

    // What was read has a UTF-8 form, and the file written from it reads back.
    std::string bytes;
    std::wstring written;
    if (!EncodeSettingsBytes(FormatSettingsText(geometry, folders), bytes) || !DecodeSettingsBytes(bytes, written)) {
        std::abort();
    }
    WindowGeometry again{9, 9, 9, 9};
    FolderList againFolders{L"stale"};
    ApplySettingsText(written, again, againFolders);
    if (again.x != geometry.x || again.y != geometry.y || again.width != geometry.width ||
        again.height != geometry.height || againFolders != folders) {
        std::abort();
    }
    return 0;
}
