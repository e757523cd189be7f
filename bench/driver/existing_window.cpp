#include <unistd.h>

#include <string>

#include "benchmarks.h"
#include "results.h"
#include "window_restores.h"

namespace bench {

// 8. A file-browser window already shows the folder, minimised behind the
// main window: a file created until that window is on screen again at its
// size (under Wine the search finds it through the shell's FindWindowSW).
// The floor, in the same run: activation_floor front, which answers the
// same change with the same FindWindowSW and the same kind of show: the
// window is restored and asked for the foreground (window_restores.h).
void BenchChangeToExistingWindow() {
    const char* what = "8. change to existing window in front";
    const RestoreHalves halves = TimeRestoresAgainstFloor("lvfront" + std::to_string(getpid()), "front");
    if (!halves.failure.empty()) {
        Failed(what, halves.failure);
        return;
    }
    const std::vector<double>& samples = halves.ours;
    const std::vector<double>& floor = halves.floor;
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
