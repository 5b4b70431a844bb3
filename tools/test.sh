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

# The native suite (mostly the fuzzers' CPU) runs beside the Windows one, whose end-to-end
# tests mostly wait on Wine, at the lowest priority, so it takes only the time they leave
# and their timings stay as they would be alone. Its report follows the Windows one.
native_log=build/host/native-tests.log
(cd build/host && nice -n 19 ctest --output-on-failure -j2 >native-tests.log 2>&1) &
native=$!
status=0
(cd build/win32 && ctest --output-on-failure -j3) || status=1
wait $native || status=1
cat "$native_log"
exit $status
