"""Builds the extension moltavex._moltavex for pip (see pyproject.toml).

The extension is the CMake build's own target moltavex_python: CMake
configures the tree for the running Python (the one pip runs, a virtual
environment's among them) and builds that target alone, which compiles the
library's sources from their one list in CMakeLists.txt into the static
library and links it into the module. The module file is then copied to
where setuptools puts the extension; the pure-Python files come from
bindings/python/moltavex as usual.

CMAKE (the program, default "cmake") and CMAKE_BUILD_PARALLEL_LEVEL (jobs,
default: every core, or build_ext's --parallel) steer the build. The
intermediate files go to build-pip/ (never into a CMake build/ directory).
"""

import os
import re
import shutil
import subprocess
import sys
import sysconfig
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


def version():
    """MAJOR.MINOR[.PATCH] from the defines in the public header."""
    header = (ROOT / "include" / "moltavex" / "moltavex.h").read_text()
    parts = dict(re.findall(r"^#define MVX_VERSION_(MAJOR|MINOR|PATCH) (\d+)$", header, re.M))
    return ".".join(parts[k] for k in ("MAJOR", "MINOR", "PATCH") if k in parts)


class CMakeTarget(Extension):
    """An extension that is the module file of a CMake target."""

    def __init__(self, name, target):
        super().__init__(name, sources=[])
        self.target = target


class CMakeBuild(build_ext):
    """Builds each CMakeTarget with CMake and copies its module file."""

    def build_extension(self, ext):
        import pybind11

        cmake = os.environ.get("CMAKE", "cmake")
        tree = Path(self.build_temp).resolve() / "cmake"
        configure = [
            cmake, "-S", str(ROOT), "-B", str(tree),
            "-DCMAKE_BUILD_TYPE=Release",
            "-DMOLTAVEX_BUILD_TESTS=OFF",
            "-DMOLTAVEX_BUILD_BENCH=OFF",
            "-DMOLTAVEX_BUILD_SHARED=OFF",
            "-DMOLTAVEX_REQUIRE_PYTHON=ON",
            f"-DPython3_EXECUTABLE={sys.executable}",
            f"-Dpybind11_DIR={pybind11.get_cmake_dir()}",
        ]
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(
            self.parallel or os.cpu_count() or 1)
        build = [cmake, "--build", str(tree), "--target", ext.target, "-j", jobs]
        for command in (configure, build):
            self.announce(" ".join(command), level=2)
            subprocess.run(command, check=True)

        name = ext.name.rpartition(".")[2] + sysconfig.get_config_var("EXT_SUFFIX")
        built = tree / "bindings" / "python" / "moltavex" / name
        if not built.is_file():
            raise RuntimeError(f"CMake built no {built}")
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(
    version=version(),
    ext_modules=[CMakeTarget("moltavex._moltavex", "moltavex_python")],
    cmdclass={"build_ext": CMakeBuild},
    options={"build": {"build_base": "build-pip"}},
)
