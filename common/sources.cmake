# Files of this subsystem (see the top-level CMakeLists.txt). The platform calls
# themselves are added per build (platform_win.cpp or platform_posix.cpp).
list(APPEND NIMBO_PORTABLE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/utf8.cpp)
list(APPEND NIMBO_WIN32_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/file_replace_win.cpp
  ${CMAKE_CURRENT_LIST_DIR}/md5_win.cpp)
