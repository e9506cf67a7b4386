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
  gnuplot-nox
  procps python3 zip unzip
  libspeexdsp-dev dpkg-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  # An index that cannot be fetched only warns here; a failed install below is fatal.
  $sudo apt-get update -q || echo "warning: apt-get update reported a problem; continuing" >&2
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The Windows builds compile speexdsp's resampler from Debian's source package (the same code
# as the native libspeexdsp-dev), unpacked once into a fixed directory that CMake looks in.
deps_dir=/usr/local/src/kestrune-deps
if [ ! -f "$deps_dir/speexdsp/libspeexdsp/resample.c" ]; then
  if ! apt-get source --print-uris -q speexdsp >/dev/null 2>&1; then
    src_list=/etc/apt/sources.list.d/kestrune-src.sources
    if [ ! -f "$src_list" ]; then
      suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
      echo "adding a deb-src entry for $suite"
      $sudo tee "$src_list" >/dev/null <<SOURCES
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $suite
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    fi
    $sudo apt-get update -q || echo "warning: apt-get update reported a problem; continuing" >&2
  fi
  $sudo mkdir -p "$deps_dir"
  work=$($sudo mktemp -d "$deps_dir/fetch.XXXXXX")
  (cd "$work" && $sudo apt-get source -q speexdsp)
  unpacked=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'speexdsp-*' | head -1)
  if [ -z "$unpacked" ] || [ ! -f "$unpacked/libspeexdsp/resample.c" ]; then
    echo "apt-get source speexdsp gave no usable source tree" >&2
    exit 1
  fi
  $sudo rm -rf "$deps_dir/speexdsp"
  $sudo mv "$unpacked" "$deps_dir/speexdsp"
  $sudo rm -rf "$work"
fi
