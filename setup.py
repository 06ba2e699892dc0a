"""Builds the package orvane for pip with the project's own CMake build: the
extension _orvane is the target CMake makes for scripts/install-python, in
build/pip (or, when ORVANE_BUILD_DIR names a folder CMake has already set
up, there, without configuring it again)."""
import os
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as cmake:
        return re.search(r"project\(Orvane VERSION ([0-9.]+)", cmake.read()).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = os.environ.get("ORVANE_BUILD_DIR") or os.path.join(ROOT, "build", "pip")
        if not os.path.exists(os.path.join(build, "CMakeCache.txt")):
            subprocess.run(["cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Release", "-DORVANE_PYTHON=ON",
                            "-DORVANE_BUILD_TESTS=OFF", "-DORVANE_BUILD_BENCH=OFF",
                            "-DPython_EXECUTABLE=" + sys.executable], check=True)
        subprocess.run(["cmake", "--build", build, "-j", str(os.cpu_count() or 1), "--target", "_orvane"], check=True)
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(os.path.join(build, "python", "orvane", os.path.basename(target)), target)


os.makedirs(os.path.join(ROOT, "build"), exist_ok=True)
setup(
    version=project_version(),
    packages=["orvane"],
    package_dir={"": "python"},
    package_data={"orvane": ["py.typed", "_orvane.pyi"]},
    ext_modules=[Extension("orvane._orvane", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    # Its metadata is made in build/, not in the source tree.
    options={"egg_info": {"egg_base": "build"}},
    zip_safe=False,
)
