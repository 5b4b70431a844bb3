# The settings dialog, driven in-process on the test's own message loop. The whole
# suite runs under en_US (code page 1252); the Cyrillic round trip runs again under
# ru_RU (1251). The screen lock keeps other windows from covering the dialog.
foreach(cp 1252 1251)
  nimbo_wine_test(test_settings_dialog_${cp} CODEPAGE ${cp} LOCKS screen
                  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_settings_dialog.cpp)
endforeach()
set_property(TEST test_settings_dialog_1251 APPEND PROPERTY ENVIRONMENT "GTEST_FILTER=*Cyrillic*")

# Opening the dialog while the security-code window is up; the picture comes from the
# service stand-in, started by the same wrapper the security-code tests use.
add_executable(test_settings_dialog_code ${CMAKE_CURRENT_SOURCE_DIR}/test_settings_dialog.cpp)
set_target_properties(test_settings_dialog_code PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/test_settings_dialog_code)
target_link_libraries(test_settings_dialog_code PRIVATE nimbo_core_win gtest gtest_main)
target_compile_definitions(test_settings_dialog_code PRIVATE NIMBO_EXPECT_CP=1252)
add_test(NAME test_settings_dialog_code
         COMMAND ${NIMBO_PYTHON} ${CMAKE_SOURCE_DIR}/tests/e2e/e2e_support.py with-service
                 ${CMAKE_CURRENT_SOURCE_DIR}/wine-run.sh $<TARGET_FILE:test_settings_dialog_code>)
set_tests_properties(test_settings_dialog_code PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300
  RESOURCE_LOCK screen
  ENVIRONMENT "NIMBO_WINE_SESSION_FILE=${NIMBO_WINE_SESSION_FILE};LC_ALL=en_US.UTF-8;GTEST_FILTER=*SecurityCode*")

# The shared window pieces on a plain window of the test's own.
nimbo_wine_test(test_window_util LOCKS screen SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_window_util.cpp)
