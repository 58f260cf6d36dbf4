"""Builds the xmplayer package; with XMPLAYER_LIBRARY naming the built shared
library (libxmplayer.so.3), the package carries a copy of it and needs
nothing else at run time."""
import os
import shutil

from setuptools import setup
from setuptools.command.build_py import build_py
from setuptools.dist import Distribution

CARRIED_NAME = "libxmplayer.so"


def carried_library():
    path = os.environ.get("XMPLAYER_LIBRARY")
    if not path:
        return None
    # The build runs in a folder of its own: a relative path would mislead.
    if not os.path.isabs(path) or not os.path.isfile(path):
        raise SystemExit(f"XMPLAYER_LIBRARY={path} is not the absolute path of a file")
    return os.path.realpath(path)


class BuildWithLibrary(build_py):
    def run(self):
        super().run()
        library = carried_library()
        target = os.path.join(self.build_lib, "xmplayer", CARRIED_NAME)
        if library is not None:
            print(f"xmplayer: carrying {library}")
            shutil.copyfile(library, target)
        elif os.path.exists(target):
            os.remove(target)  # left by an earlier build that carried one


class MaybeBinaryDistribution(Distribution):
    # A wheel that carries the library is for this platform only.
    def has_ext_modules(self):
        return carried_library() is not None


setup(
    packages=["xmplayer"],
    cmdclass={"build_py": BuildWithLibrary},
    distclass=MaybeBinaryDistribution,
)
