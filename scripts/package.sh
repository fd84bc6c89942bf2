#!/usr/bin/env bash
# Builds the release for Windows users into build/release (or $BUILD_DIR/release): the
# installer Tonewell-<version>-setup.exe and the archive Tonewell-<version>.zip. The version
# is the module's own, from server/Version.rc.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
bash "$TOP/scripts/build.sh" release
shopt -s nullglob
artefacts=("$BUILD_DIR"/release/Tonewell-*)
[ ${#artefacts[@]} -gt 0 ] || { echo "package: nothing in $BUILD_DIR/release" >&2; exit 1; }
printf '%s\n' "${artefacts[@]}"
