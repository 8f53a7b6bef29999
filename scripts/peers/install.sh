#!/usr/bin/env bash
# Installs what fldigi_peer.py needs (fldigi, a virtual display, a PulseAudio server and its
# tools, sox for input files in other formats), once: only missing packages are installed.
set -euo pipefail
exec bash "$(dirname "$0")/../deps.sh" fldigi xvfb pulseaudio pulseaudio-utils sox python3
