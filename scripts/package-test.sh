#!/usr/bin/env bash
# Builds the Debian package from a configured build folder, unpacks it into a temporary root and checks the
# installed program: version and help, desktop entry and AppStream data, icons, help page, and one start on
# an empty home folder that must make the per-user data folder owner-only and close cleanly on SIGTERM.
set -euo pipefail
build="$(cd "$1" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "package test: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack failed"; }
deb="$(ls "$work"/pkg/zentaro_*.deb)"
dpkg-deb -f "$deb" Depends | grep -q 'libqt6widgets6' || fail "dependencies were not computed"
dpkg-deb -x "$deb" "$work/root"
root="$work/root/usr"
bin="$root/bin/zentaro"

"$bin" --version | grep -Eqx 'zentaro [0-9]+\.[0-9]+\.[0-9]+' || fail "--version"
home="$work/home"
mkdir -p "$home"
export HOME="$home"
unset XDG_DATA_HOME XDG_CONFIG_HOME
"$bin" --help | grep -qF "$home/.local/share/zentaro/base/" || fail "--help does not name the data folder"
desktop-file-validate "$root/share/applications/zentaro.desktop"
appstreamcli validate --no-net "$root/share/metainfo/org.zentaro.Zentaro.metainfo.xml" >/dev/null ||
    fail "appstream validation"
for size in 16 32 48 256; do
    [ -s "$root/share/icons/hicolor/${size}x${size}/apps/zentaro.png" ] || fail "icon ${size}"
done
[ -s "$root/share/icons/hicolor/scalable/apps/zentaro.svg" ] || fail "scalable icon"
[ -s "$root/share/zentaro/help/about.htm" ] || fail "help page"
for unit in zentaro-check.service zentaro-check.timer; do
    [ -s "$root/lib/systemd/user/$unit" ] || fail "unit $unit"
done
# The daily check is the user's choice: the package enables no unit.
[ -z "$(find "$work/root" -path '*.wants*')" ] || fail "the package enables a unit"
dpkg-deb -e "$deb" "$work/control"
! grep -qs systemctl "$work/control/postinst" "$work/control/prerm" || fail "maintainer scripts call systemctl"

QT_QPA_PLATFORM=offscreen "$bin" >"$work/run.log" 2>&1 &
pid=$!
data="$home/.local/share/zentaro/base"
for _ in $(seq 1 100); do
    [ -f "$data/project.adb" ] && break
    sleep 0.1
done
sleep 0.5
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
[ "$status" -eq 0 ] || { cat "$work/run.log"; fail "exit status $status after SIGTERM"; }
[ "$(stat -c %a "$data")" = 700 ] || fail "data folder is not owner-only"
for f in project cat cat2 site link ancor account sets; do
    [ "$(stat -c %a "$data/$f.adb")" = 600 ] || fail "$f.adb is not owner-only"
done
[ ! -e "$root/bin/base" ] || fail "data written into the program folder"
echo "package test: $(basename "$deb") passed"
