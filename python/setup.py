"""Builds the oct library with CMake and puts liboct.so.1 into the package.

The library's sources are the repository this folder sits in (or the one
OCT_SOURCE_DIR names). CMake builds the shared library alone into a folder of
its own under setuptools' build folder, which later builds reuse; OCT_BUILD_DIR
names another build folder instead, such as an existing build/native, which
is then only brought up to date. CMAKE_BUILD_PARALLEL_LEVEL limits the jobs.
"""

import os
import re
import shutil
import subprocess
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py

try:
    from wheel.bdist_wheel import bdist_wheel
except ImportError:  # no wheel package: pip then installs without a wheel
    bdist_wheel = None

HERE = Path(__file__).resolve().parent
LIBRARY = "liboct.so.1"


def source_dir() -> Path:
    named = os.environ.get("OCT_SOURCE_DIR")
    root = Path(named).resolve() if named else HERE.parent
    if not (root / "CMakeLists.txt").is_file() or not (root / "include" / "oct.h").is_file():
        raise SystemExit(
            f"pyoct: no oct source tree at {root} (CMakeLists.txt and include/oct.h); "
            "set OCT_SOURCE_DIR to the repository's root"
        )
    return root


def project_version() -> str:
    """The version of CMakeLists.txt's project() line, the only place it is kept."""
    text = (source_dir() / "CMakeLists.txt").read_text(encoding="utf-8")
    found = re.search(r"project\(\s*oct\s+VERSION\s+([0-9]+(?:\.[0-9]+)*)", text)
    if not found:
        raise SystemExit("pyoct: CMakeLists.txt names no project(oct VERSION ...)")
    return found.group(1)


def run(command):
    print("pyoct:", " ".join(str(c) for c in command), flush=True)
    subprocess.run([str(c) for c in command], check=True)


def build_library(build_temp: Path) -> Path:
    """Configures (once) and builds the shared library; its file."""
    root = source_dir()
    named = os.environ.get("OCT_BUILD_DIR")
    build = Path(named).resolve() if named else (build_temp / "oct-cmake").resolve()
    if not (build / "CMakeCache.txt").is_file():
        generator = ["-G", "Ninja"] if shutil.which("ninja") else []
        launcher = []
        if shutil.which("ccache"):
            launcher = ["-DCMAKE_C_COMPILER_LAUNCHER=ccache", "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"]
        # The native preset's settings; the benchmarks are not needed here.
        run(["cmake", "-S", root, "-B", build, *generator, *launcher, "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
             "-DOCT_BENCH=OFF"])
    run(["cmake", "--build", build, "--target", "oct"])
    library = build / LIBRARY
    if not library.exists():
        raise SystemExit(f"pyoct: the build made no {library}")
    return library


class BuildPyWithLibrary(build_py):
    """build_py that also builds the library and copies it into the package."""

    def run(self):
        super().run()
        library = build_library(Path(self.get_finalized_command("build").build_temp))
        target = Path(self.build_lib) / "pyoct" / LIBRARY
        target.parent.mkdir(parents=True, exist_ok=True)
        # The real file, not the symbolic link: the package holds one file
        # under the soname.
        shutil.copyfile(library.resolve(), target)
        os.chmod(target, 0o755)
        # The built package carries its version as a constant: it has no
        # CMakeLists.txt beside it to read.
        version_file = Path(self.build_lib) / "pyoct" / "_version.py"
        version_file.write_text(f'__version__ = "{project_version()}"\n', encoding="utf-8")


commands = {"build_py": BuildPyWithLibrary}

if bdist_wheel is not None:

    class PlatformWheel(bdist_wheel):
        """A wheel for this platform (it holds a shared library) that any
        Python 3 can use (the library is loaded through ctypes, not as an
        extension module)."""

        def finalize_options(self):
            super().finalize_options()
            self.root_is_pure = False

        def get_tag(self):
            _, _, platform = super().get_tag()
            return "py3", "none", platform

    commands["bdist_wheel"] = PlatformWheel

setup(version=project_version(), cmdclass=commands)
