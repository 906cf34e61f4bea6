# shellcheck shell=bash
# Sourced by the Wine scripts: the environment every Windows program of the
# build runs in. Everything Wine writes stays under build/wine, so runs never
# touch ~/.wine, the real home folder or the desktop's menus.
#
#   build/wine/template   prefix made once with `wineboot -i` (see wine-session.sh)
#   build/wine/prefix     working prefix, a fresh copy of the template per session
#   build/wine/home       HOME and XDG folders Wine sees
#   build/wine/session    state of the running session (display, pids)
#
# KELVO_BUILD_DIR moves the whole thing; KELVO_WINEDEBUG replaces WINEDEBUG=-all
# when Wine's own traces are wanted.
#
# User mode: with KELVO_WINE_USER set to an ordinary account (scripts/install-
# deps.sh makes `kelvo-wine`), programs run as that user in a session of its
# own: build/wine/user-prefix, user-home and user-session (see
# wine-session.sh). Wine run as root opens read-only files for writing, so
# tests of read-only files need this. Only root can switch users; anyone else
# is an ordinary user already, and for them user mode is the normal session.

KELVO_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
KELVO_BUILD_DIR="${KELVO_BUILD_DIR:-$KELVO_ROOT/build}"
KELVO_WINE_DIR="$KELVO_BUILD_DIR/wine"
KELVO_WINE_TEMPLATE="$KELVO_WINE_DIR/template"
if [ -n "${KELVO_WINE_USER:-}" ] && [ "$EUID" -eq 0 ] && [ "$KELVO_WINE_USER" != root ]; then
    KELVO_WINE_STATE="$KELVO_WINE_DIR/user-session"
    KELVO_WINE_LOG="$KELVO_WINE_DIR/user-session.log"
    KELVO_WINE_LOCK="$KELVO_WINE_DIR/user-session.lock"
    export WINEPREFIX="$KELVO_WINE_DIR/user-prefix"
    export HOME="$KELVO_WINE_DIR/user-home"
else
    KELVO_WINE_USER=""
    KELVO_WINE_STATE="$KELVO_WINE_DIR/session"
    KELVO_WINE_LOG="$KELVO_WINE_DIR/session.log"
    KELVO_WINE_LOCK="$KELVO_WINE_DIR/session.lock"
    export WINEPREFIX="$KELVO_WINE_DIR/prefix"
    export HOME="$KELVO_WINE_DIR/home"
fi
export XDG_DATA_HOME="$HOME/.local/share"
export XDG_CONFIG_HOME="$HOME/.config"
export XDG_CACHE_HOME="$HOME/.cache"
export WINEDEBUG="${KELVO_WINEDEBUG:--all}"
export WINEARCH=win32
# No menu entries or desktop files on the host, and no offers to install
# Mono or Gecko.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="

# Put before a command, runs it as the session's user: as KELVO_WINE_USER in
# user mode, otherwise as the caller (the array is empty). setpriv execs the
# command in place (no PAM session, no waiting parent), so a wineserver run in
# the background has the pid `$!` reports. The environment is kept, with the
# user's own names and without a TMPDIR the user might not be able to use.
KELVO_AS_WINE_USER=()
if [ -n "$KELVO_WINE_USER" ]; then
    KELVO_AS_WINE_USER=(setpriv --reuid="$KELVO_WINE_USER" --regid="$(id -g "$KELVO_WINE_USER" 2>/dev/null)"
        --init-groups env -u TMPDIR USER="$KELVO_WINE_USER" LOGNAME="$KELVO_WINE_USER")
fi

# True when a session is running: its state file exists and the wineserver
# and (when the session started one) Xvfb it recorded are still alive.
# Leaves the recorded values in KELVO_SESSION_* variables.
kelvo_wine_session_alive() {
    [ -f "$KELVO_WINE_STATE" ] || return 1
    KELVO_SESSION_DISPLAY="" KELVO_SESSION_XVFB_PID="" KELVO_SESSION_SERVER_PID="" KELVO_SESSION_USER=""
    # shellcheck disable=SC1090
    . "$KELVO_WINE_STATE"
    [ -n "$KELVO_SESSION_SERVER_PID" ] && kelvo_pid_is "$KELVO_SESSION_SERVER_PID" wineserver || return 1
    [ -z "$KELVO_SESSION_XVFB_PID" ] || kelvo_pid_is "$KELVO_SESSION_XVFB_PID" Xvfb
}

# True when process `pid` is alive (not a zombie) and its name starts with
# `name`, so a recorded pid that the system has since reused is never taken
# for ours.
kelvo_pid_is() {
    local comm stat
    comm="$(cat "/proc/$1/comm" 2>/dev/null)" || return 1
    stat="$(cat "/proc/$1/stat" 2>/dev/null)" || return 1
    stat="${stat##*) }"
    [ "${stat:0:1}" != Z ] || return 1
    case "$comm" in "$2"*) return 0 ;; *) return 1 ;; esac
}
