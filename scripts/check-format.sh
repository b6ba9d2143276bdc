#!/usr/bin/env bash
# Fails when a C++ source of the project is not formatted with .clang-format.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files --cached --others --exclude-standard -- \
  'src/*.cpp' 'src/*.h' 'tools/*.cpp' 'tools/*.h' 'tests/*.cpp' 'tests/*.h' 'suite/*.cpp' 'suite/*.h')
[ ${#files[@]} -gt 0 ] || exit 0
bad=()
for f in "${files[@]}"; do
  [ -f "$f" ] || continue
  clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
  echo "check-format: not formatted (run clang-format -i): ${bad[*]}" >&2
  exit 1
fi
echo "check-format: ${#files[@]} files formatted"
