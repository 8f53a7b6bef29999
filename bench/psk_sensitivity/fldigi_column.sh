#!/usr/bin/env bash
# The fldigi column of the sensitivity table: writes every noisy file of
# psk_sensitivity, has fldigi decode them through scripts/peers/fldigi_peer.py
# (its AFC on, squelch off; the three submodes at once, about an hour in real
# time), then prints the table with fldigi's rates beside ours.
#   bench/psk_sensitivity/fldigi_column.sh [DIR]   (DIR keeps the files and fldigi's texts)
set -euo pipefail
cd "$(dirname "$0")/../.."

dir=${1:-$(mktemp -d /tmp/psk-sensitivity.XXXXXX)}
mkdir -p "$dir"
peer=scripts/peers/fldigi_peer.py
bash scripts/peers/install.sh
bash scripts/build.sh plain psk_sensitivity >/dev/null
bench=build/plain/bin/psk_sensitivity

"$bench" --wav-dir "$dir" >/dev/null
pids=()
for mode in BPSK31 BPSK63 QPSK31; do
  ls "$dir/${mode}"_*.wav |
    python3 "$peer" decode --mode "$mode" --carrier 1000 --afc on --json --files-from - >"$dir/fldigi_$mode.jsonl" &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid"; done
cat "$dir"/fldigi_*.jsonl >"$dir/fldigi.jsonl"
"$bench" --fldigi "$dir/fldigi.jsonl"
