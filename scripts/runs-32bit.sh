#!/usr/bin/env bash
# Exits 0 when this machine runs 32-bit Windows programs under Wine, 1 when not.
#   runs-32bit.sh PROBE_EXE PREFIX
# PROBE_EXE is the 32-bit build's tools/cvprobe.exe. Many machines have no 32-bit
# execution at all (neither i386 programs nor a 32-bit code segment under WoW64);
# there only the 64-bit twin's programs run.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$(timeout 120 "$here/wine-run.sh" --prefix "$2" "$1" 2>/dev/null | tr -d '\r')
[ "$out" = "cvprobe: 32-bit" ]
