"""The control ids of the plugin's windows, read from the C++ header that defines
them (ui/control_ids.h), so that the tools never retype a number.

    from harness import controls
    controls.ids()["kOkButton"]      # or controls.get("kOkButton")

The header holds, inside `namespace nimbo {`, enums such as
`enum SettingsControlId : int {` with one `kName = 101,` per line (an optional
`// comment` after it) and a closing `};`. Any other line inside an enum is an
error, so a change of that layout fails loudly instead of yielding wrong ids.
"""

import os
import re

from .paths import CONTROL_IDS_HEADER, ROOT


class ControlIdsError(RuntimeError):
    pass


_ENUM_START = re.compile(r"^\s*enum\s+(\w+)\s*:\s*int\s*\{\s*(//.*)?$")
_ENUMERATOR = re.compile(r"^\s*(k\w+)\s*=\s*(\d+)\s*,?\s*(//.*)?$")
_ENUM_END = re.compile(r"^\s*\}\s*;\s*(//.*)?$")


def parse(text, where="<text>"):
    """{enum name: {enumerator: value}} from the header's text."""
    enums, current, seen = {}, None, {}
    for number, line in enumerate(text.splitlines(), 1):
        if current is None:
            start = _ENUM_START.match(line)
            if start:
                current = enums.setdefault(start.group(1), {})
            continue
        if _ENUM_END.match(line):
            current = None
            continue
        stripped = line.strip()
        if not stripped or stripped.startswith("//"):
            continue
        item = _ENUMERATOR.match(line)
        if not item:
            raise ControlIdsError("%s:%d: not a `kName = 123,` line: %r" % (where, number, line))
        name = item.group(1)
        if name in seen:
            raise ControlIdsError("%s:%d: %s defined twice" % (where, number, name))
        seen[name] = current[name] = int(item.group(2))
    if current is not None:
        raise ControlIdsError("%s: an enum is not closed with `};`" % where)
    if not enums:
        raise ControlIdsError("%s: no `enum Name : int {` found" % where)
    return enums


def load(path=None):
    """Every enum of the header at `path` (default: the repository's)."""
    path = path or CONTROL_IDS_HEADER
    try:
        with open(path, encoding="utf-8") as f:
            text = f.read()
    except OSError as e:
        raise ControlIdsError(
            "cannot read the control ids from %s (%s): the tools take them from that "
            "C++ header, which the plugin's windows are built from (NIMBO_CONTROL_IDS_HEADER "
            "names another copy)"
            % (os.path.relpath(path, ROOT) if path.startswith(ROOT) else path,
               e.strerror or e)) from None
    return parse(text, path)


_cache = {}


def ids(path=None):
    """All control ids by enumerator name, every enum together (names are unique)."""
    key = path or CONTROL_IDS_HEADER
    if key not in _cache:
        merged = {}
        for values in load(path).values():
            merged.update(values)
        _cache[key] = merged
    return _cache[key]


def get(name, path=None):
    table = ids(path)
    if name not in table:
        raise ControlIdsError("no control id %s in %s" % (name, path or CONTROL_IDS_HEADER))
    return table[name]
