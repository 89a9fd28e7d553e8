"""Builds the vemla_chess extension with the project's own CMake build.

Only the `vemla_chess` target is built (no tests, benchmarks or tools), in
build-pkg/ beside this file, with the interpreter that runs this script, and
the module is copied to where setuptools expects the extension. Extra CMake
arguments can be given in the CMAKE_ARGS environment variable, the number of
parallel jobs in CMAKE_BUILD_PARALLEL_LEVEL (default 2).
"""

import os
import shlex
import subprocess
import sys
import sysconfig
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


class CMakeExtension(Extension):
    def __init__(self, name: str) -> None:
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext: Extension) -> None:
        config = "Debug" if self.debug else "Release"
        build_dir = Path(self.build_temp).resolve() / "cmake"
        configure = [
            "cmake", "-S", str(ROOT), "-B", str(build_dir),
            f"-DCMAKE_BUILD_TYPE={config}",
            f"-DPython3_EXECUTABLE={sys.executable}",
            "-DVEMLA_BUILD_PYTHON=ON",
            "-DVEMLA_BUILD_TESTS=OFF",
            "-DVEMLA_BUILD_BENCHMARKS=OFF",
            "-DVEMLA_BUILD_TOOLS=OFF",
            "-DVEMLA_BUILD_FUZZERS=OFF",
            "-DVEMLA_INSTALL=OFF",
            *shlex.split(os.environ.get("CMAKE_ARGS", "")),
        ]
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        build = ["cmake", "--build", str(build_dir), "--target", "vemla_chess",
                 "--config", config, "--parallel", jobs]
        subprocess.run(configure, check=True)
        subprocess.run(build, check=True)

        # The CMake target names the module with this interpreter's suffix
        # (e.g. .cpython-311-x86_64-linux-gnu.so); anything else is a sign
        # that CMake found another Python.
        built = build_dir / "python" / (ext.name + sysconfig.get_config_var("EXT_SUFFIX"))
        if not built.is_file():
            found = sorted(p.name for p in (build_dir / "python").glob(ext.name + "*"))
            raise RuntimeError(f"CMake did not produce {built.name} (found: {found or 'nothing'})")
        self.copy_file(str(built), self.get_ext_fullpath(ext.name))


# The version comes from pyproject.toml, where CMake reads it too.
setup(
    # The module is the single extension. The Python packages: the stubs
    # through which type checkers find its signatures, and the pure-Python
    # dataset tool and reader, perft and the worker pool they share (the
    # vemla-dataset and vemla-perft commands).
    ext_modules=[CMakeExtension("vemla_chess")],
    package_dir={"": "python"},
    packages=["vemla_chess-stubs", "vemla_chess_data"],
    package_data={"vemla_chess-stubs": ["__init__.pyi", "py.typed"]},
    entry_points={"console_scripts": ["vemla-dataset = vemla_chess_data.tool:main",
                                      "vemla-perft = vemla_chess_data.perft:run"]},
    cmdclass={"build_ext": CMakeBuild},
    # Keep setuptools' work out of build/, which is the CMake build of the
    # test suite.
    options={"build": {"build_base": "build-pkg"}},
)
