# The watcher and the folder-list commands, with a recording stand-in for
# the Explorer activation (tests/win/activation_recorder.cpp): a change in a
# watched folder must be observed, not open a file-browser window. The
# stand-in defines the activation's functions, so the linker never takes
# the explorer library's own.
add_windows_test(watch_tests
  tests/win/change_watcher_tests.cpp
  tests/win/folder_commands_tests.cpp
  tests/win/activation_recorder.cpp)
# Bursts, churn and vanishing folders, with the same stand-in.
add_windows_test(watch_load_tests
  tests/win/watch_load_tests.cpp
  tests/win/activation_recorder.cpp)
foreach(test watch_tests watch_load_tests)
  target_link_libraries(${test} PRIVATE lumivane_app lumivane_watch lumivane_test_support lumivane_fake_shell psapi)
endforeach()
