#!/usr/bin/env bash
# X11 with an XEmbed tray and nothing else: Xvfb and trayer at the top right, as LXDE and older
# panels offer. It prints the environment a program needs to join it, then runs until stopped
# (Ctrl+C, SIGTERM), taking everything with it.
#
#   tests/e2e/desktop-xembed.sh [--no-tray]
#     --no-tray  start no tray: start trayer yourself (the line below) to see the icon come
#
# By hand: run it, paste the printed export line into another shell and start build/launcher/zorvant
# there; `import -window root shot.png` takes a screenshot.
set -euo pipefail

tray=yes
for option in "$@"; do
    case "$option" in
    --no-tray) tray=no ;;
    *) echo "usage: $0 [--no-tray]" >&2 && exit 2 ;;
    esac
done

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
. "$here/x_desktop.sh"

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
mkfifo "$work/display"
setpriv --pdeathsig TERM Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -nolisten local 3>"$work/display" &
read -r display <"$work/display"
export DISPLAY=":$display"

wait_for_x_server || true
if [ "$tray" = yes ]; then
    start_trayer
fi

printf 'export DISPLAY=%q\n' "$DISPLAY"
wait
