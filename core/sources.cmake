# Files of this subsystem (see the top-level CMakeLists.txt).
list(APPEND NIMBO_PORTABLE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/accounts.cpp
  ${CMAKE_CURRENT_LIST_DIR}/activity_log.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ini_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/listen_lane.cpp
  ${CMAKE_CURRENT_LIST_DIR}/listen_queue.cpp
  ${CMAKE_CURRENT_LIST_DIR}/listen_rule.cpp
  ${CMAKE_CURRENT_LIST_DIR}/private_tracks.cpp
  ${CMAKE_CURRENT_LIST_DIR}/publish_schedule.cpp
  ${CMAKE_CURRENT_LIST_DIR}/server_address.cpp
  ${CMAKE_CURRENT_LIST_DIR}/settings_codec.cpp
  ${CMAKE_CURRENT_LIST_DIR}/settings_keys.cpp
  ${CMAKE_CURRENT_LIST_DIR}/settings_merge.cpp
  ${CMAKE_CURRENT_LIST_DIR}/track_ids.cpp)
list(APPEND NIMBO_WIN32_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/activity_log_win.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ini_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ini_location.cpp
  ${CMAKE_CURRENT_LIST_DIR}/listen_lane_win.cpp
  ${CMAKE_CURRENT_LIST_DIR}/listen_queue_win.cpp
  ${CMAKE_CURRENT_LIST_DIR}/settings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/state.cpp
  ${CMAKE_CURRENT_LIST_DIR}/winamp_window.cpp)
