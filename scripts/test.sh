#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test program under Wine.
# Extra arguments go to ctest (for example: -R trace).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
bash "$TOP/scripts/build.sh"
wine_up
trap wine_down EXIT
cd "$BUILD_DIR"
xvfb-run -a ctest --output-on-failure --timeout 600 "$@"
