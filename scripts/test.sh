#!/usr/bin/env bash
# Builds and runs every test plainly and under AddressSanitizer with
# UndefinedBehaviorSanitizer, then the suites whose code runs threads under
# ThreadSanitizer, then each fuzz target for a short budget (scripts/fuzz.sh).
# Pass variants to choose (plain asan tsan fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."

# The suites that exercise the module's and the platform's threads.
threaded=(platform_tests core_tests serial_tests sound_tests fftthread_tests level_tests host_tests)

bash scripts/deps.sh
variants=("$@")
((${#variants[@]})) || variants=(plain asan tsan fuzz)

for variant in "${variants[@]}"; do
  echo "=== $variant ===" >&2
  if [[ $variant == fuzz ]]; then
    bash scripts/fuzz.sh
  elif [[ $variant == tsan ]]; then
    bash scripts/build.sh tsan "${threaded[@]}"
    suites=$(IFS='|'; echo "^(${threaded[*]})\\.")
    # One at a time: real-time round trips are slowed several times over here.
    ctest --test-dir build/tsan --output-on-failure -j1 --timeout 600 -R "$suites"
  else
    bash scripts/build.sh "$variant"
    ctest --test-dir "build/$variant" --output-on-failure -j2 --timeout 600
  fi
done
