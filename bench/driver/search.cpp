#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "benchmarks.h"
#include "processes.h"
#include "results.h"

namespace bench {

// 6. The search probe prints its own lines.
void BenchSearch() {
    Child probe = SpawnWine("search_probe.exe", {}, true);
    std::string line;
    // Lines: "<windows> <microseconds per search>".
    std::vector<std::pair<int, double>> figures;
    while (probe.ReadLine(line, 120000)) {
        int windows = 0;
        double micros = 0;
        if (std::sscanf(line.c_str(), "%d %lf", &windows, &micros) == 2) figures.emplace_back(windows, micros);
    }
    probe.Kill();
    if (figures.empty()) {
        Failed("6. search through shell windows", "the search probe gave no figures");
        return;
    }
    // A search has a fixed part (creating the collection) and a part per
    // window; the slope from the smallest collection shows the latter.
    const auto [firstWindows, firstMicros] = figures.front();
    for (const auto& [windows, micros] : figures) {
        const bool first = windows == firstWindows;
        const double perWindow = first ? 0 : (micros - firstMicros) / (windows - firstWindows);
        AddRow({Format("6. one search over %d fake windows", windows), Format("%.1f us", micros),
                first ? std::string("fixed cost of a search") : Format("%.2f us per added window", perWindow),
                "", "linear in the windows", ""});
    }
}

}  // namespace bench
