#!/usr/bin/env bash
# Builds the list file fuzz target with clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs it for SECONDS on the seed corpus in fuzz/corpus.
# Inputs that find new paths go to BUILD_DIR/corpus; a crashing input is kept as
# BUILD_DIR/crash-*. Not part of CI.
# Usage: scripts/fuzz.sh [SECONDS] [BUILD_DIR]   (defaults: 60, build-fuzz)
set -euo pipefail

seconds=${1:-60}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${2:-"$here/build-fuzz"}

# clang, its libFuzzer and sanitizer runtimes, and the symbolizer for readable reports. The
# fuzzing build is the core alone, so nothing of Qt is needed.
packages=(clang libclang-rt-14-dev llvm-14 cmake ninja-build)
source "$here/scripts/install-packages.sh"
install_packages "${packages[@]}"

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
CXX=clang++ CC=clang cmake -S "$here" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPULSEWICK_FUZZ=ON -DPULSEWICK_BUILD_TESTS=OFF -DPULSEWICK_BUILD_BENCHMARKS=OFF "${launcher[@]}"
cmake --build "$build_dir" --target list_file_fuzzer

symbolizer=$(command -v llvm-symbolizer || command -v llvm-symbolizer-14 || true)
[ -n "$symbolizer" ] && export ASAN_SYMBOLIZER_PATH="$symbolizer"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
mkdir -p "$build_dir/corpus"
# New inputs go to the first folder only; the seeds in the tree stay as they are.
exec "$build_dir/fuzz/list_file_fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$build_dir/" "$build_dir/corpus" "$here/fuzz/corpus"
