#include "explorer/window_folder_path.h"

#include <shlwapi.h>

#include <vector>

#include "explorer/folder_identity.h"

bool GetWindowFolderPath(IWebBrowser2* browser, std::wstring& path) {
    if (!browser) return false;

    BSTR received = nullptr;
    if (FAILED(browser->get_LocationURL(&received)) || !received) return false;
    // The location belongs to us now: copy it and free it before any test,
    // so that no early return below can leak it.
    std::wstring location(received, SysStringLen(received));
    SysFreeString(received);

    // Only "file://" in exactly this case names a folder on disk; web pages,
    // virtual folders and empty locations end here.
    if (!IsFileLocation(location)) return false;

    std::vector<wchar_t> buffer(location.size() + 1, L'\0');
    DWORD count = static_cast<DWORD>(buffer.size());
    if (FAILED(PathCreateFromUrlW(location.c_str(), buffer.data(), &count, 0))) return false;

    // The count that comes back is not trusted for the length: Wine reports
    // it without the terminating null, and taking "count minus one" would
    // drop the last character so that the window never matched. The buffer
    // was all nulls, so the text up to the first null is the converted path.
    path.assign(buffer.data());
    return !path.empty();
}
