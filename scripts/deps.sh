#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the child tools need.
# Idempotent: asks dpkg first and runs apt-get only for what is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  zlib1g-dev libpng-dev libgif-dev libjpeg62-turbo-dev
  qt6-base-dev libgl-dev libx11-dev libxfixes-dev libxcb1-dev libxcb-xfixes0-dev
  libjpeg-turbo-progs webp advancecomp
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth xdotool
  clang libclang-rt-14-dev
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

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
