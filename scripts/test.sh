#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test program under Wine.
# Extra arguments go to ctest (for example: -R trace).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
bash "$TOP/scripts/setup.sh"
# Wine's desktop takes the display of the session's first program, so the whole run, the
# keep-alive program included, happens on one virtual 24-bit screen.
if [ -z "${TW_IN_XVFB:-}" ]; then
    TW_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "${BASH_SOURCE[0]}" "$@"
fi
bash "$TOP/scripts/build.sh"
# The sound server of the play test, reached by the Wine programs through these variables;
# TW_SOUND_SERVER tells that test that a server was started, so it fails rather than skips.
export PULSE_RUNTIME_PATH="$BUILD_DIR/pulse/run" PULSE_SERVER="unix:$BUILD_DIR/pulse/run/native"
export TW_PULSE_SCRIPT="$TOP/scripts/pulse.sh"
if bash "$TOP/scripts/pulse.sh" start; then
    export TW_SOUND_SERVER=1
elif [ -n "${CI:-}" ]; then
    echo "test: the sound server does not start (see $BUILD_DIR/pulse/server.log)" >&2
    exit 1
else
    echo "test: the sound server does not start; the play test will skip" >&2
fi
trap 'wine_down; bash "$TOP/scripts/pulse.sh" stop' EXIT
wine_up
cd "$BUILD_DIR"
ctest --output-on-failure --timeout 600 "$@"
