#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (ASan+UBSan, every library
# instrumented) into build/fuzz and runs each from its seeds in fuzz/corpus/:
#   scripts/fuzz.sh                  about a minute in all (CI)
#   scripts/fuzz.sh SECONDS          each target for SECONDS
#   scripts/fuzz.sh SECONDS NAME...  only these: exports, settings, or a snap-in (DGrtty ...)
# What a run finds goes to build/fuzz/findings/ and fails the script; the inputs
# it learnt stay in build/fuzz/corpus/ for the next run.
set -euo pipefail
cd "$(dirname "$0")/.."

total_budget=60
seconds=${1:-}
shift || true

bash scripts/deps.sh
runtime_dir=$(dirname "$(clang -print-file-name=libclang_rt.asan-x86_64.so)")
# One shared ASan runtime for the fuzzer, the module and the snap-ins it loads.
link_flags="-shared-libasan -Wl,-rpath,$runtime_dir"
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DRUZADA_SANITIZE="address,undefined,fuzzer-no-link" -DRUZADA_FUZZ=ON -DBUILD_TESTING=OFF -DRUZADA_BENCH=OFF \
  -DCMAKE_EXE_LINKER_FLAGS="$link_flags" -DCMAKE_SHARED_LINKER_FLAGS="$link_flags" \
  -DCMAKE_MODULE_LINKER_FLAGS="$link_flags" >/dev/null
cmake --build build/fuzz --target exports_fuzzer snapin_fuzzer settings_fuzzer

bin=build/fuzz/bin
runs=(exports settings)
for snapin in "$bin"/DG*.so; do
  [[ -e $snapin ]] && runs+=("$(basename "$snapin" .so)")
done
(($#)) && runs=("$@")
[[ -n $seconds ]] || seconds=$((total_budget / ${#runs[@]}))

mkdir -p build/fuzz/findings
passed=0 failed=0
for name in "${runs[@]}"; do
  case $name in
    exports | settings) target=$name seeds=fuzz/corpus/$name ;;
    DG*) target=snapin seeds=fuzz/corpus/snapin ;;
    *) echo "unknown fuzz run: $name" >&2; exit 2 ;;
  esac
  corpus=build/fuzz/corpus/$name
  mkdir -p "$corpus"
  log=build/fuzz/$name.log
  status=0
  RUZADA_FUZZ_SNAPIN=$PWD/$bin/$name.so \
    "$bin/${target}_fuzzer" -max_total_time="$seconds" -timeout=20 -print_final_stats=1 \
    -artifact_prefix="build/fuzz/findings/$name-" "$corpus" "$seeds" >"$log" 2>&1 || status=$?
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  if ((status)); then
    failed=$((failed + 1))
    echo "fuzz $name: FAILED after ${executions:-?} executions (exit $status), see $log and build/fuzz/findings/" >&2
    grep -m 3 -E "^==[0-9]+==ERROR|runtime error|^SUMMARY|deadly signal|timeout" "$log" >&2 || true
  else
    passed=$((passed + 1))
    echo "fuzz $name: ${executions:-?} executions in ${seconds} s, no finding, corpus $(ls "$corpus" | wc -l) inputs" >&2
  fi
done
echo "fuzz: $passed passed, $failed failed"
((failed == 0))
