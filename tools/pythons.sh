# Locates interpreters for the test and demo legs. Sourced, not run.

# Prints the path of a working CPython $1 (e.g. 3.13), or nothing.
find_python() {
    local version=$1 candidate pyroot
    pyroot=$(pyenv root 2>/dev/null || echo "$HOME/.pyenv")
    for candidate in $(ls -d "$pyroot"/versions/"$version".*/bin/python 2>/dev/null | sort -V -r) \
                     "$(command -v "python$version" 2>/dev/null)"; do
        if [ -n "$candidate" ] && "$candidate" -c 'import sys' >/dev/null 2>&1; then
            echo "$candidate"
            return
        fi
    done
}

# Prints the newest CPython from 3.14 down to 3.12, or nothing.
find_newest_python() {
    local version found
    for version in 3.14 3.13 3.12; do
        found=$(find_python "$version")
        if [ -n "$found" ]; then
            echo "$found"
            return
        fi
    done
}

# Creates (or reuses) the virtual environment $1 from interpreter $2 and
# installs quilmo into it with the pip requirements that follow.
prepare_venv() {
    local venv=$1 python=$2
    shift 2
    if [ ! -x "$venv/bin/python" ]; then
        "$python" -m venv "$venv"
    fi
    "$venv/bin/python" -m pip install --quiet --disable-pip-version-check \
        scikit-build-core cmake ninja nanobind "$@"
    "$venv/bin/python" -m pip install --quiet --disable-pip-version-check \
        --no-build-isolation --no-deps .
}
