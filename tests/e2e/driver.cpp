#include "driver.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace e2e {

namespace {

using Clock = std::chrono::steady_clock;

std::string Env(const char* name) {
    const char* value = getenv(name);
    return value ? value : "";
}

// Starts argv with stdout and stderr going to outputFile and no stdin. The
// child is killed if this process dies first (a test killed on its time
// limit), so that no program outlives its test.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& outputFile) {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid != 0) return pid;
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    int input = open("/dev/null", O_RDONLY);
    int output = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (input < 0 || output < 0) _exit(127);
    dup2(input, 0);
    dup2(output, 1);
    dup2(output, 2);
    if (input > 2) close(input);
    if (output > 2) close(output);
    execvp(args[0], args.data());
    _exit(127);
}

// Waits for pid up to timeout; the exit code, -1 for a signal, nothing if
// it still runs.
std::optional<int> WaitFor(pid_t pid, milliseconds timeout) {
    auto end = Clock::now() + timeout;
    for (;;) {
        int status = 0;
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (done < 0) return -1;
        if (Clock::now() >= end) return std::nullopt;
        std::this_thread::sleep_for(milliseconds(20));
    }
}

std::string TempFile() {
    char name[] = "/tmp/lumivane-e2e-out-XXXXXX";
    int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    return name;
}

std::vector<std::string> SplitWords(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

// A private X display for runs outside tools/test (which provides one).
pid_t xvfb = -1;

std::string StartXvfb() {
    for (int n = 90; n <= 140; ++n) {
        std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
        if (FileExists(socket) || FileExists("/tmp/.X" + std::to_string(n) + "-lock")) continue;
        std::string display = ":" + std::to_string(n);
        xvfb = Spawn({"Xvfb", display, "-screen", "0", "1280x800x24", "-nolisten", "tcp"}, "/dev/null");
        if (xvfb < 0) return "Xvfb could not be started";
        if (Eventually([&] { return FileExists(socket); }, milliseconds(5000))) {
            setenv("DISPLAY", display.c_str(), 1);
            return {};
        }
        kill(xvfb, SIGKILL);
        WaitFor(xvfb, milliseconds(2000));
        xvfb = -1;
    }
    return "no free X display";
}

void StopXvfb() {
    if (xvfb < 0) return;
    // Let the Wine processes on this display end before it goes away.
    Run({"wineserver", "-w"}, milliseconds(10000));
    kill(xvfb, SIGTERM);
    WaitFor(xvfb, milliseconds(5000));
    xvfb = -1;
}

}  // namespace

const Paths& GetPaths() {
    static const Paths paths = [] {
        Paths p;
        p.windowsBuild = LUMIVANE_WINDOWS_BUILD;
        p.prefix = Env("LUMIVANE_WINEPREFIX");
        if (p.prefix.empty()) p.prefix = p.windowsBuild + "/wineprefix";
        p.lumivane = p.windowsBuild + "/Lumivane.exe";
        p.lvinspect = p.windowsBuild + "/lvinspect.exe";
        p.tools = std::string(LUMIVANE_SOURCE_DIR) + "/tools";
        return p;
    }();
    return paths;
}

std::string PrepareWine() {
    static std::string error = [] () -> std::string {
        const Paths& paths = GetPaths();
        CommandResult prefix = Run({paths.tools + "/wine-prefix", paths.prefix}, milliseconds(120000));
        if (prefix.exitCode != 0) return "could not prepare the Wine prefix " + paths.prefix + ": " + prefix.output;
        setenv("WINEPREFIX", std::filesystem::absolute(paths.prefix).c_str(), 1);
        setenv("WINEDEBUG", "-all", 1);
        setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
        if (Env("DISPLAY").empty()) {
            std::string started = StartXvfb();
            if (!started.empty()) return started;
            atexit(StopXvfb);
        } else {
            // Without a running server every Wine command would start one
            // (and the desktop with its notification area) anew, about two
            // seconds each. This one stays ten seconds after its last
            // client, across the suite's test processes; if a server runs
            // already, this does nothing.
            Run({"wineserver", "-p10"}, milliseconds(5000));
        }
        return {};
    }();
    return error;
}

CommandResult Run(const std::vector<std::string>& argv, milliseconds timeout) {
    CommandResult result;
    std::string output = TempFile();
    pid_t pid = Spawn(argv, output);
    if (pid < 0) {
        result.output = "could not start " + argv[0];
        unlink(output.c_str());
        return result;
    }
    std::optional<int> code = WaitFor(pid, timeout);
    if (!code) {
        kill(pid, SIGKILL);
        WaitFor(pid, milliseconds(5000));
        result.timedOut = true;
    } else {
        result.exitCode = *code;
    }
    result.output = ReadFileBytes(output);
    unlink(output.c_str());
    return result;
}

WineProgram::WineProgram(const std::string& exe, const std::string& outputFile, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"wine", exe};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_ = Spawn(argv, outputFile);
}

WineProgram::~WineProgram() { Kill(); }

bool WineProgram::Running() { return pid_ > 0 && !WaitForExit(milliseconds(0)); }

std::optional<int> WineProgram::WaitForExit(milliseconds timeout) {
    if (exitCode_ || pid_ <= 0) return exitCode_ ? exitCode_ : std::optional<int>(-1);
    exitCode_ = WaitFor(pid_, timeout);
    return exitCode_;
}

void WineProgram::Kill() {
    if (pid_ <= 0 || exitCode_) return;
    kill(pid_, SIGKILL);
    exitCode_ = WaitFor(pid_, milliseconds(5000));
}

Facts::Facts(const std::string& output) : text(output) {
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        std::size_t colon = line.find(": ");
        if (colon == std::string::npos) continue;
        values_.emplace(line.substr(0, colon), line.substr(colon + 2));
    }
}

std::string Facts::operator[](const std::string& key) const {
    auto found = values_.find(key);
    return found == values_.end() ? "(missing)" : found->second;
}

std::vector<std::string> Facts::All(const std::string& key) const {
    std::vector<std::string> all;
    auto [first, last] = values_.equal_range(key);
    for (auto it = first; it != last; ++it) all.push_back(it->second);
    return all;
}

bool Facts::Has(const std::string& key) const { return values_.count(key) > 0; }

int Facts::Int(const std::string& key) const {
    std::string value = (*this)[key];
    return atoi(value.c_str());
}

std::vector<int> Facts::Ints(const std::string& key) const {
    std::vector<int> numbers;
    for (const std::string& word : SplitWords((*this)[key])) numbers.push_back(atoi(word.c_str()));
    return numbers;
}

Facts Inspect(const std::vector<std::string>& args, int* exitCode) {
    std::vector<std::string> argv = {"wine", GetPaths().lvinspect};
    argv.insert(argv.end(), args.begin(), args.end());
    CommandResult result = Run(argv, milliseconds(10000));
    if (exitCode) *exitCode = result.exitCode;
    return Facts(result.output);
}

CommandResult WineReg(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"wine", "reg"};
    argv.insert(argv.end(), args.begin(), args.end());
    return Run(argv, milliseconds(20000));
}

std::vector<std::string> FindXWindows(const std::string& nameRegex, milliseconds timeout) {
    CommandResult result = Run({"xdotool", "search", "--sync", "--name", nameRegex}, timeout);
    std::vector<std::string> windows;
    for (const std::string& word : SplitWords(result.output))
        if (word.find_first_not_of("0123456789") == std::string::npos) windows.push_back(word);
    return windows;
}

void Key(const std::string& xWindow, const std::string& keys) {
    std::vector<std::string> argv = {"xdotool", "key", "--window", xWindow};
    for (const std::string& key : SplitWords(keys)) argv.push_back(key);
    Run(argv, milliseconds(5000));
}

void Click(int x, int y, int button, int count) {
    Run({"xdotool", "mousemove", std::to_string(x), std::to_string(y), "click", "--repeat", std::to_string(count),
         std::to_string(button)},
        milliseconds(5000));
}

void MovePointer(int x, int y) {
    Run({"xdotool", "mousemove", std::to_string(x), std::to_string(y)}, milliseconds(5000));
}

void Type(const std::string& text) {
    Run({"xdotool", "type", "--delay", "60", text}, milliseconds(10000));
}

pid_t XWindowPid(const std::string& xWindow) {
    CommandResult result = Run({"xdotool", "getwindowpid", xWindow}, milliseconds(5000));
    for (const std::string& word : SplitWords(result.output))
        if (word.find_first_not_of("0123456789") == std::string::npos) return atoi(word.c_str());
    return -1;
}

bool Eventually(const std::function<bool()>& condition, milliseconds timeout) {
    auto end = Clock::now() + timeout;
    for (;;) {
        if (condition()) return true;
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(milliseconds(100));
    }
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

bool FileExists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

std::string MakeTempFolder() {
    char name[] = "/tmp/lumivane-e2e-XXXXXX";
    return mkdtemp(name) ? name : "";
}

void RemoveTree(const std::string& path) {
    std::error_code error;
    std::filesystem::remove_all(path, error);
}

std::string WindowsPath(const std::string& linuxPath) {
    std::string path = "Z:" + linuxPath;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

long WineProgram::PrivateKiB() const {
    // wine runs the program in the process it was started as.
    std::ifstream smaps("/proc/" + std::to_string(pid_) + "/smaps_rollup");
    long total = -1;
    for (std::string line; std::getline(smaps, line);) {
        if (line.rfind("Private_Clean:", 0) == 0 || line.rfind("Private_Dirty:", 0) == 0) {
            total = std::max(total, 0L) + std::stol(line.substr(14));
        }
    }
    return total;
}

}  // namespace e2e
