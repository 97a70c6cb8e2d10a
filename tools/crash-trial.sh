#!/usr/bin/env bash
# Kills the demo grab with SIGKILL at random moments and checks after each kill that nothing the
# user relies on was damaged: the XMLTV file, the settings file and the channel files are each
# absent (only where they never existed), the old version or the new one, but always whole; and
# the next run succeeds and cleans up after the killed one.
#
#   tools/crash-trial.sh [trials] [build folder] [seed]
#
# Defaults: 20 trials, the build folder "build" of the checkout, a seed from the clock. The program
# folder of the build is copied to a scratch folder; nothing in the build changes. Prints the counts
# and exits 1 when any check failed (the damaged files are kept in the scratch folder).
set -u

trials=${1:-20}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-$root/build}
RANDOM=${3:-$$}
program=$build/program
dtd=/usr/share/xmltv/xmltv.dtd

[ -x "$program/TavrinConsole" ] || { echo "no $program/TavrinConsole: build first" >&2; exit 2; }
command -v xmllint >/dev/null || { echo "xmllint is missing (tools/install-packages.sh)" >&2; exit 2; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tavrin-crash-XXXXXX")
work=$scratch/program
known=$scratch/known
mkdir -p "$known"

whole_xml() { xmllint --nonet --noout --dtdvalid "$dtd" "$1" 2>/dev/null; }

run_to_end() {   # a full run in the work folder; its exit status
    (cd "$work" && ./TavrinConsole /Cdemo >/dev/null 2>"$scratch/stderr.txt")
}

# The files a run may rewrite, and the versions of each that count as whole.
channel_files="demo/demo/userchannels.txt demo/demo/channels.lua demo/feeddemo/userchannels.txt demo/feeddemo/channels.lua"
cp -r "$program" "$work"
mkdir -p "$known/before" "$known/after"
for f in demo/tavrin.ini $channel_files; do
    mkdir -p "$known/before/$(dirname "$f")"
    cp "$work/$f" "$known/before/$f"
done

# One run to measure how long a grab takes and to learn the files it writes.
start=$(date +%s%N)
run_to_end || { echo "the demo grab fails without any kill: $(cat "$scratch/stderr.txt")" >&2; exit 2; }
duration_ms=$(( ($(date +%s%N) - start) / 1000000 ))
for f in demo/tavrin.ini $channel_files; do
    mkdir -p "$known/after/$(dirname "$f")"
    cp "$work/$f" "$known/after/$f"
done
# Trials start from the first run's state, without an XMLTV file or log yet.
rm -rf "$work"
cp -r "$program" "$work"

killed=0 finished=0 failures=0
xml_absent=0 xml_old=0 xml_new=0 xml_bad=0
ini_shipped=0 ini_rewritten=0 ini_bad=0 chan_bad=0 leftovers=0 next_failed=0

fail() {
    failures=$((failures + 1))
    echo "trial $trial: $*" >&2
    cp -r "$work" "$scratch/failed-$trial" 2>/dev/null
}

# Whether $1 (a path below the work folder) equals its version in one of the known sets.
known_version() {
    local f=$1 set
    for set in before after; do
        cmp -s "$work/$f" "$known/$set/$f" && { echo "$set"; return 0; }
    done
    return 1
}

for ((trial = 1; trial <= trials; trial++)); do
    [ -f "$work/demo.xml" ] && cp "$work/demo.xml" "$scratch/previous.xml" || rm -f "$scratch/previous.xml"
    # A moment anywhere in the run, a little past its usual end included.
    delay_ms=$(( RANDOM % (duration_ms * 12 / 10 + 1) ))
    (cd "$work" && exec ./TavrinConsole /Cdemo >/dev/null 2>&1) &
    pid=$!
    sleep "$(printf '%d.%03d' $((delay_ms / 1000)) $((delay_ms % 1000)))"
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    if [ $? -eq 137 ]; then killed=$((killed + 1)); else finished=$((finished + 1)); fi

    # The XMLTV file: absent only when there was none, else the old one or a whole new one.
    if [ ! -e "$work/demo.xml" ]; then
        xml_absent=$((xml_absent + 1))
        [ -f "$scratch/previous.xml" ] && fail "the XMLTV file is gone"
    elif [ -f "$scratch/previous.xml" ] && cmp -s "$work/demo.xml" "$scratch/previous.xml"; then
        xml_old=$((xml_old + 1))
    elif whole_xml "$work/demo.xml"; then
        xml_new=$((xml_new + 1))
    else
        xml_bad=$((xml_bad + 1))
        fail "the XMLTV file is not whole"
    fi

    # The settings and channel files existed before every trial: never absent, never a third version.
    case $(known_version demo/tavrin.ini) in
        before) ini_shipped=$((ini_shipped + 1)) ;;
        after) ini_rewritten=$((ini_rewritten + 1)) ;;
        *) ini_bad=$((ini_bad + 1)); fail "the settings file is damaged or gone" ;;
    esac
    for f in $channel_files; do
        known_version "$f" >/dev/null || { chan_bad=$((chan_bad + 1)); fail "$f is damaged or gone"; }
    done
    if [ -n "$(find "$work" -name '*.tmp*' -print -quit)" ]; then leftovers=$((leftovers + 1)); fi

    # The next run succeeds, writes a whole file and leaves no temporary file behind.
    if ! run_to_end; then
        next_failed=$((next_failed + 1))
        fail "the next run failed: $(cat "$scratch/stderr.txt")"
    elif ! whole_xml "$work/demo.xml"; then
        next_failed=$((next_failed + 1))
        fail "the next run wrote no whole XMLTV file"
    elif [ -n "$(find "$work" -name '*.tmp*' -print -quit)" ]; then
        next_failed=$((next_failed + 1))
        fail "the next run left temporary files: $(find "$work" -name '*.tmp*')"
    fi
    # Half of the trials start without an XMLTV file, so kills before the first one is written count too.
    if ((RANDOM % 2)); then rm -f "$work/demo.xml"; fi
done

echo "trials: $trials (run ${duration_ms} ms; killed while running: $killed, ended before the kill: $finished)"
echo "XMLTV file after the kill: absent (none before) $xml_absent, the old one (or an identical new one) $xml_old, a different whole one $xml_new, damaged $xml_bad"
echo "settings file: as shipped $ini_shipped, as rewritten by a run $ini_rewritten, damaged or gone $ini_bad; channel files damaged or gone: $chan_bad"
echo "kills that left temporary files: $leftovers (removed by the next run); next runs that failed: $next_failed"
if ((failures > 0)); then
    echo "FAILED: $failures check(s); the files are kept in $scratch" >&2
    exit 1
fi
rm -rf "$scratch"
echo "all checks passed"
