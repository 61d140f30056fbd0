#!/bin/bash
# KWin on Wayland (virtual output 1280x800, with XWayland) in a private home, runtime folder and
# session bus under WORK. Start it by hand to look at Zorvant on KWin:
#
#   tests/e2e/kwin_wayland_session.sh /tmp/kwin &
#   . /tmp/kwin/session.env   # once the script has printed "ready"
#   build/launcher/zorvant &
#
# Programs whose executable is listed (not hidden: KWin skips NoDisplay entries) in WORK/data/applications/*.desktop with
# X-KDE-Wayland-Interfaces / X-KDE-DBUS-Restricted-Interfaces may use KWin's restricted
# interfaces (fake input, screenshots); the script lists the system's python3 there, for the
# tests and for a developer's own probing. --no-x11 leaves XWayland out. The script runs until
# KWin ends or it is itself stopped, and then stops everything it started.
#
# usage: kwin_wayland_session.sh WORK [--no-x11]
set -euo pipefail

work="$(realpath -m "${1:?usage: kwin_wayland_session.sh WORK [--no-x11]}")"
xwayland=(--xwayland)
[ "${2:-}" = "--no-x11" ] && xwayland=()
mkdir -p "$work/home" "$work/config" "$work/data/applications" "$work/bin"
install -d -m 700 "$work/run"
rm -f "$work/session.env" "$work/kwin.env"

unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS XDG_SESSION_TYPE XDG_CURRENT_DESKTOP \
    XDG_SESSION_DESKTOP QT_QPA_PLATFORM GDK_BACKEND KDE_FULL_SESSION
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" \
    XDG_RUNTIME_DIR="$work/run" XDG_CACHE_HOME="$work/home/.cache"

children=()
stop_all() {
    trap - EXIT TERM INT
    for pid in "${children[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap stop_all EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

# Otherwise KWin starts with the screen locked, its greeter fails here, and no client ever gets
# the keyboard.
printf '[Daemon]\nAutolock=false\nLockOnResume=false\n' >"$work/config/kscreenlockerrc"
# KWin grants the interfaces of the first entry whose Exec is the client's executable. Debian
# ships one for python3 (without them): ours takes its name, and so its place.
python="$(realpath /usr/bin/python3)"
cat >"$work/data/applications/$(basename "$python").desktop" <<EOF
[Desktop Entry]
Type=Application
Name=Zorvant end-to-end tests
Exec=$python
X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input
X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2
EOF

# Debian's binary carries a file capability that a container refuses to grant; a plain copy runs.
cp /usr/bin/kwin_wayland "$work/bin/kwin_wayland"

dbus-daemon --session --nofork --address="unix:path=$work/run/bus" &
children+=($!)
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/run/bus"
for _ in $(seq 300); do [ -S "$work/run/bus" ] && break; sleep 0.1; done

# KWin starts the program it is given once its Wayland socket (and XWayland) are up, with
# DISPLAY and WAYLAND_DISPLAY set: that program reports them.
printf '#!/bin/sh\nenv | grep -E "^(DISPLAY|WAYLAND_DISPLAY)=" >"%s.part" && mv "%s.part" "%s"\n' \
    "$work/kwin.env" "$work/kwin.env" "$work/kwin.env" >"$work/bin/report-display"
chmod +x "$work/bin/report-display"
XDG_SESSION_TYPE=wayland "$work/bin/kwin_wayland" --virtual --width 1280 --height 800 \
    --socket zorvant-kwin "${xwayland[@]}" \
    "$work/bin/report-display" >"$work/kwin.log" 2>&1 &
kwin=$!
children=("$kwin" "${children[@]}")

ready=
for _ in $(seq 600); do
    kill -0 "$kwin" 2>/dev/null || { cat "$work/kwin.log" >&2; exit 1; }
    if [ -f "$work/kwin.env" ] &&
        gdbus call --session --dest org.kde.KWin --object-path /Scripting \
            --method org.freedesktop.DBus.Peer.Ping >/dev/null 2>&1; then
        ready=1
        break
    fi
    sleep 0.1
done
[ -n "$ready" ] || { echo "KWin did not start" >&2; exit 1; }

{
    printf 'export %s=%q\n' HOME "$HOME" XDG_CONFIG_HOME "$XDG_CONFIG_HOME" \
        XDG_DATA_HOME "$XDG_DATA_HOME" XDG_RUNTIME_DIR "$XDG_RUNTIME_DIR" \
        DBUS_SESSION_BUS_ADDRESS "$DBUS_SESSION_BUS_ADDRESS" XDG_SESSION_TYPE wayland
    sed 's/^\([A-Z_]*\)=\(.*\)$/export \1=\2/' "$work/kwin.env"
    grep -q '^DISPLAY=' "$work/kwin.env" || echo 'unset DISPLAY'
} >"$work/session.env.part"
# Whole or not at all, for whoever waits for it.
mv "$work/session.env.part" "$work/session.env"
echo ready
wait "$kwin"
