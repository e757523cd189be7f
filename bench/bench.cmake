# Benchmark programs for the Windows build (not tests; tools/bench runs them).
add_executable(minimal_window WIN32 bench/minimal_window.cpp)
if(MINGW)
  target_link_options(minimal_window PRIVATE -municode)
endif()

# The watcher with its activation replaced by a time stamp on stdout.
if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/watch/change_watcher.cpp)
  add_executable(watch_probe bench/watch_probe.cpp watch/change_watcher.cpp app/app_state.cpp)
  target_include_directories(watch_probe PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(watch_probe PRIVATE lumivane_core ole32)
  if(MINGW)
    target_link_options(watch_probe PRIVATE -municode)
  endif()
endif()

# The real window search over fake collections of growing size.
if(TARGET lumivane_fake_shell)
  add_executable(search_probe bench/search_probe.cpp)
  target_link_libraries(search_probe PRIVATE lumivane_win lumivane_fake_shell)
  if(MINGW)
    target_link_options(search_probe PRIVATE -municode)
  endif()
endif()
