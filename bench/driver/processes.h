#pragma once
// What every benchmark of the driver shares: the run's settings, child
// processes (Linux ones and Windows ones under Wine) whose output is read
// line by line, files and folders the Windows side sees as Z:\ paths, the
// windows on the Xvfb display, and a process's figures from /proc.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct Config {
    std::string windowsBuild;  // holds Lumivane.exe, the probes and wineprefix
    std::string out;
    int wakeSamples = 200;
    int windowSamples = 20;
    int idleSeconds = 60;
    int changes = 10000;
    int startSamples = 10;
};

extern Config config;

// The run's scratch folder; every benchmark makes its folders inside it.
extern std::string workRoot;

int64_t NowNs();
void SleepMs(int ms);

// A shell command's standard output.
std::string Capture(const std::string& command);

// A child process whose stdout we read line by line (or ignore).
struct Child {
    pid_t pid = -1;
    int out = -1;
    std::string pending;

    // The next line without its line end (Wine programs write CR LF);
    // false if none came within timeoutMs.
    bool ReadLine(std::string& line, int timeoutMs);
    void Kill();
};

Child Spawn(const std::vector<std::string>& args, bool readOutput);
// One of the Windows build's executables, under Wine.
Child SpawnWine(const std::string& exe, std::vector<std::string> args, bool readOutput);

// Lumivane.exe with the settings prepared before, once its main window is
// on screen; false, with nothing left running, when it is not within 20 s.
bool StartLumivane(Child& program);
// activation_floor.exe for a folder, once it says it is armed; false, with
// nothing left running, when it does not within 20 s.
bool StartActivationFloor(Child& floor, const std::string& mode, const std::string& linuxFolder);

std::string WindowsPath(const std::string& linuxPath);
std::wstring Wide(const std::string& ascii);
std::string MakeFolder(const std::string& path);
void TouchFile(const std::string& path);

// Points Lumivane's Local AppData at root and writes a settings file there
// watching the given folders.
void PrepareSettings(const std::string& root, const std::vector<std::string>& folders);

// X windows matching xdotool search arguments.
std::vector<std::string> FindWindows(const std::string& searchArgs);
// Polls until a window matching searchArgs exists; the time it was first
// seen, or -1 after timeoutMs.
int64_t WaitForWindow(const std::string& searchArgs, int timeoutMs);
// Search arguments for Wine's file browser showing a folder whose name
// matches titleRegex.
std::string FileBrowserSearch(const std::string& titleRegex);
// Closes every file-browser window, whichever folder it shows (the
// argument names the ones the caller opened, for the reader).
void CloseFileBrowsers(const std::string& titleRegex);

struct ProcStats {
    double cpuMs = 0;
    long voluntarySwitches = 0;
    long rssKb = 0;
    long privateKb = 0;
    int threads = 0;
};

ProcStats ReadProcStats(pid_t pid);

}  // namespace bench
