// Child processes, Wine, the display's windows and /proc for the
// benchmark driver (see processes.h).

#include "processes.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "settings/settings_text.h"

extern char** environ;

namespace bench {

Config config;
std::string workRoot;

int64_t NowNs() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
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

bool Child::ReadLine(std::string& line, int timeoutMs) {
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

void Child::Kill() {
    if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    if (out >= 0) close(out);
    pid = -1;
    out = -1;
}

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

bool StartLumivane(Child& program) {
    program = SpawnWine("Lumivane.exe", {}, false);
    if (WaitForWindow("--name '^Lumivane$'", 20000) >= 0) return true;
    program.Kill();
    return false;
}

bool StartActivationFloor(Child& floor, const std::string& mode, const std::string& linuxFolder) {
    floor = SpawnWine("activation_floor.exe", {mode, WindowsPath(linuxFolder)}, true);
    std::string line;
    if (floor.ReadLine(line, 20000) && line == "ready") return true;
    floor.Kill();
    return false;
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
        if (line.rfind("window: 0x", 0) == 0) handles.append(" ").append(line, 8, line.find(' ', 8) - 8);
    }
    if (!handles.empty()) Capture("wine '" + config.windowsBuild + "/lvinspect.exe' close" + handles + " >/dev/null 2>&1");
}

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

}  // namespace bench
