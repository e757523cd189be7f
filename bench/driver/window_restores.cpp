// The window restores that benchmarks 8 and 9 time (see window_restores.h).

#include "window_restores.h"

#include <cstdlib>
#include <sstream>

namespace bench {

namespace {

// With a program watching folder and ready: a change opens the folder's
// window; then changes, each with that window minimised behind the main
// window, until the window is on screen again at its size (Wine draws a
// minimised window of its own as a 160 x 24 bar, so the X window's height
// tells the two states apart). The milliseconds of each restore, or why
// nothing could be timed. Files are named tag and a number.
std::vector<double> TimeRestores(const std::string& name, const std::string& folder, const std::string& tag,
                                 Child* floor, const AfterRestore& afterRestore, std::string& failure) {
    const std::string lvinspect = "wine '" + config.windowsBuild + "/lvinspect.exe' ";
    std::vector<double> samples;
    TouchFile(folder + "/" + tag + "opened");
    if (WaitForWindow(FileBrowserSearch(name), 10000) < 0) {
        failure = "the folder's window never opened";
        return samples;
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
    for (int i = 0; i < config.windowSamples && !handle.empty() && !xWindow.empty(); ++i) {
        Capture(lvinspect + "minimize " + handle + " >/dev/null 2>&1");
        Capture(lvinspect + "foreground >/dev/null 2>&1");
        const int64_t minimisedBy = NowNs() + 3000000000LL;
        while (restoredNow() && NowNs() < minimisedBy) SleepMs(10);
        if (restoredNow()) continue;  // never minimised: nothing to time
        SleepMs(300);
        const std::string file = tag + std::to_string(i);
        const int64_t created = NowNs();
        TouchFile(folder + "/" + file);
        const int64_t deadline = created + 5000000000LL;
        int64_t restored = -1;
        while (restored < 0 && NowNs() < deadline) {
            if (restoredNow()) restored = NowNs();
        }
        if (restored > 0) {
            samples.push_back((restored - created) / 1e6);
            if (afterRestore) afterRestore(floor, handle, file);
        }
        SleepMs(1000);
    }
    CloseFileBrowsers(name);
    if (handle.empty() || xWindow.empty()) failure = "the folder's window could not be found to minimise";
    return samples;
}

}  // namespace

RestoreHalves TimeRestoresAgainstFloor(const std::string& name, const std::string& floorMode,
                                       const AfterRestore& afterRestore) {
    RestoreHalves halves;
    const std::string folder = MakeFolder(workRoot + "/" + name);
    PrepareSettings(workRoot + "/appdata-" + name, {folder});
    Child program;
    if (!StartLumivane(program)) {
        halves.failure = "Lumivane did not start";
        return halves;
    }
    SleepMs(1000);
    halves.ours = TimeRestores(name, folder, "f", nullptr, afterRestore, halves.failure);
    program.Kill();
    if (!halves.failure.empty()) return halves;

    PrepareSettings(workRoot + "/appdata-" + name + "-idle", {});
    Child idleProgram;
    Child floorProgram;
    if (!StartLumivane(idleProgram) || !StartActivationFloor(floorProgram, floorMode, folder)) {
        halves.failure = "the floor's half did not start";
        idleProgram.Kill();
        return halves;
    }
    halves.floor = TimeRestores(name, folder, "g", &floorProgram, afterRestore, halves.failure);
    floorProgram.Kill();
    idleProgram.Kill();
    if (!halves.failure.empty()) halves.failure = "floor: " + halves.failure;
    return halves;
}

}  // namespace bench
