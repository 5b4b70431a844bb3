#!/usr/bin/env bash
# Builds both trees and runs every test: the native suite (unit tests under
# ASan/UBSan, fuzzers, the service stand-in's tests) and the Windows suite under
# Wine (Win32 tests and the plugin end to end in the stand-ins).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/bootstrap.sh

cmake -S . -B build/host -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      ${NIMBO_FUZZ_SECONDS:+-DNIMBO_FUZZ_SECONDS=$NIMBO_FUZZ_SECONDS}
cmake --build build/host
cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw32.cmake
cmake --build build/win32

status=0
(cd build/host && ctest --output-on-failure -j2) || status=1
(cd build/win32 && ctest --output-on-failure) || status=1
exit $status
