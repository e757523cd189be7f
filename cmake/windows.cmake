# Windows: the program, and its tests (run under Wine when cross-compiling).

enable_language(RC)
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)

if(MINGW)
  # A static runtime: the exe then needs only system DLLs.
  add_link_options(-static -static-libgcc -static-libstdc++)
  # No link time in the PE header: two builds of one commit give the same
  # bytes, so a release package can be rebuilt and compared.
  add_link_options(-Wl,--no-insert-timestamp)
  # Sections at page boundaries in the file: Wine then maps the image from
  # the file, and only the pages the program touches become resident. With
  # the default 512-byte alignment it copies the whole image (resources,
  # debug sections and all) into private memory, about 1 MB for Lumivane.exe.
  add_link_options(-Wl,--file-alignment=4096)
  # A Release exe without symbols: the runtime's static libraries bring
  # DWARF sections (.debug_*) that no Windows debugger reads, about 1 MB
  # of the exe. MSVC needs nothing here: its debug data goes to a
  # separate PDB.
  add_link_options($<$<CONFIG:Release>:-s>)
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

# Entry points wWinMain and wmain take UTF-16: MSVC finds them by itself,
# mingw-w64 has to be told.
function(use_wide_entry_point target)
  if(MINGW)
    target_link_options(${target} PRIVATE -municode)
  endif()
endfunction()

add_executable(Lumivane WIN32 app/main.cpp app/lumivane.rc)
target_link_libraries(Lumivane PRIVATE lumivane_app)
use_wide_entry_point(Lumivane)

if(NOT BUILD_TESTING)
  return()
endif()

# GoogleTest: an installed package, else its sources (Debian ships them in
# /usr/src/googletest). Without either the configure fails: a build that
# quietly defined no test would let `ctest` pass on nothing.
find_package(GTest QUIET)
if(NOT GTest_FOUND)
  set(LUMIVANE_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
  if(NOT EXISTS ${LUMIVANE_GOOGLETEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest not found: install it (find_package(GTest)), give its sources with "
                        "-DLUMIVANE_GOOGLETEST_SOURCE=<path>, or build without tests (-DBUILD_TESTING=OFF)")
  endif()
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(${LUMIVANE_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()

# One executable per test file; each runs as one CTest test, since every
# start under Wine costs about a second:
#
#   add_windows_test(NAME SOURCE... [ARGS ARG...] [LABELS LABEL...])
#
# ARGS go to the test's command line (a --gtest_filter, say). LABELS say
# where a test can run: `wine` for a test that needs Wine (a Windows
# developer runs `ctest -LE wine`), `windows-only` for one that only real
# Windows can run.
function(add_windows_test name)
  cmake_parse_arguments(PARSE_ARGV 1 test "" "" "ARGS;LABELS")
  add_executable(${name} ${test_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/tests/win)
  add_windows_test_run(${name} ${name} ARGS ${test_ARGS} LABELS ${test_LABELS})
endfunction()

# add_windows_test_run(NAME EXECUTABLE [ARGS ARG...] [LABELS LABEL...]): one
# more CTest test of an executable that add_windows_test made.
function(add_windows_test_run name executable)
  cmake_parse_arguments(PARSE_ARGV 2 run "" "" "ARGS;LABELS")
  add_test(NAME ${name} COMMAND ${executable} ${run_ARGS})
  # Tests share the prefix's registry and one display: run them one at a
  # time.
  set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE TIMEOUT 300)
  if(run_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${run_LABELS}")
  endif()
endfunction()

# The pure logic's tests, built for Windows too: the runtime's own wide
# character functions must agree with Linux's.
add_windows_test(pure_tests_win ${lumivane_pure_tests})
target_link_libraries(pure_tests_win PRIVATE lumivane_settings lumivane_watch lumivane_explorer lumivane_app lumivane_state)

# Each subsystem's tests, and the test support they share.
foreach(list app explorer settings watch e2e)
  include(${CMAKE_CURRENT_SOURCE_DIR}/tests/win/${list}.cmake)
endforeach()

# Benchmark programs use the test fakes.
include(${CMAKE_CURRENT_SOURCE_DIR}/bench/bench.cmake)
