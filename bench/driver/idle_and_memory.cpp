#include <string>
#include <vector>

#include "benchmarks.h"
#include "processes.h"
#include "results.h"

namespace bench {

// 3 and 4. Ten folders watched, nothing changing; beside it a second
// instance whose list names one folder that does not exist; then 10,000
// changes.
void BenchIdleAndMemory() {
    std::vector<std::string> folders;
    for (int i = 0; i < 10; ++i) folders.push_back(MakeFolder(workRoot + "/idle" + std::to_string(i)));
    PrepareSettings(workRoot + "/appdata-idle", folders);
    Child program = SpawnWine("Lumivane.exe", {}, false);
    Child minimal = SpawnWine("minimal_window.exe", {}, false);
    Child platform = SpawnWine("minimal_window.exe", {"--platform"}, false);
    const bool started = WaitForWindow("--name '^Lumivane$'", 20000) >= 0 && WaitForWindow("--name '^Minimal$'", 20000) >= 0;
    // Started only once the first has read its settings: both share the
    // prefix's Local AppData.
    std::vector<std::string> withMissing(folders.begin(), folders.end() - 1);
    withMissing.push_back(workRoot + "/idle-missing");
    PrepareSettings(workRoot + "/appdata-missing", withMissing);
    SleepMs(2000);
    Child missing = SpawnWine("Lumivane.exe", {}, false);
    for (int i = 0; i < 200 && FindWindows("--name '^Lumivane$'").size() < 2; ++i) SleepMs(100);
    if (!started || FindWindows("--name '^Lumivane$'").size() < 2) {
        Failed("3. idle cost", "the programs did not start");
        program.Kill();
        missing.Kill();
        minimal.Kill();
        platform.Kill();
        return;
    }
    SleepMs(5000);
    const ProcStats ours0 = ReadProcStats(program.pid), theirs0 = ReadProcStats(minimal.pid);
    const ProcStats missing0 = ReadProcStats(missing.pid);
    SleepMs(config.idleSeconds * 1000);
    const ProcStats ours1 = ReadProcStats(program.pid), theirs1 = ReadProcStats(minimal.pid);
    const ProcStats missing1 = ReadProcStats(missing.pid);
    // Memory is read with one instance running: the pages of an image that
    // two processes map count as shared, not private.
    missing.Kill();
    SleepMs(1000);
    const ProcStats memory = ReadProcStats(program.pid), platform1 = ReadProcStats(platform.pid);
    const double theirCpu = theirs1.cpuMs - theirs0.cpuMs;
    const long theirSwitches = theirs1.voluntarySwitches - theirs0.voluntarySwitches;
    // One row for an instance's quiet minute, against the minimal program's.
    auto idleRow = [&](const char* what, const ProcStats& before, const ProcStats& after) {
        const double cpu = after.cpuMs - before.cpuMs;
        const long switches = after.voluntarySwitches - before.voluntarySwitches;
        AddRow({Format("3. idle %d s, %s", config.idleSeconds, what),
                Format("%.0f ms CPU, %ld voluntary switches", cpu, switches),
                Format("minimal program: %.0f ms CPU, %ld voluntary switches", theirCpu, theirSwitches),
                Ratio(switches, theirSwitches) + " switches", "no more than the minimal program",
                Met(cpu <= theirCpu && switches <= theirSwitches)});
    };
    idleRow("ten folders watched", ours0, ours1);
    idleRow("ten folders listed, one of them missing", missing0, missing1);
    AddRow({"4. memory, ten folders watched",
            Format("resident %ld KiB, private %ld KiB", memory.rssKb, memory.privateKb),
            Format("minimal program: resident %ld KiB, private %ld KiB", theirs1.rssKb, theirs1.privateKb),
            Ratio(memory.rssKb, theirs1.rssKb) + " resident, " + Ratio(memory.privateKb, theirs1.privateKb) + " private",
            "", "context"});
    AddRow({"4. memory against the minimal program with COM, GDI+ and the shell libraries loaded",
            Format("resident %ld KiB, private %ld KiB", memory.rssKb, memory.privateKb),
            Format("minimal program --platform: resident %ld KiB, private %ld KiB", platform1.rssKb,
                   platform1.privateKb),
            Ratio(memory.rssKb, platform1.rssKb) + " resident, " + Ratio(memory.privateKb, platform1.privateKb) +
                " private",
            "private <= 1.6x", Met(memory.privateKb <= 1.6 * platform1.privateKb)});
    minimal.Kill();
    platform.Kill();

    // Storms of new files across the ten folders; the activations open
    // file-browser windows (titled idle0 to idle9), closed as they come.
    // Wine makes each COM call of an activation on a pool thread, which
    // ends about five seconds after its last call; every thread holds about
    // 1 MB. The figures are read once those have ended (up to 30 s), so that
    // what is counted is what stays.
    const int watchingThreads = memory.threads;
    auto settled = [&] {
        ProcStats stats = ReadProcStats(program.pid);
        for (int seconds = 0; stats.threads > watchingThreads && seconds < 30; ++seconds) {
            SleepMs(1000);
            stats = ReadProcStats(program.pid);
        }
        return stats;
    };
    auto storm = [&](int round) {
        const int bursts = 100;
        for (int burst = 0; burst < bursts; ++burst) {
            for (int i = 0; i < config.changes / bursts; ++i) {
                TouchFile(folders[(burst + i) % folders.size()] + "/c" + std::to_string(round) + "_" +
                          std::to_string(burst) + "_" + std::to_string(i));
            }
            SleepMs(50);
            if (burst % 20 == 0) CloseFileBrowsers("idle[0-9]");
        }
        // Quiet until no activation has opened a window for three seconds.
        for (int quiet = 0, seconds = 0; quiet < 3 && seconds < 120; ++seconds) {
            SleepMs(1000);
            quiet = FindWindows(FileBrowserSearch("idle[0-9]")).empty() ? quiet + 1 : 0;
            CloseFileBrowsers("idle[0-9]");
        }
        return settled();
    };
    // First one change in each folder: what the first activation of a folder
    // sets up once (the shell's collection, Wine's file browser) is not
    // growth. Then two storms; the second shows whether anything still grows.
    for (const std::string& folder : folders) {
        TouchFile(folder + "/first");
        SleepMs(1500);
    }
    for (int quiet = 0, seconds = 0; quiet < 3 && seconds < 60; ++seconds) {
        SleepMs(1000);
        quiet = FindWindows(FileBrowserSearch("idle[0-9]")).empty() ? quiet + 1 : 0;
        CloseFileBrowsers("idle[0-9]");
    }
    const ProcStats activated = settled();
    const ProcStats ours2 = storm(1);
    const ProcStats ours3 = storm(2);
    AddRow({"4. memory after the first activation of each folder",
            Format("resident %+ld KiB, private %+ld KiB, %d threads", activated.rssKb - memory.rssKb,
                   activated.privateKb - memory.privateKb, activated.threads),
            "one-time set-up, against the idle figure above", "", "", ""});
    AddRow({Format("4. memory growth over the first %d changes after that", config.changes),
            Format("resident %+ld KiB, private %+ld KiB, %d threads", ours2.rssKb - activated.rssKb,
                   ours2.privateKb - activated.privateKb, ours2.threads),
            "", "", "< 1024 KiB", Met(ours2.privateKb - activated.privateKb < 1024)});
    AddRow({Format("4. memory growth over the next %d changes", config.changes),
            Format("resident %+ld KiB, private %+ld KiB, %d threads", ours3.rssKb - ours2.rssKb,
                   ours3.privateKb - ours2.privateKb, ours3.threads),
            "steady state", "", "< 1024 KiB", Met(ours3.privateKb - ours2.privateKb < 1024)});
    program.Kill();
}

}  // namespace bench
