#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "benchmarks.h"
#include "processes.h"
#include "results.h"

namespace bench {

namespace {

// With program watching folder and ready: a change opens the folder's
// window; then changes, each with that window minimised behind the main
// window, until the window is on screen again at its size (Wine draws a
// minimised window of its own as a 160 x 24 bar, so the X window's height
// tells the two states apart). The milliseconds of each restore, or why
// nothing could be timed.
std::vector<double> TimeRestores(const std::string& name, const std::string& folder, const std::string& tag,
                                 std::string& failure) {
    const std::string lvinspect = "wine '" + config.windowsBuild + "/lvinspect.exe' ";
    std::vector<double> samples;
    TouchFile(folder + "/" + tag + "opened");
    if (WaitForWindow(FileBrowserSearch(name), 10000) < 0) {
        failure = "the folder's window never opened";
        return samples;
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
    for (int i = 0; i < config.windowSamples && !handle.empty() && !xWindow.empty(); ++i) {
        Capture(lvinspect + "minimize " + handle + " >/dev/null 2>&1");
        Capture(lvinspect + "foreground >/dev/null 2>&1");
        const int64_t minimisedBy = NowNs() + 3000000000LL;
        while (restoredNow() && NowNs() < minimisedBy) SleepMs(10);
        if (restoredNow()) continue;  // never minimised: nothing to time
        SleepMs(300);
        const int64_t created = NowNs();
        TouchFile(folder + "/" + tag + std::to_string(i));
        const int64_t deadline = created + 5000000000LL;
        int64_t restored = -1;
        while (restored < 0 && NowNs() < deadline) {
            if (restoredNow()) restored = NowNs();
        }
        if (restored > 0) samples.push_back((restored - created) / 1e6);
        SleepMs(1000);
    }
    CloseFileBrowsers(name);
    if (handle.empty() || xWindow.empty()) failure = "the folder's window could not be found to minimise";
    return samples;
}

}  // namespace

// 8. A file-browser window already shows the folder, minimised behind the
// main window: a file created until that window is on screen again at its
// size (under Wine the search finds it through the shell's FindWindowSW).
// The floor, in the same run: activation_floor, which answers the same
// change with the same FindWindowSW and the same kind of show. With the
// pointer out of the way (lumivane_bench.cpp), the minimise and the
// foreground request before each change are no input to Wine, so both find
// the user away: the window is restored and asked for the foreground.
void BenchChangeToExistingWindow() {
    const char* what = "8. change to existing window in front";
    const std::string name = "lvfront" + std::to_string(getpid());
    const std::string folder = MakeFolder(workRoot + "/" + name);
    PrepareSettings(workRoot + "/appdata-front", {folder});
    Child program;
    if (!StartLumivane(program)) {
        Failed(what, "Lumivane did not start");
        return;
    }
    SleepMs(1000);
    std::string failure;
    const std::vector<double> samples = TimeRestores(name, folder, "f", failure);
    program.Kill();
    if (!failure.empty()) {
        Failed(what, failure);
        return;
    }

    // The same main window is in front for the floor's half, watching
    // nothing: each activation takes the foreground from it, and Wine's
    // deactivation of it (a repaint of its caption) is no part of the
    // difference.
    PrepareSettings(workRoot + "/appdata-front-idle", {});
    Child idleProgram;
    Child floorProgram;
    if (!StartLumivane(idleProgram) || !StartActivationFloor(floorProgram, "front", folder)) {
        Failed(what, "the floor's half did not start");
        idleProgram.Kill();
        return;
    }
    const std::vector<double> floor = TimeRestores(name, folder, "g", failure);
    floorProgram.Kill();
    idleProgram.Kill();
    if (!failure.empty()) {
        Failed(what, "floor: " + failure);
        return;
    }

    const double median = Percentile(samples, 0.5);
    const double floorMedian = Percentile(floor, 0.5);
    AddRow({Format("%s, %d changes", what, config.windowSamples),
            Format("median %.0f ms, worst %.0f ms (%zu restored)", median, Percentile(samples, 1.0), samples.size()),
            Format("search and show alone: median %.0f ms, worst %.0f ms (%zu restored)", floorMedian,
                   Percentile(floor, 1.0), floor.size()),
            Ratio(median, floorMedian) + " median, " + Ratio(Percentile(samples, 1.0), Percentile(floor, 1.0)) +
                " worst",
            "median <= 1.2 x floor", Met(!samples.empty() && !floor.empty() && median <= 1.2 * floorMedian)});
}

}  // namespace bench
