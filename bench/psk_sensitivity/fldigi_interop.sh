#!/usr/bin/env bash
# Interop with fldigi both ways, for BPSK31, BPSK63 and QPSK31 on a 1000 Hz
# carrier, through scripts/peers/fldigi_peer.py (real time: some 15 minutes):
# - fldigi sends tests/psk/data/<MODE>.txt; the recording is written to
#   tests/psk/data/fldigi_<MODE>.wav, where psk_tests checks DGpsk against it;
# - dgterm decodes that recording, and must print the text exactly;
# - dgterm sends the text, and fldigi must decode it exactly.
#   bench/psk_sensitivity/fldigi_interop.sh [MODE...]
set -euo pipefail
cd "$(dirname "$0")/../.."

modes=("$@")
((${#modes[@]})) || modes=(BPSK31 BPSK63 QPSK31)
peer=scripts/peers/fldigi_peer.py
data=tests/psk/data
dgterm=build/plain/bin/dgterm
bash scripts/peers/install.sh
bash scripts/build.sh plain dgterm RUZada DGpsk >/dev/null
scratch=$(mktemp -d /tmp/psk-interop.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

# Exactly the expected text, or the difference.
check() {
  local what=$1 expected=$2 got=$3
  if [[ $got == "$expected" ]]; then
    echo "ok    $what"
  else
    echo "FAIL  $what"
    diff <(printf '%s\n' "$expected" | fold -w 72) <(printf '%s\n' "$got" | fold -w 72) || true
    failed=1
  fi
}

failed=0
for mode in "${modes[@]}"; do
  text=$(cat "$data/$mode.txt")
  recording=$data/fldigi_$mode.wav
  python3 "$peer" transmit --mode "$mode" --carrier 1000 --text-file "$data/$mode.txt" "$recording"
  check "$mode: DGpsk decodes fldigi" "$text" \
    "$("$dgterm" --mode PSK --option "Submode=$mode" --rx-file "$recording")"
  ours=$scratch/dgpsk_$mode.wav
  "$dgterm" --mode PSK --option "Submode=$mode" --tx-file "$ours" --text "$text"
  check "$mode: fldigi decodes DGpsk" "$text" \
    "$(python3 "$peer" decode --mode "$mode" --carrier 1000 --json "$ours" |
      python3 -c 'import json, sys; print(json.loads(sys.stdin.readline())["text"], end="")')"
done
exit $failed
