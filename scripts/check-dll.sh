#!/usr/bin/env bash
# Checks the built component: a 32-bit DLL that exports exactly DllGetClassObject,
# DllRegisterServer and DllUnregisterServer, and imports only system DLLs (the
# runtime is linked statically).
set -euo pipefail
dll=$1
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
system_dlls=${CV_SYSTEM_DLL_DIR:-/usr/lib/i386-linux-gnu/wine/i386-windows}
fail() { echo "check-dll: $*" >&2; exit 1; }

dump=$("$objdump" -p "$dll")
grep -q 'file format pei-i386' <<<"$dump" || fail "$dll is not a 32-bit PE image"
grep -qE '^Characteristics .*' <<<"$dump" && grep -q 'DLL' <<<"$dump" || fail "$dll is not a DLL"

exports=$(awk '/\[Ordinal\/Name Pointer\] Table/{on=1;next} on&&/^[ \t]*\[/{print $NF;next} on&&!/^[ \t]*\[/{on=0}' <<<"$dump" | sort | tr '\n' ' ')
expected="DllGetClassObject DllRegisterServer DllUnregisterServer "
[ "$exports" = "$expected" ] || fail "exports are '$exports', expected '$expected'"

known=$(ls "$system_dlls" | tr 'A-Z' 'a-z')
imports=$(awk '/DLL Name:/{print $3}' <<<"$dump" | sort -u)
[ -n "$imports" ] || fail "no import table found"
for name in $imports; do
  lower=$(tr 'A-Z' 'a-z' <<<"$name")
  case "$lower" in
    libgcc*|libstdc++*|libwinpthread*|msvcp*|vcruntime*) fail "imports runtime DLL $name" ;;
  esac
  grep -qx "$lower" <<<"$known" || fail "imports $name, which is not a system DLL"
done
echo "check-dll: $(basename "$dll"): 32-bit DLL, exports: $exports; imports: $(echo $imports)"
