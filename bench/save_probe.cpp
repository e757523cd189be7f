// Times the settings writer in the folder named on the command line: 200
// saves flushed to the disk (every save but those during a drag-resize)
// and 200 left to the system's cache (the saves during a drag-resize),
// taken in turn so that both meet the same disk. Prints
// "flushed <median us>" and "cached <median us>".

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "settings/settings_store.h"
#include "settings/settings_text.h"

namespace {

constexpr int kSamples = 200;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    const std::wstring path = std::wstring(argv[1]) + L"\\window.json";
    // A full list of ten folders, as the heaviest file the program writes.
    FolderList folders;
    for (int i = 0; i < 10; ++i) folders.push_back(L"C:\\Users\\Someone\\Documents\\Projects\\Folder " + std::to_wstring(i));
    const std::wstring text = FormatSettingsText(WindowGeometry{880, 410, 420, 350}, folders);

    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> flushed, cached;
    for (int i = 0; i < 2 * kSamples; ++i) {
        const bool flush = i % 2 == 0;
        QueryPerformanceCounter(&start);
        if (!WriteSettingsFile(path, text, flush ? SaveDurability::Flushed : SaveDurability::Cached)) return 1;
        QueryPerformanceCounter(&end);
        (flush ? flushed : cached).push_back((end.QuadPart - start.QuadPart) * 1e6 / frequency.QuadPart);
    }
    std::printf("flushed %.1f\ncached %.1f\n", Median(flushed), Median(cached));
    return 0;
}
