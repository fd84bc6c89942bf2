# Shared settings for the build and test scripts (sourced, not run).
TOP="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$TOP/build}"
WINE=/usr/lib/wine/wine64
export WINEPREFIX="$BUILD_DIR/wineprefix"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

wine_server() { /usr/lib/wine/wineserver "$@"; }

# Creates the private prefix once, then keeps a wineserver alive for the run.
wine_up() {
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        mkdir -p "$WINEPREFIX"
        "$WINE" wineboot -i >/dev/null 2>&1 || true
        wine_server -w
    fi
    wine_server -p || true
    # The first program starts Wine's system processes; they must not hold our pipes.
    "$WINE" "$BUILD_DIR/bin/keepalive.exe" </dev/null >/dev/null 2>&1 &
    sleep 1
}

wine_down() { wine_server -k 2>/dev/null || true; }
