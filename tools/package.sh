#!/usr/bin/env bash
# Builds the release packages: dist/nimbo-<version>-setup.exe (tools/installer/nimbo.nsi,
# made with makensis) and, for hand installs, dist/nimbo-<version>.zip; both hold
# gen_nimbo.dll, nimbo-preview.exe and the user guide as a Windows text file. The
# version is the plugin's own (common/version.h), spaces turned into "-".
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

# No setup without makensis: say so instead of shipping the zip alone.
command -v makensis >/dev/null || { echo "package: makensis is missing (Debian package nsis; tools/bootstrap.sh installs it)" >&2; exit 1; }

mkdir -p "$out"
zip="$out/nimbo-${version// /-}.zip"
setup="$out/nimbo-${version// /-}-setup.exe"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$dll" "$preview" "$stage/"
python3 - "$zip" "$stage" docs/USER-GUIDE.md <<'PY'
import os, re, sys, zipfile
zip_path, stage, guide = sys.argv[1:]
text = open(guide, encoding="utf-8").read()
# Pictures cannot show in a text file: their captions stand in for them.
text = re.sub(r"!\[([^\]]*)\]\([^)]*\)", r"[picture: \1]", text)
text = text.replace("\r\n", "\n").replace("\n", "\r\n")
# The byte-order mark lets older Notepad versions take the text as UTF-8.
with open(os.path.join(stage, "USER-GUIDE.txt"), "wb") as f:
    f.write(("\ufeff" + text).encode("utf-8"))
with zipfile.ZipFile(zip_path, "w", zipfile.ZIP_DEFLATED) as z:
    for name in ("gen_nimbo.dll", "nimbo-preview.exe", "USER-GUIDE.txt"):
        z.write(os.path.join(stage, name), name)
PY
makensis -V2 -DSTAGE="$stage" -DOUTFILE="$(realpath "$setup")" tools/installer/nimbo.nsi
echo "package: $zip"
echo "package: $setup ($(stat -c %s "$setup") bytes)"
