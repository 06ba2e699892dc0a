#!/bin/sh
# Starts the real program on a real X server (Xvfb, Qt's xcb platform),
# closes it as a user does (Zamknij), once fresh and once with a picture
# loaded through the open dialog and the log saved, and checks that it exits
# with status 0 each time.
# Usage: window_exit_xvfb.sh PROGRAM PICTURE
set -u
program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
picture=$(realpath "$2")
if [ -z "${ORVANE_UNDER_XVFB:-}" ]; then
    export ORVANE_UNDER_XVFB=1
    exec xvfb-run -a -s "-screen 0 1024x768x24" sh "$0" "$@"
fi
cd "$(mktemp -d)" || exit 1
export QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$PWD"
unset QT_QPA_PLATFORMTHEME

# Clicks the window's control at (x, y) from the window's top left corner.
click() {
    eval "$(xdotool getwindowgeometry --shell "$window")"
    xdotool mousemove $((X + $1)) $((Y + $2)) click 1
}

# Waits until a top-level window titled $1 is shown; sets $window.
await_window() {
    window=
    for _ in $(seq 100); do
        window=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1)
        [ -n "$window" ] && return 0
        sleep 0.1
    done
    echo "no window titled '$1' appeared" >&2
    return 1
}

run_once() {
    load=$1
    "$program" 2> stderr.txt &
    pid=$!
    await_window '^Orvane$' || { kill "$pid"; return 1; }
    main=$window
    sleep 0.3
    if [ "$load" = yes ]; then
        click 88 312                      # Wczytaj
        sleep 1
        xdotool type --delay 5 "$picture"
        xdotool key Return
        sleep 1
        window=$main
    fi
    click 640 24                          # Zamknij: the save dialog opens
    sleep 1
    if [ "$load" = yes ]; then
        xdotool type --delay 5 "$PWD/log.txt"
        xdotool key Return                # the log saved; the window closes
    else
        xdotool key Escape                # no log saved; the window closes
    fi
    status=0
    for _ in $(seq 100); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
        echo "the program did not end after Zamknij (picture loaded: $load)" >&2
        kill -9 "$pid"
        return 1
    fi
    wait "$pid" || status=$?
    if [ "$status" -ne 0 ]; then
        echo "the program exited with status $status (picture loaded: $load)" >&2
        cat stderr.txt >&2
        return 1
    fi
    if [ "$load" = yes ] && ! grep -qF "$picture" log.txt; then
        echo "the saved log does not name the picture loaded" >&2
        return 1
    fi
    echo "closed with status 0 (picture loaded: $load)"
}

run_once no && run_once yes
