# Windows build: gen_nimbo.dll, the player stand-in and the Win32 test programs,
# all 32-bit, with the C++ runtime linked in so only system DLLs are imported.
# Each function and datum in a section of its own, so the DLLs' link can drop what
# nothing calls (--gc-sections below).
add_compile_options(-Wall -Wextra -O2 -g0 -ffunction-sections -fdata-sections)
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0501)
add_link_options(-static-libgcc -static-libstdc++ -static)
# std::string and std::wstring are compiled into the objects that use them rather than
# linked whole from the runtime (see the header).
add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-include$<SEMICOLON>${CMAKE_SOURCE_DIR}/common/string_code.h>)
add_compile_options("$<$<COMPILE_LANGUAGE:CXX>:SHELL:-include ${CMAKE_SOURCE_DIR}/common/win32_imports.h>")
# Programs other than the plugin DLLs link the machine code of the library's objects,
# not the compiler's own form beside it (the DLLs ask for the linker plugin again).
add_link_options(-fno-use-linker-plugin)

include(cmake/jpeg.cmake)

# The service host every request goes to; a test build may point it elsewhere.
set(NIMBO_SERVICE_HOST "vkontakte.ru" CACHE STRING "Host name of the service")
set(NIMBO_SECURE_PORT "443" CACHE STRING "Port of the service's TLS connections")

add_library(nimbo_core_win STATIC ${NIMBO_PORTABLE_SOURCES} ${NIMBO_WIN32_SOURCES} common/platform_win.cpp)
# Built for size. The paths that run often are bound by the system calls they make,
# not by the code between them: the idle tick is a few window queries, the tag read a
# file open and one read (the benchmark measures both against such floors).
# No unwind tables beyond what exceptions need. Small functions are inlined by the
# whole-DLL pass, where it sees every caller, not in each file first (3% smaller). No
# object of the plugin is made on its first use (each is made as the DLL loads, before
# any of its threads), so no first use needs a lock around it. The
# objects carry both machine code and the compiler's own form: the plugin DLLs are
# optimised whole at their link (a tenth smaller), the test programs link the machine
# code as it is.
target_compile_options(nimbo_core_win PRIVATE -Os -fno-early-inlining -fno-threadsafe-statics
                       -fno-asynchronous-unwind-tables -fno-rtti -flto -ffat-lto-objects)
target_include_directories(nimbo_core_win PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_definitions(nimbo_core_win PRIVATE NIMBO_SERVICE_HOST="${NIMBO_SERVICE_HOST}"
                           NIMBO_SECURE_PORT="${NIMBO_SECURE_PORT}")
# A Last.fm API account baked into the build; without one a Last.fm user pastes their own.
set(NIMBO_LASTFM_API_KEY "" CACHE STRING "Last.fm API key the build brings (empty: none)")
set(NIMBO_LASTFM_API_SECRET "" CACHE STRING "its shared secret")
if(NIMBO_LASTFM_API_KEY AND NIMBO_LASTFM_API_SECRET)
  set_property(SOURCE plugin/target_lastfm.cpp APPEND PROPERTY COMPILE_DEFINITIONS
               NIMBO_LASTFM_API_KEY="${NIMBO_LASTFM_API_KEY}"
               NIMBO_LASTFM_API_SECRET="${NIMBO_LASTFM_API_SECRET}")
endif()
target_link_libraries(nimbo_core_win PUBLIC nimbo_jpeg winmm ws2_32 secur32 crypt32 advapi32 shell32 ole32 user32 gdi32 kernel32)

# Both plugin DLLs are optimised whole, in one unit (the linker's parallel split loses
# track of a symbol GCC 12 renames on this target). The whole-DLL pass writes the unwind
# tables itself rather than through the assembler's directives, and told that exceptions
# are on, it leaves out the entries of the functions that cannot throw (about a third).
set(NIMBO_DLL_LTO -Os -fno-early-inlining -fexceptions -fno-asynchronous-unwind-tables
    -fno-dwarf2-cfi-asm -flto -flto-partition=one -fuse-linker-plugin)
add_library(gen_nimbo SHARED plugin/export.cpp plugin/lean_runtime.cpp plugin/gen_nimbo.def)
target_compile_options(gen_nimbo PRIVATE ${NIMBO_DLL_LTO})
set_target_properties(gen_nimbo PROPERTIES PREFIX "" OUTPUT_NAME gen_nimbo)
target_link_libraries(gen_nimbo PRIVATE nimbo_core_win)
# What both plugin DLLs link with: unused sections dropped, and the runtime's
# verbose terminate handler (which prints a demangled type name to a stderr Winamp
# does not have, and pulls in the demangler and printf) replaced by plain abort.
set(NIMBO_DLL_LINK_OPTIONS -Wl,--enable-stdcall-fixup -Wl,--gc-sections
    -Wl,--defsym=__ZN9__gnu_cxx27__verbose_terminate_handlerEv=_abort)
# The shipped DLL carries no symbol table: half the size, nothing lost at run time.
target_link_options(gen_nimbo PRIVATE ${NIMBO_DLL_LINK_OPTIONS} ${NIMBO_DLL_LTO} -s)
# The unwind tables the whole-DLL pass writes move each row on by a 5-byte step, at
# every push and pop, where the unwinder only ever reads the rows in force at a call:
# rewritten after the link to say just that, in the shortest steps (the script checks
# the rows at every call against the linked ones; 33 KB less).
set(NIMBO_COMPACT_EH_FRAME python3 ${CMAKE_SOURCE_DIR}/cmake/compact_eh_frame.py ${CMAKE_OBJDUMP})
add_custom_command(TARGET gen_nimbo POST_BUILD
                   COMMAND ${NIMBO_COMPACT_EH_FRAME} $<TARGET_FILE:gen_nimbo> VERBATIM)
set_property(TARGET gen_nimbo APPEND PROPERTY LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/compact_eh_frame.py)

# A test build that talks to the service stand-in directly: the host name resolves
# to the loopback address. Its own service_host object wins over the library's.
set(NIMBO_LOOPBACK_SERVICE_HOST "localhost:18080" CACHE STRING "Service host of the test build")
set(NIMBO_LOOPBACK_SECURE_PORT "18443" CACHE STRING "TLS port of the test build's service")
add_library(gen_nimbo_loopback_host OBJECT net/service_host.cpp)
target_compile_definitions(gen_nimbo_loopback_host PRIVATE NIMBO_SERVICE_HOST="${NIMBO_LOOPBACK_SERVICE_HOST}"
                           NIMBO_SECURE_PORT="${NIMBO_LOOPBACK_SECURE_PORT}")
target_include_directories(gen_nimbo_loopback_host PRIVATE ${CMAKE_SOURCE_DIR})
add_library(gen_nimbo_loopback SHARED plugin/export.cpp plugin/lean_runtime.cpp plugin/gen_nimbo.def
            $<TARGET_OBJECTS:gen_nimbo_loopback_host>)
set_target_properties(gen_nimbo_loopback PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/loopback
                      ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/loopback
                      OUTPUT_NAME gen_nimbo)
target_link_libraries(gen_nimbo_loopback PRIVATE nimbo_core_win)
target_compile_options(gen_nimbo_loopback PRIVATE ${NIMBO_DLL_LTO})
target_link_options(gen_nimbo_loopback PRIVATE ${NIMBO_DLL_LINK_OPTIONS} ${NIMBO_DLL_LTO})
# The same rewrite; the DLL as linked is kept beside it for the test that compares both
# tables (this build keeps its symbols, so objdump finds the section by its name).
add_custom_command(TARGET gen_nimbo_loopback POST_BUILD
                   COMMAND ${NIMBO_COMPACT_EH_FRAME} $<TARGET_FILE:gen_nimbo_loopback>
                           $<TARGET_FILE_DIR:gen_nimbo_loopback>/gen_nimbo.linked.dll VERBATIM)
set_property(TARGET gen_nimbo_loopback APPEND PROPERTY LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/compact_eh_frame.py)

add_subdirectory(tools/player)
add_subdirectory(tools/preview)
add_subdirectory(tools/installer)
add_subdirectory(tests/win32)
add_subdirectory(tools/bench)
