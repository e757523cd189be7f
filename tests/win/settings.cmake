# The settings store under Wine. Its refill of the list box is a seam here,
# counted by the test itself, so the store is linked from its sources.
add_windows_test(settings_store_tests
  tests/win/settings_store_tests.cpp
  tests/win/scoped_local_app_data.cpp
  settings/settings_store.cpp
  app/app_state.cpp)
target_link_libraries(settings_store_tests PRIVATE lumivane_core psapi)

# A process that saves in a loop, and the test that kills it.
add_executable(settings_save_loop tests/win/settings_save_loop.cpp)
target_include_directories(settings_save_loop PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests/win)
target_link_libraries(settings_save_loop PRIVATE lumivane_win)
use_wide_entry_point(settings_save_loop)

add_windows_test(settings_crash_tests tests/win/settings_crash_tests.cpp tests/win/scoped_local_app_data.cpp)
target_link_libraries(settings_crash_tests PRIVATE lumivane_win)
add_dependencies(settings_crash_tests settings_save_loop)
