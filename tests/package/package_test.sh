#!/usr/bin/env bash
# The Debian package end to end: cpack makes it; its contents, dependencies, manual pages, desktop
# entry and systemd units are checked; it is unpacked into a scratch root (dpkg -x) and its programs
# run from there as a user would, with HOME and XDG_DATA_HOME in a scratch folder and the installed
# files out of the user's reach (run as nobody when the test runs as root). Then a package update:
# the user's files stay as they were, and what the update ships is seen.
#
#   package_test.sh <cpack> <build folder>
set -euo pipefail
cpack=$1 build=$2

scratch=$(mktemp -d /tmp/tavrin-package-XXXXXX)
chmod 755 "$scratch"
cleanup() { chmod -R u+w "$scratch" 2>/dev/null || true; rm -rf "$scratch"; }
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
root=$scratch/root home=$scratch/home
user=$home/data/tavrin   # the user's program folder

# ---- the package ------------------------------------------------------------------------------
"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" > "$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log"; fail "cpack could not make the package"; }
deb=$(ls "$scratch"/out/*.deb)
dpkg-deb -c "$deb" | sed -E 's/^([^ ]+ +){5}\.//; s/ -> .*//' > "$scratch/contents"
for path in /usr/bin/tavrin-console /usr/bin/tavrin /usr/lib/tavrin/TavrinConsole /usr/lib/tavrin/Tavrin \
    /usr/lib/tavrin/libtavrin_windows.so /usr/lib/tavrin/installed /usr/lib/tavrin/init.lua \
    /usr/lib/tavrin/lib/compat-5.1.lua /usr/lib/tavrin/lib/listingtime.lua /usr/lib/tavrin/scripts/demo/demo.lua \
    /usr/lib/tavrin/scripts/postprocs/fillstop.lua /usr/lib/tavrin/demo/tavrin.ini /usr/lib/tavrin/help/userguide.html /usr/lib/tavrin/pics/lua.png \
    /usr/lib/tavrin/cache/feeddemo/channels.dat /usr/share/man/man1/tavrin-console.1.gz /usr/share/man/man1/tavrin.1.gz \
    /usr/share/applications/tavrin.desktop /usr/share/icons/hicolor/scalable/apps/tavrin.svg \
    /usr/lib/systemd/user/tavrin-grab.service /usr/lib/systemd/user/tavrin-grab.timer; do
  grep -qxF "$path" "$scratch/contents" || fail "the package lacks $path"
done
grep -v -e '^/usr/lib/tavrin' -e '^/usr/bin/tavrin' -e '^/usr/share/' -e '^/usr/lib/systemd/user' \
  -e '^/$' -e '^/usr/$' -e '^/usr/lib/$' -e '^/usr/bin/$' -e '^/usr/lib/systemd/$' "$scratch/contents" &&
  fail "the package installs files outside its places"
grep -qxF "/usr/lib/tavrin/update servers.txt" "$scratch/contents" || fail "the package lacks the update servers' list"
dpkg -x "$deb" "$root"

# Every library the programs need comes from a package it depends on.
depends=$(dpkg-deb -f "$deb" Depends)
depended=" $(sed 's/ ([^)]*)//g; s/,/ /g' <<< "$depends") "   # the package names alone
multiarch=$(gcc -print-multiarch)
for file in TavrinConsole Tavrin libtavrin_windows.so; do
  for lib in $(readelf -d "$root/usr/lib/tavrin/$file" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    package=$(dpkg -S "*/$lib" 2>/dev/null | awk -v want="/$multiarch/$lib" \
      'substr($NF, length($NF) - length(want) + 1) == want { sub(/[:,].*/, "", $1); print $1; exit }')
    [ -n "$package" ] || fail "no installed package holds $lib, which $file needs"
    [[ "$depended" == *" $package "* ]] || fail "$file needs $lib of $package, not in: $depends"
  done
done

# Manual pages render without a warning; the desktop entry, the icon and the units are sound.
for page in tavrin-console tavrin; do
  warnings=$(MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/$page.1.gz" 2>&1 > /dev/null)
  [ -z "$warnings" ] || fail "man $page: $warnings"
done
if command -v desktop-file-validate > /dev/null; then
  desktop-file-validate "$root/usr/share/applications/tavrin.desktop" || fail "the desktop entry"
fi
xmllint --noout "$root/usr/share/icons/hicolor/scalable/apps/tavrin.svg" || fail "the icon"
grep -qx 'ExecStart=/usr/bin/tavrin-console' "$root/usr/lib/systemd/user/tavrin-grab.service" ||
  fail "the service does not start /usr/bin/tavrin-console"
if command -v systemd-analyze > /dev/null; then
  mkdir "$scratch/units"
  sed "s#/usr/bin/#$root/usr/bin/#" "$root/usr/lib/systemd/user/tavrin-grab.service" > "$scratch/units/tavrin-grab.service"
  cp "$root/usr/lib/systemd/user/tavrin-grab.timer" "$scratch/units/"
  said=$(cd "$scratch/units" && systemd-analyze verify --man=no ./tavrin-grab.timer ./tavrin-grab.service 2>&1) ||
    fail "systemd-analyze: $said"
  [ -z "$said" ] || fail "systemd-analyze: $said"
fi

# ---- the programs, run by a user --------------------------------------------------------------
mkdir -p "$home"
as_user=()
if [ "$(id -u)" = 0 ]; then
  chown 65534:65534 "$home"
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
lock_install() { [ "$(id -u)" = 0 ] || chmod -R a-w "$root"; }
unlock_install() { chmod -R u+w "$root"; }
run() { "${as_user[@]}" env -i PATH=/usr/bin:/bin HOME="$home" XDG_DATA_HOME="$home/data" "$@"; }
snapshot() { find "$root" -printf '%p %s %T@ %m\n' | sort; }
has() { grep -qF -- "$2" "$1" || fail "$1 lacks \"$2\""; }
lock_install

[ "$(run "$root/usr/bin/tavrin-console" --version)" = "Tavrin 3.12.00W" ] || fail "tavrin-console --version"
[ ! -e "$home/data" ] || fail "--version made the program folder"

snapshot > "$scratch/before"
run "$root/usr/bin/tavrin-console" /Cdemo > "$scratch/first.txt" || fail "the first start's grab"
for own in settings cache temp scripts demo; do [ -d "$user/$own" ] && [ ! -L "$user/$own" ] || fail "no own $own/"; done
[ "$(readlink "$user/init.lua")" = "$root/usr/lib/tavrin/init.lua" ] || fail "init.lua is not reached"
[ "$(readlink "$user/scripts/demo")" = "$root/usr/lib/tavrin/scripts/demo" ] || fail "the demo script is not reached"
xmllint --nonet --noout --dtdvalid /usr/share/xmltv/xmltv.dtd "$user/demo.xml" || fail "demo.xml"
has "$user/demo-log.txt" "   XML Written"

# The user's own script and settings, and compressed output; the desktop program's unattended run.
run sh -c "echo 'print(\"my own script\")' > '$user/scripts/mine.lua' &&
           sed -i 's/^Outfile=demo.xml/Outfile=demo.xml.gz/' '$user/demo/tavrin.ini' &&
           printf '[Mine]\r\nkept=yes\r\n' >> '$user/demo/tavrin.ini'"
run "$root/usr/bin/tavrin" /Grab /Silent /Cdemo > "$scratch/second.txt" 2>&1 ||
  { cat "$scratch/second.txt"; fail "the desktop program's unattended grab"; }
has "$user/demo-log.txt" "my own script"
zcat "$user/demo.xml.gz" | xmllint --nonet --noout --dtdvalid /usr/share/xmltv/xmltv.dtd - || fail "demo.xml.gz"
snapshot | diff "$scratch/before" - || fail "the runs changed the installed files"

# ---- a package update -------------------------------------------------------------------------
unlock_install
rm -rf "$root"
dpkg -x "$deb" "$root"
echo 'print("shipped by the update")' > "$root/usr/lib/tavrin/scripts/extra.lua"
lock_install
run "$root/usr/bin/tavrin-console" /Cdemo > "$scratch/third.txt" || fail "the grab after the update"
has "$user/demo-log.txt" "shipped by the update"
has "$user/demo-log.txt" "my own script"
has "$user/demo/tavrin.ini" "[Mine]"
has "$user/demo/tavrin.ini" "Outfile=demo.xml.gz"
echo "package $(basename "$deb"): $(wc -l < "$scratch/contents") entries, runs from an unpacked root as a user"
