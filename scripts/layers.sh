#!/usr/bin/env bash
# The floors of module/, bottom first: a folder may include only from folders on
# a lower floor. Prints what each folder includes; exits 1 on an include that runs up.
set -euo pipefail
cd "$(dirname "$0")/../module"

floors=(base:1 res:1 util:2 core:3 modes:4 serial:4 audio:5 spectrum:6 entry:7)
declare -A floor
for entry in "${floors[@]}"; do floor[${entry%:*}]=${entry#*:}; done

status=0
for entry in "${floors[@]}"; do
  folder=${entry%:*}
  used=$(grep -rhoE '#include "[a-z]+/' "$folder" | sed -E 's|#include "||; s|/$||' | sort -u | grep -vx "$folder" || true)
  echo "$folder -> ${used//$'\n'/ }"
  for other in $used; do
    if [[ -z ${floor[$other]:-} || ${floor[$other]} -ge ${floor[$folder]} ]]; then
      echo "  $folder may not include from $other" >&2
      status=1
    fi
  done
done
exit $status
