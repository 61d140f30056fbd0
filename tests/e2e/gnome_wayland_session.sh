#!/bin/bash
# GNOME Shell headless on Wayland, with XWayland and the AppIndicator extension, in a private
# home, runtime folder and pair of D-Bus buses under WORK. Start it by hand to look at Zorvant on
# GNOME:
#
#   tests/e2e/gnome_wayland_session.sh /tmp/gnome &
#   . /tmp/gnome/session.env   # once the script has printed "ready"
#   build/launcher/zorvant &
#   gdbus call --session --dest org.gnome.Shell.Screenshot --object-path /org/gnome/Shell/Screenshot \
#       --method org.gnome.Shell.Screenshot.Screenshot false false /tmp/gnome/shot.png
#
# --no-x11 leaves XWayland out. The script runs until GNOME Shell ends or it is itself stopped,
# and then stops everything it started.
#
# usage: gnome_wayland_session.sh WORK [--no-x11]
set -euo pipefail

work="$(realpath -m "${1:?usage: gnome_wayland_session.sh WORK [--no-x11]}")"
x11=()
[ "${2:-}" = "--no-x11" ] && x11=(--no-x11)
mkdir -p "$work/home" "$work/config" "$work/data"
install -d -m 700 "$work/run"

# Leave nothing of the caller's desktop behind: the shell and its clients use these alone.
unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS DBUS_SYSTEM_BUS_ADDRESS XDG_SESSION_TYPE \
    XDG_CURRENT_DESKTOP XDG_SESSION_DESKTOP QT_QPA_PLATFORM GDK_BACKEND
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

# GNOME Shell asks the login manager on the system bus about the session and gives up when there
# is no system bus. One of our own, where nothing answers, is enough.
cat >"$work/system-bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$work/run/system_bus</listen>
  <policy context="default">
    <allow user="*"/><allow own="*"/><allow send_destination="*"/><allow receive_sender="*"/>
  </policy>
</busconfig>
EOF
dbus-daemon --nofork --config-file="$work/system-bus.conf" &
children+=($!)
dbus-daemon --session --nofork --address="unix:path=$work/run/bus" &
children+=($!)
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/run/system_bus" \
    DBUS_SESSION_BUS_ADDRESS="unix:path=$work/run/bus"
for _ in $(seq 300); do [ -S "$work/run/bus" ] && [ -S "$work/run/system_bus" ] && break; sleep 0.1; done

# The extension is on before the shell starts: enabling it later takes a reload.
gsettings set org.gnome.shell disable-user-extensions false
gsettings set org.gnome.shell enabled-extensions "['ubuntu-appindicators@ubuntu.com']"
gsettings set org.gnome.shell welcome-dialog-last-shown-version "'999'"

XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=GNOME \
    gnome-shell --headless --wayland "${x11[@]}" --virtual-monitor 1280x800 --unsafe-mode \
    >"$work/gnome-shell.log" 2>&1 &
shell=$!
children=("$shell" "${children[@]}")

eval_js() {
    gdbus call --session --dest org.gnome.Shell --object-path /org/gnome/Shell \
        --method org.gnome.Shell.Eval "$1"
}
# Ready once the shell answers, has finished its start-up and hides its overview. Banners stay
# away: run as root, the shell shows one about it, over the top of the screen.
ready=
for _ in $(seq 600); do
    kill -0 "$shell" 2>/dev/null || { cat "$work/gnome-shell.log" >&2; exit 1; }
    if eval_js "Main.layoutManager._startingUp ? 'starting' :
                (Main.messageTray.bannerBlocked = true, Main.overview.hide(),
                 Main.overview.visible ? 'overview' : 'ready')" \
        2>/dev/null | grep -q "'\"ready\"'"; then
        ready=1
        break
    fi
    sleep 0.1
done
[ -n "$ready" ] || { echo "GNOME Shell did not start" >&2; exit 1; }

# What the shell tells the programs it starts: its displays, and XWayland's authority file.
shell_env() { eval_js "GLib.getenv('$1') || ''" | sed -n "s/.*'\"\(.*\)\"').*/\1/p"; }
display=$(shell_env DISPLAY)
wayland=$(shell_env WAYLAND_DISPLAY)
xauthority=$(shell_env XAUTHORITY)
{
    printf 'export %s=%q\n' HOME "$HOME" XDG_CONFIG_HOME "$XDG_CONFIG_HOME" \
        XDG_DATA_HOME "$XDG_DATA_HOME" XDG_RUNTIME_DIR "$XDG_RUNTIME_DIR" \
        DBUS_SESSION_BUS_ADDRESS "$DBUS_SESSION_BUS_ADDRESS" WAYLAND_DISPLAY "$wayland" \
        XDG_SESSION_TYPE wayland XDG_CURRENT_DESKTOP GNOME
    if [ -n "$display" ]; then
        printf 'export %s=%q\n' DISPLAY "$display" XAUTHORITY "$xauthority"
    else
        echo 'unset DISPLAY'
    fi
} >"$work/session.env.part"
# Whole or not at all, for whoever waits for it.
mv "$work/session.env.part" "$work/session.env"
echo ready
wait "$shell"
