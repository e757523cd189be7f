#include <unistd.h>

#include <string>

#include "benchmarks.h"
#include "results.h"
#include "window_restores.h"

namespace bench {

namespace {

// What one half saw of the selections after its changes.
struct Selections {
    int inView = 0;           // changes after which the view's selection was the new file
    std::string floorAnswer;  // the floor's last answer that was not "selected"
};

// Whether lvinspect reads the file as selected in the window's list.
bool SelectedInView(const std::string& handle, const std::string& file) {
    const std::string facts =
        Capture("wine '" + config.windowsBuild + "/lvinspect.exe' view " + handle + " 2>/dev/null");
    return facts.find("selected: " + file + "\n") != std::string::npos;
}

}  // namespace

// 9. A change to the item selected in an open window: the window of row 8
// (minimised behind the main window), a file created, and the time until
// the window is on screen again; then, once the selection has had its
// second of retries, the window's list is read from outside (lvinspect
// view) to see whether the new file is the one selected. The floor is
// activation_floor select: the same change read with the same mechanism,
// the same FindWindowSW asking for the window's browser too, the Refresh,
// the show and the selection through IShellBrowser and IShellView, the
// least a program can do with those interfaces; it also says per change
// whether it selected, or why not.
//
// Only the restore is timed. Under Wine the shell hands out no browser for
// a file-browser window (FindWindowSW answers with the handle only), so
// neither side can reload or select anything there: the first row is the
// path up to the window in front, and the second says how often the file
// was selected, on each side, rather than a time for something that did
// not happen.
void BenchChangeToSelectedItem() {
    const char* what = "9. change to the item selected in an open window";
    Selections ours, floor;
    const AfterRestore look = [&](Child* floorProgram, const std::string& handle, const std::string& file) {
        Selections& side = floorProgram ? floor : ours;
        if (floorProgram) {
            // Its answer comes once it has selected or given up (within a
            // second); every answer until it falls quiet, since a change can
            // wake it twice (a creation, then the file's close).
            std::string line;
            while (floorProgram->ReadLine(line, 1500)) {
                if (line != "selected") side.floorAnswer = line;
            }
        } else {
            SleepMs(1500);
        }
        if (SelectedInView(handle, file)) ++side.inView;
    };
    const RestoreHalves halves = TimeRestoresAgainstFloor("lvselect" + std::to_string(getpid()), "select", look);
    if (!halves.failure.empty()) {
        Failed(what, halves.failure);
        return;
    }
    const double median = Percentile(halves.ours, 0.5);
    const double floorMedian = Percentile(halves.floor, 0.5);
    AddRow({Format("%s, %d changes: up to the window in front (the time measured)", what, config.windowSamples),
            Format("median %.0f ms, worst %.0f ms (%zu restored)", median, Percentile(halves.ours, 1.0),
                   halves.ours.size()),
            Format("refresh-and-select program: median %.0f ms, worst %.0f ms (%zu restored)", floorMedian,
                   Percentile(halves.floor, 1.0), halves.floor.size()),
            Ratio(median, floorMedian) + " median, " +
                Ratio(Percentile(halves.ours, 1.0), Percentile(halves.floor, 1.0)) + " worst",
            "median <= 1.2 x floor",
            Met(!halves.ours.empty() && !halves.floor.empty() && median <= 1.2 * floorMedian)});
    const bool none = ours.inView == 0 && floor.inView == 0;
    AddRow({Format("%s: the item selected", what),
            Format("the new file selected after %d of %zu changes", ours.inView, halves.ours.size()),
            Format("refresh-and-select program: after %d of %zu%s", floor.inView, halves.floor.size(),
                   floor.floorAnswer.empty() ? "" : (" (it said \"" + floor.floorAnswer + "\")").c_str()),
            "", "",
            none ? "not measured: nothing was selected on either side"
                 : "not timed: only the restore is timed"});
}

}  // namespace bench
