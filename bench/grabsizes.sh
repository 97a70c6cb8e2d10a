#!/usr/bin/env bash
# The memory and time of a whole console grab at two sizes, 100 and 400 channels × 14 days (50,400
# and 201,600 programmes), each beside the same grab with Tvrn.AddProgram an empty function (the
# script's own work alone); runs bench/wholegrab.sh for each and prints the medians and the ratios.
#
#   bench/grabsizes.sh [--runs R] PROGRAM_FOLDER [EXECUTABLE [ARGS...]]
#   bench/grabsizes.sh build/program
set -euo pipefail

runs=5
if [ "${1:-}" = --runs ]; then runs="$2"; shift 2; fi
[ $# -ge 1 ] || { sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
program="$1"; shift
[ $# -ge 1 ] || set -- TavrinConsole
here="$(dirname "$0")"

# prints "wall processor KB" of the medians
measure() { "$here/wholegrab.sh" --runs "$runs" "$@" | awk '/^median:/ { print $2, $4, $7 }'; }

printf '%-9s %9s %9s %9s %9s %11s %9s\n' programmes wall/s cpu/s "peak MiB" "Lua cpu/s" "Lua MiB" "cpu ratio"
for channels in 100 400; do
  read -r wall cpu kb < <(measure --channels "$channels" "$program" "$@")
  read -r _ luacpu luakb < <(measure --channels "$channels" --lua-only "$program" "$@")
  awk -v n=$((channels * 14 * 36)) -v w="$wall" -v c="$cpu" -v k="$kb" -v lc="$luacpu" -v lk="$luakb" \
    'BEGIN { printf "%-10d %9.2f %9.2f %9.1f %9.2f %11.1f %9.2f\n", n, w, c, k / 1024, lc, lk / 1024, (lc > 0 ? c / lc : 0) }'
done
