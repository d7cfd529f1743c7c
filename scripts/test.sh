#!/usr/bin/env bash
# Sets up (packages, build) and runs the whole test suite, then the sanitizer builds
# (scripts/sanitize.sh asan, then tsan). Exits non-zero when any of the three fails; its last
# line sums the three runs in ctest's own words, after a line with each run's figures.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir="$here/build"
"$here/scripts/setup.sh" "$build_dir"
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
status=0

# Runs one phase, keeps its output, and remembers a failure.
phase() {
    local name=$1 started=$SECONDS
    shift
    echo "== $name"
    "$@" 2>&1 | tee "$logs/$name" || status=1
    echo "== $name took $((SECONDS - started)) s"
}

phase normal bash -c 'cd "$1" && ctest --output-on-failure --timeout 600 --parallel "$(( $(nproc) * 2 ))"' _ "$build_dir"
phase asan "$here/scripts/sanitize.sh" asan
phase tsan "$here/scripts/sanitize.sh" tsan

# ctest's summary of each run: "N% tests passed, F tests failed out of T". A run that did not
# get that far (its build failed) counts as one failed test.
passed=0 failed=0 parts=()
for name in normal asan tsan; do
    line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$logs/$name" | tail -n 1 || true)
    if [ -z "$line" ]; then
        failed=$((failed + 1))
        parts+=("$name did not finish")
        continue
    fi
    f=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
    t=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
    passed=$((passed + t - f))
    failed=$((failed + f))
    parts+=("$name $((t - f))/$t")
done
total=$((passed + failed))
percent=100
[ "$failed" -gt 0 ] && percent=$((passed * 100 / total))
summary=$(printf '%s, ' "${parts[@]}")
echo
echo "Runs: ${summary%, }"
echo "$percent% tests passed, $failed tests failed out of $total"
exit "$status"
