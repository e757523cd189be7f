add_windows_test(settings_store_tests
  tests/win/settings_store_tests.cpp
  tests/win/scoped_local_app_data.cpp
  settings/settings_store.cpp
  app/app_state.cpp)
target_link_libraries(settings_store_tests PRIVATE lumivane_core psapi)

add_executable(settings_save_loop tests/win/settings_save_loop.cpp)
target_link_libraries(settings_save_loop PRIVATE lumivane_core)
target_include_directories(settings_save_loop PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests/win)
target_sources(settings_save_loop PRIVATE settings/settings_store.cpp app/app_state.cpp tests/win/refresh_seam.cpp)
if(MINGW)
  target_link_options(settings_save_loop PRIVATE -municode)
endif()
target_link_libraries(settings_save_loop PRIVATE ${lumivane_system_libs})

add_windows_test(settings_crash_tests tests/win/settings_crash_tests.cpp tests/win/scoped_local_app_data.cpp)
target_link_libraries(settings_crash_tests PRIVATE lumivane_core)
target_sources(settings_crash_tests PRIVATE settings/settings_store.cpp app/app_state.cpp tests/win/refresh_seam.cpp)
add_dependencies(settings_crash_tests settings_save_loop)
