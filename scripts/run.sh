#!/usr/bin/env bash
# The main job: installs what is missing, builds Tonewell.dll and tonewell-render, registers
# the DLL in the private Wine prefix and runs tonewell-render with the arguments given
# (bash scripts/run.sh --help lists them). Without arguments it renders five seconds of the
# default tone to tonewell.wav in the current directory.
# Linux paths work: an argument that starts with '/', or an option value after '=' that
# does, is handed over as the same path on Wine's drive Z:.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
bash "$TOP/scripts/build.sh" Tonewell tonewell-render keepalive

wine_path() { local p="$1"; printf 'Z:%s' "${p//\//\\}"; }
args=()
for arg in "$@"; do
    case "$arg" in
        /*) args+=("$(wine_path "$arg")") ;;
        --*=/*) args+=("${arg%%=*}=$(wine_path "${arg#*=}")") ;;
        *) args+=("$arg") ;;
    esac
done

wine_up
trap wine_down EXIT
if ! "$WINE" regsvr32 /s "$(wine_path "$BUILD_DIR/bin/Tonewell.dll")"; then
    echo "run: registering $BUILD_DIR/bin/Tonewell.dll with Wine's regsvr32 failed" >&2
    exit 1
fi
status=0
"$WINE" "$BUILD_DIR/bin/tonewell-render.exe" ${args[@]+"${args[@]}"} || status=$?
if [ $# -eq 0 ] && [ $status -eq 0 ]; then
    echo "The file is $PWD/tonewell.wav"
fi
exit $status
