#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the child tools need.
# Idempotent: asks dpkg first and runs apt-get only for what is missing.
set -euo pipefail

# The clang runtime (libFuzzer) is the one of the installed clang's version, so clang comes first.
packages=(
  build-essential cmake pkg-config
  zlib1g-dev libpng-dev libgif-dev libjpeg62-turbo-dev
  qt6-base-dev libgl-dev libx11-dev libxfixes-dev libxcb1-dev libxcb-xfixes0-dev
  libjpeg-turbo-progs webp advancecomp
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth xdotool
  clang
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
updated=0

install_missing() {
  local missing=() p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if [ "$updated" -eq 0 ]; then
    "${sudo_cmd[@]}" apt-get update -q
    updated=1
  fi
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

install_missing "${packages[@]}"

clang_major=$(clang -dumpversion | cut -d. -f1)
install_missing "libclang-rt-${clang_major}-dev"
