// Measures Lumivane under Wine against references run on the same machine
// in the same run, and prints a table (also written as Markdown to the file
// given with --out). Run through tools/bench, which builds everything and
// provides the Wine prefix and an Xvfb display.
//
//   1. change to wake-up: the watcher's wake-up against a minimal waiter's
//      under the same Wine, over ten folders each (inotifywait for context)
//   2. change to window: a file created until the folder's window shows
//   3. idle cost: CPU time and voluntary context switches over a quiet
//      minute, also with a listed folder missing
//   4. memory: resident and private bytes, start-up step by step, and growth
//      over 10,000 changes after each folder's first activation
//   5. start-up: process start to main window shown
//   6. the search through shell windows over N fake windows
//   8. change to existing window in front: a minimised window showing the
//      folder, restored on a change
//   9. change to the item selected in an open window: the same window,
//      against a program that reloads it and selects the new item through
//      the shell's browser interfaces (under Wine there is no browser to
//      ask: timed up to the window in front, selections only counted)
//
// Each benchmark lives in bench/driver/ in a file of its own; what they
// share (processes, Wine, the display, /proc) is in processes.h, the table
// in results.h. There is no 7 any more: it compared the unflushed saves
// once made during a drag-resize with flushed ones, and the program no
// longer saves during a drag. The other numbers stay as recorded runs
// name them.

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "driver/benchmarks.h"
#include "driver/processes.h"
#include "driver/results.h"

using namespace bench;

int main(int argc, char** argv) {
    std::map<std::string, std::string> options;
    for (int i = 1; i + 1 < argc; i += 2) options[argv[i]] = argv[i + 1];
    config.windowsBuild = options["--windows-build"];
    config.out = options["--out"];
    // A short run of every benchmark, to see the whole table quickly; its
    // figures rest on too few samples to record.
    if (options["--quick"] == "yes") {
        config.wakeSamples = 20;
        config.windowSamples = 3;
        config.idleSeconds = 5;
        config.changes = 1000;
        config.startSamples = 3;
    }
    if (options.count("--idle-seconds")) config.idleSeconds = std::stoi(options["--idle-seconds"]);
    if (options.count("--samples")) config.wakeSamples = std::stoi(options["--samples"]);
    const std::string only = options["--only"];
    if (config.windowsBuild.empty() || !getenv("DISPLAY") || !getenv("WINEPREFIX")) {
        std::fprintf(stderr, "usage: lumivane_bench --windows-build DIR [--out FILE] [--only 1..6,8,9] [--quick yes]\n"
                             "(needs DISPLAY and WINEPREFIX; tools/bench sets both)\n");
        return 2;
    }
    char rootTemplate[] = "/tmp/lumivane-bench-XXXXXX";
    workRoot = mkdtemp(rootTemplate);
    // Lumivane holds a change back while the user works (input within about
    // ten seconds), and Wine counts a window shown, restored or minimised
    // under the pointer as input. The pointer waits in a corner that no
    // window reaches, so that every change finds the session quiet, as a
    // benchmark nobody watches is.
    Capture("xdotool mousemove 1279 0");

    auto wanted = [&](char which) { return only.empty() || only.find(which) != std::string::npos; };
    if (wanted('1')) BenchWakeUp();
    if (wanted('2')) BenchChangeToWindow();
    if (wanted('3') || wanted('4')) BenchIdleAndMemory();
    if (wanted('4')) BenchMemorySteps();
    if (wanted('5')) BenchStartUp();
    if (wanted('6')) BenchSearch();
    if (wanted('8')) BenchChangeToExistingWindow();
    if (wanted('9')) BenchChangeToSelectedItem();

    Capture("rm -rf '" + workRoot + "'");
    if (!config.out.empty()) WriteResultsTable(config.out);
    return 0;
}
