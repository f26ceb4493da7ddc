#!/usr/bin/env bash
# Installs the Debian packages this project needs, when any is missing,
# and those named as arguments (scripts that need more pass them).
# Used by the README's commands and by CI; safe to run again.
# Usage: scripts/bootstrap.sh [extra packages...]
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config ccache
  zlib1g-dev libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev libtomlplusplus-dev
  lrzsz socat
  libunicorn-dev gcc-powerpc-linux-gnu g++-powerpc-linux-gnu dpkg-dev
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

echo "bootstrap: installing ${missing[*]}" >&2
if [ "$(id -u)" -eq 0 ]; then
  sudo=()
elif command -v sudo >/dev/null 2>&1; then
  sudo=(sudo)
else
  echo "bootstrap: need root (or sudo) to install: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
