# Shared settings for the build and test scripts (sourced, not run).
TOP="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# TW_COMPILER=clang builds with the second compiler (cmake/clang-mingw-w64-x86_64.cmake)
# into build-clang/ instead; each build tree has its own Wine prefix.
TW_COMPILER="${TW_COMPILER:-gcc}"
case "$TW_COMPILER" in
    gcc) TW_TOOLCHAIN="$TOP/cmake/mingw-w64-x86_64.cmake"; BUILD_DIR="${BUILD_DIR:-$TOP/build}" ;;
    clang) TW_TOOLCHAIN="$TOP/cmake/clang-mingw-w64-x86_64.cmake"; BUILD_DIR="${BUILD_DIR:-$TOP/build-clang}" ;;
    *) echo "TW_COMPILER is gcc or clang, not $TW_COMPILER" >&2; return 1 ;;
esac
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
