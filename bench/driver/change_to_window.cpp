#include <unistd.h>

#include <string>
#include <vector>

#include "benchmarks.h"
#include "processes.h"
#include "results.h"

namespace bench {

namespace {

// Changes in folder, each until a file-browser window showing it is on
// screen; the milliseconds of each window seen.
std::vector<double> TimeNewWindows(const std::string& name, const std::string& folder, const std::string& tag) {
    std::vector<double> samples;
    for (int i = 0; i < config.windowSamples; ++i) {
        CloseFileBrowsers(name);
        SleepMs(300);
        const int64_t created = NowNs();
        TouchFile(folder + "/" + tag + std::to_string(i));
        const int64_t shown = WaitForWindow(FileBrowserSearch(name), 5000);
        if (shown > 0) samples.push_back((shown - created) / 1e6);
        // Let the activation finish its searches (each creating the
        // shell's collection out of process) before the next change: Wine
        // drops changes made before the watcher renews.
        SleepMs(3000);
    }
    CloseFileBrowsers(name);
    return samples;
}

}  // namespace

// 2. The real program: a file created in a watched folder until a window
// showing that folder is on screen (under Wine: the file browser opened by
// the activation, since Wine's shell lists no windows). The floor, in the
// same run: activation_floor, which answers the same change with the same
// open request and the same polls, without a search of its own first.
void BenchChangeToWindow() {
    const char* what = "2. change to window";
    const std::string name = "lvwindow" + std::to_string(getpid());
    const std::string folder = MakeFolder(workRoot + "/" + name);
    PrepareSettings(workRoot + "/appdata-window", {folder});
    Child program = SpawnWine("Lumivane.exe", {}, false);
    if (WaitForWindow("--name '^Lumivane$'", 20000) < 0) {
        Failed(what, "Lumivane did not start");
        program.Kill();
        return;
    }
    SleepMs(1000);
    const std::vector<double> samples = TimeNewWindows(name, folder, "f");
    program.Kill();

    Child floorProgram = SpawnWine("activation_floor.exe", {"open", WindowsPath(folder)}, true);
    std::string line;
    if (!floorProgram.ReadLine(line, 20000) || line != "ready") {
        Failed(what, "the floor program did not start");
        floorProgram.Kill();
        return;
    }
    const std::vector<double> floor = TimeNewWindows(name, folder, "g");
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
