# The application shell: the resource script and the About box. The test
# links the same lumivane.rc as the program, so it reads the real resources.
add_windows_test(app_resource_tests
  tests/win/app_resource_tests.cpp
  tests/win/about_box_tests.cpp
  app/about_box.cpp
  app/app_state.cpp
  app/lumivane.rc)
target_link_libraries(app_resource_tests PRIVATE lumivane_core version)

# The main window and its notification icon, created for real in the test
# process with the program's own resources.
add_windows_test(app_window_tests
  tests/win/app_window_tests.cpp
  tests/win/scoped_local_app_data.cpp
  app/lumivane.rc)
target_link_libraries(app_window_tests PRIVATE lumivane_win)
