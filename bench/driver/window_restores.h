#pragma once
// What the benchmarks that time a change to a window already open share
// (8 and 9): a file-browser window showing the folder, opened by a first
// change, minimised behind the main window before each timed change; the
// time until it is on screen again, for Lumivane and for a floor program
// in turn.

#include <functional>
#include <string>
#include <vector>

#include "processes.h"

namespace bench {

// Called after each timed change that brought the window back: the floor
// program during the floor's half (null during Lumivane's), the window's
// handle as lvinspect takes it, and the name of the file just created.
using AfterRestore = std::function<void(Child* floor, const std::string& handle, const std::string& file)>;

struct RestoreHalves {
    std::vector<double> ours;   // milliseconds of each restore by Lumivane
    std::vector<double> floor;  // and by the floor program
    std::string failure;        // why nothing could be timed, or empty
};

// Lumivane watching a folder named after name, then activation_floor in
// floorMode watching the same folder. During the floor's half a Lumivane
// with an empty list runs too, so that its main window is the one in front
// for both halves: each activation takes the foreground from it, and Wine's
// deactivation of it (a repaint of its caption) is no part of the
// difference. With the pointer out of the way (lumivane_bench.cpp), the
// minimise and the foreground request before each change are no input to
// Wine, so both find the user away.
RestoreHalves TimeRestoresAgainstFloor(const std::string& name, const std::string& floorMode,
                                       const AfterRestore& afterRestore = {});

}  // namespace bench
