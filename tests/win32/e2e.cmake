# End to end: the whole plugin inside the player stand-in against the service
# stand-in (Python tests, one ctest test per file), and settings changed while the
# plugin runs (a Win32 program around a service stand-in). All of them start a
# "Winamp v1.x" window; the files that use the loopback build's fixed port take its lock.
set(NIMBO_E2E_ENV
  "NIMBO_WINE_SESSION_FILE=${NIMBO_WINE_SESSION_FILE}"
  "NIMBO_PLAYER_EXE=$<TARGET_FILE:nimbo_player>"
  "NIMBO_PLUGIN_DLL=$<TARGET_FILE:gen_nimbo>"
  "NIMBO_LOOPBACK_HOST=${NIMBO_LOOPBACK_SERVICE_HOST}"
  "NIMBO_LOOPBACK_SECURE_PORT=${NIMBO_LOOPBACK_SECURE_PORT}"
  "NIMBO_LOOPBACK_DLL=$<TARGET_FILE:gen_nimbo_loopback>"
  "NIMBO_TESTDATA_DIR=${NIMBO_TESTDATA_DIR}"
  "LC_ALL=en_US.UTF-8")

file(GLOB NIMBO_E2E_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/test_publish_*.py
     ${CMAKE_SOURCE_DIR}/tests/e2e/test_settings_*.py)
foreach(script ${NIMBO_E2E_TESTS})
  get_filename_component(name ${script} NAME_WE)
  nimbo_wine_session_test(e2e_${name} ${NIMBO_PYTHON} ${script})
  set_tests_properties(e2e_${name} PROPERTIES TIMEOUT 600 ENVIRONMENT "${NIMBO_E2E_ENV}")
  file(READ ${script} text)
  if(text MATCHES "LOOPBACK_(PORT|HOST|TLS_PORT)")
    set_tests_properties(e2e_${name} PROPERTIES RESOURCE_LOCK loopback_service_port)
  endif()
endforeach()

nimbo_wine_test(test_publish_runtime TEST_NAME e2e_test_publish_runtime WITH_SERVICE
                ENV ${NIMBO_E2E_ENV}
                SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_publish_runtime.cpp)
target_compile_definitions(test_publish_runtime PRIVATE NIMBO_PLAYER_EXE="$<TARGET_FILE:nimbo_player>")
add_dependencies(test_publish_runtime nimbo_player)

# A short soak run (the long one is tools/soak.sh --minutes N): random changes and
# service faults, both windows opened and closed, resources flat, the ini right.
nimbo_wine_session_test(e2e_soak_short ${NIMBO_PYTHON} ${CMAKE_SOURCE_DIR}/tools/soak.py
                        --seconds 40 --report-every 4)
set_tests_properties(e2e_soak_short PROPERTIES TIMEOUT 180 ENVIRONMENT "${NIMBO_E2E_ENV}")

# The README's first command past its bootstrap and build: the demo, end to end, in the
# test's Wine session (the shipped DLL behind the player's proxy setting and a stand-in
# on a free port: no fixed port, so no lock). Its pictures go into the build tree. No
# secret of the demo's settings may show in what it prints.
nimbo_wine_session_test(e2e_demo ${NIMBO_PYTHON} ${CMAKE_SOURCE_DIR}/tools/demo.py
                        --build ${CMAKE_BINARY_DIR} --out ${CMAKE_CURRENT_BINARY_DIR}/demo)
set_tests_properties(e2e_demo PROPERTIES TIMEOUT 400
  ENVIRONMENT "NIMBO_WINE_SESSION_FILE=${NIMBO_WINE_SESSION_FILE};LC_ALL=en_US.UTF-8"
  FAIL_REGULAR_EXPRESSION "nimbo-session-key-0123456789abcd|fedcba9876543210fedcba9876543210|lb-test-token")
