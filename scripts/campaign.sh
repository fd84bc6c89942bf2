#!/usr/bin/env bash
# Builds and runs the reliability campaign under Wine; the full run by default, --short for
# the seconds-long version that CTest runs. Other arguments go to the program (--seed=N,
# --gtest_filter=...). The table at the end is what the README's Reliability section shows.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
bash "$TOP/scripts/build.sh" campaign_reliability Tonewell
wine_up
trap wine_down EXIT
cd "$BUILD_DIR/bin"
if [ "$#" -eq 0 ] || [[ "$1" != --short ]]; then
    set -- --full "$@"
fi
"$WINE" campaign_reliability.exe "$@"
