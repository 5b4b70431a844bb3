# The setup under Wine, in a scratch prefix and on a screen of its own (so it needs
# none of the suite's): install, refusals, the plugin it installed in the player stand-in, uninstall.
add_test(NAME installer COMMAND ${NIMBO_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/test_installer.py)
set_tests_properties(installer PROPERTIES TIMEOUT 300 ENVIRONMENT
  "NIMBO_SETUP_EXE=${NIMBO_SETUP_EXE};NIMBO_PLAYER_EXE=$<TARGET_FILE:nimbo_player>;NIMBO_PLUGIN_DLL=$<TARGET_FILE:gen_nimbo>;LC_ALL=en_US.UTF-8")
