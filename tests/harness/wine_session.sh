#!/usr/bin/env bash
# One Wine session per test run: a private prefix, an X display, COM1..COM16
# routed to links under RUN_DIR/ports that the scanner simulator repoints,
# and the simulator itself.
#   wine_session.sh start RUN_DIR   (CTest fixture setup, scripts)
#   wine_session.sh stop RUN_DIR    (CTest fixture cleanup; never fails)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
max_com=16

# Kill the process a pid file names, but only if it still is what we started:
# a pid file left by a crashed run may by now name somebody else's process.
kill_pidfile() {
    local file=$1 expect=$2 pid
    [[ -f $file ]] || return 0
    pid=$(cat "$file" 2>/dev/null || true)
    if [[ $pid =~ ^[0-9]+$ ]] && grep -qa -- "$expect" "/proc/$pid/cmdline" 2>/dev/null; then
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -9 "$pid" 2>/dev/null || true
    fi
    rm -f "$file"
}

stop() {
    local run=$1 sockdir
    kill_pidfile "$run/sim.pid" scanner_sim.py
    if [[ -d $run/prefix ]]; then
        # -k also ends the persistent server; -w then waits until every
        # process of this prefix is gone, so a following rm -rf or start
        # does not race them.
        WINEPREFIX="$run/prefix" wineserver -k </dev/null >/dev/null 2>&1 || true
        if WINEPREFIX="$run/prefix" timeout 15 wineserver -w </dev/null >/dev/null 2>&1; then
            # Debian's server keeps its socket in a fresh $TMPDIR/wine-XXXXXX,
            # named in prefix/wineserver, and leaves it behind on exit.
            sockdir=$(cat "$run/prefix/wineserver" 2>/dev/null || true)
            if [[ $sockdir =~ ^wine-[A-Za-z0-9]{6}$ ]]; then
                rm -rf "${TMPDIR:-/tmp}/$sockdir"
            fi
        fi
    fi
    kill_pidfile "$run/xvfb.pid" Xvfb
    return 0
}

start_xvfb() {
    local run=$1 n pid
    for ((n = 91; n < 200; n++)); do
        [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
        # All output away from our stdout: CTest waits for its pipe to close.
        Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >>"$run/xvfb.log" 2>&1 &
        pid=$!
        echo "$pid" >"$run/xvfb.pid"
        for _ in $(seq 100); do
            # Dead means another run took :n between our check and its start.
            kill -0 "$pid" 2>/dev/null || break
            if DISPLAY=":$n" xdpyinfo >/dev/null 2>&1; then
                export DISPLAY=":$n"
                return 0
            fi
            sleep 0.1
        done
        kill_pidfile "$run/xvfb.pid" Xvfb
    done
    echo "wine_session: could not start Xvfb" >&2
    return 1
}

# REGEDIT4 string values escape backslash and double quote.
reg_quote() {
    local s=${1//\\/\\\\}
    printf '"%s"' "${s//\"/\\\"}"
}

start() {
    local run=$1 n pid reg
    stop "$run"
    rm -rf "$run"
    mkdir -p "$run/ports"
    run=$(cd "$run" && pwd)
    # A failed start must not leave servers behind for the next one to trip on.
    trap 'echo "wine_session: start failed, see logs in $run" >&2; stop "$run"' ERR

    export WINEPREFIX="$run/prefix" WINEDEBUG=-all
    # Empty overrides stop wineboot from offering to install Mono and Gecko,
    # which would wait forever for a click.
    export WINEDLLOVERRIDES="mscoree,mshtml="

    if [[ -z ${DISPLAY:-} ]] || ! xdpyinfo >/dev/null 2>&1; then
        start_xvfb "$run"
    fi
    echo "$DISPLAY" >"$run/display"

    # A persistent server keeps the prefix warm between test programs;
    # otherwise each one would pay for starting services again. It refuses
    # to start without the prefix directory; wineboot fills that in.
    mkdir -p "$WINEPREFIX"
    wineserver -p </dev/null >>"$run/wine.log" 2>&1
    wine wineboot -i </dev/null >>"$run/wine.log" 2>&1
    # Wine draws the title bar's buttons with its Marlett font, but does not
    # load the fonts in its own data folder here: every button would show
    # the letter that stands for its symbol ("0 1 r"). Fonts in the prefix's
    # Fonts folder are loaded by each process that starts.
    local font
    for font in /usr/share/wine/fonts/marlett.ttf /usr/lib/wine/fonts/marlett.ttf; do
        if [[ -f $font ]]; then
            cp "$font" "$WINEPREFIX/drive_c/windows/Fonts/"
            break
        fi
    done

    # The registry entries make the mapping survive a server restart (mount
    # manager recreates dosdevices from them); the links make it effective
    # now. Wine resolves dosdevices/comN on every open, so repointing
    # ports/comN switches the device under \\.\COMn at once. A restart would
    # also give every listed port an NT device, which the step below removes;
    # after one, run 'wine RUN_DIR/absent_ports.exe 16' again.
    reg="$run/ports.reg"
    {
        printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
        for ((n = 1; n <= max_com; n++)); do
            printf '"COM%d"=%s\r\n' "$n" "$(reg_quote "$run/ports/com$n")"
        done
        # Windows that Wine manages itself go away at once; managed ones wait
        # two seconds for a window manager that Xvfb does not have.
        printf '\r\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n'
    } >"$reg"
    # Z: is the prefix's drive for /, so this is the same file to Wine.
    wine regedit /S "Z:${reg//\//\\}" </dev/null >>"$run/wine.log" 2>&1
    # regedit /S reports nothing, not even a file it could not read.
    wine reg query 'HKLM\Software\Wine\Ports' /v "COM$max_com" </dev/null >>"$run/wine.log" 2>&1
    for ((n = 1; n <= max_com; n++)); do
        ln -sfn "$run/ports/com$n" "$WINEPREFIX/dosdevices/com$n"
    done

    # At first boot the mount manager gave the host's own serial ports (a VM
    # console on /dev/ttyS0 becomes COM1) an NT device. Such a COMn opens as
    # a dead handle when nothing is behind our link, where a test expects
    # "port absent". Dropping the NT name fixes that without touching live
    # ports, which Wine opens through dosdevices. Every link is dangling at
    # this point, so the same program checks that no COMn opens. The
    # project's cross compiler builds it here: the harness stays plain text.
    x86_64-w64-mingw32-gcc-posix -O1 -o "$run/absent_ports.exe" "$here/absent_ports.c"
    if ! wine "$run/absent_ports.exe" "$max_com" </dev/null >"$run/absent_ports.out" 2>>"$run/wine.log"; then
        cat "$run/absent_ports.out" >&2
        false
    fi

    python3 "$here/scanner_sim.py" --port-file "$run/sim.port" --ports-dir "$run/ports" \
        </dev/null >>"$run/sim.log" 2>&1 &
    pid=$!
    echo "$pid" >"$run/sim.pid"
    for _ in $(seq 100); do
        [[ -s $run/sim.port ]] && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if [[ ! -s $run/sim.port ]]; then
        echo "wine_session: scanner_sim did not come up:" >&2
        cat "$run/sim.log" >&2
        false
    fi

    trap - ERR
    echo "wine session ready: DISPLAY=$DISPLAY WINEPREFIX=$WINEPREFIX sim port $(cat "$run/sim.port")"
}

[[ $# -eq 2 && -n $2 ]] || { echo "usage: $0 start|stop RUN_DIR" >&2; exit 2; }
case $1 in
    start) start "$2" ;;
    stop) stop "$2" || true ;;
    *) echo "usage: $0 start|stop RUN_DIR" >&2; exit 2 ;;
esac
