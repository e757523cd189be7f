# Windows: the program, and its tests (run under Wine when cross-compiling).

enable_language(RC)
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)

if(MINGW)
  # A static runtime: the exe then needs only system DLLs.
  add_link_options(-static -static-libgcc -static-libstdc++)
  # Sections at page boundaries in the file: Wine then maps the image from
  # the file, and only the pages the program touches become resident. With
  # the default 512-byte alignment it copies the whole image (resources,
  # debug sections and all) into private memory, about 1 MB for Lumivane.exe.
  add_link_options(-Wl,--file-alignment=4096)
endif()

if(MSVC)
  # lumivane.rc embeds the program's own manifest; the linker's generated
  # one would be a second manifest resource and fail the link (CVT1100).
  # Executables without the resource script run without one, as mingw-w64
  # builds do.
  add_link_options(/MANIFEST:NO)
endif()

if(CMAKE_CROSSCOMPILING)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      ${CMAKE_CURRENT_SOURCE_DIR}/tools/wine-run --prefix ${CMAKE_BINARY_DIR}/wineprefix)
endif()

set(lumivane_system_libs ole32 oleaut32 uuid shell32 shlwapi gdiplus user32 gdi32)

# Everything but the entry point, so that tests link the real code.
file(GLOB lumivane_win_sources CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_SOURCE_DIR}/app/*.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/settings/*.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/watch/*.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/explorer/*.cpp)
list(FILTER lumivane_win_sources EXCLUDE REGEX "/app/main\\.cpp$|/app/window_geometry\\.cpp$|/explorer/folder_identity\\.cpp$|/settings/settings_text\\.cpp$|/watch/folder_list\\.cpp$")
add_library(lumivane_win STATIC ${lumivane_win_sources})
target_link_libraries(lumivane_win PUBLIC lumivane_core ${lumivane_system_libs})

# Entry points wWinMain and wmain take UTF-16: MSVC finds them by itself,
# mingw-w64 has to be told.
function(use_wide_entry_point target)
  if(MINGW)
    target_link_options(${target} PRIVATE -municode)
  endif()
endfunction()

add_executable(Lumivane WIN32 app/main.cpp app/lumivane.rc)
target_link_libraries(Lumivane PRIVATE lumivane_win)
use_wide_entry_point(Lumivane)

if(NOT BUILD_TESTING)
  return()
endif()

# GoogleTest: an installed package, else its sources (Debian ships them in
# /usr/src/googletest), else no tests.
find_package(GTest QUIET)
if(NOT GTest_FOUND)
  set(LUMIVANE_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
  if(NOT EXISTS ${LUMIVANE_GOOGLETEST_SOURCE}/CMakeLists.txt)
    message(WARNING "GoogleTest not found: Windows tests are not built")
    return()
  endif()
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(${LUMIVANE_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()

# One executable per test file; each runs as one CTest test, since every
# start under Wine costs about a second.
function(add_windows_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main ${lumivane_system_libs})
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/tests/win)
  add_test(NAME ${name} COMMAND ${name})
  # Tests share the prefix's registry (where Local AppData points) and one
  # display: run them one at a time.
  set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE TIMEOUT 300)
endfunction()

file(GLOB pure_test_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/pure/*.cpp)
add_windows_test(pure_tests_win ${pure_test_sources})
target_link_libraries(pure_tests_win PRIVATE lumivane_core)

# Each subsystem's tests list themselves in tests/win/<subsystem>.cmake.
file(GLOB windows_test_lists CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/win/*.cmake)
foreach(list ${windows_test_lists})
  include(${list})
endforeach()

# Benchmark programs use the test fakes.
include(${CMAKE_CURRENT_SOURCE_DIR}/bench/bench.cmake)
