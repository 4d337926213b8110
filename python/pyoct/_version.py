"""The package's version: the oct library's, which CMakeLists.txt's project()
line names. A built package holds the version as a plain string (setup.py
writes this file anew into it); a source tree reads it from there, so that
the two never differ."""

import re
from pathlib import Path


def _from_source_tree() -> str:
    cmake = Path(__file__).resolve().parents[2] / "CMakeLists.txt"
    try:
        text = cmake.read_text(encoding="utf-8")
    except OSError:
        return "0+unknown"
    found = re.search(r"project\(\s*oct\s+VERSION\s+([0-9]+(?:\.[0-9]+)*)", text)
    return found.group(1) if found else "0+unknown"


__version__ = _from_source_tree()
