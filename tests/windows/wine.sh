#!/usr/bin/env bash
# Runs Windows programs under Wine, in a private prefix inside the build folder.
#
#   wine.sh boot PREFIX                    create the prefix (once; later calls reuse it)
#   wine.sh run PREFIX DIR PROGRAM [ARGS]  run PROGRAM in DIR under Xvfb; arguments that are
#                                          absolute Unix paths are handed over as Z: paths
#
# Where Wine is not installed it says so and goes the way of every missing
# tool (tests/support/missing_tool.sh: skipped in a partial run, a failure
# where every tool is required); every other problem is a failure.
set -u

WINE=${VELVANE_WINE:-/usr/lib/wine/wine64}
WINESERVER=$(dirname "$WINE")/wineserver

missing() {
    exec sh "$(dirname "$0")/../support/missing_tool.sh" "Wine cannot start: $*" windows
}

[ $# -ge 2 ] || { echo "usage: $0 boot|run PREFIX ..." >&2; exit 2; }
mode=$1
export WINEPREFIX=$2
shift 2
# No debug output, and no prompts to fetch the .NET or HTML engines.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
unset DISPLAY
export HOME=${HOME:-$(dirname "$WINEPREFIX")}

[ -x "$WINE" ] || missing "$WINE not found (wine64)"
[ -x "$WINESERVER" ] || missing "$WINESERVER not found (wine64)"
ready=$WINEPREFIX/.velvane-ready

# A Wine server left from another run keeps that run's desktop (and display):
# stop the one of this prefix before starting anything.
stop_server() {
    "$WINESERVER" -k >/dev/null 2>&1
    "$WINESERVER" -w >/dev/null 2>&1
}

case $mode in
boot)
    if [ -f "$ready" ]; then
        echo "wine prefix $WINEPREFIX is ready"
        exit 0
    fi
    stop_server
    rm -rf "$WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    log=$(mktemp)
    start=$(date +%s)
    if ! timeout 300 "$WINE" wineboot --init >"$log" 2>&1; then
        cat "$log"
        rm -f "$log"
        stop_server
        missing "wineboot --init failed in $WINEPREFIX"
    fi
    # wineboot returns while the server still writes the new prefix's
    # registry to disk; on a first boot beside a busy machine, a registry
    # edit made before it is done can fail. Let it finish first.
    "$WINESERVER" -w >/dev/null 2>&1
    # Without a window manager (Xvfb), let Wine draw the window frames itself.
    written=0
    for try in 1 2 3; do
        if "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >"$log" 2>&1; then
            written=1
            break
        fi
        stop_server
        sleep "$try"
    done
    if [ $written = 0 ]; then
        cat "$log"
        rm -f "$log"
        echo "FAIL: could not write the prefix's registry"
        stop_server
        exit 1
    fi
    rm -f "$log"
    stop_server
    touch "$ready"
    echo "wine prefix $WINEPREFIX created in $(( $(date +%s) - start )) s"
    ;;
run)
    [ $# -ge 2 ] || { echo "usage: $0 run PREFIX DIR PROGRAM [ARGS]" >&2; exit 2; }
    dir=$1
    shift
    [ -f "$ready" ] || missing "no usable prefix at $WINEPREFIX (the windows_wine_prefix test sets it up)"
    command -v xvfb-run >/dev/null || { echo "FAIL: xvfb-run not found (the Debian package xvfb provides it)"; exit 1; }
    args=()
    for a in "$@"; do
        case $a in
        /*) args+=("Z:${a//\//\\}") ;;
        *) args+=("$a") ;;
        esac
    done
    cd "$dir" || exit 1
    out=$(mktemp)
    for try in 1 2; do
        stop_server
        timeout 200 xvfb-run -a -s "-screen 0 1024x768x24" "$WINE" "${args[@]}" >"$out" 2>&1
        rc=$?
        cat "$out"
        # A Wine that ends at once, having said nothing, never started the
        # program (seen once in many runs on a busy machine): once more, with
        # Wine's own errors shown. A program that ran always says something.
        if [ $rc = 0 ] || [ -s "$out" ] || [ $try = 2 ]; then
            break
        fi
        echo "wine ended with $rc before the program said anything; once more, with Wine's errors shown"
        export WINEDEBUG=err+all
    done
    rm -f "$out"
    stop_server
    exit $rc
    ;;
*)
    echo "unknown mode $mode" >&2
    exit 2
    ;;
esac
