#!/usr/bin/env bash
# Builds and runs every test: plainly, then under AddressSanitizer with
# UndefinedBehaviorSanitizer. Pass variants to choose (plain asan tsan).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
variants=("$@")
((${#variants[@]})) || variants=(plain asan)

for variant in "${variants[@]}"; do
  echo "=== $variant ===" >&2
  bash scripts/build.sh "$variant"
  ctest --test-dir "build/$variant" --output-on-failure -j2 --timeout 600
done
