# Files of this subsystem (see the top-level CMakeLists.txt).
list(APPEND NIMBO_PORTABLE_SOURCES ${CMAKE_CURRENT_LIST_DIR}/words.cpp)
list(APPEND NIMBO_WIN32_SOURCES ${CMAKE_CURRENT_LIST_DIR}/probe.cpp)
list(APPEND NIMBO_PORTABLE_SOURCES ${CMAKE_CURRENT_LIST_DIR}/composer.cpp)
