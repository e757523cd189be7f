# lvinspect: the end-to-end driver's eyes and hands inside Wine. A console
# tool, not a test; the native driver in tests/e2e runs it next to
# Lumivane.exe.
add_executable(lvinspect ${CMAKE_CURRENT_SOURCE_DIR}/tests/e2e/lvinspect.cpp)
target_link_libraries(lvinspect PRIVATE user32 shell32 gdi32)
target_include_directories(lvinspect PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/tests/win)
# wmain: arguments such as window titles arrive as UTF-16, not in the ANSI code page.
use_wide_entry_point(lvinspect)
