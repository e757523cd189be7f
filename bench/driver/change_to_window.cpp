#include <unistd.h>

#include <string>
#include <vector>

#include "benchmarks.h"
#include "processes.h"
#include "results.h"

namespace bench {

namespace {

// One change in folder, until a file-browser window showing it is on
// screen: the milliseconds, or a negative number when none came.
double TimeNewWindow(const std::string& name, const std::string& folder, const std::string& file) {
    CloseFileBrowsers(name);
    SleepMs(300);
    const int64_t created = NowNs();
    TouchFile(folder + "/" + file);
    const int64_t shown = WaitForWindow(FileBrowserSearch(name), 5000);
    // Let the activation finish its searches (each creating the shell's
    // collection out of process) before the next change: Wine drops changes
    // made before the watcher renews.
    SleepMs(3000);
    return shown > 0 ? (shown - created) / 1e6 : -1;
}

}  // namespace

// 2. The real program: a file created in a watched folder until a window
// showing that folder is on screen (under Wine: the file browser opened by
// the activation, since Wine's shell lists no windows). The floor, in the
// same run: activation_floor, which answers the same change with the same
// open request and the same polls, without a search of its own first. Both
// run side by side, each on a folder of its own, and take turns (the order
// swapped every round), so that the machine's load falls on both alike.
void BenchChangeToWindow() {
    const char* what = "2. change to window";
    const std::string name = "lvwindow" + std::to_string(getpid());
    const std::string folder = MakeFolder(workRoot + "/" + name);
    const std::string floorName = name + "floor";
    const std::string floorFolder = MakeFolder(workRoot + "/" + floorName);
    PrepareSettings(workRoot + "/appdata-window", {folder});
    Child program;
    if (!StartLumivane(program)) {
        Failed(what, "Lumivane did not start");
        return;
    }
    Child floorProgram;
    if (!StartActivationFloor(floorProgram, "open", floorFolder)) {
        Failed(what, "the floor program did not start");
        program.Kill();
        return;
    }
    SleepMs(1000);

    std::vector<double> samples;
    std::vector<double> floor;
    auto take = [](std::vector<double>& into, double ms) {
        if (ms >= 0) into.push_back(ms);
    };
    for (int i = 0; i < config.windowSamples; ++i) {
        const std::string file = "f" + std::to_string(i);
        if (i % 2 == 0) take(samples, TimeNewWindow(name, folder, file));
        take(floor, TimeNewWindow(floorName, floorFolder, file));
        if (i % 2 == 1) take(samples, TimeNewWindow(name, folder, file));
    }
    CloseFileBrowsers(name);
    program.Kill();
    floorProgram.Kill();

    const double median = Percentile(samples, 0.5);
    const double floorMedian = Percentile(floor, 0.5);
    AddRow({Format("%s, %d changes", what, config.windowSamples),
            Format("median %.0f ms, worst %.0f ms (%zu windows seen)", median, Percentile(samples, 1.0),
                   samples.size()),
            Format("open request and polls alone: median %.0f ms, worst %.0f ms (%zu seen)", floorMedian,
                   Percentile(floor, 1.0), floor.size()),
            Ratio(median, floorMedian) + " median, " + Ratio(Percentile(samples, 1.0), Percentile(floor, 1.0)) +
                " worst",
            "median <= 1.1 x floor",
            Met(!samples.empty() && !floor.empty() && median <= 1.1 * floorMedian)});
}

}  // namespace bench
