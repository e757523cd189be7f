#include <string>
#include <vector>

#include "benchmarks.h"
#include "processes.h"
#include "results.h"

namespace bench {

// 5. Process start until the main window can be found on the display.
void BenchStartUp() {
    PrepareSettings(workRoot + "/appdata-start", {});
    std::vector<double> ours, theirs;
    for (int i = 0; i < config.startSamples; ++i) {
        for (int which = 0; which < 2; ++which) {
            const int64_t start = NowNs();
            Child child = SpawnWine(which == 0 ? "Lumivane.exe" : "minimal_window.exe", {}, false);
            const int64_t shown = WaitForWindow(which == 0 ? "--onlyvisible --name '^Lumivane$'"
                                                           : "--onlyvisible --name '^Minimal$'", 20000);
            child.Kill();
            if (shown > 0) (which == 0 ? ours : theirs).push_back((shown - start) / 1e6);
            SleepMs(300);
        }
    }
    const double ourMedian = Percentile(ours, 0.5), theirMedian = Percentile(theirs, 0.5);
    AddRow({Format("5. start-up to window shown, %d starts", config.startSamples),
            Format("median %.0f ms", ourMedian), Format("minimal program: median %.0f ms", theirMedian),
            Ratio(ourMedian, theirMedian), "<= 1.2x", Met(!ours.empty() && ourMedian <= 1.2 * theirMedian)});
}

}  // namespace bench
