#!/usr/bin/env bash
# Sets up (packages, build) and runs the whole test suite; ends with ctest's summary line.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir="$here/build"
"$here/scripts/setup.sh" "$build_dir"
cd "$build_dir"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
ctest --output-on-failure --timeout 600 --parallel "$(( $(nproc) * 2 ))" 2>&1 | tee "$log" || status=$?
# ctest prints timings and the list of failures after its summary; repeat the summary last.
echo
grep -E '^[0-9]+% tests passed' "$log" | tail -n 1 || echo "ctest did not finish"
exit "$status"
