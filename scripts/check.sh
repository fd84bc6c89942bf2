#!/usr/bin/env bash
# The quality checks, after the tests: installs what is missing and runs each step, or only
# the steps named (bash scripts/check.sh tidy heap):
#   clang     the product and the tests built with clang into build-clang/ (product code
#             with -Werror), and the tests run there under Wine
#   warnings  a fresh Release build of the product with GCC prints no warning at all:
#             compiler, widl, windres or linker; clang's product build stays free of them
#   tidy      clang-tidy with .clang-tidy over the product's code: no finding
#   heap      the whole test suite of build/ under Wine's heap checking: no heap error
# Prints PASS or FAIL for each step and a closing line "N passed, M failed"; exits non-zero
# when a step fails.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

PRODUCT_TARGETS=(tw_core tw_pages Tonewell tonewell-render tonewell-pages tonewell-example)
PRODUCT_FOLDERS="diagnostics|framework|support|filter|server|pages|render|examples"
# Wine's heap checking: parameters of every heap call are checked (a block freed twice, a
# pointer that is no block) and blocks carry a tail pattern, which HeapValidate checks (the
# test programs validate every heap at their end, tests/common/HeapCheck.cpp). Only the
# heap's messages are let through, so that the programs' output stays what the tests expect.
HEAP_WINEDEBUG="-all,err+heap,warn+heap"
HEAP_LINE=':(err|warn):heap:'

step_clang() {
    TW_COMPILER=clang BUILD_TYPE=Release bash "$TOP/scripts/test.sh"
}

step_warnings() {
    local dir="$TOP/build-warnings" log status
    rm -rf "$dir"
    log="$(BUILD_DIR="$dir" BUILD_TYPE=Release bash "$TOP/scripts/build.sh" "${PRODUCT_TARGETS[@]}" 2>&1)"
    status=$?
    log+=$'\n'"$(TW_COMPILER=clang BUILD_TYPE=Release bash "$TOP/scripts/build.sh" "${PRODUCT_TARGETS[@]}" 2>&1)"
    status=$((status | $?))
    if grep -i 'warning' <<<"$log"; then
        echo "warnings: the product's build is not free of warnings (above)" >&2
        return 1
    fi
    return $status
}

step_tidy() {
    # The compilation database and the IDL header that the sources include.
    TW_COMPILER=clang BUILD_TYPE=Release bash "$TOP/scripts/build.sh" generated/TonewellIdl.h || return 1
    run-clang-tidy -p "$TOP/build-clang" -j "$(nproc)" -quiet "^$TOP/($PRODUCT_FOLDERS)/[^/]*\.cpp\$"
}

step_heap() {
    bash "$TOP/scripts/build.sh" || return 1
    # First the known faults: a check that no longer hears of them would pass anything.
    local canary
    wine_up
    canary="$(WINEDEBUG="$HEAP_WINEDEBUG" "$WINE" "$BUILD_DIR/bin/heapcanary.exe" 2>&1)"
    wine_down
    if [ "$(grep -c -E "$HEAP_LINE" <<<"$canary")" -lt 2 ]; then
        printf '%s\n' "$canary" >&2
        echo "heap: Wine reported neither the double free nor the damaged tail of heapcanary.exe" >&2
        return 1
    fi
    # CTest keeps only the first kilobyte of a passed test's output unless told otherwise.
    local status=0 log="$BUILD_DIR/Testing/Temporary/LastTest.log"
    WINEDEBUG="$HEAP_WINEDEBUG" bash "$TOP/scripts/test.sh" \
        --test-output-size-passed 100000000 --test-output-size-failed 100000000 || status=1
    if grep -E "$HEAP_LINE" "$log"; then
        echo "heap: Wine's heap checking reported the errors above (whole output: $log)" >&2
        return 1
    fi
    return $status
}

all_steps=(clang warnings tidy heap)
steps=("$@")
[ ${#steps[@]} -gt 0 ] || steps=("${all_steps[@]}")
for step in "${steps[@]}"; do
    if ! [[ " ${all_steps[*]} " == *" $step "* ]]; then
        echo "usage: check.sh [${all_steps[*]}]..." >&2
        exit 1
    fi
done

bash "$TOP/scripts/setup.sh" --checks
passed=0
failed=0
summary=()
for step in "${steps[@]}"; do
    echo "=== check: $step"
    start=$SECONDS
    if "step_$step"; then
        result=PASS
        passed=$((passed + 1))
    else
        result=FAIL
        failed=$((failed + 1))
    fi
    summary+=("$(printf 'check: %-8s %s  %dm%02ds' "$step" "$result" $(((SECONDS - start) / 60)) $(((SECONDS - start) % 60)))")
    echo "${summary[-1]}"
done
printf '%s\n' "${summary[@]}"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
