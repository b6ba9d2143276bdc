#!/usr/bin/env bash
# Runs a Windows program under Wine in a prefix owned by the build tree.
#   wine-run.sh [--prefix DIR] PROGRAM [ARGS...]
# The prefix is a 64-bit one (the 64-bit twin runs natively, 32-bit programs under
# WOW64 as on today's Windows, where this machine runs 32-bit code at all), created
# on first use, with the "null" graphics driver so windows and
# dialogs run headless. CV_WINE_X11=1 switches the prefix to the X11 driver (for
# screenshots under Xvfb; DISPLAY must be set); the next run without it switches back.
set -euo pipefail

prefix="${CV_WINEPREFIX:-}"
if [ "${1:-}" = "--prefix" ]; then
  prefix=$2
  shift 2
fi
if [ -z "$prefix" ]; then
  prefix="$(cd "$(dirname "$0")/.." && pwd)/build/wineprefix"
fi
mkdir -p "$prefix"
prefix=$(cd "$prefix" && pwd)

export WINEPREFIX="$prefix"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono/Gecko installers, no menu entries in the host desktop, and no
# debugger for a crashing program (it would wait forever): the program ends.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d}"

driver=null
[ "${CV_WINE_X11:-0}" = 1 ] && driver=x11

(
  flock 9
  if [ ! -f "$prefix/.cv-ready" ]; then
    echo "[wine-run] creating the Wine prefix $prefix" >&2
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    touch "$prefix/.cv-ready"
  fi
  if ! grep -q "\"Graphics\"=\"$driver\"" "$prefix/user.reg" 2>/dev/null; then
    # The driver is chosen when the prefix's desktop process starts: restart it.
    wineserver -k 2>/dev/null || true
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d "$driver" /f >/dev/null 2>&1
    wineserver -w
  fi
) 9>"$prefix.lock"

exec wine "$@"
