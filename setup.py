"""Builds the quorin Python module with CMake, for
`pip install --no-build-isolation .` from the top of a checkout.

The module is compiled for the interpreter that runs pip (a venv made from
Debian's /usr/bin/python3 with --system-site-packages, which sees Debian's
pybind11, numpy and pandas); CMake refuses an interpreter that cannot serve,
with the reason. The build tree is build-python/, or the configured tree
that QUORIN_BUILD_DIR names (its module is then reused when it was built
for this same interpreter version).

Nothing is written into the checkout: the build tree is QUORIN_BUILD_DIR,
else QUORIN_PIP_BUILD_DIR, else a folder under the system's temporary
folder named after the checkout and the interpreter (kept, so that the next
install compiles only what changed). CMake's progress goes to the terminal
while pip runs, which otherwise shows it only with -v.
"""
import os
import pathlib
import re
import shutil
import subprocess
import sys
import sysconfig
import tempfile
import hashlib

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).parent.resolve()


def own_build_dir():
    """Where an install builds when no tree is given: outside the checkout."""
    given = os.environ.get("QUORIN_PIP_BUILD_DIR")
    if given:
        return pathlib.Path(given).resolve()
    key = hashlib.sha1(f"{ROOT}|{sys.executable}".encode()).hexdigest()[:12]
    return pathlib.Path(tempfile.gettempdir()) / f"quorin-build-{key}"


def run_shown(command):
    """Runs command with its output on the terminal when there is one (pip
    keeps a build's output to itself unless -v is given)."""
    try:
        terminal = open("/dev/tty", "w")
    except OSError:
        terminal = None
    try:
        subprocess.run(command, check=True, stdout=terminal, stderr=terminal)
    finally:
        if terminal:
            terminal.close()


def configured_interpreter(build):
    cache = (build / "CMakeCache.txt").read_text()
    found = re.search(r"^QUORIN_PYTHON:FILEPATH=(.*)$", cache, re.M)
    enabled = re.search(r"^QUORIN_WITH_PYTHON:BOOL=ON$", cache, re.M)
    return found.group(1) if found and enabled else None


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        suffix = sysconfig.get_config_var("EXT_SUFFIX")
        given = os.environ.get("QUORIN_BUILD_DIR")
        if given:
            build = pathlib.Path(given).resolve()
            other = configured_interpreter(build)
            if other is None:
                sys.exit(f"QUORIN_BUILD_DIR={build} is not configured with -DQUORIN_WITH_PYTHON=ON")
            theirs = subprocess.run(
                [other, "-c", "import sysconfig; print(sysconfig.get_config_var('EXT_SUFFIX'))"],
                capture_output=True, text=True).stdout.strip()
            if theirs != suffix:
                sys.exit(f"QUORIN_BUILD_DIR={build} builds the module for {other} ({theirs}), "
                         f"not for this interpreter {sys.executable} ({suffix}): leave "
                         "QUORIN_BUILD_DIR unset, or use the interpreter that tree names")
        else:
            build = own_build_dir() / "cmake"
            run_shown(["cmake", "-S", str(ROOT), "-B", str(build), "-DQUORIN_WITH_PYTHON=ON",
                            f"-DQUORIN_PYTHON={sys.executable}", "-DQUORIN_BUILD_TESTS=OFF",
                            "-DQUORIN_BUILD_EXAMPLES=OFF", "-DQUORIN_BUILD_TOOLS=OFF",
                            "-DQUORIN_BUILD_SHARED=OFF"])
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        run_shown(["cmake", "--build", str(build), "-j", jobs, "--target", "quorin_python"])
        built = build / "python" / "quorin" / ("_quorin" + suffix)
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(
    packages=["quorin"],
    package_dir={"quorin": "python/quorin"},
    ext_modules=[Extension("quorin._quorin", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    options={"build": {"build_base": str(own_build_dir() / "setuptools")},
             "egg_info": {"egg_base": str(own_build_dir())}},
)
