#!/usr/bin/env bash
# Builds the release package dist/nimbo-<version>.zip: gen_nimbo.dll, nimbo-preview.exe
# and the user guide as a Windows text file. The version is the plugin's own
# (common/version.h), spaces turned into "-".
#   bash tools/package.sh [--no-build] [--out DIR] [--build BUILD_DIR]
# --no-build packages what the Windows build folder holds (the test suite does this).
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/win32 out=dist compile=1
while [ $# -gt 0 ]; do
  case "$1" in
    --no-build) compile=0 ;;
    --out) out=$2; shift ;;
    --build) build=$2; shift ;;
    *) echo "usage: $0 [--no-build] [--out DIR] [--build BUILD_DIR]" >&2; exit 2 ;;
  esac
  shift
done

version=$(sed -n 's/^#define NIMBO_VERSION "\(.*\)"$/\1/p' common/version.h)
[ -n "$version" ] || { echo "package: no NIMBO_VERSION in common/version.h" >&2; exit 1; }

if [ "$compile" = 1 ]; then
  bash tools/bootstrap.sh
  cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw32.cmake"
  cmake --build "$build" --target gen_nimbo nimbo_preview
fi

dll="$build/gen_nimbo.dll"
preview="$build/tools/preview/nimbo-preview.exe"
for f in "$dll" "$preview"; do
  [ -f "$f" ] || { echo "package: $f is missing; build the Windows tree first" >&2; exit 1; }
done

mkdir -p "$out"
zip="$out/nimbo-${version// /-}.zip"
python3 - "$zip" "$dll" "$preview" docs/USER-GUIDE.md <<'PY'
import re, sys, zipfile
zip_path, dll, preview, guide = sys.argv[1:]
text = open(guide, encoding="utf-8").read()
# Pictures cannot show in a text file: their captions stand in for them.
text = re.sub(r"!\[([^\]]*)\]\([^)]*\)", r"[picture: \1]", text)
text = text.replace("\r\n", "\n").replace("\n", "\r\n")
with zipfile.ZipFile(zip_path, "w", zipfile.ZIP_DEFLATED) as z:
    z.write(dll, "gen_nimbo.dll")
    z.write(preview, "nimbo-preview.exe")
    # The byte-order mark lets older Notepad versions take the text as UTF-8.
    z.writestr("USER-GUIDE.txt", ("\ufeff" + text).encode("utf-8"))
PY
echo "package: $zip"
