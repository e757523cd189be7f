#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "benchmarks.h"
#include "processes.h"
#include "results.h"

namespace bench {

// 4. Where Lumivane's memory goes: its start-up taken step by step with
// the real code (memory_probe), read from /proc at each step, beside the
// minimal program with and without COM, GDI+ and the shell libraries.
void BenchMemorySteps() {
    std::vector<std::string> folders;
    std::vector<std::string> args;
    for (int i = 0; i < 10; ++i) {
        folders.push_back(MakeFolder(workRoot + "/steps" + std::to_string(i)));
        args.push_back(WindowsPath(folders.back()));
    }
    Child minimal = SpawnWine("minimal_window.exe", {}, false);
    Child platform = SpawnWine("minimal_window.exe", {"--platform"}, false);
    // Two runs (see memory_probe.cpp): the first ends with the thread and
    // one folder, the second arms all ten at once and goes on.
    std::vector<std::pair<std::string, ProcStats>> steps;
    auto run = [&](std::vector<std::string> probeArgs, const char* lastStep) {
        Child probe = SpawnWine("memory_probe.exe", probeArgs, true);
        std::string line;
        while (probe.ReadLine(line, 60000) && line.rfind("step ", 0) == 0) {
            const std::string step = line.substr(5);
            const ProcStats stats = ReadProcStats(probe.pid);
            // The second run repeats the first three steps; the first run's stand.
            if (std::none_of(steps.begin(), steps.end(), [&](const auto& s) { return s.first == step; })) {
                steps.emplace_back(step, stats);
            }
            if (step == lastStep) break;
        }
        probe.Kill();
    };
    std::vector<std::string> oneFirst = args;
    oneFirst.insert(oneFirst.begin(), "--one");
    run(oneFirst, "thread");
    run(args, "activated");
    const ProcStats bare = ReadProcStats(minimal.pid), withPlatform = ReadProcStats(platform.pid);
    CloseFileBrowsers("steps[0-9]");
    minimal.Kill();
    platform.Kill();
    if (steps.size() < 7) {
        Failed("4. memory, step by step", "the memory probe stopped early");
        return;
    }
    // One idle thread, with the default reserve and with 64 KiB: whether a
    // smaller stack would save anything.
    for (const char* reserve : {"0", "64"}) {
        Child probe = SpawnWine("memory_probe.exe", {"--thread", reserve}, true);
        std::string line;
        ProcStats before{}, after{};
        if (probe.ReadLine(line, 20000) && line == "step before") before = ReadProcStats(probe.pid);
        if (probe.ReadLine(line, 20000) && line == "step after") after = ReadProcStats(probe.pid);
        probe.Kill();
        AddRow({Format("4. memory of one idle thread, %s stack reserve",
                       std::string(reserve) == "0" ? "default (2 MiB)" : "64 KiB"),
                Format("resident %+ld KiB, private %+ld KiB", after.rssKb - before.rssKb,
                       after.privateKb - before.privateKb),
                "the same process before the thread", "", "", ""});
    }
    const std::map<std::string, std::string> names = {
        {"window", "bare main window (COM apartment, GDI+)"},
        {"list", "plus the list and its font"},
        {"icon", "plus the notification icon"},
        {"thread", "plus the watcher thread with its apartment (one folder)"},
        {"folders", "plus ten armed folders"},
        {"registrations", "plus drive-removal registrations"},
        {"activated", "after the first activation of each folder"}};
    // The whole program's figure from benchmark 4's row of this run, which
    // the steps up to the registrations should reach again.
    long wholePrivateKb = 0;
    for (const Row& row : rows) {
        const std::size_t at = row.what == "4. memory, ten folders watched" ? row.ours.find("private ") : std::string::npos;
        if (at != std::string::npos) wholePrivateKb = std::atol(row.ours.c_str() + at + 8);
    }
    ProcStats previous{};
    for (const auto& [step, stats] : steps) {
        AddRow({"4. memory step: " + names.at(step),
                Format("resident %ld KiB, private %ld KiB, %d threads", stats.rssKb, stats.privateKb, stats.threads),
                previous.rssKb ? Format("step: resident %+ld KiB, private %+ld KiB", stats.rssKb - previous.rssKb,
                                        stats.privateKb - previous.privateKb)
                               : Format("minimal program: resident %ld KiB, private %ld KiB; with --platform: "
                                        "resident %ld KiB, private %ld KiB",
                                        bare.rssKb, bare.privateKb, withPlatform.rssKb, withPlatform.privateKb),
                previous.rssKb ? "" : Ratio(stats.privateKb, withPlatform.privateKb) + " private", "", ""});
        previous = stats;
    }
    for (const auto& [step, stats] : steps) {
        if (step != "registrations" || wholePrivateKb <= 0) continue;
        AddRow({"4. memory steps up to the registrations against the whole program",
                Format("private %ld KiB", stats.privateKb), Format("whole program: private %ld KiB", wholePrivateKb),
                Ratio(stats.privateKb, wholePrivateKb) + " private", "within 3 %",
                Met(std::labs(stats.privateKb - wholePrivateKb) <= 0.03 * wholePrivateKb)});
    }
}

}  // namespace bench
