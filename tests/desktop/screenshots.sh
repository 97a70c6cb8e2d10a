#!/usr/bin/env bash
# Photographs Tavrin's real windows under Xvfb: the main window during a demo grab, each page of
# the settings dialog, opened through the menu accelerators, the message box of an unattended run
# that cannot start, and the other dialogs (channel selection, script settings, the Lua variable
# viewer, the update check against a local server, the about box). Usage:
#   tests/desktop/screenshots.sh [program folder] [output folder]
# (defaults: build/program and build/screenshots). Exits 77, which CTest counts as skipped, when
# Xvfb, xdotool or ImageMagick's import is missing.
set -euo pipefail

# A bare X server without a window manager now and then loses a key press or a focus change: a
# failed attempt, with what the programs printed, is followed by one more before the test fails.
if [ -z "${TAVRIN_SHOTS_ATTEMPT:-}" ]; then
  for attempt in 1 2; do
    status=0
    TAVRIN_SHOTS_ATTEMPT=$attempt bash "$0" "$@" || status=$?
    [ "$status" -eq 0 ] || [ "$status" -eq 77 ] && exit "$status"
    echo "screenshots: attempt $attempt failed with status $status" >&2
  done
  exit 1
fi

here="$(cd "$(dirname "$0")" && pwd)"
program="$(realpath "${1:-$here/../../build/program}")"
out="$(realpath -m "${2:-$here/../../build/screenshots}")"
timeout_s=30

for tool in Xvfb xdotool import; do
  command -v "$tool" > /dev/null || { echo "screenshots: $tool is not installed; skipped"; exit 77; }
done
[ -x "$program/Tavrin" ] || { echo "screenshots: no Tavrin in $program" >&2; exit 1; }

work="$(mktemp -d "${TMPDIR:-/tmp}/tavrin-shots-XXXXXX")"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
  wait 2> /dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Polls a command until it succeeds or the time is up.
wait_for() {
  local what="$1"; shift
  local deadline=$((SECONDS + timeout_s))
  until "$@" > /dev/null 2>&1; do
    if [ $SECONDS -ge $deadline ]; then
      echo "screenshots: timed out waiting for $what" >&2
      for log in "$work"/*.log; do   # what every program started so far printed
        [ -s "$log" ] && { echo "--- ${log##*/}:" >&2; tail -n 20 "$log" >&2; }
      done
      exit 1
    fi
    sleep 0.1
  done
}

# A display of our own: Xvfb picks a free number and writes it to the pipe once it is ready.
exec 3> "$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp > "$work/xvfb.log" 2>&1 &
pids+=($!)
exec 3>&-
wait_for "Xvfb" test -s "$work/display"
export DISPLAY=":$(head -n1 "$work/display")"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
# In a sanitizer build the leak check at exit stops every thread of the process, and on some
# machines its tracer crashes on the X client's threads, failing a run that did nothing wrong. The
# program's leaks are checked by its unit tests on the offscreen platform; here only the windows.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
wait_for "the display" xdotool getdisplaygeometry

# A scratch copy of the program folder; the demo run must not change the build's own.
cp -r "$program" "$work/program"
cd "$work/program"
mkdir -p "$out"
rm -f "$out"/*.png

window_of() {   # the id of the visible window with this exact title
  xdotool search --onlyvisible --name "^$1\$" 2> /dev/null | head -n1
}
wait_window() {
  wait_for "window \"$1\"" bash -c "xdotool search --onlyvisible --name '^$1\$' | grep -q ."
  window_of "$1"
}
shoot() {   # window id, file name
  xdotool windowraise "$1" 2> /dev/null || true
  import -window "$1" "$out/$2"
  echo "screenshots: $out/$2"
}
focus() {
  xdotool windowfocus --sync "$1" 2> /dev/null || xdotool windowfocus "$1"
}
quit_tavrin() {   # main window, process id, its log: Alt+F, E, and it must end well
  focus "$1"
  xdotool key --clearmodifiers alt+f; sleep 0.2; xdotool key e
  wait_for "Tavrin to end" bash -c "! kill -0 $2"
  wait "$2" || { echo "screenshots: Tavrin failed" >&2; cat "$3" >&2; exit 1; }
}

# 1. The main window in the middle of a demo grab: a post processor of the scratch copy signals
#    that the grabbers are done and then keeps the run going for a while.
mkdir -p scripts/shots
cat > scripts/shots/pause.lua <<'LUA'
PostProcs.shotpause = { Name = "Screenshot pause", Passes = { Pass1 = { Type = 5, Start = function(h)
  Tvrn.SetStatus(1, "Pass 1 of Processor Screenshot pause")
  local f = io.open("paused", "w"); f:write("1"); f:close()
  Tvrn.Sleep(6000)
  return 0
end } } }
LUA
sed -i 's/^\[Processors\]\(\r\?\)$/[Processors]\1\nshotpause=1\1/' demo/tavrin.ini   # as shipped, or as a run rewrote it
./Tavrin /Cdemo /Grab > "$work/grab.log" 2>&1 &
grab_pid=$!
pids+=($grab_pid)
main="$(wait_window "Tavrin 3.12.00W")"
wait_for "the grab to reach its pause" test -e paused
sleep 0.3   # the window repaints at its next turn
shoot "$main" main-grabbing.png
wait_for "the grab to end" bash -c "! kill -0 $grab_pid"
wait "$grab_pid" || { echo "screenshots: the grab failed" >&2; cat "$work/grab.log" >&2; exit 1; }
rm -f paused scripts/shots/pause.lua

# 2. The settings dialog, opened with Alt+T, S; its pages one after another.
./Tavrin /Cdemo > "$work/settings.log" 2>&1 &
app_pid=$!
pids+=($app_pid)
main="$(wait_window "Tavrin 3.12.00W")"
shoot "$main" main-idle.png
focus "$main"
xdotool key --clearmodifiers alt+t
sleep 0.2
xdotool key s
settings="$(wait_window "Settings")"
focus "$settings"
sleep 0.2
shoot "$settings" settings-1-xml.png
# The dialog opens with the focus on the outer tab bar; Tab leads to the inner one. Arrow keys turn
# the pages of the tab bar that has the focus.
key() { xdotool key "$@"; sleep 0.2; }
key Tab; key Right; shoot "$settings" settings-2-logging.png
key Right; shoot "$settings" settings-3-connection.png
key shift+Tab; key Right; key Tab; key Down; shoot "$settings" settings-4-grabbers.png   # the second grabber, with its details
key shift+Tab; key Right; shoot "$settings" settings-5-postprocessors.png

# Leave: Escape closes the dialog, Alt+F, E the program.
key Escape
wait_for "the settings dialog to close" bash -c "! xdotool search --onlyvisible --name '^Settings\$' | grep -q ."
quit_tavrin "$main" "$app_pid" "$work/settings.log"

# 3. A message of the unattended run, which shows no window of its own: the settings file cannot be
#    read, so the engine never starts; with a display the message comes as a box, and OK ends the
#    program with status 1.
mkdir -p broken/tavrin.ini
status=0
./Tavrin /Grab /Silent /Cbroken > "$work/message.log" 2>&1 &
msg_pid=$!
pids+=($msg_pid)
# The box, or the program's end without one: where Qt cannot reach the display after all, the
# message goes to standard error instead. That is no fault of the run, but the picture is missing.
wait_for "the unattended run's message" bash -c \
  "xdotool search --onlyvisible --name '^Message.*\$' | grep -q . || ! kill -0 $msg_pid"
box="$(window_of "Message.*" || true)"
missing=0
if [ -n "$box" ]; then
  sleep 0.2
  shoot "$box" unattended-message.png
  focus "$box"
  xdotool key Return
else
  echo "screenshots: warning: the unattended run showed no box; it printed:" >&2
  cat "$work/message.log" >&2
  grep -q "it is a folder" "$work/message.log" || { echo "screenshots: and not its message" >&2; exit 1; }
  missing=1
fi
wait_for "the unattended run to end" bash -c "! kill -0 $msg_pid"
wait "$msg_pid" || status=$?
[ "$status" -eq 1 ] || { echo "screenshots: the unattended run ended with $status" >&2; cat "$work/message.log" >&2; exit 1; }

# 4. The other dialogs, in a program folder of their own: one grabber that offers a dozen channels
#    and declares one setting of each type, and an update server on this machine.
dlg="$work/dialogs"
cp -r "$program" "$dlg"
rm -rf "$dlg/scripts"/* "$dlg/settings" "$dlg/demo"
mkdir -p "$dlg/scripts/shots" "$dlg/shots/shots" "$work/www/srv/update"
cat > "$dlg/scripts/shots/shots.lua" <<'LUA'
Grabbers.shots = { Name = "Screenshot listings", Version = "1.0", Author = "The Tavrin developers" }
function Grabbers.shots.Init(h)
  Tvrn.AddSetting(h, "Days", 1, "7", "Days to grab:")
  Tvrn.AddSetting(h, "Region", 2, "North", "Region:")
  Tvrn.AddSetting(h, "Password", 3, "secret", "Password of the listings site:")
  Tvrn.AddSetting(h, "Details", 4, "True", "Fetch programme details")
  Tvrn.AddSetting(h, "Extra", 5, "/srv/listings/extra.txt;", "Extra listings files:")
  Tvrn.AddSetting(h, "Icons", 6, "/srv/listings/icons", "Folder for channel icons:")
  Tvrn.AddSetting(h, "Genres", 7, "news;sport;", "Genres to keep:",
                  "News|news;Sport|sport;Films|film;Children|kids;Music|music")
end
function Grabbers.shots.RefreshChannels(h) end
Grabbers.another = { Name = "Another grabber", Version = "2.1" }
LUA
{
  printf 'function Grabbers.shots.GetChans(Grabber)\r\n'
  n=0
  for name in "Channel One" "Two Valleys" "Three Rivers TV" "Four Seasons" "Channel Five" "Sixth Sense" \
              "Seven Hills" "Eighth Wonder" "Ninth Gate" "Tenth Avenue" "Eleven News" "Twelve Sports"; do
    n=$((n + 1))
    printf '\tTvrn.AddChannel(Grabber,{\r\n\t\tID="c%02d",\r\n\t\tName="%s",\r\n\t\t})\r\n' "$n" "$name"
  done
  printf 'end\r\n'
} > "$dlg/shots/shots/channels.lua"
printf 'c03\r\nc01\r\nc07\r\nc10\r\n' > "$dlg/shots/shots/userchannels.txt"
printf '[Grabbers]\r\nshots=1\r\nanother=0\r\n[GrabberOrder]\r\nanother=1\r\nshots=2\r\n' > "$dlg/shots/tavrin.ini"

python3 "$here/../servers/httpserver.py" --root "$work/www" > "$work/server.out" 2>&1 &
pids+=($!)
wait_for "the update server" grep -q '^PORT ' "$work/server.out"
port="$(sed -n 's/^PORT //p' "$work/server.out")"
printf '3.13.00W;https://tavrin.invalid/news/3.13.00W;https://tavrin.invalid/download/tavrin-3.13.00W.tar.gz;' \
  > "$work/www/srv/update/TAVRIN.txt"
printf 'http://127.0.0.1:%s/files/srv;' "$port" > "$work/www/srv/update/servers.txt"
printf 'http://127.0.0.1:%s/files/srv;' "$port" > "$dlg/update servers.txt"

cd "$dlg"
./Tavrin /Cshots > "$work/dialogs.log" 2>&1 &
app_pid=$!
pids+=($app_pid)
main="$(wait_window "Tavrin 3.12.00W")"
focus "$main"
xdotool key --clearmodifiers alt+t; sleep 0.2; xdotool key s
settings="$(wait_window "Settings")"
focus "$settings"
sleep 0.2
# The Grabbers page, the second grabber selected, then its Settings button (the third after the list).
key Right; key Tab; key Down; key Tab; key Tab; key Tab; key space
grabset="$(wait_window "Grabber Settings: Screenshot listings")"
sleep 0.3
shoot "$grabset" dialog-script-settings.png
key Escape
wait_for "the script settings to close" bash -c "! xdotool search --onlyvisible --name '^Grabber Settings' | grep -q ."
focus "$settings"
key Tab; key space   # Channels, beside Settings
chansel="$(wait_window "Select Channels")"
sleep 0.3
shoot "$chansel" dialog-channels.png
key Escape
wait_for "the channel selection to close" bash -c "! xdotool search --onlyvisible --name '^Select Channels\$' | grep -q ."
focus "$settings"
key Escape
wait_for "the settings dialog to close" bash -c "! xdotool search --onlyvisible --name '^Settings\$' | grep -q ."

# The variable viewer, Grabbers and its grabber unfolded.
focus "$main"
xdotool key --clearmodifiers alt+t; sleep 0.2; xdotool key d; sleep 0.2; xdotool key v
viewer="$(wait_window "Lua Variables")"
focus "$viewer"
sleep 0.2
xdotool type --delay 50 Grabbers; sleep 0.2
key Right; key Down; key Right; key Down; key Down
shoot "$viewer" dialog-variables.png

# The update check against the local server: the answer's message, then the window.
focus "$main"
xdotool key --clearmodifiers alt+t; sleep 0.2; xdotool key c
update="$(wait_window "Check for updates for TAVRIN")"
focus "$update"
sleep 0.2
key Tab; key space
box="$(wait_window "Message")"
sleep 0.2
shoot "$box" dialog-update-message.png
focus "$box"
key Return
wait_for "the message to close" bash -c "! xdotool search --onlyvisible --name '^Message\$' | grep -q ."
wait_for "the servers file to be replaced" grep -q "files/srv;" "$dlg/update servers.txt"
sleep 0.3
shoot "$update" dialog-update.png
focus "$update"
key Escape
wait_for "the update window to close" bash -c "! xdotool search --onlyvisible --name '^Check for updates' | grep -q ."

# The about box.
focus "$main"
xdotool key --clearmodifiers alt+h; sleep 0.2; xdotool key a
about="$(wait_window "About")"
sleep 0.3
shoot "$about" dialog-about.png
focus "$about"
key Escape
wait_for "the about box to close" bash -c "! xdotool search --onlyvisible --name '^About\$' | grep -q ."

quit_tavrin "$main" "$app_pid" "$work/dialogs.log"
grep -q '^Genres=news;sport;$' <(tr -d '\r' < "$dlg/shots/tavrin.ini") ||
  { echo "screenshots: the script settings were not written back" >&2; cat "$dlg/shots/tavrin.ini" >&2; exit 1; }

count=$(ls "$out"/*.png | wc -l)
[ "$count" -eq $((14 - missing)) ] || { echo "screenshots: expected $((14 - missing)) pictures, got $count" >&2; exit 1; }
echo "screenshots: $count pictures in $out"
