#!/usr/bin/env bash
# Builds the suite with a sanitizer in a folder of its own and runs it; ends with ctest's summary line.
# Usage: scripts/sanitize.sh asan|tsan [BUILD_DIR]   (default: build-asan or build-tsan)
#   asan: AddressSanitizer (with LeakSanitizer) and UndefinedBehaviorSanitizer, the whole suite.
#   tsan: ThreadSanitizer, the core, alerts and cli tests.
# Any report fails its test; reports that lie wholly inside system libraries (Qt, glib,
# PulseAudio, ...) are suppressed by the files in tests/sanitizers, never one with a frame of ours.
# Needs the packages scripts/setup.sh installs.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
flavour=${1:-}
supp="$here/tests/sanitizers"
# Optimised a little, so that the slow tests stay within their margins, but with whole stacks.
# The sanitizers' instrumentation makes GCC's flow analysis warn falsely about uninitialised
# values (in the standard library's own headers too): that warning is left to the normal build.
common_flags="-O1 -g -fno-omit-frame-pointer -Wno-maybe-uninitialized"

case "$flavour" in
asan)
    sanitizers="address,undefined"
    flags="$common_flags -fno-sanitize-recover=undefined"
    labels="" # every test
    # Labels this flavour leaves out (see the comment where a test gets one).
    skip_label="no-asan"
    export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:strict_init_order=1"
    export LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:suppressions=$supp/ubsan.supp"
    ;;
tsan)
    sanitizers="thread"
    flags="$common_flags"
    labels="core|alerts|cli"
    skip_label="no-tsan"
    export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$supp/tsan.supp:print_suppressions=0"
    ;;
*)
    echo "usage: $0 asan|tsan [BUILD_DIR]" >&2
    exit 2
    ;;
esac
build_dir=${2:-"$here/build-$flavour"}

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

echo "== Configuring in $build_dir ($flavour)"
cmake -S "$here" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPULSEWICK_BUILD_BENCHMARKS=OFF \
    -DCMAKE_CXX_FLAGS="$flags -fsanitize=$sanitizers" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=$sanitizers" -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=$sanitizers" \
    -DCMAKE_MODULE_LINKER_FLAGS="-fsanitize=$sanitizers" \
    "${launcher[@]}"

cd "$build_dir"
# Only the executables of the tests this flavour runs (a test's name starts with its executable's).
select=(-LE "$skip_label")
[ -n "$labels" ] && select+=(-L "$labels")
mapfile -t targets < <(ctest -N "${select[@]}" | sed -n 's/^ *Test *#[0-9]*: \([^.]*\).*/\1/p' | sort -u)
if [ "$flavour" = asan ]; then
    targets=(all) # the install test installs everything
fi
echo "== Building ${targets[*]}"
cmake --build . --parallel "$(nproc)" --target "${targets[@]}"

echo "== Running the $flavour tests"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
ctest --output-on-failure --timeout 900 --parallel "$(nproc)" "${select[@]}" 2>&1 | tee "$log" ||
    status=$?
echo
grep -E '^[0-9]+% tests passed' "$log" | tail -n 1 || echo "ctest did not finish"
exit "$status"
