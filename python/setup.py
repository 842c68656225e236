"""Builds quorvel_audioeffects._core: the binding plus the sources of the DSP
core and of the rules every front end shares (rules/: the value grammar, chain
files, the inputs an effect takes; it needs nlohmann-json's headers, Debian's
nlohmann-json3-dev).

The .cpp files are found when the build runs, so files added to dsp/src/ or
rules/src/ are picked up without touching this script. The arithmetic flags are
the core's own: contraction off, no fast-math, no -march, so every sample
comes out as quorvel-fx computes it.
"""

import os
import sys
from glob import glob
from pathlib import Path

from pybind11.setup_helpers import ParallelCompile, Pybind11Extension, build_ext
from setuptools import setup

HERE = Path(__file__).resolve().parent
DSP = Path(os.environ.get("QUORVEL_DSP_DIR", HERE.parent / "dsp")).resolve()
RULES = Path(os.environ.get("QUORVEL_RULES_DIR", DSP.parent / "rules")).resolve()

if not (DSP / "include" / "quorvel" / "audio" / "Effect.hpp").is_file():
    sys.exit(f"setup.py: the DSP core is not at {DSP}; build from python/ inside the "
             "repository or set QUORVEL_DSP_DIR")
if not (RULES / "include" / "quorvel" / "rules" / "Values.hpp").is_file():
    sys.exit(f"setup.py: the rules are not at {RULES}; build from python/ inside the "
             "repository or set QUORVEL_RULES_DIR")

# Both cores of a small machine by default; NPY_NUM_BUILD_JOBS overrides.
ParallelCompile("NPY_NUM_BUILD_JOBS", default=os.cpu_count() or 2).install()


class build_core_ext(build_ext):
    """Adds the core's and the rules' sources when the build runs. Outside
    setup()'s arguments, because setuptools refuses paths outside this folder
    there."""

    def build_extensions(self):
        sources = sorted(glob(str(DSP / "src" / "*.cpp")) +
                         glob(str(DSP / "src" / "vector" / "*.cpp")) +
                         glob(str(RULES / "src" / "*.cpp")))
        # A changed core header rebuilds the module, not only a changed source.
        headers = sorted(glob(str(DSP / "include" / "quorvel" / "audio" / "*.hpp")) +
                         glob(str(DSP / "src" / "**" / "*.hpp"), recursive=True) +
                         glob(str(RULES / "include" / "quorvel" / "rules" / "*.hpp")) +
                         glob(str(RULES / "src" / "*.hpp")))
        for extension in self.extensions:
            extension.sources = [s for s in extension.sources if s not in sources] + sources
            extension.depends = headers
        super().build_extensions()


extension = Pybind11Extension(
    "quorvel_audioeffects._core",
    ["src/module.cpp"],
    include_dirs=[str(DSP / "include"), str(DSP / "src"), str(RULES / "include")],
    libraries=["hwy"],
    cxx_std=17,
    extra_compile_args=[
        "-O2", "-g0", "-ffp-contract=off", "-Wall", "-Wextra", "-Werror",
        # Python's own CFLAGS bring -fwrapv, which costs the core's loops their
        # vectorisation; exported core functions need not be interposable.
        "-fno-wrapv", "-fno-semantic-interposition",
    ],
)

setup(ext_modules=[extension], cmdclass={"build_ext": build_core_ext})
