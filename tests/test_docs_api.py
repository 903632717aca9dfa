"""Every public name of quilmo and quilmo_lab has a page in the built API reference.

Runs against a built site: QUILMO_DOCS_HTML names its folder (tools/run_tests.sh sets it
after `bash tools/build_docs.sh`); skipped without it. The names are those of ``__all__``
of quilmo, quilmo_lab and each public submodule that has one, and the public functions
and classes every other public submodule defines. Each must be an object of the site's
inventory, under its own name or another name of the same object, and each name of an
``__all__`` must be linked from its module's page.
"""

import importlib
import inspect
import os
import pkgutil
import re
import zlib
from pathlib import Path

import pytest

import quilmo
import quilmo_lab

SITE = os.environ.get("QUILMO_DOCS_HTML")
pytestmark = pytest.mark.skipif(not SITE, reason="QUILMO_DOCS_HTML does not name a built documentation site")


def inventory(site: Path) -> dict[str, str]:
    """Python objects of the site's objects.inv: name -> page (with anchor)."""
    with open(site / "objects.inv", "rb") as file:
        for _ in range(4):  # the header lines
            file.readline()
        lines = zlib.decompress(file.read()).decode().splitlines()
    objects = {}
    for line in lines:
        match = re.match(r"(\S+)\s+py:\w+\s+-?\d+\s+(\S*)", line)
        if match:
            name, uri = match.groups()
            objects[name] = uri.replace("$", name)
    return objects


def reached(dotted: str):
    """The object `dotted` names: an attribute where there is one (a function shadowing a
    module of its name), else the module of that name (for the module's own names)."""
    parts = dotted.split(".")
    value = importlib.import_module(parts[0])
    for i, attribute in enumerate(parts[1:], start=1):
        try:
            value = inspect.getattr_static(value, attribute)
            continue
        except AttributeError:
            pass
        try:
            value = inspect.getattr_static(importlib.import_module(".".join(parts[:i])), attribute)
        except (ImportError, AttributeError):
            value = importlib.import_module(".".join(parts[:i + 1]))
    return value


def public_modules():
    names = [name for _, name, _ in pkgutil.walk_packages(quilmo_lab.__path__, "quilmo_lab.")]
    return [quilmo, quilmo_lab] + [importlib.import_module(name) for name in sorted(names)
                                   if not any(part.startswith("_") for part in name.split("."))]


@pytest.fixture(scope="module")
def site():
    return Path(SITE)


@pytest.fixture(scope="module")
def documented(site):
    objects = inventory(site)
    by_identity = {}
    for name, uri in objects.items():
        by_identity.setdefault(id(reached(name)), uri)
    return by_identity


def test_every_public_name_has_a_page(documented):
    missing = []
    for module in public_modules():
        if hasattr(module, "__all__"):
            names = module.__all__
        else:
            names = [name for name, value in vars(module).items() if not name.startswith("_")
                     and getattr(value, "__module__", None) == module.__name__
                     and (inspect.isclass(value) or inspect.isfunction(value))]
        missing += [f"{module.__name__}.{name}" for name in names if id(getattr(module, name)) not in documented]
    assert not missing, "no page in the API reference: " + ", ".join(missing)


@pytest.mark.parametrize("module", [m for m in public_modules() if hasattr(m, "__all__")], ids=lambda m: m.__name__)
def test_module_page_links_every_name_of_all(site, documented, module):
    page = site / "api" / ("quilmo.html" if module is quilmo else f"modules/{module.__name__}.html")
    html = page.read_text(encoding="utf-8")
    unlinked = []
    for name in module.__all__:
        uri = documented[id(getattr(module, name))]
        target = os.path.relpath(site / uri.partition("#")[0], page.parent)
        anchor = uri.partition("#")[2]
        if f'href="{target}#{anchor}"' not in html and f'href="#{anchor}"' not in html and \
                f'href="{target}"' not in html:
            unlinked.append(name)
    assert not unlinked, f"{page.name} does not link: " + ", ".join(unlinked)
