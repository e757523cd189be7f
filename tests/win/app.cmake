# The application shell. Both tests link the same lumivane.rc as the
# program, so they read the real resources.

# The resource script, and the About box.
add_windows_test(app_resource_tests
  tests/win/app_resource_tests.cpp
  tests/win/about_box_tests.cpp
  app/lumivane.rc)
target_link_libraries(app_resource_tests PRIVATE lumivane_app version)

# The main window and its notification icon, created for real in the test
# process.
# The activation is the recording stand-in here: a change in a watched
# folder must be observed, not open a file-browser window.
add_windows_test(app_window_tests
  tests/win/app_window_tests.cpp
  tests/win/activation_recorder.cpp
  app/lumivane.rc)
target_link_libraries(app_window_tests PRIVATE lumivane_app lumivane_test_support)
