# Files of this subsystem (see the top-level CMakeLists.txt).
list(APPEND NIMBO_PORTABLE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/id3v1.cpp
  ${CMAKE_CURRENT_LIST_DIR}/id3v2.cpp
  ${CMAKE_CURRENT_LIST_DIR}/id3v2_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/track_tags.cpp)
