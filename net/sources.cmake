# Files of this subsystem (see the top-level CMakeLists.txt).
list(APPEND NIMBO_PORTABLE_SOURCES ${CMAKE_CURRENT_LIST_DIR}/text.cpp)
