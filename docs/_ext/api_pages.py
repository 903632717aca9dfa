"""Writes the API reference's namespace pages from the packages themselves.

A namespace is `quilmo_lab`, each of its public submodules that declares ``__all__``, and
each public submodule that defines public names no such ``__all__`` exports (helpers of
the design and fitting modules). Its page lists its names in autosummary tables: the
names documented there (each object once, in the first namespace that exports it) with
pages of their own, and the names it shares with an earlier namespace as links to those.
A new public module, or a new name in an ``__all__``, needs no edit here.
"""

from __future__ import annotations

import importlib
import inspect
import pkgutil
import types
from collections.abc import Iterator
from dataclasses import dataclass, field
from pathlib import Path

from docstring_markup import escape_notation

ROOT = "quilmo_lab"


@dataclass
class Namespace:
    name: str
    summary: str
    own: list[str] = field(default_factory=list)  # documented on this page
    shared: list[str] = field(default_factory=list)  # full names documented on another page


def public_modules(root: str = ROOT) -> list[str]:
    """`root` and its submodules without a leading underscore in any part of their names."""
    package = importlib.import_module(root)
    names = [name for _, name, _ in pkgutil.walk_packages(package.__path__, root + ".")]
    return [root] + sorted(name for name in names if not any(part.startswith("_") for part in name.split(".")))


def public_names(module: types.ModuleType) -> list[str]:
    """``__all__``, or else the public functions and classes the module defines itself."""
    if hasattr(module, "__all__"):
        return list(module.__all__)
    return [name for name, value in vars(module).items()
            if not name.startswith("_") and getattr(value, "__module__", None) == module.__name__
            and (inspect.isclass(value) or inspect.isfunction(value))]


def namespaces(root: str = ROOT) -> list[Namespace]:
    modules = [importlib.import_module(name) for name in public_modules(root)]
    documented: dict[int, str] = {}  # id of an object -> its full documented name
    pages = []
    # modules with __all__ first, so that an object's page is under the name users import
    for module in sorted(modules, key=lambda m: not hasattr(m, "__all__")):
        names = sorted(public_names(module), key=str.lower)
        if not hasattr(module, "__all__") and all(id(getattr(module, n)) in documented for n in names):
            continue  # an implementation module whose names are all documented elsewhere
        summary = [(inspect.getdoc(module) or "").split("\n\n")[0].replace("\n", " ")]
        escape_notation(summary)  # |r| and (*shape) kept as written, as in the docstrings of objects
        page = Namespace(module.__name__, summary[0])
        for name in names:
            value = getattr(module, name)
            if isinstance(value, types.ModuleType):
                continue  # a subpackage: a namespace of its own
            if id(value) in documented:
                page.shared.append(documented[id(value)])
            else:
                documented[id(value)] = f"{module.__name__}.{name}"
                page.own.append(name)
        pages.append(page)
    return sorted(pages, key=lambda page: page.name)


def _lines(page: Namespace, modules: list[str]) -> Iterator[str]:
    yield page.name
    yield "=" * len(page.name)
    yield ""
    yield f".. module:: {page.name}"
    parent, _, leaf = page.name.rpartition(".")
    if parent and not isinstance(getattr(importlib.import_module(parent), leaf), types.ModuleType):
        # a module shadowed by a function of its own name (quilmo_lab.design.tolerance):
        # the function keeps the name in the index
        yield "   :no-index:"
    yield ""
    yield page.summary
    yield ""
    submodules = [name for name in modules if name.rpartition(".")[0] == page.name]
    if page.own:
        yield ".. autosummary::"
        yield "   :toctree: ../objects"
        yield ""
        yield from (f"   {name}" for name in page.own)
        yield ""
    if page.shared:
        yield "Also here, documented with the namespace that exports them first:"
        yield ""
        yield ".. autosummary::"
        yield ""
        yield from (f"   {name}" for name in page.shared)
        yield ""
    if submodules:
        yield "Submodules: " + ", ".join(f":doc:`{name}`" for name in submodules) + "."
        yield ""


def write_pages(folder: Path, root: str = ROOT) -> list[str]:
    """Writes one page per namespace into `folder`/modules; returns their names.

    Pages whose text is unchanged are left alone, so that Sphinx does not read them again.
    The pages of single objects are written by autosummary into `folder`/objects; pages
    there and in `folder`/modules of names no longer in the packages are removed.
    """
    pages = namespaces(root)
    modules = [page.name for page in pages]
    wanted = {"modules": {f"{name}.rst" for name in modules},
              "objects": {f"{page.name}.{name}.rst" for page in pages for name in page.own}}
    for sub, names in wanted.items():
        (folder / sub).mkdir(parents=True, exist_ok=True)
        for old in (folder / sub).glob("*.rst"):
            if old.name not in names:
                old.unlink()
    for page in pages:
        text = "\n".join(_lines(page, modules)) + "\n"
        path = folder / "modules" / f"{page.name}.rst"
        if not path.exists() or path.read_text(encoding="utf-8") != text:
            path.write_text(text, encoding="utf-8")
    return modules
