#!/usr/bin/env bash
# The main job on a machine with or without a sound card: installs, builds, and
# runs dgterm's demonstration, RTTY sent through the module's loopback card and
# decoded again. Exits 0 when the text decoded is the text sent.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
bash scripts/build.sh plain >/dev/null
exec build/plain/bin/dgterm --demo "$@"
