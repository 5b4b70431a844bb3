#!/usr/bin/env bash
# check_package.sh BUILD_DIR: tools/package.sh makes a zip that holds exactly the
# plugin just built, nimbo-preview.exe and the guide as CRLF text, named after the
# plugin's version, and the setup beside it (test_installer.py runs that one).
set -euo pipefail
build=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
bash "$root/tools/package.sh" --no-build --build "$build" --out "$out"
version=$(sed -n 's/^#define NIMBO_VERSION "\(.*\)"$/\1/p' "$root/common/version.h")
python3 - "$out/nimbo-${version// /-}.zip" "$build/gen_nimbo.dll" "$build/tools/preview/nimbo-preview.exe" <<'PY'
import os, sys, zipfile
zip_path, dll, preview = sys.argv[1:]
setup = zip_path[:-len(".zip")] + "-setup.exe"
# Small: the same files compressed plus the NSIS stub (about 100 KB).
assert os.path.getsize(setup) < os.path.getsize(zip_path) + 120000, "the setup is too big"
with zipfile.ZipFile(zip_path) as z:
    names = sorted(z.namelist())
    want = ["USER-GUIDE.txt", "gen_nimbo.dll", "nimbo-preview.exe"]
    assert names == want, "package holds %s, not %s" % (names, want)
    assert z.read("gen_nimbo.dll") == open(dll, "rb").read(), "the DLL is not the one just built"
    assert z.read("nimbo-preview.exe") == open(preview, "rb").read(), "stale nimbo-preview.exe"
    guide = z.read("USER-GUIDE.txt").decode("utf-8-sig")
    assert "\n" not in guide.replace("\r\n", ""), "the guide has lines without CR LF"
    sections = guide.split("\r\n## ")
    assert len(sections) > 1 and sections[1].startswith("Installing"), \
        "the install section is not the guide's first"
print("package ok: %s; setup %d bytes" % (", ".join(names), os.path.getsize(setup)))
PY
