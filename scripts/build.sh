#!/usr/bin/env bash
# Configures and builds the project in a build directory.
# Usage: scripts/build.sh [BUILD_DIR] [extra cmake options...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
shift || true
"$root/scripts/bootstrap.sh"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
elif [ "$#" -gt 0 ]; then
  cmake -S "$root" -B "$build" "$@" >/dev/null
fi
cmake --build "$build" -j "$(nproc)"
