# Benchmark programs for the Windows build (not tests; tools/bench runs them).
add_executable(minimal_window WIN32 bench/minimal_window.cpp)
use_wide_entry_point(minimal_window)

# The watcher with its activation replaced by a time stamp on stdout: the
# probe defines the activation itself, so the linker never takes the
# explorer library's own.
add_executable(watch_probe bench/watch_probe.cpp)
target_link_libraries(watch_probe PRIVATE lumivane_watch)
use_wide_entry_point(watch_probe)

# The real window search over fake collections of growing size.
add_executable(search_probe bench/search_probe.cpp)
target_link_libraries(search_probe PRIVATE lumivane_explorer lumivane_fake_shell)
use_wide_entry_point(search_probe)

# Lumivane's start-up one step at a time, for the memory breakdown.
add_executable(memory_probe WIN32 bench/memory_probe.cpp app/lumivane.rc)
target_link_libraries(memory_probe PRIVATE lumivane_app)
use_wide_entry_point(memory_probe)

# The floor of the activation benchmarks: a change answered with the
# folder's window and nothing else.
add_executable(activation_floor bench/activation_floor.cpp)
target_include_directories(activation_floor PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(activation_floor PRIVATE ole32 oleaut32 shell32 shlwapi uuid)
use_wide_entry_point(activation_floor)
