"""The package around the binding: the wheel's build helpers and the bundled library's place in
the lookup. (tests/python_package_test.sh builds and installs the wheel itself.)"""

import importlib.util
import os
import re
import shutil
import subprocess
import sys
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




def _package_imports(path: Path) -> set[str]:
    """The package's own modules a module imports, also inside functions (a lazy import still
    makes a circle: the two modules cannot be understood, or loaded first, apart)."""
    import ast

    found: set[str] = set()
    for node in ast.walk(ast.parse(path.read_text(), str(path))):
        if isinstance(node, ast.ImportFrom) and node.level == 1:
            if node.module:
                found.add(node.module.split(".")[0])
            else:
                found.update(alias.name for alias in node.names)
        elif isinstance(node, ast.ImportFrom) and (node.module or "").startswith("xylotrak."):
            found.add(node.module.split(".")[1])
    return found


def test_the_package_modules_import_one_another_without_a_circle():
    package = Path(xylotrak.__file__).parent
    modules = {p.stem: p for p in package.glob("*.py") if p.stem != "__init__"}
    graph = {name: _package_imports(path) & modules.keys() for name, path in modules.items()}
    assert graph["taper"] and graph["fitting"]  # the walk does see imports
    state: dict[str, int] = {}  # 1 on the current path, 2 done

    def visit(name: str, path: list[str]) -> None:
        state[name] = 1
        for other in sorted(graph[name]):
            if state.get(other) == 1:
                pytest.fail("import circle: " + " -> ".join(path + [name, other]))
            if other not in state:
                visit(other, path + [name])
        state[name] = 2

    for name in sorted(graph):
        if name not in state:
            visit(name, [])


@pytest.mark.parametrize("module", ["fitting", "taper", "_fit"])
def test_each_module_imports_first_in_a_fresh_interpreter(module):
    # Whichever module a user imports first, it loads: no module needs another to be half-done.
    env = dict(os.environ, PYTHONPATH=str(PYTHON_DIR))
    run = subprocess.run([sys.executable, "-c", f"import xylotrak.{module} as m; m.__all__"],
                         env=env, capture_output=True, text=True)  # fmt: skip
    assert run.returncode == 0, run.stderr


def test_importing_the_package_leaves_the_library_unloaded_until_a_default_is_read(tmp_path):
    # The defaults the package takes from the library are read on first use, so a program can
    # import the package where no library is found, and learn so only when it needs one.
    env = dict(os.environ, PYTHONPATH=str(PYTHON_DIR),
               XYLOTRAK_LIBRARY=str(tmp_path / "missing.so"))  # fmt: skip
    script = (
        "import xylotrak, xylotrak.fitting, xylotrak.products\n"
        "assert xylotrak._lib._library is None\n"
        "try:\n"
        "    xylotrak.fitting.DEFAULT_EXPS\n"
        "except xylotrak.XylotrakLibraryNotFound:\n"
        "    print('not found')\n"
    )
    run = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert run.stdout.strip() == "not found"
