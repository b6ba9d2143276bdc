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

packages=(
  cmake ninja-build make pkg-config dpkg-dev file
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686
  wine wine32:i386 wine64 xvfb xauth x11-apps imagemagick
  clang libclang-rt-14-dev llvm clang-format
  libboost-dev libexpat1-dev googletest
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

deb_src_file=/etc/apt/sources.list.d/cv-deb-src.sources
need_src=0
[ -f "$third_party/expat-mingw/lib/libexpat.a" ] || need_src=1

if [ ${#missing[@]} -gt 0 ] || [ $need_src = 1 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
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
for tool in gcc g++; do
  alt="/usr/bin/i686-w64-mingw32-$tool"
  if [ "$(readlink -f "$alt")" != "$(readlink -f "$alt-posix")" ]; then
    update-alternatives --set "i686-w64-mingw32-$tool" "$alt-posix" >/dev/null 2>&1 || true
  fi
done

# Expat for mingw: built from the distribution's source package as a static library.
if [ ! -f "$third_party/expat-mingw/lib/libexpat.a" ]; then
  log "building Expat for mingw from the distribution's source package"
  work=$(mktemp -d)
  (cd "$work" && apt-get source -q --download-only expat >/dev/null && dpkg-source -x --no-check ./*.dsc src >/dev/null)
  srcdir="$work/src"
  [ -f "$srcdir/expat/CMakeLists.txt" ] && srcdir="$srcdir/expat"
  # The distribution's patches test "XML_DTD == 1" while its CMake build defines
  # XML_DTD empty; test for the definition instead.
  sed -i 's/^\(# *if\) XML_DTD == 1/\1 defined(XML_DTD)/' "$srcdir/lib/xmlparse.c"
  cmake -S "$srcdir" -B "$work/build" -G Ninja \
    -DCMAKE_SYSTEM_NAME=Windows \
    -DCMAKE_C_COMPILER=i686-w64-mingw32-gcc-posix \
    -DCMAKE_CXX_COMPILER=i686-w64-mingw32-g++-posix \
    -DCMAKE_RC_COMPILER=i686-w64-mingw32-windres \
    -DCMAKE_BUILD_TYPE=Release \
    -DEXPAT_SHARED_LIBS=OFF -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF \
    -DEXPAT_BUILD_TESTS=OFF -DEXPAT_BUILD_DOCS=OFF -DEXPAT_BUILD_PKGCONFIG=OFF \
    -DEXPAT_MSVC_STATIC_CRT=OFF \
    -DCMAKE_INSTALL_PREFIX="$third_party/expat-mingw" >/dev/null
  cmake --build "$work/build" | tail -1
  cmake --install "$work/build" >/dev/null
  # Normalise the library name (some versions add suffixes like libexpatMD.a).
  lib=$(find "$third_party/expat-mingw/lib" -name 'libexpat*.a' | head -1)
  [ "$lib" = "$third_party/expat-mingw/lib/libexpat.a" ] || cp "$lib" "$third_party/expat-mingw/lib/libexpat.a"
  rm -rf "$work"
  log "Expat installed in $third_party/expat-mingw"
fi

# Boost headers only, in a folder of their own: the mingw compiler must never see /usr/include.
if [ ! -d "$third_party/boost-headers/boost" ]; then
  mkdir -p "$third_party/boost-headers"
  ln -sfn /usr/include/boost "$third_party/boost-headers/boost"
  log "boost headers exposed in $third_party/boost-headers"
fi

log "done"
