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
wine_up
trap wine_down EXIT
cd "$BUILD_DIR"
ctest --output-on-failure --timeout 600 "$@"
