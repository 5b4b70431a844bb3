# The player stand-in: raw window queries and its host side, from a Win32 test
# program and from the Python driver. Every test that starts a stand-in has a Wine
# session to itself, because the plugin finds "the" window by its class alone.
add_library(player_fake_plugin SHARED ${CMAKE_CURRENT_SOURCE_DIR}/player_fake_plugin.cpp)
set_target_properties(player_fake_plugin PROPERTIES PREFIX "")
target_include_directories(player_fake_plugin PRIVATE ${CMAKE_SOURCE_DIR})

set(NIMBO_PLAYER_PATHS
  NIMBO_PLAYER_EXE="$<TARGET_FILE:nimbo_player>"
  NIMBO_PLUGIN_DLL="$<TARGET_FILE:gen_nimbo>"
  NIMBO_FAKE_PLUGIN_DLL="$<TARGET_FILE:player_fake_plugin>")

nimbo_wine_test(test_player_standin
                SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_player_standin.cpp)
add_dependencies(test_player_standin nimbo_player gen_nimbo player_fake_plugin)
target_compile_definitions(test_player_standin PRIVATE ${NIMBO_PLAYER_PATHS})

nimbo_wine_session_test(test_player_driver ${NIMBO_PYTHON}
                        ${CMAKE_SOURCE_DIR}/tests/e2e/test_player_driver.py)
set_tests_properties(test_player_driver PROPERTIES TIMEOUT 180
  ENVIRONMENT "NIMBO_WINE_SESSION_FILE=${NIMBO_WINE_SESSION_FILE};LC_ALL=en_US.UTF-8;NIMBO_PLAYER_EXE=$<TARGET_FILE:nimbo_player>;NIMBO_PLUGIN_DLL=$<TARGET_FILE:gen_nimbo>")
