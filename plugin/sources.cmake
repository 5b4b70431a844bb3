# Files of this subsystem (see the top-level CMakeLists.txt).
list(APPEND NIMBO_WIN32_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/lifecycle.cpp
  ${CMAKE_CURRENT_LIST_DIR}/messages.cpp
  ${CMAKE_CURRENT_LIST_DIR}/play_counter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/target_lastfm.cpp
  ${CMAKE_CURRENT_LIST_DIR}/target_listenbrainz.cpp
  ${CMAKE_CURRENT_LIST_DIR}/target_site.cpp
  ${CMAKE_CURRENT_LIST_DIR}/target_worker.cpp
  ${CMAKE_CURRENT_LIST_DIR}/targets.cpp
  ${CMAKE_CURRENT_LIST_DIR}/update_cycle.cpp
  ${CMAKE_CURRENT_LIST_DIR}/winamp_menu.cpp)
