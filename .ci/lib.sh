# Helpers shared by the CI legs (sourced by .ci/run; every leg runs with the
# project root as working directory and these functions defined).

log() { printf '\n=== %s (%s) ===\n' "$*" "$(date -u +%H:%M:%S)"; }

JOBS=${JOBS:-2}
ROOT=${ROOT:-$(pwd)}

# Runs ctest in a build folder and fails when it ran no test at all.
# Extra arguments go to ctest (for example -L or -R to pick suites).
run_ctest() {
    local dir=$1
    shift
    local out
    out=$(mktemp)
    set +e
    ctest --test-dir "$dir" --output-on-failure -j"$JOBS" "$@" 2>&1 | tee "$out"
    local rc=${PIPESTATUS[0]}
    set -e
    if ! grep -Eq 'tests passed, [0-9]+ tests failed out of [1-9]' "$out"; then
        echo "ctest in $dir ran no tests" >&2
        rc=1
    fi
    rm -f "$out"
    return "$rc"
}
