#!/usr/bin/env bash
# Shows the filter's property pages in the platform's property frame on this machine's screen
# (or the one $DISPLAY names): installs what is missing, builds Tonewell.dll and the viewer,
# and runs it in the private Wine prefix. Nothing needs registering.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
if [ -z "${DISPLAY:-}" ]; then
    echo "pages: no screen (DISPLAY is not set)" >&2
    exit 1
fi
bash "$TOP/scripts/build.sh" Tonewell tonewell-pages keepalive
wine_up
trap wine_down EXIT
"$WINE" "$BUILD_DIR/bin/tonewell-pages.exe" "$@"
