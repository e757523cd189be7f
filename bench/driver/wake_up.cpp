#include <poll.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "benchmarks.h"
#include "processes.h"
#include "results.h"

namespace bench {

// 1. Files created by this (Linux) process across ten folders; a wake-up
// is stamped inside the Wine process that woke, inotifywait's when its line
// arrives here. The real watcher and the least a Windows program can do with
// the same mechanism (watch_probe --floor: one overlapped
// ReadDirectoryChangesW per folder, one event each in one wait, the next
// read at once) each watch ten folders of their own under the same Wine,
// and the changes alternate
// between the two sets in random order, so that both see the same machine
// at the same moments; inotifywait watches all twenty, for context.
namespace {

struct Waiter {
    Child probe;
    std::vector<std::string> folders;
    std::vector<double> samples;
};

// Creates one file in folder and waits for waiter's stamp and inotifywait's
// line; a side that does not answer within three seconds is left out.
void TimeOneChange(Waiter& waiter, Child& inotify, const std::string& file, std::vector<double>& reference) {
    std::string line;
    while (waiter.probe.ReadLine(line, 0) || inotify.ReadLine(line, 0)) {
    }
    const int64_t created = NowNs();
    TouchFile(file);
    int64_t wake = -1, theirWake = -1;
    const int64_t deadline = created + 3000000000LL;
    while ((wake < 0 || theirWake < 0) && NowNs() < deadline) {
        pollfd fds[2] = {{waiter.probe.out, POLLIN, 0}, {inotify.out, POLLIN, 0}};
        poll(fds, 2, 50);
        if (theirWake < 0 && inotify.ReadLine(line, 0)) theirWake = NowNs();
        while (wake < 0 && waiter.probe.ReadLine(line, 0)) {
            long long stamp = 0;
            if (std::sscanf(line.c_str(), "wake %lld", &stamp) == 1 && stamp >= created) wake = stamp;
        }
    }
    if (wake > 0) waiter.samples.push_back((wake - created) / 1e6);
    if (theirWake > 0) reference.push_back((theirWake - created) / 1e6);
}

}  // namespace

void BenchWakeUp() {
    const char* what = "1. change to wake-up";
    Waiter ours, floor;
    std::vector<std::string> inotifyArgs = {"stdbuf", "-oL", "inotifywait", "-m", "-q", "-e", "create", "--format", "%f"};
    std::vector<std::string> probeArgs, floorArgs = {"--floor"};
    for (int i = 0; i < 10; ++i) {
        ours.folders.push_back(MakeFolder(workRoot + "/wake" + std::to_string(i)));
        floor.folders.push_back(MakeFolder(workRoot + "/floor" + std::to_string(i)));
        probeArgs.push_back(WindowsPath(ours.folders.back()));
        floorArgs.push_back(WindowsPath(floor.folders.back()));
        inotifyArgs.push_back(ours.folders.back());
        inotifyArgs.push_back(floor.folders.back());
    }
    ours.probe = SpawnWine("watch_probe.exe", probeArgs, true);
    floor.probe = SpawnWine("watch_probe.exe", floorArgs, true);
    Child inotify = Spawn(inotifyArgs, true);
    std::string line;
    const bool started = ours.probe.ReadLine(line, 20000) && line == "ready" && floor.probe.ReadLine(line, 20000) &&
                         line == "ready";
    if (!started) {
        Failed(what, "the watch probes did not start");
    } else {
        SleepMs(500);
        std::vector<double> reference;
        std::mt19937 random(7);
        for (int i = 0; i < config.wakeSamples; ++i) {
            const bool oursFirst = random() % 2 == 0;
            for (Waiter* waiter : {oursFirst ? &ours : &floor, oursFirst ? &floor : &ours}) {
                const std::string& folder = waiter->folders[(i * 3 + (waiter == &ours ? 0 : 1)) % 10];
                TimeOneChange(*waiter, inotify, folder + "/f" + std::to_string(i), reference);
                SleepMs(20 + static_cast<int>(random() % 40));
            }
        }
        const double ourMedian = Percentile(ours.samples, 0.5), floorMedian = Percentile(floor.samples, 0.5);
        const double ourP95 = Percentile(ours.samples, 0.95), floorP95 = Percentile(floor.samples, 0.95);
        AddRow({Format("%s, %d files over ten folders", what, config.wakeSamples),
                Format("median %.2f ms, p95 %.2f ms (%zu woke)", ourMedian, ourP95, ours.samples.size()),
                Format("minimal waiter: median %.2f ms, p95 %.2f ms (%zu woke)", floorMedian, floorP95,
                       floor.samples.size()),
                Ratio(ourMedian, floorMedian) + " median, " + Ratio(ourP95, floorP95) + " p95", "median <= 1.1x",
                Met(!ours.samples.empty() && !floor.samples.empty() && ourMedian <= 1.1 * floorMedian)});
        AddRow({Format("%s, context: inotifywait (no Wine)", what),
                Format("median %.2f ms, p95 %.2f ms", ourMedian, ourP95),
                Format("inotifywait: median %.2f ms, p95 %.2f ms (%zu woke)", Percentile(reference, 0.5),
                       Percentile(reference, 0.95), reference.size()),
                Ratio(ourMedian, Percentile(reference, 0.5)), "", ""});
    }
    ours.probe.Kill();
    floor.probe.Kill();
    inotify.Kill();
}

}  // namespace bench
