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
# The drive tests map and unmap drive letters through the links in Wine's
# dosdevices folder: they run as a test of their own, labelled wine.
set(app_drive_tests "MainWindow.RemovableDriveCanGoAndComeBackWhileItsFolderIsListed:VolumeEvents.*")
add_windows_test(app_window_tests
  tests/win/app_window_tests.cpp
  tests/win/activation_recorder.cpp
  app/lumivane.rc
  ARGS --gtest_filter=-${app_drive_tests})
add_windows_test_run(app_drive_tests app_window_tests ARGS --gtest_filter=${app_drive_tests} LABELS wine)
target_link_libraries(app_window_tests PRIVATE lumivane_app lumivane_test_support)
