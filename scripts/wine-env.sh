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

KELVO_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
KELVO_BUILD_DIR="${KELVO_BUILD_DIR:-$KELVO_ROOT/build}"
KELVO_WINE_DIR="$KELVO_BUILD_DIR/wine"
KELVO_WINE_TEMPLATE="$KELVO_WINE_DIR/template"
KELVO_WINE_STATE="$KELVO_WINE_DIR/session"
KELVO_WINE_LOG="$KELVO_WINE_DIR/session.log"
KELVO_WINE_LOCK="$KELVO_WINE_DIR/session.lock"

export WINEPREFIX="$KELVO_WINE_DIR/prefix"
export HOME="$KELVO_WINE_DIR/home"
export XDG_DATA_HOME="$HOME/.local/share"
export XDG_CONFIG_HOME="$HOME/.config"
export XDG_CACHE_HOME="$HOME/.cache"
export WINEDEBUG="${KELVO_WINEDEBUG:--all}"
export WINEARCH=win32
# No menu entries or desktop files on the host, and no offers to install
# Mono or Gecko.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="

# True when a session is running: its state file exists and the wineserver
# and (when the session started one) Xvfb it recorded are still alive.
# Leaves the recorded values in KELVO_SESSION_* variables.
kelvo_wine_session_alive() {
    [ -f "$KELVO_WINE_STATE" ] || return 1
    KELVO_SESSION_DISPLAY="" KELVO_SESSION_XVFB_PID="" KELVO_SESSION_SERVER_PID=""
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
