#!/usr/bin/env bash
# Builds and runs the reliability campaign under Wine; the full run by default, --short for
# the seconds-long version that CTest runs. Other arguments go to the program (--seed=N,
# --gtest_filter=...). The table at the end is what the README's Reliability section shows.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
# The settings page under load needs a screen: a virtual one when there is none.
if [ -z "${DISPLAY:-}" ]; then
    bash "$TOP/scripts/setup.sh"
    exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "${BASH_SOURCE[0]}" "$@"
fi
bash "$TOP/scripts/build.sh" campaign_reliability Tonewell
wine_up
trap wine_down EXIT
cd "$BUILD_DIR/bin"
if [ "$#" -eq 0 ] || [[ "$1" != --short ]]; then
    set -- --full "$@"
fi
"$WINE" campaign_reliability.exe "$@"
