# The security-code dialog and the login, each a Win32 program run under a wrapper
# that starts the service stand-in and hands its port over in NIMBO_SERVICE_PORT.
foreach(name test_security_code test_login)
  add_executable(${name} ${CMAKE_CURRENT_LIST_DIR}/${name}.cpp)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/${name})
  target_link_libraries(${name} PRIVATE nimbo_core_win gtest gtest_main ws2_32 winmm)
  add_test(NAME ${name}
           COMMAND ${NIMBO_PYTHON} ${CMAKE_SOURCE_DIR}/tests/e2e/e2e_support.py with-service
                   ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh $<TARGET_FILE:${name}>)
endforeach()
# The login runs under Windows-1251, so a Cyrillic password goes out as its cp1251 bytes.
set_tests_properties(test_security_code PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300
  ENVIRONMENT "NIMBO_WINE_SESSION_FILE=${NIMBO_WINE_SESSION_FILE};LC_ALL=en_US.UTF-8")
set_tests_properties(test_login PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300
  ENVIRONMENT "NIMBO_WINE_SESSION_FILE=${NIMBO_WINE_SESSION_FILE};LC_ALL=ru_RU.UTF-8")
