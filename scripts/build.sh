#!/usr/bin/env bash
# Configures and builds the project in a build directory.
# Usage: scripts/build.sh [BUILD_DIR] [extra cmake options...]
# SWBOOT_BUILD_TARGETS (names separated by spaces) builds only those targets;
# by default everything is built.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
shift || true
"$root/scripts/bootstrap.sh"
# A compiler cache keyed on paths relative to the tree, so that a second
# clone or build directory of the same sources compiles nothing again.
launcher=()
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}" CCACHE_NOHASHDIR=1
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "$@" >/dev/null
elif [ "$#" -gt 0 ]; then
  cmake -S "$root" -B "$build" "$@" >/dev/null
fi
targets=()
for target in ${SWBOOT_BUILD_TARGETS:-}; do
  targets+=(--target "$target")
done
cmake --build "$build" -j "$(nproc)" "${targets[@]}"
