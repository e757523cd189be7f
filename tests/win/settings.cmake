# The settings store under Wine.
add_windows_test(settings_store_tests tests/win/settings_store_tests.cpp)
target_link_libraries(settings_store_tests PRIVATE lumivane_settings lumivane_test_support psapi)

# A process that saves in a loop, and the test that kills it.
add_executable(settings_save_loop tests/win/settings_save_loop.cpp)
target_include_directories(settings_save_loop PRIVATE ${CMAKE_SOURCE_DIR}/tests/win)
target_link_libraries(settings_save_loop PRIVATE lumivane_settings)
use_wide_entry_point(settings_save_loop)

add_windows_test(settings_crash_tests tests/win/settings_crash_tests.cpp)
target_link_libraries(settings_crash_tests PRIVATE lumivane_settings lumivane_test_support)
add_dependencies(settings_crash_tests settings_save_loop)
