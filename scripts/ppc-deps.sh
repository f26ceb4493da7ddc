#!/usr/bin/env bash
# Builds the libraries the big-endian test build links, for powerpc-linux-gnu,
# static, into a cache directory that later runs reuse:
#   zlib        from Debian's source package, pinned (version and the .dsc's
#               SHA-256), fetched with apt-get source through a private apt
#               configuration (the system's sources stay as they are) and
#               unpacked and checked by dpkg-source;
#   GoogleTest  (with GoogleMock) from /usr/src/googletest;
#   CLI11, toml++  the host's header-only headers, offered header-only.
# Usage: scripts/ppc-deps.sh [all]     builds what is missing; prints the prefix
#                                      (include/, lib/) as its last line
#        scripts/ppc-deps.sh zlib-source   fetches, checks and unpacks the zlib
#                                      source only; prints its directory
# Cache: ${SWBOOT_PPC_DEPS:-${XDG_CACHE_HOME:-$HOME/.cache}/swboot/ppc-deps}
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cache="${SWBOOT_PPC_DEPS:-${XDG_CACHE_HOME:-$HOME/.cache}/swboot/ppc-deps}"
mode="${1:-all}"
case "$mode" in
  all|zlib-source) ;;
  *) echo "usage: $0 [all|zlib-source]" >&2; exit 2 ;;
esac

zlib_version="1:1.2.13.dfsg-1"
zlib_dsc="zlib_1.2.13.dfsg-1.dsc"
zlib_dsc_sha256="3fa1e6b2fc525062aa88207dda52fed8e045373c809d362fe8a2bfbf7cf515a8"
# Host code of this project is built with a 64-bit off_t and time_t; the
# libraries it links are built the same way.
cflags="-O2 -D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64"

say() { echo "ppc-deps: $*" >&2; }

"$root/scripts/bootstrap.sh" g++-powerpc-linux-gnu qemu-user dpkg-dev googletest

mkdir -p "$cache"
cache="$(cd "$cache" && pwd)"
prefix="$cache/prefix"
source_dir="$cache/zlib-source"

# The zlib source: apt-get source with its own sources list (a deb-src entry
# for the Debian archive this machine's apt already uses), lists and cache.
fetch_zlib_source() {
  [ -f "$source_dir/.swboot-source-ok" ] && return 0
  local apt="$cache/apt" archive suite
  read -r archive suite < <(apt-get indextargets --format '$(REPO_URI) $(RELEASE)' 'Created-By: Packages' 2>/dev/null |
    grep -v -e security -e '-updates' -e '-backports' | grep -m1 -E '/debian/? ' || true)
  if [ -z "${archive:-}" ]; then
    . /etc/os-release
    archive="http://deb.debian.org/debian/" suite="$VERSION_CODENAME"
  fi
  mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/sources.list.d" "$apt/download"
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $archive $suite main" > "$apt/sources.list"
  local options=(
    -o Dir::Etc::SourceList="$apt/sources.list" -o Dir::Etc::SourceParts="$apt/sources.list.d"
    -o Dir::State::Lists="$apt/lists" -o Dir::Cache="$apt/cache"
    -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=
    -o APT::Sandbox::User="$(id -un)" -o Debug::NoLocking=1)
  say "fetching zlib $zlib_version source from $archive $suite"
  apt-get "${options[@]}" -qq update >&2
  rm -rf "$apt/download" && mkdir -p "$apt/download"
  (cd "$apt/download" && apt-get "${options[@]}" -qq --download-only source "zlib=$zlib_version" >&2)
  # apt checked the files against the archive's signed index; the .dsc is
  # also pinned here, and dpkg-source checks every file it lists.
  local sum
  sum="$(sha256sum "$apt/download/$zlib_dsc" | cut -d' ' -f1)"
  if [ "$sum" != "$zlib_dsc_sha256" ]; then
    say "$zlib_dsc has SHA-256 $sum, expected $zlib_dsc_sha256"
    exit 1
  fi
  rm -rf "$source_dir" "$source_dir.new"
  (cd "$apt/download" && dpkg-source --require-strong-checksums -x "$zlib_dsc" "$source_dir.new" >&2)
  touch "$source_dir.new/.swboot-source-ok"
  mv "$source_dir.new" "$source_dir"
}

# stamp NAME RECIPE: true when NAME was built with this RECIPE.
built() { [ -f "$cache/stamps/$1" ] && [ "$(cat "$cache/stamps/$1")" = "$2" ]; }
stamp() { mkdir -p "$cache/stamps" && printf '%s\n' "$2" > "$cache/stamps/$1"; }

build_zlib() {
  local recipe="$zlib_version $cflags"
  built zlib "$recipe" && return 0
  say "building zlib for powerpc-linux-gnu"
  local build="$cache/build/zlib"
  rm -rf "$build" && mkdir -p "$build"
  (cd "$build" && CHOST=powerpc-linux-gnu CFLAGS="$cflags" "$source_dir/configure" --static --prefix="$prefix" >/dev/null &&
   make -s -j"$(nproc)" libz.a >/dev/null && make -s install >/dev/null)
  stamp zlib "$recipe"
}

build_googletest() {
  local recipe
  recipe="googletest $(dpkg-query -W -f='${Version}' googletest) $cflags $(sha256sum "$root/cmake/powerpc-linux-gnu.cmake" | cut -d' ' -f1)"
  built googletest "$recipe" && return 0
  say "building GoogleTest for powerpc-linux-gnu"
  local build="$cache/build/googletest"
  rm -rf "$build"
  cmake -S /usr/src/googletest -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/powerpc-linux-gnu.cmake" -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DCMAKE_CXX_FLAGS="$cflags" -DBUILD_SHARED_LIBS=OFF -DBUILD_GMOCK=ON >/dev/null
  cmake --build "$build" -j "$(nproc)" >/dev/null
  cmake --install "$build" >/dev/null
  stamp googletest "$recipe"
}

# CLI11 and toml++ are header-only libraries; the host's toml++ package
# describes its shared library, so the prefix describes them itself.
offer_headers() {
  local recipe="headers 1"
  built headers "$recipe" && return 0
  mkdir -p "$prefix/include" "$prefix/lib/cmake/CLI11" "$prefix/lib/cmake/tomlplusplus"
  ln -sfn /usr/include/CLI "$prefix/include/CLI"
  ln -sfn /usr/include/toml++ "$prefix/include/toml++"
  cat > "$prefix/lib/cmake/CLI11/CLI11Config.cmake" <<'CMAKE'
add_library(CLI11::CLI11 INTERFACE IMPORTED)
set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${CMAKE_CURRENT_LIST_DIR}/../../../include")
CMAKE
  cat > "$prefix/lib/cmake/tomlplusplus/tomlplusplusConfig.cmake" <<'CMAKE'
add_library(tomlplusplus::tomlplusplus INTERFACE IMPORTED)
set_target_properties(tomlplusplus::tomlplusplus PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES "${CMAKE_CURRENT_LIST_DIR}/../../../include"
  INTERFACE_COMPILE_DEFINITIONS TOML_HEADER_ONLY=1)
CMAKE
  stamp headers "$recipe"
}

fetch_zlib_source
if [ "$mode" = zlib-source ]; then
  echo "$source_dir"
  exit 0
fi
build_zlib
build_googletest
offer_headers
echo "$prefix"
