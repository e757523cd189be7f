# The watcher and the folder-list commands, linked from their sources with a
# recording stand-in for the Explorer activation (tests/win/activation_recorder.cpp)
# instead of lumivane_win, which would bring the real one: a change in a
# watched folder must be observed, not open a file-browser window.
add_windows_test(watch_tests
  tests/win/change_watcher_tests.cpp
  tests/win/folder_commands_tests.cpp
  tests/win/activation_recorder.cpp
  tests/win/scoped_local_app_data.cpp
  watch/change_watcher.cpp
  watch/folder_commands.cpp
  settings/settings_store.cpp
  app/app_state.cpp)
target_link_libraries(watch_tests PRIVATE lumivane_core lumivane_fake_shell)
