"""Where things are: the repository's scripts, and the built programs the tests get
through the environment (ctest and the tools/*.sh wrappers set them)."""

import functools
import os
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINE_RUN = os.path.join(ROOT, "tests", "win32", "wine-run.sh")
WINE_SESSION = os.path.join(ROOT, "tests", "win32", "wine-session.sh")
SERVICE_SCRIPT = os.path.join(ROOT, "tools", "service", "service_standin.py")
# NIMBO_CONTROL_IDS_HEADER points at another copy of the header, for a trial run.
CONTROL_IDS_HEADER = (os.environ.get("NIMBO_CONTROL_IDS_HEADER")
                      or os.path.join(ROOT, "ui", "control_ids.h"))

PLAYER_EXE = os.environ.get("NIMBO_PLAYER_EXE")
PLUGIN_DLL = os.environ.get("NIMBO_PLUGIN_DLL")
LOOPBACK_DLL = os.environ.get("NIMBO_LOOPBACK_DLL")
TESTDATA_DIR = os.environ.get("NIMBO_TESTDATA_DIR", "")
ID3_DIR = os.path.join(TESTDATA_DIR, "id3") if TESTDATA_DIR else ""


def have_binaries(*paths):
    return all(p and os.path.exists(p) for p in paths)


def needs(condition, reason):
    """unittest.skipUnless, except in CI (CI=true): there what is missing fails the test
    (or every test of the class), so a broken set-up cannot turn the run green."""
    if condition or os.environ.get("CI") != "true":
        return unittest.skipUnless(condition, reason)

    def failing(item):
        if isinstance(item, type):
            item.setUp = lambda self: self.fail("missing in CI: " + reason)
            return item

        @functools.wraps(item)
        def test(self, *args, **kwargs):
            self.fail("missing in CI: " + reason)
        return test
    return failing
