"""The package around the binding: the wheel's build helpers and the bundled library's place in
the lookup. (tests/python_package_test.sh builds and installs the wheel itself.)"""

import importlib.util
import os
import re
import shutil
import subprocess
from pathlib import Path

import pytest
from conftest import PYTHON_DIR, REPO

import xylotrak
from xylotrak import _lib


@pytest.fixture(scope="module")
def setup_py():
    """python/setup.py as a module (its setup() runs only as the build's main script)."""
    spec = importlib.util.spec_from_file_location("xylotrak_setup", PYTHON_DIR / "setup.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def test_version_comes_from_the_cmake_project(setup_py, tmp_path, monkeypatch):
    assert setup_py.project_version() == xylotrak.__version__  # the library's, from project()
    monkeypatch.setattr(setup_py, "SOURCE", tmp_path)
    cmake = tmp_path / "CMakeLists.txt"
    cmake.write_text("cmake_minimum_required(VERSION 3.25)\n"
                     "project(other VERSION 9.9.9)\nproject(\n  xylotrak\n  VERSION 2.13.4\n"
                     "  LANGUAGES C CXX)\nset(X_VERSION 7.0.0)\n")
    assert setup_py.project_version() == "2.13.4"
    cmake.write_text("cmake_minimum_required(VERSION 3.25)\nproject(xylotrak LANGUAGES C)\n")
    with pytest.raises(SystemExit, match="no project"):
        setup_py.project_version()


def test_soname_is_read_from_the_library(setup_py, tmp_path):
    real = os.path.realpath(xylotrak.library_path())
    soname = setup_py.elf_soname(Path(real))
    assert re.fullmatch(r"libxylotrak\.so\.\d+", soname)
    assert xylotrak.__version__.startswith(soname.rsplit(".", 1)[1] + ".")
    if shutil.which("objdump"):
        dump = subprocess.run(["objdump", "-p", real], capture_output=True, text=True).stdout
        assert re.search(r"SONAME\s+(\S+)", dump).group(1) == soname
    text = tmp_path / "libxylotrak.so"
    text.write_text("not a library")
    assert setup_py.elf_soname(text) is None


def test_a_library_of_another_version_is_refused(setup_py, tmp_path):
    version = setup_py.project_version()
    setup_py.check_library_version(tmp_path / f"libxylotrak.so.{version}", version)
    setup_py.check_library_version(tmp_path / "libxylotrak.so", version)  # no version to check
    with pytest.raises(SystemExit, match="is version 0.0.1"):
        setup_py.check_library_version(tmp_path / "libxylotrak.so.0.0.1", version)


def test_bundled_library_comes_before_the_repository_build(monkeypatch, tmp_path):
    package = tmp_path / "site-packages" / "xylotrak"
    package.mkdir(parents=True)
    bundled = package / "libxylotrak.so.7"  # a wheel's copy, under the SONAME of its major
    bundled.write_bytes(b"")
    monkeypatch.setattr(_lib, "_PACKAGE_DIR", package)
    monkeypatch.delenv("XYLOTRAK_LIBRARY", raising=False)
    places = [(where, path) for where, path in _lib.library_candidates()]
    paths = [path for _, path in places]
    assert str(bundled) in paths
    beside = str(tmp_path / "site-packages" / "libxylotrak.so")
    assert paths.index(str(bundled)) < paths.index(beside)
    assert paths.index(str(bundled)) < paths.index(str(REPO / "build" / "libxylotrak.so"))
    assert places[-1][0].startswith("system search")
    monkeypatch.setenv("XYLOTRAK_LIBRARY", "/chosen/libxylotrak.so")  # still the only one tried
    assert _lib.library_candidates() == [("XYLOTRAK_LIBRARY", "/chosen/libxylotrak.so")]


