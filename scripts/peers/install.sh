#!/usr/bin/env bash
# Installs what fldigi_peer.py needs (fldigi, a virtual display, a PulseAudio server and its
# tools), once. Safe to run again: only missing packages are installed.
set -euo pipefail

PACKAGES=(fldigi xvfb pulseaudio pulseaudio-utils sox python3)

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
