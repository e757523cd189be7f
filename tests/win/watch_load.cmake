# The watcher and the folder commands under load and faults, with the
# recording stand-in for the activation (see watch.cmake).
add_windows_test(watch_load_tests
  tests/win/watch_load_tests.cpp
  tests/win/activation_recorder.cpp
  tests/win/scoped_local_app_data.cpp
  watch/change_watcher.cpp
  watch/folder_commands.cpp
  settings/settings_store.cpp
  app/app_state.cpp)
target_link_libraries(watch_load_tests PRIVATE lumivane_core psapi)
