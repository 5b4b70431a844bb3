# Native build: the portable core under AddressSanitizer and UBSan, its unit tests and fuzzers.
find_package(GTest REQUIRED)

set(NIMBO_SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
add_compile_options(-Wall -Wextra -g -O1 ${NIMBO_SANITIZE})
add_link_options(${NIMBO_SANITIZE})

add_library(nimbo_core STATIC ${NIMBO_PORTABLE_SOURCES} common/platform_posix.cpp)
target_include_directories(nimbo_core PUBLIC ${CMAKE_SOURCE_DIR})
# Debian's libjpeg-dev decodes the security-code picture in the native build.
find_package(JPEG REQUIRED)
target_link_libraries(nimbo_core PUBLIC JPEG::JPEG)

add_subdirectory(tests/unit)
add_subdirectory(tests/fuzz)

# The service stand-in is Python; its own tests run with the native suite.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME service_standin COMMAND ${NIMBO_PYTHON} ${CMAKE_SOURCE_DIR}/tests/e2e/test_service_standin.py)

# Every #include in the product points down the layers (tests/check_layers.py).
add_test(NAME format COMMAND ${CMAKE_SOURCE_DIR}/tests/check_format.sh ${CMAKE_SOURCE_DIR})
add_test(NAME include_layers COMMAND ${NIMBO_PYTHON} ${CMAKE_SOURCE_DIR}/tests/check_layers.py ${CMAKE_SOURCE_DIR})

add_subdirectory(tools/preview)
add_subdirectory(tools/bench)
