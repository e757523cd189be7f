# Explorer window activation: the real search and open request under Wine.

# What the tests of several folders share: a settings folder of the test's
# own (tests/win/scoped_local_app_data.h).
add_library(lumivane_test_support STATIC ${CMAKE_CURRENT_SOURCE_DIR}/tests/win/scoped_local_app_data.cpp)
target_include_directories(lumivane_test_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/tests/win)
target_link_libraries(lumivane_test_support PUBLIC lumivane_base lumivane_settings)

# The fake shell window collection, for any test or benchmark that drives
# the activation code (see tests/win/fake_shell.h).
add_library(lumivane_fake_shell STATIC ${CMAKE_CURRENT_SOURCE_DIR}/tests/win/fake_shell.cpp)
target_include_directories(lumivane_fake_shell PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/tests/win)
target_link_libraries(lumivane_fake_shell PUBLIC lumivane_base lumivane_explorer ole32 oleaut32 uuid shell32 user32)

# Labelled wine: it counts on Wine's file browser answering for the folders
# it opens; on Windows that is Explorer, whose windows the test cannot
# control.
add_windows_test(explorer_tests tests/win/explorer_tests.cpp LABELS wine)
target_link_libraries(explorer_tests PRIVATE lumivane_explorer lumivane_fake_shell)

# What only real Windows can run: call cancellation and a UI Automation
# client (Wine 8 serves neither; there every test of it is skipped). Run on
# Windows with ctest -C Release -L windows-only.
add_windows_test(windows_only_tests tests/win/windows_only_tests.cpp)
target_link_libraries(windows_only_tests PRIVATE lumivane_explorer comctl32)
set_tests_properties(windows_only_tests PROPERTIES LABELS windows-only)
