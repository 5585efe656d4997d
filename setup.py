"""Builds the quorin Python module with CMake, for
`pip install --no-build-isolation .` from the top of a checkout.

The module is compiled for the interpreter that runs pip (a venv made from
Debian's /usr/bin/python3 with --system-site-packages, which sees Debian's
pybind11, numpy and pandas); CMake refuses an interpreter that cannot serve,
with the reason. The build tree is build-python/, or the configured tree
that QUORIN_BUILD_DIR names (its module is then reused when it was built
for this same interpreter version).
"""
import os
import pathlib
import re
import shutil
import subprocess
import sys
import sysconfig

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).parent.resolve()


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
            build = ROOT / "build-python"
            subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), "-DQUORIN_WITH_PYTHON=ON",
                            f"-DQUORIN_PYTHON={sys.executable}", "-DQUORIN_BUILD_TESTS=OFF",
                            "-DQUORIN_BUILD_EXAMPLES=OFF", "-DQUORIN_BUILD_TOOLS=OFF",
                            "-DQUORIN_BUILD_SHARED=OFF"], check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.run(["cmake", "--build", str(build), "-j", jobs, "--target", "quorin_python"],
                       check=True)
        built = build / "python" / "quorin" / ("_quorin" + suffix)
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(
    packages=["quorin"],
    package_dir={"quorin": "python/quorin"},
    ext_modules=[Extension("quorin._quorin", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    options={"build": {"build_base": "build-python/setuptools"}},
)
