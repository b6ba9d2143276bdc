#!/usr/bin/env bash
# Builds everything and runs every test: formatting, the host build (platform-free
# code with ASan/UBSan, unit tests, short fuzz runs) and the Windows build (the
# DLL and its tests under Wine).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
bash scripts/check-format.sh

cmake --preset host
cmake --build --preset host
cmake --preset win32
cmake --build --preset win32

status=0
ctest --preset host || status=1
ctest --preset win32 || status=1
exit $status
