# Shared by the desktop scripts (sourced, not run): starting an X server's first clients.
#
# The scripts start Xvfb with -nolisten local. By default an X server also listens on an
# abstract socket, which clients try first; the server of the run before, still on its way out
# after giving up its display number, kept that name, and clients of the new server on the same
# number reached the old one ("cannot open display"). With the socket file alone, a client
# always reaches the server that took the number last.

# Waits, a bounded while, until the X server in $DISPLAY takes clients. The server has already
# said which display it is, but clients may still be turned away for a moment while the server
# of an earlier run on the same number goes (seen as trayer's "cannot open display").
wait_for_x_server() {
    for _ in $(seq 100); do
        xdpyinfo >/dev/null 2>&1 && return 0
        sleep 0.05
    done
    return 1
}

# The trayer tray host at the top right, in the background; started again, a few times,
# should it still be turned away.
start_trayer() {
    (
        for attempt in 1 2 3 4 5; do
            setpriv --pdeathsig TERM trayer --edge top --align right --widthtype request \
                --height 28 --transparent false --tint 0x333333 && break
            echo "trayer ended (attempt $attempt); starting it again" >&2
            sleep 0.2
            wait_for_x_server || true
        done
    ) &
}
