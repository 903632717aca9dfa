#!/usr/bin/env bash
# Builds the worker pool's C++ tests and the quilmo_lab grids' and workers' tests (the grids
# spread over pools of several sizes) with ThreadSanitizer in build/tsan-pool
# and runs them. Exits non-zero on any failing test or any report.
#   tools/tsan_pool.sh            (uses $PYTHON, else the newest CPython here)
set -euo pipefail
cd "$(dirname "$0")/.."

python=${PYTHON:-}
if [ -z "$python" ]; then
    source tools/pythons.sh
    python=$(find_newest_python)
fi
build=build/tsan-pool
mkdir -p build

echo "=== ThreadSanitizer: pool and lab grid tests ==="
# RelWithDebInfo keeps the optimiser's reorderings (what the atomics must
# survive) and gives reports with line numbers.
if ! cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DQUILMO_BUILD_TESTS=ON -DQUILMO_BUILD_BENCH=OFF \
        -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" \
        -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" \
        -DPython_EXECUTABLE="$python" >build/tsan-pool-configure.log 2>&1; then
    cat build/tsan-pool-configure.log >&2
    exit 1
fi
cmake --build "$build" -j2 --target test_pool test_pool_global test_lab_grid test_lab_anisotropic test_lab_pools

# exitcode=66 marks a report apart from a failed test; atexit_sleep_ms=0 spares
# each forked child the default one-second pause at exit.
export TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1 atexit_sleep_ms=0 ${TSAN_OPTIONS:-}"
status=0
for test in test_pool test_pool_global test_lab_grid test_lab_anisotropic test_lab_pools; do
    "$build/tests/cpp/$test" --gtest_brief=1 || { echo "FAILED under ThreadSanitizer: $test (exit $?)" >&2; status=1; }
done
exit $status
