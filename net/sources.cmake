# Files of this subsystem (see the top-level CMakeLists.txt).
list(APPEND NIMBO_PORTABLE_SOURCES ${CMAKE_CURRENT_LIST_DIR}/text.cpp)
list(APPEND NIMBO_PORTABLE_SOURCES ${CMAKE_CURRENT_LIST_DIR}/http.cpp)
list(APPEND NIMBO_WIN32_SOURCES ${CMAKE_CURRENT_LIST_DIR}/http_client_win.cpp)
list(APPEND NIMBO_WIN32_SOURCES ${CMAKE_CURRENT_LIST_DIR}/publisher.cpp)
