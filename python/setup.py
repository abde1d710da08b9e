"""Builds the wheel of the Xylotrak Python binding with the shared library inside the package.

The library is the file named by ``XYLOTRAK_BUILT_LIBRARY`` (one built before, e.g.
``build/libxylotrak.so``); without it, CMake configures the repository in
``XYLOTRAK_CMAKE_BUILD_DIR`` (default ``python/build/cmake``) and builds the ``xylotrak`` target
only, for Release. The real file behind any symbolic links is copied into the package under its
SONAME (``libxylotrak.so.0``), the name the dynamic loader looks for.

The version is the one ``project()`` sets in the top-level ``CMakeLists.txt``. The wheel is
tagged ``py3-none-<platform>``: the library is loaded through ctypes, so any Python 3 on that
platform can use it, and no other.
"""

from __future__ import annotations

import os
import re
import shutil
import struct
import subprocess
import sys
from pathlib import Path

from setuptools import Distribution, setup
from setuptools.command.build_py import build_py

try:  # setuptools 70.1 and later carry bdist_wheel themselves
    from setuptools.command.bdist_wheel import bdist_wheel
except ImportError:
    from wheel.bdist_wheel import bdist_wheel

HERE = Path(__file__).resolve().parent
SOURCE = HERE.parent  # the repository: its CMakeLists.txt defines the version and the library


def project_version() -> str:
    """The VERSION of ``project(xylotrak ...)`` in the top-level CMakeLists.txt."""
    text = (SOURCE / "CMakeLists.txt").read_text(encoding="utf-8")
    match = re.search(r"^\s*project\(\s*xylotrak\b([^)]*)\)", text, re.IGNORECASE | re.MULTILINE)
    version = match and re.search(r"\bVERSION\s+(\d+(?:\.\d+){0,3})\b", match.group(1))
    if not version:
        sys.exit(f"no project(xylotrak VERSION ...) in {SOURCE / 'CMakeLists.txt'}")
    return version.group(1)


def elf_soname(path: Path) -> str | None:
    """The DT_SONAME of an ELF shared library; None for a file that is not ELF or has none."""
    data = path.read_bytes()
    if data[:4] != b"\x7fELF" or data[4] not in (1, 2) or data[5] not in (1, 2):
        return None
    wide, order = data[4] == 2, "<" if data[5] == 1 else ">"
    if wide:
        (phoff,) = struct.unpack_from(order + "Q", data, 0x20)
        phentsize, phnum = struct.unpack_from(order + "HH", data, 0x36)
    else:
        (phoff,) = struct.unpack_from(order + "I", data, 0x1C)
        phentsize, phnum = struct.unpack_from(order + "HH", data, 0x2A)
    segments = []  # (type, file offset, address, size in the file)
    for k in range(phnum):
        at = phoff + k * phentsize
        if wide:
            kind, _, offset, address, _, size = struct.unpack_from(order + "IIQQQQ", data, at)
        else:
            kind, offset, address, _, size = struct.unpack_from(order + "IIIII", data, at)
        segments.append((kind, offset, address, size))
    dynamic = [s for s in segments if s[0] == 2]  # PT_DYNAMIC
    if not dynamic:
        return None
    entry = order + ("qQ" if wide else "iI")
    strtab = soname = None
    _, offset, _, size = dynamic[0]
    for at in range(offset, offset + size, struct.calcsize(entry)):
        tag, value = struct.unpack_from(entry, data, at)
        if tag == 0:  # DT_NULL
            break
        if tag == 5:  # DT_STRTAB, an address
            strtab = value
        elif tag == 14:  # DT_SONAME, an offset into the string table
            soname = value
    if strtab is None or soname is None:
        return None
    for kind, offset, address, size in segments:
        if kind == 1 and address <= strtab < address + size:  # PT_LOAD holding the table
            start = offset + (strtab - address) + soname
            return data[start : data.index(b"\0", start)].decode("ascii")
    return None


def built_library() -> Path:
    """The library to bundle: XYLOTRAK_BUILT_LIBRARY, or the xylotrak target built by CMake."""
    named = os.environ.get("XYLOTRAK_BUILT_LIBRARY", "")
    if named:
        path = Path(named)
        if not path.is_file():  # a relative name is read from python/, where the build runs
            sys.exit(f"XYLOTRAK_BUILT_LIBRARY={named}: no such file in {Path.cwd()}")
        return path
    build_dir = Path(os.environ.get("XYLOTRAK_CMAKE_BUILD_DIR") or HERE / "build" / "cmake")
    off = ("TESTS", "BENCHMARKS", "EXAMPLES", "TOOLS", "FUZZERS")
    subprocess.run(
        ["cmake", "-S", str(SOURCE), "-B", str(build_dir), "-DCMAKE_BUILD_TYPE=Release"]
        + [f"-DXYLOTRAK_BUILD_{part}=OFF" for part in off],
        check=True,
    )
    subprocess.run(
        ["cmake", "--build", str(build_dir), "--config", "Release", "--target", "xylotrak",
         "--parallel", str(os.cpu_count() or 1)],
        check=True,
    )  # fmt: skip
    for name in ("libxylotrak.so", "libxylotrak.dylib", "Release/xylotrak.dll", "xylotrak.dll"):
        if (build_dir / name).is_file():
            return build_dir / name
    sys.exit(f"the CMake build in {build_dir} made no xylotrak library")


def check_library_version(real: Path, version: str) -> None:
    """A library file named for its full version (libxylotrak.so.0.1.0) must be this one."""
    match = re.fullmatch(r"libxylotrak\.so\.(\d+(?:\.\d+)*)", real.name)
    if match and match.group(1) != version:
        sys.exit(f"{real} is version {match.group(1)}, the sources are version {version}")


class BuildWithLibrary(build_py):
    """Copies the library into the package next to the Python modules."""

    def run(self) -> None:
        super().run()
        real = built_library().resolve()  # the file itself, not a symbolic link to it
        check_library_version(real, project_version())
        name = elf_soname(real) or real.name
        package = Path(self.build_lib) / "xylotrak"
        for pattern in ("libxylotrak.so*", "libxylotrak*.dylib", "xylotrak.dll"):
            for stale in package.glob(pattern):  # from an earlier build
                stale.unlink()
        target = package / name
        shutil.copyfile(real, target)
        target.chmod(0o755)
        print(f"bundled {real} as {target}")


class BinaryDistribution(Distribution):
    """Not pure Python: the wheel carries a platform's shared library."""

    def has_ext_modules(self) -> bool:
        return True


class PlatformWheel(bdist_wheel):
    def get_tag(self) -> tuple[str, str, str]:
        _, _, platform = super().get_tag()
        return "py3", "none", platform  # no CPython ABI: the library is loaded with ctypes


if __name__ == "__main__":  # as the build backend runs it; the tests import the helpers
    setup(
        version=project_version(),
        distclass=BinaryDistribution,
        cmdclass={"build_py": BuildWithLibrary, "bdist_wheel": PlatformWheel},
    )
