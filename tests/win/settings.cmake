add_windows_test(settings_store_tests
  tests/win/settings_store_tests.cpp
  tests/win/scoped_local_app_data.cpp
  settings/settings_store.cpp
  app/app_state.cpp)
target_link_libraries(settings_store_tests PRIVATE lumivane_core psapi)
