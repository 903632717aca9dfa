#!/usr/bin/env bash
# Runs the plain C++ unit tests (kernel and pool) under valgrind memcheck;
# any memory error or definite leak fails the run. Expects the tests built in
# the build directory $1 (default build/cpp, as tools/run_tests.sh leaves it).
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/cpp}

if ! command -v valgrind >/dev/null; then
    if [ "$(id -u)" = 0 ]; then
        (apt-get update -qq && apt-get install -y -qq valgrind) >/dev/null 2>&1
    fi
fi
if ! command -v valgrind >/dev/null; then
    echo "SKIPPED: valgrind is not installed" >&2
    exit 0
fi

echo "=== valgrind memcheck: C++ unit tests ==="
status=0
for test in test_optics_complex test_optics_stack test_optics_power test_pool test_pool_global; do
    binary="$build/tests/cpp/$test"
    if [ ! -x "$binary" ]; then
        echo "missing $binary" >&2
        status=1
        continue
    fi
    # Forked children (environment parsing cases) are traced too.
    if valgrind --tool=memcheck --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
            --trace-children=yes --quiet "$binary" --gtest_brief=1 >"build/valgrind-$test.log" 2>&1; then
        echo "$test: clean"
    else
        echo "$test: FAILED under valgrind (log below)" >&2
        tail -50 "build/valgrind-$test.log" >&2
        status=1
    fi
done
exit $status
