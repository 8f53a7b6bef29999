#!/usr/bin/env bash
# The export table of RUZada.so is exactly its list of names: the module's
# functions and the published members of its classes, nothing internal.
# usage: exports.sh <exports.map> <RUZada.so>
set -euo pipefail
listed=$(sed -n '/global:/,/local:/p' "$1" | grep ';$' | grep -v '^ *};' | sed 's/^ *"\{0,1\}//; s/"\{0,1\};$//' | sort -u)
defined=$(nm -D --defined-only -C "$2" | awk '$2 != "A"' | cut -d' ' -f3- | sed 's/@.*//' | sort -u)
[ -n "$listed" ] && diff <(echo "$listed") <(echo "$defined")
