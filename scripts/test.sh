#!/usr/bin/env bash
# Builds everything and runs every test: formatting, the host build (platform-free
# code with ASan/UBSan, unit tests, short fuzz runs), the 32-bit Windows build (the
# shipped DLL: always built and checked; its tests run where 32-bit code runs) and
# its 64-bit twin (every Windows test under 64-bit Wine).
set -euo pipefail
cd "$(dirname "$0")/.."

started=$SECONDS
stage_start=$SECONDS
stages=()
stage() {
  stages+=("$(printf '%-28s %4ds' "$1" $((SECONDS - stage_start)))")
  stage_start=$SECONDS
}

bash scripts/setup.sh
stage "setup"
bash scripts/check-format.sh
stage "format check"

cmake --preset host >/dev/null
cmake --build --preset host
stage "host build"
cmake --preset win32 >/dev/null
cmake --build --preset win32
stage "win32 build"
cmake --preset win64 >/dev/null
cmake --build --preset win64
stage "win64 build"

# Decided once: does this machine run 32-bit Windows programs? Many machines have
# no 32-bit execution at all; there only the 64-bit twin's tests can run.
runs32=0
bash scripts/runs-32bit.sh build/win32/tools/cvprobe.exe build/win64/wineprefix && runs32=1
stage "32-bit probe"

status=0
ctest --preset host || status=1
stage "host tests"
# The shipped DLL's static check runs everywhere (its ctest runs it again).
bash scripts/check-dll.sh build/win32/src/plugin/CVOnlineIDs.dll || status=1
if [ $runs32 = 1 ]; then
  ctest --preset win32 || status=1
  stage "win32 tests"
fi
ctest --preset win64 -LE bench || status=1
stage "win64 tests"
# The benchmarks never fail; their figures (each ratio against a baseline of the
# same run, with its goal) are printed here.
echo "== benchmarks (64-bit twin under Wine)"
ctest --preset win64 -L bench -V 2>&1 | sed -n 's/^[0-9][0-9]*: //p' |
  grep -E "(goal|bench:|us|ms|ns)" || true
stage "win64 benchmarks"

echo "== stage times"
printf '  %s\n' "${stages[@]}"
printf '  %-28s %4ds\n' "total" $((SECONDS - started))
if [ $runs32 = 1 ]; then
  echo "Windows tests ran: 32-bit build and 64-bit twin (this machine runs 32-bit code)"
else
  echo "Windows tests ran: 64-bit twin only (this machine cannot run 32-bit code; the" \
    "32-bit DLL was built and checked statically)"
fi
exit $status
