#!/usr/bin/env bash
# Installs what RUZada needs to build, test and run on Debian, once. Given package names, installs
# those instead (scripts/peers/install.sh).
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  portaudio19-dev libsndfile1-dev libfftw3-dev libcli11-dev libncurses-dev
  minimodem ebook2cw pulseaudio pulseaudio-utils libasound2-plugins tmux binutils
  libsamplerate0-dev libhamlib-dev libhamlib-utils
  clang libclang-rt-dev
)
(($#)) && PACKAGES=("$@")

missing=()
for package in "${PACKAGES[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if ((${#missing[@]})); then
  SUDO=""
  [[ $(id -u) -ne 0 ]] && SUDO="sudo"
  echo "Installing: ${missing[*]}" >&2
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
