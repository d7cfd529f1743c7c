#!/usr/bin/env bash
# Sets up (packages, build) and runs the whole test suite; ends with ctest's summary line.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir="$here/build"
"$here/scripts/setup.sh" "$build_dir"
cd "$build_dir"
exec ctest --output-on-failure --timeout 600 --parallel "$(( $(nproc) * 2 ))"
