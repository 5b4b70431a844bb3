# The security-code dialog, given the service stand-in's pictures as bytes.
nimbo_wine_test(test_security_code SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_security_code.cpp)
target_compile_definitions(test_security_code PRIVATE
  NIMBO_PICTURE_DIR="${CMAKE_SOURCE_DIR}/tools/service")

# The login, a Win32 program run under a wrapper that starts the service stand-in and
# hands its port over in NIMBO_SERVICE_PORT.
add_executable(test_login ${CMAKE_CURRENT_LIST_DIR}/test_login.cpp)
set_target_properties(test_login PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/test_login)
target_link_libraries(test_login PRIVATE nimbo_core_win gtest gtest_main ws2_32 winmm)
add_test(NAME test_login
         COMMAND ${NIMBO_PYTHON} ${CMAKE_SOURCE_DIR}/tests/e2e/e2e_support.py with-service
                 ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh $<TARGET_FILE:test_login>)
# The login runs under Windows-1251, so a Cyrillic password goes out as its cp1251 bytes.
set_tests_properties(test_login PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300
  ENVIRONMENT "NIMBO_WINE_SESSION_FILE=${NIMBO_WINE_SESSION_FILE};LC_ALL=ru_RU.UTF-8")
