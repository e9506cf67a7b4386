#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need.
# Safe to run again: packages already present are left alone.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  googletest libgtest-dev libbenchmark-dev
  clang-format
  clang-14 libclang-rt-14-dev
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  wine wine64 fonts-wine
  xvfb xauth x11-utils imagemagick
  pulseaudio pulseaudio-utils sox
  procps python3
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi

echo "installing: ${missing[*]}"
# An index that cannot be fetched only warns here; a failed install below is fatal.
$sudo apt-get update -q || echo "warning: apt-get update reported a problem; continuing" >&2
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
