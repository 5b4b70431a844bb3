# The settings dialog, driven in-process on the test's own message loop. The whole
# suite runs under en_US (code page 1252); the Cyrillic round trip runs again under
# ru_RU (1251). Each runs in a session of its own, so no other window covers the dialog.
foreach(cp 1252 1251)
  nimbo_wine_test(test_settings_dialog_${cp} CODEPAGE ${cp}
                  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_settings_dialog.cpp)
endforeach()
set_property(TEST test_settings_dialog_1251 APPEND PROPERTY ENVIRONMENT "GTEST_FILTER=*Cyrillic*")
# The security-code case needs the service stand-in: test_settings_dialog_code runs it.
set_property(TEST test_settings_dialog_1252 APPEND PROPERTY ENVIRONMENT "GTEST_FILTER=-*SecurityCode*")

# Opening the dialog while the security-code window is up; the picture comes from the
# service stand-in.
nimbo_wine_test(test_settings_dialog_code CODEPAGE 1252 WITH_SERVICE
                ENV GTEST_FILTER=*SecurityCode* SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_settings_dialog.cpp)

# The shared window pieces on a plain window of the test's own.
nimbo_wine_test(test_window_util SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_window_util.cpp)
