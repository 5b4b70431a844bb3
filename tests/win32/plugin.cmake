# The plugin shell: settings store under single- and double-byte code pages,
# lifecycle and the tick.
foreach(cp 1251 1252 932)
  nimbo_wine_test(test_settings_store_${cp} CODEPAGE ${cp}
                  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_settings_store.cpp)
endforeach()
# A window of the probe's test answers with the stand-in's own file-info code. Under the
# double-byte 932 only the 8-bit cut at the bound runs.
foreach(cp 1251 1252 932)
  set(only "")
  if(cp EQUAL 932)
    set(only ENV GTEST_FILTER=*WholeCharacter)
  endif()
  nimbo_wine_test(test_probe_${cp} CODEPAGE ${cp} ${only}
                  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_probe.cpp
                          ${CMAKE_SOURCE_DIR}/tools/player/file_info.cpp)
  target_compile_definitions(test_probe_${cp} PRIVATE NIMBO_PLAYER_EXE="$<TARGET_FILE:nimbo_player>")
  add_dependencies(test_probe_${cp} nimbo_player)
endforeach()

nimbo_wine_test(test_lifecycle SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_lifecycle.cpp
                ${CMAKE_SOURCE_DIR}/plugin/export.cpp)
# One case loads the shipped library, quits it and unloads it.
target_compile_definitions(test_lifecycle PRIVATE NIMBO_PLUGIN_DLL="$<TARGET_FILE:gen_nimbo>")
add_dependencies(test_lifecycle gen_nimbo)

add_test(NAME dll_tables COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/check_dll_tables.sh $<TARGET_FILE:gen_nimbo>)

add_test(NAME package COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/check_package.sh ${CMAKE_BINARY_DIR})

# The DLL's unwind table is rewritten after the link (cmake/compact_eh_frame.py): read
# through objdump it must say at every call what the linked one says, and exceptions
# must still find their handlers through frames whose table was written and rewritten
# the same way.
nimbo_wine_test(test_unwind SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_unwind.cpp)
set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/test_unwind.cpp PROPERTIES COMPILE_OPTIONS
                            "-Os;-fno-function-sections;-fexceptions;-fno-asynchronous-unwind-tables;-fno-dwarf2-cfi-asm")
add_custom_command(TARGET test_unwind POST_BUILD
                   COMMAND ${NIMBO_COMPACT_EH_FRAME} $<TARGET_FILE:test_unwind>
                           $<TARGET_FILE_DIR:test_unwind>/test_unwind.linked.exe VERBATIM)
set_property(TARGET test_unwind APPEND PROPERTY LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/compact_eh_frame.py)
add_test(NAME eh_frame COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/check_eh_frame.py ${CMAKE_OBJDUMP}
         $<TARGET_FILE_DIR:gen_nimbo_loopback>/gen_nimbo.linked.dll $<TARGET_FILE:gen_nimbo_loopback>
         $<TARGET_FILE_DIR:test_unwind>/test_unwind.linked.exe $<TARGET_FILE:test_unwind>)
