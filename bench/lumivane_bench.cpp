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
//   7. one settings save: flushed against left to the system's cache
//   8. change to existing window in front: a minimised window showing the
//      folder, restored on a change

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "settings/settings_text.h"

extern char** environ;

namespace {

struct Config {
    std::string windowsBuild;  // holds Lumivane.exe, the probes and wineprefix
    std::string out;
    int wakeSamples = 200;
    int windowSamples = 20;
    int idleSeconds = 60;
    int changes = 10000;
    int startSamples = 10;
};

Config config;

// One line of the results table.
struct Row {
    std::string what;
    std::string ours;
    std::string reference;
    std::string ratio;
    std::string target;
    std::string verdict;
};
std::vector<Row> rows;

int64_t NowNs() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void AddRow(Row row) {
    std::printf("%s: %s | %s | %s | %s | %s\n", row.what.c_str(), row.ours.c_str(), row.reference.c_str(),
                row.ratio.c_str(), row.target.c_str(), row.verdict.c_str());
    std::fflush(stdout);
    rows.push_back(std::move(row));
}

void Failed(const std::string& what, const std::string& why) {
    AddRow({what, why, "", "", "", "not measured"});
}

std::string Met(bool met) {
    return met ? "met" : "NOT met";
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    return buffer;
}

std::string Capture(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, n);
        pclose(pipe);
    }
    return output;
}

// A child process whose stdout we read line by line (or ignore).
struct Child {
    pid_t pid = -1;
    int out = -1;
    std::string pending;

    bool ReadLine(std::string& line, int timeoutMs) {
        const int64_t deadline = NowNs() + int64_t{timeoutMs} * 1000000;
        for (;;) {
            const size_t newline = pending.find('\n');
            if (newline != std::string::npos) {
                line = pending.substr(0, newline);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                pending.erase(0, newline + 1);
                return true;
            }
            if (out < 0) return false;
            // A timeout of 0 still takes whatever is already in the pipe.
            const int64_t left = std::max<int64_t>((deadline - NowNs()) / 1000000, 0);
            pollfd fd{out, POLLIN, 0};
            if (poll(&fd, 1, static_cast<int>(left)) <= 0) return false;
            char buffer[4096];
            const ssize_t n = read(out, buffer, sizeof(buffer));
            if (n <= 0) return false;
            pending.append(buffer, static_cast<size_t>(n));
        }
    }

    void Kill() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (out >= 0) close(out);
        pid = -1;
        out = -1;
    }
};

Child Spawn(const std::vector<std::string>& args, bool readOutput) {
    Child child;
    int fds[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (readOutput && pipe(fds) == 0) {
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addclose(&actions, fds[1]);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    if (posix_spawnp(&child.pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) child.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (fds[1] >= 0) close(fds[1]);
    child.out = fds[0];
    return child;
}

Child SpawnWine(const std::string& exe, std::vector<std::string> args, bool readOutput) {
    args.insert(args.begin(), {"wine", config.windowsBuild + "/" + exe});
    return Spawn(args, readOutput);
}

std::string WindowsPath(const std::string& linuxPath) {
    std::string path = "Z:" + linuxPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::wstring Wide(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

std::string MakeFolder(const std::string& path) {
    mkdir(path.c_str(), 0755);
    return path;
}

void TouchFile(const std::string& path) {
    const int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    if (fd >= 0) close(fd);
}

// Points Lumivane's Local AppData at root and writes a settings file there
// watching the given folders.
void PrepareSettings(const std::string& root, const std::vector<std::string>& folders) {
    MakeFolder(root);
    MakeFolder(root + "/Vantly");
    Capture("wine reg add 'HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders' "
            "/v 'Local AppData' /t REG_EXPAND_SZ /d '" + WindowsPath(root) + "' /f >/dev/null 2>&1");
    FolderList list;
    for (const std::string& folder : folders) list.push_back(Wide(WindowsPath(folder)));
    const std::wstring text = FormatSettingsText({100, 100, 416, 359}, list);
    std::ofstream file(root + "/Vantly/window.json", std::ios::binary);
    file << "\xEF\xBB\xBF" << std::string(text.begin(), text.end());
}

std::vector<std::string> FindWindows(const std::string& searchArgs) {
    std::istringstream lines(Capture("xdotool search " + searchArgs + " 2>/dev/null"));
    std::vector<std::string> ids;
    for (std::string id; std::getline(lines, id);) {
        if (!id.empty()) ids.push_back(id);
    }
    return ids;
}

// Polls until a window matching searchArgs exists; the time it was first
// seen, or -1 after timeoutMs.
int64_t WaitForWindow(const std::string& searchArgs, int timeoutMs) {
    const int64_t deadline = NowNs() + int64_t{timeoutMs} * 1000000;
    while (NowNs() < deadline) {
        if (!FindWindows(searchArgs).empty()) return NowNs();
        SleepMs(2);
    }
    return -1;
}

// Wine's file browser names its X window after the folder it shows.
std::string FileBrowserSearch(const std::string& titleRegex) {
    return "--name '^(" + titleRegex + ")$'";
}

// Closed with WM_CLOSE through the end-to-end tests' inspector: killing the
// X client instead can take Wine's desktop process down with it.
void CloseFileBrowsers(const std::string&) {
    std::istringstream lines(Capture("wine '" + config.windowsBuild + "/lvinspect.exe' windows ExplorerWClass 2>/dev/null"));
    std::string handles;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("window: 0x", 0) == 0) handles += " " + line.substr(8, line.find(' ', 8) - 8);
    }
    if (!handles.empty()) Capture("wine '" + config.windowsBuild + "/lvinspect.exe' close" + handles + " >/dev/null 2>&1");
}

struct ProcStats {
    double cpuMs = 0;
    long voluntarySwitches = 0;
    long rssKb = 0;
    long privateKb = 0;
    int threads = 0;
};

ProcStats ReadProcStats(pid_t pid) {
    ProcStats stats;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string content((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = content.rfind(')');
    if (close != std::string::npos) {
        std::istringstream fields(content.substr(close + 2));
        std::vector<std::string> values;
        for (std::string value; fields >> value;) values.push_back(value);
        // Fields 14 and 15 (utime, stime) sit at 11 and 12 after the name.
        if (values.size() > 12) {
            stats.cpuMs = (std::stod(values[11]) + std::stod(values[12])) * 1000.0 / sysconf(_SC_CLK_TCK);
        }
    }
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) stats.rssKb = std::stol(line.substr(6));
    }
    // Context switches are counted per thread: add up every thread's.
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    std::istringstream threads(Capture("ls " + tasks + " 2>/dev/null"));
    for (std::string thread; threads >> thread;) {
        ++stats.threads;
        std::ifstream threadStatus(tasks + "/" + thread + "/status");
        for (std::string line; std::getline(threadStatus, line);) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) stats.voluntarySwitches += std::stol(line.substr(24));
        }
    }
    std::ifstream smaps("/proc/" + std::to_string(pid) + "/smaps_rollup");
    for (std::string line; std::getline(smaps, line);) {
        if (line.rfind("Private_Clean:", 0) == 0) stats.privateKb += std::stol(line.substr(14));
        if (line.rfind("Private_Dirty:", 0) == 0) stats.privateKb += std::stol(line.substr(14));
    }
    return stats;
}

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, static_cast<size_t>(fraction * (values.size() - 1) + 0.5));
    return values[index];
}

std::string Ratio(double ours, double reference) {
    return reference > 0 ? Format("%.2fx", ours / reference) : std::string("n/a");
}

std::string workRoot;

// 1. Files created by this (Linux) process across ten folders; a wake-up
// is stamped inside the Wine process that woke, inotifywait's when its line
// arrives here. The real watcher and the least a Windows program can do (one
// notification per folder and one wait, watch_probe --floor) each watch ten
// folders of their own under the same Wine, and the changes alternate
// between the two sets in random order, so that both see the same machine
// at the same moments; inotifywait watches all twenty, for context.
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

// 2. The real program: a file created in a watched folder until a window
// showing that folder is on screen (under Wine: the file browser opened by
// the activation, since Wine's shell lists no windows).
void BenchChangeToWindow() {
    const std::string name = "lvwindow" + std::to_string(getpid());
    const std::string folder = MakeFolder(workRoot + "/" + name);
    PrepareSettings(workRoot + "/appdata-window", {folder});
    Child program = SpawnWine("Lumivane.exe", {}, false);
    if (WaitForWindow("--name '^Lumivane$'", 20000) < 0) {
        Failed("2. change to window", "Lumivane did not start");
        program.Kill();
        return;
    }
    SleepMs(1000);
    std::vector<double> samples;
    for (int i = 0; i < config.windowSamples; ++i) {
        CloseFileBrowsers(name);
        SleepMs(300);
        const int64_t created = NowNs();
        TouchFile(folder + "/f" + std::to_string(i));
        const int64_t shown = WaitForWindow(FileBrowserSearch(name), 5000);
        if (shown > 0) samples.push_back((shown - created) / 1e6);
        // Let the activation finish its searches (eleven, each creating
        // the shell's collection out of process) before the next change:
        // Wine drops changes made before the watcher renews.
        SleepMs(3000);
    }
    CloseFileBrowsers(name);
    program.Kill();
    AddRow({Format("2. change to window, %d changes", config.windowSamples),
            Format("median %.0f ms, worst %.0f ms (%zu windows seen)", Percentile(samples, 0.5),
                   Percentile(samples, 1.0), samples.size()),
            "poll budget after an open request: 10 x 100 ms", Ratio(Percentile(samples, 0.5), 1000),
            "median within the poll budget", Met(!samples.empty() && Percentile(samples, 0.5) <= 1000)});
}

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
            "private <= 1.2x", Met(memory.privateKb <= 1.2 * platform1.privateKb)});
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
    if (steps.size() < 6) {
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
        {"activated", "after the first activation of each folder"}};
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
}

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

// 7. The saves during a drag-resize skip the flush and the write-through
// that every other save does; both kinds timed in the same probe, on the
// same disk, 200 of each taken in turn.
void BenchSave() {
    const std::string folder = MakeFolder(workRoot + "/save");
    Child probe = SpawnWine("save_probe.exe", {WindowsPath(folder)}, true);
    std::string line;
    double flushed = -1, cached = -1;
    while (probe.ReadLine(line, 60000)) {
        std::sscanf(line.c_str(), "flushed %lf", &flushed);
        std::sscanf(line.c_str(), "cached %lf", &cached);
    }
    probe.Kill();
    if (flushed < 0 || cached < 0) {
        Failed("7. one settings save", "the save probe gave no figures");
        return;
    }
    AddRow({"7. one settings save during a drag-resize (not flushed), median of 200", Format("%.0f us", cached),
            Format("flushed save: %.0f us", flushed), Ratio(cached, flushed), "below the flushed save",
            Met(cached < flushed)});
}

}  // namespace

// 7. A file-browser window already shows the folder, minimised behind the
// main window: a file created until that window is on screen again at its
// size (under Wine the search finds it through the shell's FindWindowSW;
// Wine draws a minimised window of its own as a 160 x 24 bar, so the X
// window's height tells the two states apart). Beside it, benchmark 1's
// wake-up figure of the same run, the part that is the platform's
// notification.
void BenchChangeToExistingWindow() {
    const char* what = "8. change to existing window in front";
    const std::string name = "lvfront" + std::to_string(getpid());
    const std::string folder = MakeFolder(workRoot + "/" + name);
    PrepareSettings(workRoot + "/appdata-front", {folder});
    const std::string lvinspect = "wine '" + config.windowsBuild + "/lvinspect.exe' ";
    Child program = SpawnWine("Lumivane.exe", {}, false);
    if (WaitForWindow("--name '^Lumivane$'", 20000) < 0) {
        Failed(what, "Lumivane did not start");
        program.Kill();
        return;
    }
    SleepMs(1000);
    TouchFile(folder + "/opened");
    if (WaitForWindow(FileBrowserSearch(name), 10000) < 0) {
        Failed(what, "the folder's window never opened");
        program.Kill();
        return;
    }
    SleepMs(2000);
    std::string handle;
    std::istringstream lines(Capture(lvinspect + "windows ExplorerWClass 2>/dev/null"));
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("window: 0x", 0) == 0 && line.find(" " + name) != std::string::npos) {
            handle = line.substr(8, line.find(' ', 8) - 8);
        }
    }
    const std::vector<std::string> xWindows = FindWindows(FileBrowserSearch(name));
    const std::string xWindow = xWindows.empty() ? "" : xWindows.front();
    auto restoredNow = [&] {
        const std::string geometry = Capture("xdotool getwindowgeometry --shell " + xWindow + " 2>/dev/null");
        const std::size_t at = geometry.find("HEIGHT=");
        return at != std::string::npos && std::atoi(geometry.c_str() + at + 7) > 24;
    };
    std::vector<double> samples;
    for (int i = 0; i < config.windowSamples && !handle.empty() && !xWindow.empty(); ++i) {
        Capture(lvinspect + "minimize " + handle + " >/dev/null 2>&1");
        Capture(lvinspect + "foreground >/dev/null 2>&1");
        const int64_t minimisedBy = NowNs() + 3000000000LL;
        while (restoredNow() && NowNs() < minimisedBy) SleepMs(10);
        if (restoredNow()) continue;  // never minimised: nothing to time
        SleepMs(300);
        const int64_t created = NowNs();
        TouchFile(folder + "/f" + std::to_string(i));
        const int64_t deadline = created + 5000000000LL;
        int64_t restored = -1;
        while (restored < 0 && NowNs() < deadline) {
            if (restoredNow()) restored = NowNs();
        }
        if (restored > 0) samples.push_back((restored - created) / 1e6);
        SleepMs(1000);
    }
    CloseFileBrowsers(name);
    program.Kill();
    std::string wakeUp = "benchmark 1 not run";
    for (const Row& row : rows) {
        if (row.what.rfind("1. ", 0) == 0) wakeUp = "change to wake-up: " + row.ours;
    }
    const double median = Percentile(samples, 0.5);
    AddRow({Format("%s, %d changes", what, config.windowSamples),
            Format("median %.0f ms, worst %.0f ms (%zu restored)", median, Percentile(samples, 1.0), samples.size()),
            wakeUp, "", "median < 200 ms", Met(!samples.empty() && median < 200)});
}

int main(int argc, char** argv) {
    std::map<std::string, std::string> options;
    for (int i = 1; i + 1 < argc; i += 2) options[argv[i]] = argv[i + 1];
    config.windowsBuild = options["--windows-build"];
    config.out = options["--out"];
    if (options.count("--idle-seconds")) config.idleSeconds = std::stoi(options["--idle-seconds"]);
    if (options.count("--samples")) config.wakeSamples = std::stoi(options["--samples"]);
    const std::string only = options["--only"];
    if (config.windowsBuild.empty() || !getenv("DISPLAY") || !getenv("WINEPREFIX")) {
        std::fprintf(stderr, "usage: lumivane_bench --windows-build DIR [--out FILE] [--only 1..8]\n"
                             "(needs DISPLAY and WINEPREFIX; tools/bench sets both)\n");
        return 2;
    }
    char rootTemplate[] = "/tmp/lumivane-bench-XXXXXX";
    workRoot = mkdtemp(rootTemplate);

    auto wanted = [&](char which) { return only.empty() || only.find(which) != std::string::npos; };
    if (wanted('1')) BenchWakeUp();
    if (wanted('2')) BenchChangeToWindow();
    if (wanted('3') || wanted('4')) BenchIdleAndMemory();
    if (wanted('4')) BenchMemorySteps();
    if (wanted('5')) BenchStartUp();
    if (wanted('6')) BenchSearch();
    if (wanted('7')) BenchSave();
    if (wanted('8')) BenchChangeToExistingWindow();

    Capture("rm -rf '" + workRoot + "'");
    if (!config.out.empty()) {
        std::ofstream out(config.out);
        out << "| benchmark | Lumivane | reference | ratio | target | |\n|---|---|---|---|---|---|\n";
        for (const Row& row : rows) {
            out << "| " << row.what << " | " << row.ours << " | " << row.reference << " | " << row.ratio << " | "
                << row.target << " | " << row.verdict << " |\n";
        }
    }
    return 0;
}
