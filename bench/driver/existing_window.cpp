#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "benchmarks.h"
#include "processes.h"
#include "results.h"

namespace bench {

// 8. A file-browser window already shows the folder, minimised behind the
// main window: a file created until that window is on screen again at its
// size (under Wine the search finds it through the shell's FindWindowSW;
// Wine draws a minimised window of its own as a 160 x 24 bar, so the X
// window's height tells the two states apart). Beside it, benchmark 1's
// wake-up figure of the same run, the part that is the platform's
// notification.
void BenchChangeToExistingWindow() {
    const char* what = "8. change to existing window in front";
    const std::string name = "lvfront" + std::to_string(getpid());
    const std::string folder = MakeFolder(workRoot + "/" + name);
    PrepareSettings(workRoot + "/appdata-front", {folder});
    const std::string lvinspect = "wine '" + config.windowsBuild + "/lvinspect.exe' ";
    Child program = SpawnWine("Lumivane.exe", {}, false);
    if (WaitForWindow("--name '^Lumivane$'", 20000) < 0) {
        Failed(what, "Lumivane did not start");
        program.Kill();
        return;
    }
    SleepMs(1000);
    TouchFile(folder + "/opened");
    if (WaitForWindow(FileBrowserSearch(name), 10000) < 0) {
        Failed(what, "the folder's window never opened");
        program.Kill();
        return;
    }
    SleepMs(2000);
    std::string handle;
    std::istringstream lines(Capture(lvinspect + "windows ExplorerWClass 2>/dev/null"));
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("window: 0x", 0) == 0 && line.find(" " + name) != std::string::npos) {
            handle = line.substr(8, line.find(' ', 8) - 8);
        }
    }
    const std::vector<std::string> xWindows = FindWindows(FileBrowserSearch(name));
    const std::string xWindow = xWindows.empty() ? "" : xWindows.front();
    auto restoredNow = [&] {
        const std::string geometry = Capture("xdotool getwindowgeometry --shell " + xWindow + " 2>/dev/null");
        const std::size_t at = geometry.find("HEIGHT=");
        return at != std::string::npos && std::atoi(geometry.c_str() + at + 7) > 24;
    };
    std::vector<double> samples;
    for (int i = 0; i < config.windowSamples && !handle.empty() && !xWindow.empty(); ++i) {
        Capture(lvinspect + "minimize " + handle + " >/dev/null 2>&1");
        Capture(lvinspect + "foreground >/dev/null 2>&1");
        const int64_t minimisedBy = NowNs() + 3000000000LL;
        while (restoredNow() && NowNs() < minimisedBy) SleepMs(10);
        if (restoredNow()) continue;  // never minimised: nothing to time
        SleepMs(300);
        const int64_t created = NowNs();
        TouchFile(folder + "/f" + std::to_string(i));
        const int64_t deadline = created + 5000000000LL;
        int64_t restored = -1;
        while (restored < 0 && NowNs() < deadline) {
            if (restoredNow()) restored = NowNs();
        }
        if (restored > 0) samples.push_back((restored - created) / 1e6);
        SleepMs(1000);
    }
    CloseFileBrowsers(name);
    program.Kill();
    std::string wakeUp = "benchmark 1 not run";
    for (const Row& row : rows) {
        if (row.what.rfind("1. ", 0) == 0) wakeUp = "change to wake-up: " + row.ours;
    }
    const double median = Percentile(samples, 0.5);
    AddRow({Format("%s, %d changes", what, config.windowSamples),
            Format("median %.0f ms, worst %.0f ms (%zu restored)", median, Percentile(samples, 1.0), samples.size()),
            wakeUp, "", "median < 200 ms", Met(!samples.empty() && median < 200)});
}

}  // namespace bench
