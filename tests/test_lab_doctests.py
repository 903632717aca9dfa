"""The Examples of quilmo_lab's docstrings run as written: every module's doctests.

The examples assume `import numpy as np` and `import quilmo_lab as ql`, as the
package's documentation says. Those needing SciPy, PyYAML or colour-science are
skipped where these are not installed.
"""

import doctest
import importlib
import importlib.util
import pkgutil

import numpy as np
import pytest

import quilmo_lab

MODULES = sorted(name for _, name, _ in pkgutil.walk_packages(quilmo_lab.__path__, "quilmo_lab."))
# what the examples of a module need beyond NumPy
NEEDS = {"quilmo_lab.design": ("scipy",), "quilmo_lab.fit": ("scipy",), "quilmo_lab.colour": ("colour",),
         "quilmo_lab.materials.refractiveindex_info": ("yaml",),
         "quilmo_lab.distributed": ("dask", "distributed", "xarray", "zarr", "scipy")}


def _missing(module: str) -> str | None:
    """The first package the examples of `module` need that is not installed."""
    for prefix, packages in NEEDS.items():
        if module == prefix or module.startswith(prefix + "."):
            return next((package for package in packages if importlib.util.find_spec(package) is None), None)
    return None


@pytest.mark.parametrize("name", ["quilmo_lab", *MODULES])
def test_docstring_examples_run(name):
    missing = _missing(name)
    if missing is not None:
        pytest.skip(f"the examples of {name} need {missing}")
    if importlib.util.find_spec("colour") is not None:
        importlib.import_module("colour")  # it sets NumPy's printing to that of 1.13 when first imported
    module = importlib.import_module(name)
    finder = doctest.DocTestFinder(exclude_empty=True)
    tests = finder.find(module, name, globs={"np": np, "ql": quilmo_lab})
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE)
    with np.printoptions(legacy=False):  # the examples show NumPy's own printing
        for test in tests:
            runner.run(test)
    failed, attempted = runner.summarize(verbose=False)
    assert failed == 0, f"{failed} of {attempted} examples of {name} failed (see the output above)"


def test_every_public_name_has_examples():
    # what users read: each public function, class, method and property shows its use
    missing = []
    for name in ["quilmo_lab", *MODULES]:
        if any(part.startswith("_") for part in name.split(".")):
            continue  # implementation modules
        module = importlib.import_module(name)
        for attribute, value in vars(module).items():
            if attribute.startswith("_") or getattr(value, "__module__", None) != name:
                continue
            members = [(attribute, value)]
            if isinstance(value, type):
                members += [(f"{attribute}.{key}", member) for key, member in vars(value).items()
                            if not key.startswith("_") or key == "__call__"]
            for label, member in members:
                target = member.fget if isinstance(member, property) else member
                if callable(target) or isinstance(member, property):
                    if "Examples\n" not in (getattr(target, "__doc__", None) or ""):
                        missing.append(f"{name}.{label}")
    assert not missing, "no Examples section: " + ", ".join(missing)
