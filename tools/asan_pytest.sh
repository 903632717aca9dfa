#!/usr/bin/env bash
# Builds the extension and quilmo_lab's engine with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs the whole pytest suite against them, in
# the interpreter of the virtual environment $1 (default .venv/newest). Any
# report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
venv=${1:-.venv/newest}
build=build/asan
python="$venv/bin/python"
export PATH="$PWD/$venv/bin:$PATH"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPython_EXECUTABLE="$PWD/$python" \
    -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer" \
    >"$build.configure.log" 2>&1 || { cat "$build.configure.log"; exit 1; }
cmake --build "$build" -j2 --target quilmo _engine
# quilmo_lab as an importable package: its Python sources beside the
# instrumented engine.
rm -rf "$build/site"
mkdir -p "$build/site"
cp -R python/quilmo_lab "$build/site/quilmo_lab"
cp "$build"/_engine*.so "$build/site/quilmo_lab/"

# The interpreter itself is not instrumented, so the runtime must come first;
# libstdc++ is preloaded with it because the runtime's exception interceptor
# binds __cxa_throw when it starts, before the extension would load it.
# Leak detection stays off: CPython keeps interned objects and caches alive
# until exit by design, which LeakSanitizer would report as leaks; the leak
# test of the suite checks our own memory instead. Allocation failures return
# null so that a huge copy can raise MemoryError instead of aborting.
# quarantine_size_mb=0 lets freed memory be reused so that the memory-flatness
# checks see the same reuse as without the sanitizer.
export LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)"
export ASAN_OPTIONS="detect_leaks=0:halt_on_error=1:allocator_may_return_null=1:quarantine_size_mb=0:abort_on_error=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
# Fewer rounds: every operation is several times slower here.
export QUILMO_LEAK_ITERATIONS=${QUILMO_LEAK_ITERATIONS:-5000}
export QUILMO_STRESS_ITERATIONS=${QUILMO_STRESS_ITERATIONS:-1000}
export QUILMO_FUZZ_EXAMPLES=${QUILMO_FUZZ_EXAMPLES:-300}
export PYTHONPATH="$PWD/$build:$PWD/$build/site${PYTHONPATH:+:$PYTHONPATH}"

"$python" -c "import quilmo, sys; assert quilmo.__file__.startswith('$PWD/$build'), quilmo.__file__"
"$python" -c "import quilmo_lab._engine as e; assert e.__file__.startswith('$PWD/$build/site'), e.__file__"
exec "$python" -m pytest tests -q -p no:cacheprovider -x
