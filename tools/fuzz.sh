#!/usr/bin/env bash
# Builds the fuzz targets of fuzz/ with clang, libFuzzer and the address and undefined-behaviour
# sanitizers in build-fuzz/, and runs them.
#
#   tools/fuzz.sh <target> <seconds> [libFuzzer options]   fuzz one target for that long
#   tools/fuzz.sh all <seconds>                             each target in turn, that long each
#   tools/fuzz.sh merge <target>                            minimise the target's corpus in fuzz/corpus
#
# Targets: uk_rt, inifile, uluarecords, uxmltv. A run starts from the repository's corpus
# (fuzz/corpus/<target>/, only read) and keeps what it finds new in build-fuzz/corpus/<target>/;
# "merge" folds that back into fuzz/corpus/<target>/, keeping only inputs that add coverage. A
# failing input is saved as build-fuzz/findings/<target>/crash-* (or leak-, timeout-, oom-); put
# it into fuzz/corpus/<target>/ as finding-<what> once fixed: the ordinary build's tests replay it,
# and merging keeps it. A run is one process on one core.
set -euo pipefail
cd "$(dirname "$0")/.."
targets=(uk_rt inifile uluarecords uxmltv)
build=build-fuzz

usage() {
  awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print } /^set / { exit }' "$0"
  exit 2
}

build_target() {
  local launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTAVRIN_FUZZ=ON -DTAVRIN_BENCH=OFF "${launcher[@]}" >/dev/null
  cmake --build "$build" -j2 --target "fuzz_$1"
}

run_target() {
  local target=$1 seconds=$2
  shift 2
  build_target "$target"
  mkdir -p "$build/corpus/$target" "$build/findings/$target"
  local options=(-max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048
                 -artifact_prefix="$build/findings/$target/")
  [ -f "fuzz/$target.dict" ] && options+=(-dict="fuzz/$target.dict")
  ASAN_OPTIONS=detect_leaks=1 "$build/fuzz/fuzz_$target" "${options[@]}" "$@" "$build/corpus/$target" "fuzz/corpus/$target"
}

merge_target() {
  local target=$1 merged
  build_target "$target"
  merged=$(mktemp -d)
  mkdir -p "$build/corpus/$target"
  # Inputs named finding-* are the regression cases of fixed faults: they stay, and the rest is
  # only what adds to them. Edges alone count, not how often each ran: a corpus of a few hundred
  # inputs that still reaches every line.
  cp "fuzz/corpus/$target"/finding-* "$merged"/ 2>/dev/null || true
  "$build/fuzz/fuzz_$target" -merge=1 -use_counters=0 "$merged" "fuzz/corpus/$target" "$build/corpus/$target"
  rm -f "fuzz/corpus/$target"/*
  cp "$merged"/* "fuzz/corpus/$target/"
  rm -rf "$merged"
  echo "fuzz/corpus/$target: $(ls "fuzz/corpus/$target" | wc -l) inputs"
}

[ $# -ge 2 ] || usage
case "$1" in
  all)
    for target in "${targets[@]}"; do run_target "$target" "$2"; done ;;
  merge)
    [[ " ${targets[*]} " == *" $2 "* ]] || usage
    merge_target "$2" ;;
  *)
    [[ " ${targets[*]} " == *" $1 "* ]] || usage
    run_target "$@" ;;
esac
