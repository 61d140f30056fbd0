#!/usr/bin/env bash
# X11 with a StatusNotifierItem tray and nothing else: Xvfb, a session bus of its own and the
# test watcher with a host (see ../support/status_notifier_watcher.py). It prints the
# environment a program needs to join it, then runs until stopped (Ctrl+C, SIGTERM), taking
# everything with it.
#
#   tests/e2e/desktop-sni-x11.sh [--no-watcher] [--xembed]
#     --no-watcher  start no watcher: the tray comes when you start the watcher yourself
#     --xembed      also start trayer, an XEmbed tray, as XFCE's panel offers both
#
# By hand: run it, paste the printed export lines into another shell, start build/launcher/zorvant
# there, and click the item with, for example,
#   gdbus call --session --dest org.kde.StatusNotifierItem-<pid>-1 \
#       --object-path /StatusNotifierItem --method org.kde.StatusNotifierItem.Activate 1000 12
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
. "$here/x_desktop.sh"
watcher=yes xembed=no
for option in "$@"; do
    case "$option" in
    --no-watcher) watcher=no ;;
    --xembed) xembed=yes ;;
    *) echo "usage: $0 [--no-watcher] [--xembed]" >&2 && exit 2 ;;
    esac
done

work="$(mktemp -d /tmp/zorvant-desktop-XXXXXX)"
stop() {
    trap - EXIT INT TERM
    kill $(jobs -p) 2>/dev/null || true
    wait || true
    rm -rf "$work"
}
trap stop EXIT
trap 'stop; exit 0' INT TERM

# Each program ends with this script, also when the script is killed outright.
mkfifo "$work/display" "$work/bus"
setpriv --pdeathsig TERM Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -nolisten local 3>"$work/display" &
read -r display <"$work/display"
export DISPLAY=":$display"
wait_for_x_server || true
setpriv --pdeathsig TERM dbus-daemon --session --nofork --print-address=3 3>"$work/bus" &
read -r DBUS_SESSION_BUS_ADDRESS <"$work/bus"
export DBUS_SESSION_BUS_ADDRESS

if [ "$watcher" = yes ]; then
    setpriv --pdeathsig TERM /usr/bin/python3 "$here/../support/status_notifier_watcher.py" &
fi
if [ "$xembed" = yes ]; then
    start_trayer
fi

printf 'export DISPLAY=%q\n' "$DISPLAY"
printf 'export DBUS_SESSION_BUS_ADDRESS=%q\n' "$DBUS_SESSION_BUS_ADDRESS"
wait
