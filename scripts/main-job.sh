#!/usr/bin/env bash
# The main job: installs what is needed, builds, loads the component in Wine with
# tracing switched on and prints the decoded trace it wrote.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/setup.sh
cmake --preset win32
cmake --build --preset win32

build="$root/build/win32"
prefix="$build/wineprefix"
run() { "$root/scripts/wine-run.sh" --prefix "$prefix" "$@"; }

# Tracing on for every component, one file per process, in a folder of the prefix.
trace_dir="$prefix/drive_c/cvtrace"
rm -rf "$trace_dir" && mkdir -p "$trace_dir"
key='HKLM\SOFTWARE\Corvantis\Tracing'
run reg add "$key" /reg:32 /v DoTrace /t REG_DWORD /d 1 /f >/dev/null
run reg add "$key" /reg:32 /v TraceToFile /t REG_DWORD /d 1 /f >/dev/null
run reg add "$key" /reg:32 /v NewFileAlways /t REG_DWORD /d 1 /f >/dev/null
run reg add "$key" /reg:32 /v TracePath /t REG_SZ /d 'C:\cvtrace' /f >/dev/null

cp "$build/src/plugin/CVOnlineIDs.dll" "$build/tools/"
run "$build/tools/cvload.exe" 'CVOnlineIDs.dll'

for file in "$trace_dir"/*.trc3; do
  echo "== $(basename "$file")"
  run "$build/tools/tracereader/cvtrace.exe" --header "C:\\cvtrace\\$(basename "$file")" 2>&1 | tr -d '\r' || true
done
