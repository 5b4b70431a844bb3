#!/usr/bin/env bash
# The tree keeps the root's .clang-format: every C++ file of the product, its tests and
# its tools, as clang-format would write it.
set -euo pipefail
root=$1
cd "$root"
find common core net probe tags ui plugin tests tools \( -name '*.cpp' -o -name '*.h' \) -print0 |
  xargs -0 clang-format --dry-run --Werror
echo "format: ok"
