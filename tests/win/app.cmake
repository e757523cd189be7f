# The application shell: the resource script and the About box. The test
# links the same lumivane.rc as the program, so it reads the real resources.
add_windows_test(app_resource_tests
  tests/win/app_resource_tests.cpp
  app/about_box.cpp
  app/app_state.cpp
  app/lumivane.rc)
target_link_libraries(app_resource_tests PRIVATE lumivane_core)
