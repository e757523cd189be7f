# Native Linux: the pure logic's tests, the fuzzer, and the end-to-end
# driver for the Windows build.

if(LUMIVANE_FUZZ)
  add_executable(settings_text_fuzzer tests/fuzz/settings_text_fuzzer.cpp)
  target_compile_options(settings_text_fuzzer PRIVATE -fsanitize=fuzzer)
  target_link_options(settings_text_fuzzer PRIVATE -fsanitize=fuzzer)
  target_link_libraries(settings_text_fuzzer PRIVATE lumivane_settings)
  return()
endif()

# The benchmark driver: runs the Windows build under Wine and measures it.
add_executable(lumivane_bench bench/lumivane_bench.cpp
  bench/driver/processes.cpp bench/driver/results.cpp
  bench/driver/wake_up.cpp bench/driver/change_to_window.cpp bench/driver/idle_and_memory.cpp
  bench/driver/memory_steps.cpp bench/driver/start_up.cpp bench/driver/search.cpp
  bench/driver/existing_window.cpp bench/driver/window_restores.cpp bench/driver/selected_item.cpp)
target_link_libraries(lumivane_bench PRIVATE lumivane_settings)

if(NOT BUILD_TESTING)
  return()
endif()

find_package(GTest REQUIRED)
include(GoogleTest)

add_executable(pure_tests ${lumivane_pure_tests})
target_link_libraries(pure_tests PRIVATE lumivane_settings lumivane_watch lumivane_explorer lumivane_app lumivane_state
                      GTest::gtest GTest::gtest_main)
gtest_discover_tests(pure_tests)

# The program's folders include only downward (tests/layers/check_layers.py).
add_test(NAME include_layers COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/tests/layers/check_layers.py
         ${CMAKE_CURRENT_SOURCE_DIR})

if(LUMIVANE_WINDOWS_BUILD AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/tests/e2e/CMakeLists.txt)
  add_subdirectory(tests/e2e)
endif()

# The release package, built twice (the second time from a Windows build
# made from nothing) and checked as a user would receive it.
if(LUMIVANE_WINDOWS_BUILD)
  get_filename_component(package_windows_build ${LUMIVANE_WINDOWS_BUILD} ABSOLUTE)
  add_test(NAME package
           COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/tests/package/check_package.py
                   ${package_windows_build} ${CMAKE_BINARY_DIR}/package-check)
  set_tests_properties(package PROPERTIES TIMEOUT 900)
endif()
