# The Winsock HTTP client against a loopback server inside the test program.
nimbo_wine_test(test_http_client SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_http_client.cpp LIBS ws2_32)
