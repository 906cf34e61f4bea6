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
#   wine-session.sh template      make the template prefix if there is none
#                                 (or Wine changed); start does this too.
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
# KELVO_WINE_ARCH=win64 manages the 64-bit session instead, under build/wine64
# (see wine-env.sh); the two kinds are apart in every respect.
#
# User mode (KELVO_WINE_USER=kelvo-wine, run as root; see wine-env.sh): the
# same commands manage the user session, with holders and a lock of its own.
# Its prefix is a copy of the same template owned by the user (Wine refuses a
# prefix that is not the caller's), with the template maker's profile folder
# renamed after the user; its wineserver, services and virtual desktop run as
# the user. It always starts an Xvfb of its own: each session's virtual
# desktop is a full-screen X window, and on one display the later one would
# cover the other, so screenshots taken in the shared session could show the
# user session's desktop. `stop --all` of the shared session (make clean)
# stops the user session too.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
. "$here/wine-env.sh"
holders_file="$KELVO_WINE_STATE.holders"

# Runs this script for the shared session, whatever mode the caller is in.
shared_session() {
    env -u KELVO_WINE_USER bash "$here/wine-session.sh" "$@" 9>&-
}

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

# Changing the settings made here means raising KELVO_WINE_TEMPLATE_REVISION
# (wine-env.sh), so that templates made before are made again.
make_template() {
    local stamp tmp
    kelvo_wine_template_is_current && return
    stamp="$(kelvo_wine_template_stamp)"
    log "making the template prefix with $stamp (once per build folder)"
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
    # S: is a small drive (see mount_small_drive) for tests of a full disk.
    mkdir -p "$KELVO_WINE_DIR/floppy" "$KELVO_WINE_DIR/share" "$KELVO_WINE_DIR/small"
    ln -sfn "$KELVO_WINE_DIR/floppy" "$tmp/dosdevices/a:"
    ln -sfn "$KELVO_WINE_DIR/small" "$tmp/dosdevices/s:"
    ln -sfn "$KELVO_WINE_DIR/share" "$tmp/dosdevices/n:"
    echo "$stamp" >"$tmp/$KELVO_WINE_STAMP_NAME"
    mv "$tmp" "$KELVO_WINE_TEMPLATE"
}

# Starts the session's Xvfb; sets xvfb_pid and display.
start_xvfb() {
    if ! kelvo_start_xvfb "$KELVO_WINE_DIR/${KELVO_WINE_USER:+user-}xvfb.display" "$KELVO_WINE_LOG"; then
        log "Xvfb did not start (see $KELVO_WINE_LOG)"
        exit 1
    fi
    xvfb_pid=$KELVO_XVFB_PID display=$KELVO_XVFB_DISPLAY
}

# Drive S: gets a 2 MB file system of its own when the session may mount
# one (as root), so tests can fill it; otherwise it is a plain folder and
# those tests say they are skipped.
SMALL_DRIVE_SIZE=2m
mount_small_drive() {
    local folder="$KELVO_WINE_DIR/small"
    mkdir -p "$folder"
    [ "$EUID" -eq 0 ] || return 0
    mountpoint -q "$folder" && return 0
    mount -t tmpfs -o "size=$SMALL_DRIVE_SIZE,mode=1777" kelvo-small "$folder" 2>>"$KELVO_WINE_LOG" \
        || log "no small drive S: (tmpfs could not be mounted)"
}

unmount_small_drive() {
    local folder="$KELVO_WINE_DIR/small"
    if [ "$EUID" -eq 0 ] && mountpoint -q "$folder"; then umount "$folder" 2>/dev/null || true; fi
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
    if [ -n "$KELVO_WINE_USER" ]; then
        start_user_session
        return
    fi
    make_template

    rm -rf "$HOME"
    mkdir -p "$HOME"
    kelvo_wine_fresh_prefix "$WINEPREFIX"
    mount_small_drive

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

# The user session's start, under its lock, once its holder is recorded.
start_user_session() {
    local user="$KELVO_WINE_USER" group maker display server_pid
    if ! group="$(id -g "$user" 2>/dev/null)"; then
        log "there is no user $user (scripts/install-deps.sh makes it)"
        rm -f "$holders_file"
        exit 1
    fi
    # The template is made under the shared session's lock.
    shared_session template || exit 1

    rm -rf "$HOME"
    mkdir -p "$HOME"
    kelvo_wine_fresh_prefix "$WINEPREFIX"
    # This file names the template maker's server folder under /tmp, which
    # the user may not enter; without it Wine makes one for the user.
    rm -f "$WINEPREFIX/wineserver"
    # Wine names the profile folder after the user: C:\users\<maker> becomes
    # C:\users\<user>, and so do the registry's paths into it (TEMP, shell
    # folders), which the .reg files spell with doubled backslashes.
    maker="$(stat -c %U "$KELVO_WINE_TEMPLATE")"
    if [ "$maker" != "$user" ] && [ -d "$WINEPREFIX/drive_c/users/$maker" ]; then
        mv "$WINEPREFIX/drive_c/users/$maker" "$WINEPREFIX/drive_c/users/$user"
        sed -i 's/C:\\\\users\\\\'"$maker"'\(\\\\\|"\)/C:\\\\users\\\\'"$user"'\1/g' "$WINEPREFIX"/*.reg
    fi
    chown -R -P "$user:$group" "$WINEPREFIX" "$HOME"
    if ! "${KELVO_AS_WINE_USER[@]}" test -w "$WINEPREFIX" -a -w "$HOME"; then
        log "user $user cannot reach $WINEPREFIX: every folder above it must let others through (o+x)"
        rm -f "$holders_file"
        exit 1
    fi

    # Xvfb runs as root, like the shared session's; without -auth it lets in
    # every local client, the user's too.
    start_xvfb
    if ! "${KELVO_AS_WINE_USER[@]}" xdpyinfo -display "$display" >/dev/null 2>&1; then
        log "user $user cannot open display $display"
        kill "$xvfb_pid" 2>/dev/null || true
        rm -f "$holders_file"
        exit 1
    fi
    export DISPLAY="$display"

    "${KELVO_AS_WINE_USER[@]}" wineserver -f -p </dev/null >>"$KELVO_WINE_LOG" 2>&1 9>&- &
    server_pid=$!
    cat >"$KELVO_WINE_STATE" <<EOF
KELVO_SESSION_DISPLAY=$display
KELVO_SESSION_XVFB_PID=$xvfb_pid
KELVO_SESSION_SERVER_PID=$server_pid
KELVO_SESSION_USER=$user
EOF
    if ! "${KELVO_AS_WINE_USER[@]}" wine rundll32.exe user32.dll,GetDesktopWindow </dev/null >>"$KELVO_WINE_LOG" 2>&1 9>&-; then
        log "Wine did not start as $user (see $KELVO_WINE_LOG)"
        do_stop_locked
        exit 1
    fi
    log "user session running as $user: display $display, prefix $WINEPREFIX"
}

do_stop_locked() {
    [ -f "$KELVO_WINE_STATE" ] || return 0
    KELVO_SESSION_XVFB_PID="" KELVO_SESSION_SERVER_PID=""
    # shellcheck source=/dev/null
    . "$KELVO_WINE_STATE"
    local server="$KELVO_SESSION_SERVER_PID" xvfb="$KELVO_SESSION_XVFB_PID"
    if [ -n "$server" ] && kelvo_pid_is "$server" wineserver; then
        "${KELVO_AS_WINE_USER[@]}" wineserver -k </dev/null >>"$KELVO_WINE_LOG" 2>&1 9>&- || true
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
    [ -n "$KELVO_WINE_USER" ] || unmount_small_drive
    if [ -n "$KELVO_WINE_USER" ]; then
        # Each user session gets a new server folder under /tmp (named in the
        # prefix's wineserver file); remove it, or every run would leave one.
        local folder
        folder="$(cat "$WINEPREFIX/wineserver" 2>/dev/null || true)"
        if [[ "$folder" =~ ^wine-[A-Za-z0-9]+$ ]] && [ "$(stat -c %U "/tmp/$folder" 2>/dev/null)" = "$KELVO_WINE_USER" ]; then
            rm -rf "/tmp/${folder:?}"
        fi
    fi
}

do_stop() {
    local holder=$1 user
    # `stop --all` (make clean) stops the user session too, before taking the
    # shared lock: the user session takes its own lock, then the shared one.
    if [ "$holder" = --all ] && [ -z "$KELVO_WINE_USER" ] && [ "$EUID" -eq 0 ] \
        && [ -f "$KELVO_WINE_DIR/user-session" ]; then
        user="$(sed -n 's/^KELVO_SESSION_USER=//p' "$KELVO_WINE_DIR/user-session")"
        [ -z "$user" ] || KELVO_WINE_USER="$user" bash "$here/wine-session.sh" stop --all || true
    fi
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
    template)
        if [ -n "$KELVO_WINE_USER" ]; then
            shared_session template
        else
            take_lock
            make_template
        fi
        ;;
    *)
        echo "usage: wine-session.sh start|stop [HOLDER|--all] | status | template" >&2
        exit 2
        ;;
esac
