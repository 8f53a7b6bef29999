#!/usr/bin/env bash
# The main job on a machine with or without a sound card: installs, builds, and
# runs the demonstration host on the module's default devices.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
bash scripts/build.sh plain >/dev/null
exec build/plain/bin/dgterm --demo "$@"
