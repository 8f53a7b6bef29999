#!/usr/bin/env bash
# Configures and builds one variant: scripts/build.sh [plain|asan|tsan] [targets...] -> build/<variant>
set -euo pipefail
cd "$(dirname "$0")/.."

variant=${1:-plain}
shift || true
case $variant in
  plain) sanitize="" ;;
  asan) sanitize="address,undefined" ;;
  tsan) sanitize="thread" ;;
  *) echo "unknown variant: $variant (plain, asan or tsan)" >&2; exit 2 ;;
esac

cmake -S . -B "build/$variant" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRUZADA_SANITIZE="$sanitize" >/dev/null
targets=()
for target in "$@"; do targets+=(--target "$target"); done
cmake --build "build/$variant" "${targets[@]}"
