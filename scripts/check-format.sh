#!/usr/bin/env bash
# Fails when any C or C++ file of the repository differs from what
# clang-format (.clang-format at the root) makes of it; prints the places.
set -euo pipefail
cd "$(dirname "$0")/.."
format=$(command -v clang-format-14 || command -v clang-format)
files=()
while IFS= read -r -d '' f; do
  [ -f "$f" ] && files+=("$f")
done < <(git ls-files -z --cached --others --exclude-standard '*.c' '*.cpp' '*.h')
"$format" --dry-run --Werror "${files[@]}"
echo "clang-format: all ${#files[@]} C and C++ files are formatted"
