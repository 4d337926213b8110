"""The package's version is the library's: the one octtool reports."""

from __future__ import annotations

import re
import subprocess

import pyoct


def test_the_version_is_the_one_octtool_reports(octtool):
    shown = subprocess.run([str(octtool), "--version"], check=True, capture_output=True, text=True).stdout
    found = re.match(r"octtool (\S+) ", shown)
    assert found, shown
    assert pyoct.__version__ == found.group(1)


def test_the_version_is_a_release_number():
    assert re.fullmatch(r"[0-9]+\.[0-9]+\.[0-9]+", pyoct.__version__), pyoct.__version__
