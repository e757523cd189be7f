// Saves two alternating settings texts to the file named on the command line
// until it is killed. The crash-safety test kills it at random moments.

#include <windows.h>

#include <cstdlib>
#include <string>

#include "settings/settings_text.h"
#include "settings/settings_store.h"
#include "settings_save_texts.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    const std::wstring path = argv[1];
    const std::wstring texts[2] = {SaveLoopText(0), SaveLoopText(1)};
    for (unsigned i = 0;; ++i) {
        WriteSettingsFile(path, texts[i % 2]);
    }
}
