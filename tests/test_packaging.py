"""What the wheel installs: the one exported symbol, the files, the metadata."""

import importlib.metadata
import pathlib
import re
import shutil
import subprocess
import tomllib

import pytest

import quilmo
import quilmo_lab._engine
from installed import installed_files

ROOT = pathlib.Path(__file__).resolve().parent.parent
PYPROJECT = tomllib.loads((ROOT / "pyproject.toml").read_text())


@pytest.mark.skipif(shutil.which("nm") is None, reason="binutils' nm is not installed")
@pytest.mark.parametrize("module, init", [(quilmo, "PyInit_quilmo"), (quilmo_lab._engine, "PyInit__engine")])
def test_only_the_init_function_is_exported(module, init):
    # The version scripts hide everything else, weak C++ template instances (and
    # nanobind's own symbols) included.
    listing = subprocess.run(["nm", "-D", "--defined-only", module.__file__],
                             capture_output=True, text=True, check=True).stdout
    symbols = [line.split()[-1] for line in listing.splitlines() if line.strip()]
    assert symbols == [init], listing


@pytest.fixture(scope="module")
def files():
    found = installed_files()
    if found is None:
        pytest.skip("quilmo is imported from a build tree, not from an installed wheel")
    return found


def test_wheel_holds_the_modules_the_stubs_and_metadata(files):
    module = pathlib.Path(quilmo.__file__).name
    outside_metadata = {name for name in files if ".dist-info/" not in name}
    lab = {name for name in outside_metadata if name.startswith("quilmo_lab/")}
    assert outside_metadata - lab == {module, "quilmo-stubs/__init__.pyi"}
    sources = {"quilmo_lab/" + path.relative_to(ROOT / "python/quilmo_lab").as_posix()
               for path in (ROOT / "python/quilmo_lab").rglob("*")
               if path.is_file() and path.suffix in (".py", ".pyi", ".typed", ".json", ".yml", ".yaml")}
    engine = "quilmo_lab/" + pathlib.Path(quilmo_lab._engine.__file__).name
    assert {name for name in lab if "__pycache__" not in name} == sources | {engine}
    license_file = next(path for name, path in files.items() if name.endswith(".dist-info/licenses/LICENSE"))
    assert license_file.read_text().startswith("MIT License")


def test_metadata_answers(files):
    assert importlib.metadata.version("quilmo") == PYPROJECT["project"]["version"]
    metadata = importlib.metadata.metadata("quilmo")
    assert metadata["License-Expression"] == "MIT"
    assert metadata["Requires-Python"] == ">=3.11"
    runtime = [req for req in metadata.get_all("Requires-Dist") if "extra ==" not in req]
    assert len(runtime) == 1 and re.fullmatch(r"numpy(<3,>=1\.26|>=1\.26,<3)", runtime[0]), runtime
    classifiers = metadata.get_all("Classifier")
    versions = {c.rsplit(" ", 1)[-1] for c in classifiers if re.fullmatch(r"Programming Language :: Python :: 3\.\d+", c)}
    assert versions == {"3.11", "3.12", "3.13", "3.14"}


def test_docs_extra_pins_what_the_documentation_build_installs():
    # tools/build_docs.sh installs docs/requirements.txt; the extra adds the browser check's Selenium
    lines = (ROOT / "docs" / "requirements.txt").read_text().splitlines()
    required = [line.strip() for line in lines if line.strip() and not line.startswith("#")]
    extra = PYPROJECT["project"]["optional-dependencies"]["docs"]
    assert [r for r in extra if not r.startswith("selenium")] == required
