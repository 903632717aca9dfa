#!/usr/bin/env bash
# Sets up and runs every test of quilmo:
#   1. pytest on the newest CPython here with the newest NumPy 2.x,
#   2. pytest on CPython 3.11 with NumPy 1.26,
#   3. the C++ unit tests (GoogleTest through CTest) and a quick run of the
#      C++ benchmarks,
#   4. the pytest suite against an AddressSanitizer + UBSan build,
#   5. the pool's C++ tests under ThreadSanitizer,
#   6. the kernel and pool C++ tests under valgrind memcheck,
#   7. the documentation: built with warnings as errors and its doctests
#      (tools/build_docs.sh), its API pages compared with __all__, and every
#      page checked in headless Chromium (tools/check_docs_browser.py).
# Each leg gets its own virtual environment under .venv/. Exits non-zero when
# any test fails.
set -uo pipefail
cd "$(dirname "$0")/.."
source tools/pythons.sh

failures=()
TEST_REQUIREMENTS=(pytest hypothesis mypy "dask[array]>=2024.12" "distributed>=2024.12" tmm "xarray>=2025.1" "zarr>=3"
                   scipy pyyaml colour-science pyElli refnx PyMoosh)

# what the documentation leg needs beyond docs/requirements.txt
DOCS_CHECK_REQUIREMENTS=(pytest "selenium==4.51.0")

run_pytest_leg() {
    local name=$1 python=$2 numpy=$3
    echo "=== pytest: $name ($("$python" --version 2>&1), $numpy) ==="
    if ! prepare_venv ".venv/$name" "$python" "$numpy" "${TEST_REQUIREMENTS[@]}"; then
        failures+=("$name: setup")
        return
    fi
    # Optional: the coverage-guided fuzz target needs atheris, which has no
    # wheels for every interpreter; its test skips without it.
    .venv/"$name"/bin/python -m pip install --quiet --disable-pip-version-check atheris >/dev/null 2>&1 ||
        echo "atheris does not install here: the atheris fuzz test is skipped"
    .venv/"$name"/bin/python -m pytest tests -q -p no:cacheprovider
    local status=$?
    # 5 means that pytest collected nothing: not a failure of the code.
    if [ $status -ne 0 ] && [ $status -ne 5 ]; then
        failures+=("$name: pytest")
    fi
}

newest=$(find_newest_python)
py311=$(find_python 3.11)
if [ -z "$newest" ] || [ -z "$py311" ]; then
    echo "need CPython 3.11 and one of 3.12-3.14 (found: '${newest}' '${py311}')" >&2
    exit 1
fi

run_pytest_leg newest "$newest" "numpy>=2"
run_pytest_leg py311-numpy1 "$py311" "numpy==1.26.*"

echo "=== C++ unit tests ==="
mkdir -p build
# cmake and ninja as installed in the newest leg's environment.
export PATH="$PWD/.venv/newest/bin:$PATH"
if [ ! -f /usr/include/gtest/gtest.h ] && [ "$(id -u)" = 0 ]; then
    (apt-get update -qq && apt-get install -y -qq libgtest-dev) >/dev/null 2>&1 ||
        echo "could not install libgtest-dev" >&2
fi
if [ -f /usr/include/gtest/gtest.h ]; then
    if cmake -S . -B build/cpp -G Ninja -DQUILMO_BUILD_TESTS=ON -DQUILMO_BUILD_BENCH=ON \
            -DPython_EXECUTABLE="$PWD/.venv/newest/bin/python" >build/cpp-configure.log 2>&1 ||
       { cat build/cpp-configure.log; false; }; then
        if cmake --build build/cpp -j2; then
            ctest --test-dir build/cpp --output-on-failure -j2 || failures+=("C++ tests")
            echo "=== C++ benchmarks, quick mode ==="
            for bench in kernel pool simulate_flow; do
                build/cpp/bench/bench_$bench --quick || failures+=("bench $bench")
            done
            bash tools/valgrind_cpp.sh build/cpp || failures+=("valgrind")
        else
            failures+=("C++ build")
        fi
    else
        failures+=("C++ configure")
    fi
else
    echo "SKIPPED: GoogleTest is not installed and cannot be installed without root;" \
         "install libgtest-dev to run the C++ unit tests" >&2
fi

echo "=== pytest under AddressSanitizer + UBSan ==="
bash tools/asan_pytest.sh .venv/newest || failures+=("AddressSanitizer pytest")
PYTHON="$PWD/.venv/newest/bin/python" bash tools/tsan_pool.sh || failures+=("ThreadSanitizer pool tests")

echo "=== documentation: build, API pages, headless Chromium ==="
docs_start=$(date +%s)
if { [ ! -x /usr/bin/chromium ] || [ ! -x /usr/bin/chromedriver ]; } && [ "$(id -u)" = 0 ]; then
    (apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq chromium chromium-driver) \
        >/dev/null 2>&1 || echo "could not install chromium and chromium-driver" >&2
fi
if bash tools/build_docs.sh; then
    .venv/docs/bin/python -m pip install --quiet --disable-pip-version-check "${DOCS_CHECK_REQUIREMENTS[@]}"
    QUILMO_DOCS_HTML="$PWD/docs/_build/html" .venv/docs/bin/python -m pytest tests/test_docs_api.py -q \
        -p no:cacheprovider || failures+=("documentation: API pages")
    if [ -x /usr/bin/chromium ] && [ -x /usr/bin/chromedriver ]; then
        .venv/docs/bin/python tools/check_docs_browser.py || failures+=("documentation: browser check")
    else
        echo "SKIPPED: Chromium is not installed and cannot be installed without root;" \
             "install chromium and chromium-driver to check the documentation in a browser" >&2
    fi
else
    failures+=("documentation build")
fi
echo "documentation leg: $(( $(date +%s) - docs_start )) s"

if [ ${#failures[@]} -ne 0 ]; then
    printf 'FAILED: %s\n' "${failures[@]}" >&2
    exit 1
fi
echo "all test legs passed"
