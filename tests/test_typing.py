"""The stubs shipped in the wheel, checked with mypy against the installed package."""

import pathlib
import re
import runpy
import subprocess
import sys

import pytest

from installed import installed_files

EXAMPLES = pathlib.Path(__file__).resolve().parent / "typed_examples"
ENGINE_STUB = pathlib.Path(__file__).resolve().parents[1] / "python" / "quilmo_lab" / "_engine.pyi"
USAGE, MISTAKES = EXAMPLES / "usage.py", EXAMPLES / "mistakes.py"
LAB_USAGE, LAB_MISTAKES = EXAMPLES / "lab_usage.py", EXAMPLES / "lab_mistakes.py"


@pytest.mark.parametrize("example", [USAGE, LAB_USAGE], ids=["quilmo", "quilmo_lab"])
def test_usage_example_runs(example):
    # The correct examples are also valid at run time: the types describe what works.
    runpy.run_path(str(example), run_name="usage")


@pytest.fixture(scope="module")
def mypy_run(tmp_path_factory):
    """Runs `python -m mypy ARGS` on the installed stubs; gives (exit code, output)."""
    pytest.importorskip("mypy", reason="mypy is not installed")
    files = installed_files()
    if files is None:
        pytest.skip("quilmo is imported from a build tree; the stubs come with the installed wheel")
    assert "quilmo-stubs/__init__.pyi" in files, "the wheel carries no stubs"
    cache = tmp_path_factory.mktemp("mypy-cache")
    workdir = tmp_path_factory.mktemp("mypy-cwd")  # nothing importable beside the examples

    def run(*args: str) -> tuple[int, str]:
        done = subprocess.run([sys.executable, "-m", *args], cwd=workdir, capture_output=True,
                              text=True, timeout=600)
        return done.returncode, done.stdout + done.stderr

    def mypy(*args: str) -> tuple[int, str]:
        return run("mypy", "--cache-dir", str(cache), "--python-executable", sys.executable,
                   "--no-color-output", "--show-error-codes", "--no-error-summary", *args)

    return run, mypy


def expected_errors(path: pathlib.Path) -> set[tuple[int, str]]:
    return {(number, match.group(1))
            for number, line in enumerate(path.read_text().splitlines(), start=1)
            if (match := re.search(r"# E: ([a-z-]+)$", line))}


@pytest.mark.parametrize("usage, mistakes", [(USAGE, MISTAKES), (LAB_USAGE, LAB_MISTAKES)],
                         ids=["quilmo", "quilmo_lab"])
def test_mypy_accepts_correct_use_and_reports_every_mistake(mypy_run, usage, mistakes):
    _, mypy = mypy_run
    status, output = mypy("--strict", str(usage), str(mistakes))
    errors = re.findall(r"^(.+?):(\d+): error: .*\[([a-z-]+)\]$", output, re.MULTILINE)
    assert status == 1 and errors, output
    reported = {(pathlib.Path(path).name, int(line), code) for path, line, code in errors}
    assert not {error for error in reported if error[0] == usage.name}, output
    assert {(line, code) for name, line, code in reported} == expected_errors(mistakes), output


def test_quilmo_lab_passes_mypy_strict(mypy_run):
    # The package is typed inline (py.typed) with a stub for its compiled engine.
    _, mypy = mypy_run
    status, output = mypy("--strict", "-p", "quilmo_lab")
    assert status == 0, output


def test_stubs_agree_with_the_runtime_module(mypy_run):
    # stubtest imports quilmo and compares every name, parameter and property.
    run, _ = mypy_run
    status, output = run("mypy.stubtest", "quilmo")
    assert status == 0, output


def test_engine_stub_is_what_nanobind_generates_from_the_built_module(tmp_path):
    # _engine.pyi is generated, never written by hand: a binding changed without
    # regenerating its stub fails here.
    pytest.importorskip("nanobind.stubgen", reason="nanobind is not installed")
    generated = tmp_path / "_engine.pyi"
    done = subprocess.run([sys.executable, "-m", "nanobind.stubgen", "-q", "-m", "quilmo_lab._engine",
                           "-o", str(generated)], cwd=tmp_path, capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stdout + done.stderr
    assert generated.read_text() == ENGINE_STUB.read_text(), (
        "python/quilmo_lab/_engine.pyi is stale; regenerate it with "
        "python -m nanobind.stubgen -m quilmo_lab._engine -o python/quilmo_lab/_engine.pyi")
