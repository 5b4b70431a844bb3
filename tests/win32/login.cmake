# The security-code dialog, given the service stand-in's pictures as bytes.
nimbo_wine_test(test_security_code SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_security_code.cpp)
target_compile_definitions(test_security_code PRIVATE
  NIMBO_PICTURE_DIR="${CMAKE_SOURCE_DIR}/tools/service")

# The login against the service stand-in, under Windows-1251, so a Cyrillic password
# goes out as its cp1251 bytes.
nimbo_wine_test(test_login CODEPAGE 1251 WITH_SERVICE LIBS ws2_32 winmm
                SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_login.cpp)
