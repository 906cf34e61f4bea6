#!/usr/bin/env bash
# The Wine session the build's Windows programs run in.
#
#   wine-session.sh start [HOLDER]
#       Make the template prefix if there is none (or Wine changed), copy it
#       to a fresh working prefix, start Xvfb when no display is usable, start
#       a persistent wineserver, and bring up Wine's background services and
#       virtual desktop once. When a session is already running, join it.
#   wine-session.sh stop [HOLDER]
#       Leave the session; the last holder to leave stops what start started:
#       the wineserver of our prefix (which ends every Wine process in it and
#       writes the registry files) and our Xvfb.
#   wine-session.sh stop --all    stop the session whoever holds it.
#   wine-session.sh status        exit 0 when a session is running.
#
# HOLDER is the pid of the process using the session, by default the caller.
# Holders that have died are dropped, so a test run that was killed does not
# keep the session alive, and two test runs in one tree do not stop the
# session under each other.
#
# Why start does more than set variables: a wineserver, services.exe or
# explorer.exe started by a test outlives it and keeps its output pipe open,
# so a test runner would wait on them after every test. Started here, with
# their output going to build/wine/session.log, they are shared by all runs.
# The working prefix is left in place after stop, to look at what a run did.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
. "$here/wine-env.sh"
holders_file="$KELVO_WINE_DIR/session.holders"

log() { echo "wine-session: $*" >&2; }

# Start and stop are serialised across processes. Long-lived processes are
# started with the lock's descriptor closed, so they never hold the lock.
take_lock() {
    mkdir -p "$KELVO_WINE_DIR"
    exec 9>"$KELVO_WINE_LOCK"
    flock 9
}

# Waits up to `tenths` tenths of a second for process `pid` to go away.
wait_gone() {
    local pid=$1 name=$2 tenths=$3
    while kelvo_pid_is "$pid" "$name" && [ "$tenths" -gt 0 ]; do
        sleep 0.1
        tenths=$((tenths - 1))
    done
    ! kelvo_pid_is "$pid" "$name"
}

# Rewrites the holder list, keeping only live processes other than $1.
prune_holders() {
    local pid kept=()
    if [ -f "$holders_file" ]; then
        while read -r pid; do
            [ -n "$pid" ] && [ "$pid" != "${1:-}" ] && kelvo_pid_is "$pid" "" && kept+=("$pid")
        done <"$holders_file"
    fi
    printf '%s\n' "${kept[@]}" | grep . >"$holders_file" || true
}

make_template() {
    local version tmp stamp="$KELVO_WINE_TEMPLATE/.kelvo-wine-version"
    # The suffix changes whenever the template's own settings change.
    version="$(wine --version) template-2"
    if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$version" ]; then
        return
    fi
    log "making the template prefix with $version (once per build folder)"
    tmp="$KELVO_WINE_DIR/template.new"
    rm -rf "$tmp" "$KELVO_WINE_TEMPLATE"
    mkdir -p "$HOME"
    (
        export WINEPREFIX="$tmp"
        unset DISPLAY
        wineboot -i
        # A crash prints a backtrace and exits with 5 instead of waiting on
        # a "Program Error" dialog.
        wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
        # Windows open in a virtual desktop: without a window manager they
        # would have no caption and closing a dialog would take seconds.
        wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f
        wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f
        # N: is a network drive; Wine reads drive types when its server starts.
        wine reg add 'HKLM\Software\Wine\Drives' /v n: /d network /f
        wineserver -w
    ) </dev/null >>"$KELVO_WINE_LOG" 2>&1 9>&-
    if ! grep -q '"ShowCrashDialog"=dword:00000000' "$tmp/user.reg"; then
        log "the template prefix was not set up (see $KELVO_WINE_LOG)"
        exit 1
    fi
    # wineboot links Desktop, Documents and the like to $HOME. Real folders
    # inside the prefix keep every session's shell folders its own.
    find "$tmp/drive_c/users" -type l -print0 | while IFS= read -r -d '' link; do
        case "$(readlink "$link")" in
            "$HOME"*) rm "$link" && mkdir "$link" ;;
        esac
    done
    # A: is a removable disk (any drive linked to a plain folder is) and N:
    # the network drive: setups started from them are tested there.
    mkdir -p "$KELVO_WINE_DIR/floppy" "$KELVO_WINE_DIR/share"
    ln -sfn "$KELVO_WINE_DIR/floppy" "$tmp/dosdevices/a:"
    ln -sfn "$KELVO_WINE_DIR/share" "$tmp/dosdevices/n:"
    echo "$version" >"$tmp/.kelvo-wine-version"
    mv "$tmp" "$KELVO_WINE_TEMPLATE"
}

start_xvfb() {
    local display_file="$KELVO_WINE_DIR/xvfb.display" tenths=100
    rm -f "$display_file"
    # -displayfd lets Xvfb pick a free display and report it once it accepts
    # connections.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" </dev/null >>"$KELVO_WINE_LOG" 2>&1 9>&- &
    xvfb_pid=$!
    until grep -q '^[0-9]' "$display_file" 2>/dev/null; do
        # Any name will do here: until it has exec'd, the child is still "bash".
        if ! kelvo_pid_is "$xvfb_pid" "" || [ "$tenths" -le 0 ]; then
            log "Xvfb did not start (see $KELVO_WINE_LOG)"
            kill "$xvfb_pid" 2>/dev/null || true
            exit 1
        fi
        sleep 0.1
        tenths=$((tenths - 1))
    done
    display=":$(head -n1 "$display_file")"
}

do_start() {
    local holder=$1
    take_lock
    if kelvo_wine_session_alive; then
        prune_holders "$holder"
        echo "$holder" >>"$holders_file"
        return 0
    fi
    do_stop_locked  # whatever a killed run left behind
    echo "$holder" >"$holders_file"
    echo "--- session start $(date)" >>"$KELVO_WINE_LOG"
    make_template

    rm -rf "$WINEPREFIX" "$HOME"
    mkdir -p "$HOME"
    cp -a --reflink=auto "$KELVO_WINE_TEMPLATE" "$WINEPREFIX"

    xvfb_pid="" display="${DISPLAY:-}"
    if [ -z "$display" ] || ! xdpyinfo -display "$display" >/dev/null 2>&1; then
        start_xvfb
    fi
    export DISPLAY="$display"

    # `-p` alone keeps the server alive until it is killed (`-p 60` would
    # too; `-p60` would mean 60 seconds).
    wineserver -f -p </dev/null >>"$KELVO_WINE_LOG" 2>&1 9>&- &
    local server_pid=$!
    cat >"$KELVO_WINE_STATE" <<EOF
KELVO_SESSION_DISPLAY=$display
KELVO_SESSION_XVFB_PID=$xvfb_pid
KELVO_SESSION_SERVER_PID=$server_pid
EOF
    # rundll32 creates a window, which brings up the services and the
    # virtual desktop's explorer.exe along with it.
    if ! wine rundll32.exe user32.dll,GetDesktopWindow </dev/null >>"$KELVO_WINE_LOG" 2>&1 9>&-; then
        log "Wine did not start (see $KELVO_WINE_LOG)"
        do_stop_locked
        exit 1
    fi
    log "session running: display $display, prefix $WINEPREFIX"
}

do_stop_locked() {
    [ -f "$KELVO_WINE_STATE" ] || return 0
    KELVO_SESSION_XVFB_PID="" KELVO_SESSION_SERVER_PID=""
    # shellcheck source=/dev/null
    . "$KELVO_WINE_STATE"
    local server="$KELVO_SESSION_SERVER_PID" xvfb="$KELVO_SESSION_XVFB_PID"
    if [ -n "$server" ] && kelvo_pid_is "$server" wineserver; then
        wineserver -k </dev/null >>"$KELVO_WINE_LOG" 2>&1 9>&- || true
        if ! wait_gone "$server" wineserver 100; then
            log "wineserver $server did not stop; killing it"
            kill -9 "$server" 2>/dev/null || true
        fi
    fi
    if [ -n "$xvfb" ] && kelvo_pid_is "$xvfb" Xvfb; then
        kill "$xvfb" 2>/dev/null || true
        wait_gone "$xvfb" Xvfb 50 || kill -9 "$xvfb" 2>/dev/null || true
    fi
    rm -f "$KELVO_WINE_STATE" "$holders_file"
}

do_stop() {
    local holder=$1
    [ -f "$KELVO_WINE_STATE" ] || return 0
    take_lock
    if [ "$holder" != --all ]; then
        prune_holders "$holder"
        [ -s "$holders_file" ] && return 0
    fi
    do_stop_locked
}

case "${1:-}" in
    start) do_start "${2:-$PPID}" ;;
    stop) do_stop "${2:-$PPID}" ;;
    status) kelvo_wine_session_alive ;;
    *)
        echo "usage: wine-session.sh start|stop [HOLDER|--all] | status" >&2
        exit 2
        ;;
esac
