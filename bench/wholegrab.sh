#!/usr/bin/env bash
# A whole grab as a process: a scratch program folder with the build's program files and the
# generated grabber of bench/grabber.lua (CHANNELS channels × DAYS days of 36 programmes with IDs,
# added from Lua tables in one type 1 pass; sorted, written as UTF-8), run RUNS times under /usr/bin/time -v. Prints each
# run's wall time, processor time (user + system) and peak resident memory, then the medians.
#
#   bench/wholegrab.sh [--channels N] [--days D] [--runs R] [--lua-only] PROGRAM_FOLDER EXECUTABLE [ARGS...]
#
# EXECUTABLE is a file of PROGRAM_FOLDER (TavrinConsole, or Tavrin with /Grab /Silent); it is
# copied into the scratch folder, which is then its program folder. --lua-only replaces
# Tvrn.AddProgram by an empty function: the script's own work alone. Example, 50,400 programmes:
#   bench/wholegrab.sh build/program TavrinConsole
#   bench/wholegrab.sh build/program Tavrin /Grab /Silent
set -euo pipefail

channels=100 days=14 runs=5 lua_only=0
while [ $# -gt 0 ]; do
  case "$1" in
    --channels) channels="$2"; shift 2 ;;
    --days) days="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --lua-only) lua_only=1; shift ;;
    *) break ;;
  esac
done
[ $# -ge 2 ] || { sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
program="$(realpath "$1")"; exe="$2"; shift 2
[ -x "$program/$exe" ] || { echo "wholegrab: no $exe in $program" >&2; exit 2; }

work="$(mktemp -d "${TMPDIR:-/tmp}/tavrin-wholegrab-XXXXXX")"
trap 'rm -rf "$work"' EXIT
cp "$program/$exe" "$work/"
cp "$program/init.lua" "$work/"
cp -r "$program/lib" "$work/"
mkdir -p "$work/scripts" "$work/settings/bench"

{
  echo "GRAB_DAYS = $days"
  [ "$lua_only" -eq 1 ] && echo "LUA_ONLY = true"
  cat "$(dirname "$0")/grabber.lua"
} > "$work/scripts/bench.lua"
printf '[Settings]\nDoXMLSort=1\nSaveLog=0\nCharSet=3\nTimeZone=+01:00\nOutfile=out.xml\n[Grabbers]\nbench=1\n' \
  > "$work/settings/tavrin.ini"
{
  printf 'function Grabbers.bench.GetChans(G)\r\n'
  for ((i = 0; i < channels; i++)); do
    id="c$((1000 + i))"
    printf 'Tvrn.AddChannel(G,{ID="%s",XML_ID="%s.bench.tavrin",Name="Channel %d"})\r\n' "$id" "$id" "$i"
  done
  printf 'end\r\n'
} > "$work/settings/bench/channels.lua"
for ((i = 0; i < channels; i++)); do printf 'c%d\r\n' $((1000 + i)); done > "$work/settings/bench/userchannels.txt"

echo "wholegrab: $exe $* — $channels channels × $days days = $((channels * days * 36)) programmes, $runs runs"
walls=() cpus=() rss=()
for ((r = 1; r <= runs; r++)); do
  rm -f "$work/out.xml"
  status=0
  (cd "$work" && /usr/bin/time -v -o "$work/time.txt" "./$exe" "$@" > "$work/run.log" 2>&1) || status=$?
  [ "$status" -eq 0 ] || { echo "wholegrab: run $r ended with status $status" >&2; cat "$work/run.log" >&2; exit 1; }
  [ "$lua_only" -eq 1 ] || [ -s "$work/out.xml" ] || { echo "wholegrab: no XMLTV file written" >&2; exit 1; }
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }' "$work/time.txt")
  cpu=$(awk -F': ' '/(User|System) time \(seconds\)/ { s += $2 } END { print s }' "$work/time.txt")
  kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt")
  walls+=("$wall") cpus+=("$cpu") rss+=("$kb")
  printf 'run %d: %.2f s, %.2f s processor, %d KB peak\n' "$r" "$wall" "$cpu" "$kb"
done
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
printf 'median: %.2f s, %.2f s processor, %d KB peak\n' "$(median "${walls[@]}")" "$(median "${cpus[@]}")" "$(median "${rss[@]}")"
