#!/usr/bin/env bash
# Installs everything the build and the tests need on a Debian (bookworm) machine.
# Idempotent: run it as often as you like; it only installs what is missing.
set -euo pipefail

log() { printf '[setup] %s\n' "$*"; }
here=$(cd "$(dirname "$0")/.." && pwd)
third_party="${CV_THIRD_PARTY:-$here/.deps}"

if [ "$(id -u)" != 0 ]; then
  echo "[setup] must run as root (apt-get)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive

mingw_archs=(i686 x86_64)
packages=(
  cmake ninja-build make pkg-config dpkg-dev file
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
  binutils-mingw-w64-x86-64
  wine wine64 xvfb xauth x11-apps imagemagick
  clang libclang-rt-14-dev llvm clang-format
  libboost-dev libexpat1-dev googletest
)

# 32-bit Wine only where this kernel runs 32-bit programs at all: many machines have
# no 32-bit execution (an i386 program fails with "Exec format error"), and there
# the Windows tests run in the 64-bit twin only. The probe is a static i386 ELF
# program of 93 bytes (exit(0) through int 0x80), written from its bytes.
runs_i386() {
  local probe ok=1
  probe=$(mktemp)
  printf '%b' '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\x31\xdb\xb8\x01\x00\x00\x00\xcd\x80' >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null && ok=0
  rm -f "$probe"
  return $ok
}
with_i386=0
if [ "${CV_NO_I386:-0}" != 1 ] && runs_i386; then
  with_i386=1
  packages+=(wine32:i386)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

deb_src_file=/etc/apt/sources.list.d/cv-deb-src.sources
need_src=0
for arch in "${mingw_archs[@]}"; do
  [ -f "$third_party/expat-$arch/lib/libexpat.a" ] || need_src=1
done

if [ ${#missing[@]} -gt 0 ] || [ $need_src = 1 ]; then
  if [ $with_i386 = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    log "adding the i386 architecture"
    dpkg --add-architecture i386
  fi
  if [ ! -f "$deb_src_file" ]; then
    log "adding source entries for the main suites ($deb_src_file)"
    cat > "$deb_src_file" <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  fi
  log "apt-get update"
  if ! apt-get update -q 2>&1 | tee /tmp/cv-apt-update.log | tail -3; then :; fi
  if grep -qiE '^(E|W): Failed to fetch|Hash Sum mismatch|File has unexpected size' /tmp/cv-apt-update.log; then
    log "an index failed to download (see above); retrying once"
    apt-get update -q || true
  fi
fi

install_missing() {
  apt-get install -y -q --no-install-recommends "$@"
}

if [ ${#missing[@]} -gt 0 ]; then
  log "installing: ${missing[*]}"
  if ! install_missing "${missing[@]}"; then
    # Known trap: the security suite's i386 index can fail to download, so the
    # amd64 and i386 wine packages come from different versions and conflict.
    # Install with the main suites only (both architectures then agree).
    log "install failed; retrying with the security suite left out for this install"
    tmp_list=$(mktemp -d)
    log "  sources used for the retry: the main and updates suites of deb.debian.org only"
    cat > "$tmp_list/main.sources" <<'MAIN'
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
MAIN
    apt-get -o Dir::Etc::sourcelist=/dev/null -o Dir::Etc::sourceparts="$tmp_list" update -q
    apt-get -o Dir::Etc::sourcelist=/dev/null -o Dir::Etc::sourceparts="$tmp_list" \
      install -y -q --no-install-recommends "${missing[@]}"
    rm -rf "$tmp_list"
    log "installed with the main suites only; restoring the full package lists"
    apt-get update -q >/dev/null 2>&1 || true
  fi
else
  log "all packages present"
fi

# The mingw compilers must use posix threads (std::thread, std::mutex).
for arch in "${mingw_archs[@]}"; do
  for tool in gcc g++; do
    alt="/usr/bin/$arch-w64-mingw32-$tool"
    if [ "$(readlink -f "$alt")" != "$(readlink -f "$alt-posix")" ]; then
      update-alternatives --set "$arch-w64-mingw32-$tool" "$alt-posix" >/dev/null 2>&1 || true
    fi
  done
done

# Expat for mingw, one static library per architecture, built from the
# distribution's source package.
expat_src=""
for arch in "${mingw_archs[@]}"; do
  dest="$third_party/expat-$arch"
  [ -f "$dest/lib/libexpat.a" ] && continue
  work=$(mktemp -d)
  if [ -z "$expat_src" ]; then
    log "unpacking the distribution's Expat sources"
    expat_src=$(mktemp -d)
    (cd "$expat_src" && apt-get source -q --download-only expat >/dev/null && dpkg-source -x --no-check ./*.dsc src >/dev/null)
    # The distribution's patches test "XML_DTD == 1" while its CMake build defines
    # XML_DTD empty; test for the definition instead.
    srcdir="$expat_src/src"
    [ -f "$srcdir/expat/CMakeLists.txt" ] && srcdir="$srcdir/expat"
    sed -i 's/^\(# *if\) XML_DTD == 1/\1 defined(XML_DTD)/' "$srcdir/lib/xmlparse.c"
  fi
  log "building Expat for mingw $arch"
  cmake -S "$srcdir" -B "$work/build" -G Ninja \
    -DCMAKE_SYSTEM_NAME=Windows \
    -DCMAKE_C_COMPILER="$arch-w64-mingw32-gcc-posix" \
    -DCMAKE_CXX_COMPILER="$arch-w64-mingw32-g++-posix" \
    -DCMAKE_RC_COMPILER="$arch-w64-mingw32-windres" \
    -DCMAKE_BUILD_TYPE=Release \
    -DEXPAT_SHARED_LIBS=OFF -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF \
    -DEXPAT_BUILD_TESTS=OFF -DEXPAT_BUILD_DOCS=OFF -DEXPAT_BUILD_PKGCONFIG=OFF \
    -DEXPAT_MSVC_STATIC_CRT=OFF \
    -DCMAKE_INSTALL_PREFIX="$dest" --no-warn-unused-cli >/dev/null
  cmake --build "$work/build" | tail -1
  cmake --install "$work/build" >/dev/null
  # Normalise the library name (some versions add suffixes like libexpatMD.a).
  lib=$(find "$dest/lib" -name 'libexpat*.a' | head -1)
  [ "$lib" = "$dest/lib/libexpat.a" ] || cp "$lib" "$dest/lib/libexpat.a"
  rm -rf "$work"
  log "Expat installed in $dest"
done
[ -z "$expat_src" ] || rm -rf "$expat_src"

# Boost headers only, in a folder of their own: the mingw compiler must never see /usr/include.
if [ ! -d "$third_party/boost-headers/boost" ]; then
  mkdir -p "$third_party/boost-headers"
  ln -sfn /usr/include/boost "$third_party/boost-headers/boost"
  log "boost headers exposed in $third_party/boost-headers"
fi

log "done"
