#pragma once
// The end-to-end driver's tools: running Wine programs with time limits,
// xdotool for keys and clicks, lvinspect for what the windows show, and the
// files the program writes. Linux only; every wait has a limit, so a hung
// program fails a test instead of hanging the suite.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

using std::chrono::milliseconds;

// Where the Windows build, its Wine prefix and the repository's tools are.
struct Paths {
    std::string windowsBuild;
    std::string prefix;
    std::string lumivane;   // Lumivane.exe
    std::string lvinspect;  // lvinspect.exe
    std::string tools;
};
const Paths& GetPaths();

// Prepares the environment of every Wine program started from here: the
// project's prefix (created if needed), quiet Wine, no Mono/Gecko prompts,
// and a wineserver that outlives single commands. Returns an error text, or
// empty when everything is ready.
std::string PrepareWine();

struct CommandResult {
    int exitCode = -1;  // -1 when killed on timeout or by a signal
    bool timedOut = false;
    std::string output;  // stdout and stderr together
};

// Runs argv to its end or until the timeout, then kills it. The output goes
// through a file: a child that the command starts and that outlives it
// would hold a pipe open.
CommandResult Run(const std::vector<std::string>& argv, milliseconds timeout);

// One program started under Wine, its output in a file. The destructor ends
// it if it still runs.
class WineProgram {
public:
    WineProgram(const std::string& exe, const std::string& outputFile, const std::vector<std::string>& args = {});
    ~WineProgram();
    WineProgram(const WineProgram&) = delete;
    WineProgram& operator=(const WineProgram&) = delete;

    bool Running();
    // The program's private memory in KiB as Linux counts it (Wine reports
    // no private bytes of another process); -1 when it cannot be read.
    long PrivateKiB() const;
    // The exit code, or nothing if it still runs after timeout.
    std::optional<int> WaitForExit(milliseconds timeout);
    void Kill();

private:
    pid_t pid_ = -1;
    std::optional<int> exitCode_;
};

// lvinspect's "key: value" lines.
class Facts {
public:
    explicit Facts(const std::string& output);
    // The first value of key, or "(missing)".
    std::string operator[](const std::string& key) const;
    std::vector<std::string> All(const std::string& key) const;
    bool Has(const std::string& key) const;
    int Int(const std::string& key) const;
    // "x y w h" values as four numbers.
    std::vector<int> Ints(const std::string& key) const;
    std::string text;

private:
    std::multimap<std::string, std::string> values_;
};

Facts Inspect(const std::vector<std::string>& args, int* exitCode = nullptr);

// Runs Wine's own reg.exe with these arguments.
CommandResult WineReg(const std::vector<std::string>& args);

// xdotool: the X windows whose name matches regex, waiting for the first one
// up to timeout (empty when none came).
std::vector<std::string> FindXWindows(const std::string& nameRegex, milliseconds timeout);
void Key(const std::string& xWindow, const std::string& keys);
void Click(int x, int y, int button = 1, int count = 1);
void MovePointer(int x, int y);
// Types text as a user would (XTest), into whatever has the focus.
void Type(const std::string& text);
// The process id that an X window's _NET_WM_PID names, or -1.
pid_t XWindowPid(const std::string& xWindow);

// Polls condition every 100 ms until it holds or timeout passes.
bool Eventually(const std::function<bool()>& condition, milliseconds timeout);

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
std::string MakeTempFolder();
void RemoveTree(const std::string& path);

// /tmp/a/b as Wine sees it: Z:\tmp\a\b.
std::string WindowsPath(const std::string& linuxPath);

}  // namespace e2e
