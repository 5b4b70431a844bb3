# libjpeg-turbo from Debian's source package, built static for mingw. The source is
# fetched once with apt-get source (needs the deb-src entry the bootstrap adds).
include(ExternalProject)
set(NIMBO_JPEG_SRC ${CMAKE_BINARY_DIR}/_deps/jpeg-src)
if(NOT EXISTS ${NIMBO_JPEG_SRC}/CMakeLists.txt)
  set(fetch ${CMAKE_BINARY_DIR}/_deps/jpeg-fetch)
  file(REMOVE_RECURSE ${fetch})
  file(MAKE_DIRECTORY ${fetch})
  execute_process(COMMAND apt-get source -qq libjpeg-turbo WORKING_DIRECTORY ${fetch}
                  RESULT_VARIABLE rc OUTPUT_QUIET)
  file(GLOB unpacked LIST_DIRECTORIES true ${fetch}/libjpeg-turbo-*)
  list(FILTER unpacked EXCLUDE REGEX "\\.(tar|dsc|gz|xz|bz2)")
  if(NOT rc EQUAL 0 OR NOT unpacked)
    message(FATAL_ERROR "apt-get source libjpeg-turbo failed; run tools/bootstrap.sh first")
  endif()
  file(RENAME ${unpacked} ${NIMBO_JPEG_SRC})
  file(REMOVE_RECURSE ${fetch})
endif()
# The plugin decodes with the default parameters only (accurate integer IDCT, full size,
# fancy upsampling, no colour quantising), so the optional code for the other choices
# is left out. Block smoothing only ever changes a progressive picture whose later
# scans are missing: the whole file is read before the first row comes out. Rewritten only when it changes, so a configure does not rebuild it.
set(jmorecfg ${NIMBO_JPEG_SRC}/jmorecfg.h)
file(READ ${jmorecfg} original)
set(trimmed "${original}")
foreach(feature DCT_IFAST DCT_FLOAT IDCT_SCALING UPSAMPLE_MERGING QUANT_1PASS QUANT_2PASS
                BLOCK_SMOOTHING)
  string(REGEX REPLACE "#define ${feature}_SUPPORTED" "#undef  ${feature}_SUPPORTED"
         trimmed "${trimmed}")
endforeach()
if(NOT trimmed STREQUAL original)
  file(WRITE ${jmorecfg} "${trimmed}")
endif()
# The plugin asks for libjpeg's default output, plain RGB (or grey, or CMYK for such
# files): the colour converters for the other RGB layouts and for RGB565 are never
# chosen, so their choice is fixed here and the compiler drops them. A text that no
# longer matches (another source version) leaves the file as it is.
set(jdcolor ${NIMBO_JPEG_SRC}/jdcolor.c)
file(READ ${jdcolor} original)
string(REPLACE "int num_rows)\n{\n  switch (cinfo->out_color_space) {"
               "int num_rows)\n{\n  switch (JCS_RGB) {" trimmed "${original}")
string(REPLACE "  case JCS_RGB565:\n    cinfo->out_color_components = 3;\n"
               "  case JCS_RGB565:\n    ERREXIT(cinfo, JERR_CONVERSION_NOTIMPL);\n    break;\n"
               trimmed "${trimmed}")
if(NOT trimmed STREQUAL original)
  file(WRITE ${jdcolor} "${trimmed}")
endif()
# Built for size: the picture is decoded once per login with a security code. No
# unwind tables (only C frames, and the error exit is a longjmp), no arithmetic
# decoding (no web server sends it), and msvcrt's own printf/scanf family instead of
# mingw's much larger one, for the library's rare message texts.
set(NIMBO_JPEG_C_FLAGS "-ffunction-sections -fdata-sections -fno-asynchronous-unwind-tables -D__USE_MINGW_ANSI_STDIO=0")
# The sub-build runs in its own folder: hand it the toolchain by absolute path.
get_filename_component(NIMBO_TOOLCHAIN_ABS "${CMAKE_TOOLCHAIN_FILE}" ABSOLUTE BASE_DIR "${CMAKE_SOURCE_DIR}")
set(NIMBO_JPEG_PREFIX ${CMAKE_BINARY_DIR}/_deps/jpeg)
ExternalProject_Add(jpeg_build
  SOURCE_DIR ${NIMBO_JPEG_SRC}
  BINARY_DIR ${CMAKE_BINARY_DIR}/_deps/jpeg-build
  INSTALL_DIR ${NIMBO_JPEG_PREFIX}
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${NIMBO_TOOLCHAIN_ABS} -DCMAKE_BUILD_TYPE=MinSizeRel
             "-DCMAKE_C_FLAGS=${NIMBO_JPEG_C_FLAGS}"
             -DCMAKE_INSTALL_PREFIX=<INSTALL_DIR> -DENABLE_SHARED=OFF -DENABLE_STATIC=ON
             -DWITH_TURBOJPEG=OFF -DWITH_SIMD=OFF -DWITH_JAVA=OFF -DWITH_ARITH_DEC=OFF
             -DWITH_ARITH_ENC=OFF -DCMAKE_CROSSCOMPILING_EMULATOR=
  BUILD_BYPRODUCTS ${NIMBO_JPEG_PREFIX}/lib/libjpeg.a
  UPDATE_COMMAND "" PATCH_COMMAND "")
file(MAKE_DIRECTORY ${NIMBO_JPEG_PREFIX}/include)
add_library(nimbo_jpeg STATIC IMPORTED GLOBAL)
set_target_properties(nimbo_jpeg PROPERTIES IMPORTED_LOCATION ${NIMBO_JPEG_PREFIX}/lib/libjpeg.a
                      INTERFACE_INCLUDE_DIRECTORIES ${NIMBO_JPEG_PREFIX}/include)
add_dependencies(nimbo_jpeg jpeg_build)
