# Files of this subsystem (see the top-level CMakeLists.txt).
list(APPEND NIMBO_PORTABLE_SOURCES ${CMAKE_CURRENT_LIST_DIR}/jpeg_image.cpp)
list(APPEND NIMBO_WIN32_SOURCES ${CMAKE_CURRENT_LIST_DIR}/link_label.cpp)
list(APPEND NIMBO_WIN32_SOURCES ${CMAKE_CURRENT_LIST_DIR}/security_code_dialog.cpp)
list(APPEND NIMBO_WIN32_SOURCES ${CMAKE_CURRENT_LIST_DIR}/settings_dialog.cpp)
list(APPEND NIMBO_WIN32_SOURCES ${CMAKE_CURRENT_LIST_DIR}/window_util.cpp)
list(APPEND NIMBO_WIN32_SOURCES ${CMAKE_CURRENT_LIST_DIR}/control_table.cpp)
list(APPEND NIMBO_WIN32_SOURCES ${CMAKE_CURRENT_LIST_DIR}/options_dialog.cpp)
