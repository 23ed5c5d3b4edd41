#!/usr/bin/env python3
"""End-to-end tests of tarsel.exe under Wine, against the demo router and against nginx on 127.0.0.1.

usage: run.py BIN_DIR [unittest options, e.g. -k closing]
BIN_DIR holds tarsel.exe, boxwatch.exe and the fixture plugins. Needs the environment of
scripts/wine-session.sh (DISPLAY, WINEPREFIX, a running wineserver). One file per area: test_*.py.
"""
import os
import sys
import unittest

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, here)
import harness  # noqa: E402

harness.start(sys.argv[1])
unittest.main(module=None, argv=[sys.argv[0], "discover", "-s", here, "-t", here, "-p", "test_*.py", "-v"] + sys.argv[2:])
