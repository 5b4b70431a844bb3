#!/usr/bin/env python3
"""Fails when a product file includes a header of a higher layer.

A folder may include headers of its own folder and of any layer below its own;
never of its own layer's other folders (except where ALSO_USES says so) or above.
The order is listed here and nowhere else; docs/ARCHITECTURE.md draws it.
"""
import pathlib
import re
import sys

# Lowest first.
LAYERS = [
    ["common"],
    ["core"],
    ["tags", "probe", "net", "ui"],
    ["plugin"],
]
# Same-layer uses that are part of the design.
ALSO_USES = {"probe": {"tags"}}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/[^"]*"')


def main(root):
    rank = {folder: level for level, folders in enumerate(LAYERS) for folder in folders}
    faults = []
    for folder in rank:
        for path in sorted((root / folder).rglob("*")):
            if path.suffix not in (".h", ".cpp", ".c"):
                continue
            for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
                match = INCLUDE.match(line)
                if not match or match.group(1) not in rank:
                    continue
                target = match.group(1)
                allowed = (target == folder or rank[target] < rank[folder]
                           or target in ALSO_USES.get(folder, ()))
                if not allowed:
                    faults.append(f"{path.relative_to(root)}:{number}: includes "
                                  f"{line.strip()[len('#include '):]} from a layer it may not use")
    for fault in faults:
        print(fault)
    print(f"include layers: {'FAILED' if faults else 'ok'}")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()))
