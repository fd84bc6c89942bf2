#!/usr/bin/env bash
# Configures and cross-builds everything into build/ (or $BUILD_DIR), with GCC (or the
# compiler TW_COMPILER names, see env.sh). Arguments name the targets to build.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
bash "$TOP/scripts/setup.sh"
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
    cmake -S "$TOP" -B "$BUILD_DIR" -G Ninja \
          -DCMAKE_TOOLCHAIN_FILE="$TW_TOOLCHAIN" \
          -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" >/dev/null
fi
# A build with nothing to do says nothing: the lines that only say so are left out.
cmake --build "$BUILD_DIR" -- -k 0 "$@" |
    { grep -v -E '^\[0/[0-9]+\] Re-checking globbed directories\.\.\.$|^ninja: no work to do\.$' || true; }
