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
# The locale is the caller's: LANG and LC_ALL pass through untouched. Wine
# takes each program's ANSI and OEM code pages from its own LANG/LC_ALL when
# it starts (ja_JP.UTF-8 gives 932, ru_RU.UTF-8 1251, en_US.UTF-8 1252), not
# from the wineserver, so programs of one session may differ, and a program
# passes its code page on to those it starts. A test that needs a code page
# sets the locale in its own environment (the ctest ENVIRONMENT property;
# scripts/install-deps.sh generates the locales).
#
# KELVO_WINE_ARCH chooses the kind of Wine: win32 (the default) runs the
# i686 programs of build/bin; win64 runs the 64-bit test build of the same
# sources (build/bin64) with Wine's 64-bit loader, for machines whose kernel
# runs no 32-bit programs. The two kinds never share a prefix: win64 keeps
# everything above under build/wine64 instead of build/wine.
#
# User mode: with KELVO_WINE_USER set to an ordinary account (scripts/install-
# deps.sh makes `kelvo-wine`), programs run as that user in a session of its
# own: build/wine/user-prefix, user-home and user-session (see
# wine-session.sh). Wine run as root opens read-only files for writing, so
# tests of read-only files need this. Only root can switch users; anyone else
# is an ordinary user already, and for them user mode is the normal session.

KELVO_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
KELVO_BUILD_DIR="${KELVO_BUILD_DIR:-$KELVO_ROOT/build}"
# KELVO_WINDOWS_BIN: the Windows programs this kind of Wine runs.
KELVO_WINE_ARCH="${KELVO_WINE_ARCH:-win32}"
case "$KELVO_WINE_ARCH" in
    win32)
        KELVO_WINE_DIR="$KELVO_BUILD_DIR/wine"
        KELVO_WINDOWS_BIN="$KELVO_BUILD_DIR/bin"
        ;;
    win64)
        KELVO_WINE_DIR="$KELVO_BUILD_DIR/wine64"
        KELVO_WINDOWS_BIN="$KELVO_BUILD_DIR/bin64"
        # wine, wineboot and winepath with the 64-bit loader (see there).
        case ":$PATH:" in
            *":$KELVO_ROOT/scripts/wine64:"*) ;;
            *) PATH="$KELVO_ROOT/scripts/wine64:$PATH" ;;
        esac
        ;;
    *)
        echo "wine-env.sh: KELVO_WINE_ARCH is '$KELVO_WINE_ARCH', not win32 or win64" >&2
        return 2 2>/dev/null || exit 2
        ;;
esac
export KELVO_WINE_ARCH
# The native kelvo is in build/bin for either kind.
KELVO_NATIVE_BIN="$KELVO_BUILD_DIR/bin"
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

# Makes `folder` the HOME Wine sees, with the XDG folders inside it.
kelvo_wine_use_home() {
    export HOME="$1"
    export XDG_DATA_HOME="$HOME/.local/share" XDG_CONFIG_HOME="$HOME/.config" XDG_CACHE_HOME="$HOME/.cache"
}
kelvo_wine_use_home "$HOME"
export WINEDEBUG="${KELVO_WINEDEBUG:--all}"
export WINEARCH="$KELVO_WINE_ARCH"
# No menu entries or desktop files on the host, and no offers to install
# Mono or Gecko. KELVO_WINE_DLL_OVERRIDES adds load orders of a test's own
# (the planted-library tests make some libraries native-first).
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml=${KELVO_WINE_DLL_OVERRIDES:+;$KELVO_WINE_DLL_OVERRIDES}"

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

# --- The template prefix ---------------------------------------------------
# Its stamp names Wine's version and the revision of the template's own
# settings (raise the revision whenever wine-session.sh's make_template
# changes them). The same function makes the stamp that is written into a
# new template and the one a template is checked against.
KELVO_WINE_TEMPLATE_REVISION=template-3
KELVO_WINE_STAMP_NAME=.kelvo-wine-version  # the stamp's file in the template

kelvo_wine_template_stamp() {
    echo "$(wine --version) $KELVO_WINE_TEMPLATE_REVISION"
}

# True when the template exists and was made with this Wine and settings.
kelvo_wine_template_is_current() {
    [ "$(cat "$KELVO_WINE_TEMPLATE/$KELVO_WINE_STAMP_NAME" 2>/dev/null)" = "$(kelvo_wine_template_stamp)" ]
}

# Makes the template when it is missing or stale, under the session's lock.
kelvo_wine_need_template() {
    kelvo_wine_template_is_current || bash "$KELVO_ROOT/scripts/wine-session.sh" template 8>&- 9>&-
}

# Replaces `prefix` with a fresh copy of the template and makes it the
# WINEPREFIX of later Wine commands.
kelvo_wine_fresh_prefix() {
    rm -rf "$1" && cp -a --reflink=auto "$KELVO_WINE_TEMPLATE" "$1" && export WINEPREFIX="$1"
}

# Starts an Xvfb on a free display, its output appended to `log`. -displayfd
# lets Xvfb pick the display and write its number to `display_file` once it
# accepts connections. Sets KELVO_XVFB_PID and KELVO_XVFB_DISPLAY (":N");
# returns 1, with no Xvfb left running, when none is ready within ten
# seconds. Long-lived processes are started with descriptors 8 and 9 closed,
# where the scripts hold their locks.
kelvo_start_xvfb() {
    local display_file=$1 log=$2 tenths=100
    rm -f "$display_file"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" </dev/null >>"$log" 2>&1 8>&- 9>&- &
    KELVO_XVFB_PID=$!
    until grep -q '^[0-9]' "$display_file" 2>/dev/null; do
        # Any name will do here: until it has exec'd, the child is still "bash".
        if ! kelvo_pid_is "$KELVO_XVFB_PID" "" || [ "$tenths" -le 0 ]; then
            kill "$KELVO_XVFB_PID" 2>/dev/null || true
            KELVO_XVFB_PID=""
            return 1
        fi
        sleep 0.1
        tenths=$((tenths - 1))
    done
    KELVO_XVFB_DISPLAY=":$(head -n1 "$display_file")"
}

# --- A private Wine session --------------------------------------------------
# For scripts that need Wine to themselves, apart from the shared session: a
# restart acts on a whole prefix, and a comparison of a prefix before and
# after must see no other program. The session is a fresh copy of the
# template with a HOME of its own, its own wineserver and, when windows are
# shown, its own Xvfb; Wine's output goes to a log of the caller's.
KELVO_PRIVATE_PREFIXES=()   # prefixes whose wineserver this script started
KELVO_PRIVATE_LOG=/dev/null
KELVO_XVFB_PID=""

# kelvo_private_wine_start PREFIX HOME LOG [DISPLAY_FILE]
# Makes PREFIX a fresh copy of the template (the template first, when it is
# missing or stale), HOME its home folder, and starts the prefix's
# wineserver. With DISPLAY_FILE it starts an Xvfb for the session (once:
# later prefixes of the same script share it); without, no display is used.
# Says what went wrong and returns 1 on failure. Every later Wine command of
# the caller runs in this session; kelvo_private_wine_stop ends it.
kelvo_private_wine_start() {
    local prefix=$1 home=$2 display_file=${4:-}
    KELVO_PRIVATE_LOG=$3
    kelvo_wine_use_home "$home"
    mkdir -p "$HOME"
    if ! kelvo_wine_need_template; then
        echo "could not make the template prefix (see $KELVO_WINE_LOG)" >&2
        return 1
    fi
    kelvo_wine_fresh_prefix "$prefix" || return 1
    if [ -z "$display_file" ]; then
        unset DISPLAY
    elif [ -z "$KELVO_XVFB_PID" ]; then
        if ! kelvo_start_xvfb "$display_file" "$KELVO_PRIVATE_LOG"; then
            echo "Xvfb did not start (see $KELVO_PRIVATE_LOG)" >&2
            return 1
        fi
        export DISPLAY="$KELVO_XVFB_DISPLAY"
    fi
    # Without -f the server goes to the background once it is ready. Its
    # output goes to the log, so it never holds a caller's pipe open.
    if ! wineserver -p </dev/null >>"$KELVO_PRIVATE_LOG" 2>&1 8>&- 9>&-; then
        echo "wineserver did not start for $prefix (see $KELVO_PRIVATE_LOG)" >&2
        return 1
    fi
    KELVO_PRIVATE_PREFIXES+=("$prefix")
}

# Stops the wineserver of every prefix kelvo_private_wine_start started
# (which ends every Wine process in it and writes its registry files) and
# the session's Xvfb. Safe to call more than once, and on any exit.
kelvo_private_wine_stop() {
    local prefix
    for prefix in "${KELVO_PRIVATE_PREFIXES[@]}"; do
        # -k asks the server to end; -w waits until it has.
        WINEPREFIX="$prefix" wineserver -k </dev/null >>"$KELVO_PRIVATE_LOG" 2>&1 8>&- 9>&- || true
        WINEPREFIX="$prefix" wineserver -w </dev/null >>"$KELVO_PRIVATE_LOG" 2>&1 8>&- 9>&- || true
    done
    KELVO_PRIVATE_PREFIXES=()
    [ -z "$KELVO_XVFB_PID" ] || kill "$KELVO_XVFB_PID" 2>/dev/null || true
    KELVO_XVFB_PID=""
}
