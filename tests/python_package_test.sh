#!/usr/bin/env bash
# The Python binding as a user gets it: the wheel built from this build's library, installed
# into a fresh virtual environment and used from a folder outside the repository with no
# variable naming the library. Checks the wheel's name and contents, a bucking against the
# repository's binding and a Dask LocalCluster inventory (python_package_check.py).
#
# Usage: python_package_test.sh SOURCE_DIR LIBRARY PYTHON VERSION
set -euo pipefail
source_dir=$1 library=$2 python=$3 version=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset XYLOTRAK_LIBRARY PYTHONPATH XYLOTRAK_BUILT_LIBRARY
export XYLOTRAK_LOG=/nonexistent/xylotrak/xtk.txt PYTHONDONTWRITEBYTECODE=1 PIP_NO_INPUT=1
export PIP_DISABLE_PIP_VERSION_CHECK=1

# The build writes into the folder it builds, so it builds a copy of the package's sources.
mkdir -p "$work/src/python" "$work/elsewhere"
cp "$source_dir/CMakeLists.txt" "$work/src/"  # the version, from project()
cp -r "$source_dir/python/pyproject.toml" "$source_dir/python/setup.py" \
  "$source_dir/python/xylotrak" "$work/src/python/"
rm -rf "$work/src/python/xylotrak/__pycache__"
XYLOTRAK_BUILT_LIBRARY=$library "$python" -m pip wheel --quiet --no-build-isolation --no-deps \
  --no-index -w "$work/dist" "$work/src/python"

platform=$("$python" -c 'import sysconfig; print(sysconfig.get_platform().replace("-", "_").replace(".", "_"))')
wheel=$work/dist/xylotrak-$version-py3-none-$platform.whl
if [ ! -f "$wheel" ]; then
  echo "expected $wheel; the build made: $(ls "$work/dist")" >&2
  exit 1
fi
soname=$(objdump -p "$library" | awk '$1 == "SONAME" { print $2 }')
[ -n "$soname" ] || { echo "$library has no SONAME" >&2; exit 1; }

# The library is in the package under its SONAME, as a regular file equal to the built one.
"$python" - "$wheel" "$soname" "$library" <<'EOF'
import hashlib, pathlib, stat, sys, zipfile
wheel, soname, library = sys.argv[1:]
with zipfile.ZipFile(wheel) as archive:
    names = archive.namelist()
    print("\n".join(names))
    entry = archive.getinfo(f"xylotrak/{soname}")
    assert not stat.S_ISLNK(entry.external_attr >> 16), "a symbolic link"
    real = pathlib.Path(library).resolve().read_bytes()
    assert hashlib.sha256(archive.read(entry)).digest() == hashlib.sha256(real).digest()
    assert "xylotrak/py.typed" in names
    assert [n for n in names if "libxylotrak" in n] == [f"xylotrak/{soname}"], names
    assert archive.read(next(n for n in names if n.endswith(".dist-info/WHEEL"))).decode() \
        .count("Root-Is-Purelib: false") == 1
EOF

# The reference: the repository's binding with the build's library.
(cd "$work/elsewhere" && XYLOTRAK_LIBRARY=$library PYTHONPATH=$source_dir/python \
  "$python" "$source_dir/tests/python_package_check.py" --reference >"$work/reference.json")

"$python" -m venv --system-site-packages "$work/venv"
"$work/venv/bin/python" -m pip install --quiet --no-index --no-deps "$wheel"
cp "$source_dir/tests/python_package_check.py" "$work/elsewhere/"
cd "$work/elsewhere"
"$work/venv/bin/python" python_package_check.py "$version" "$soname" "$work/reference.json"

