"""Resolves `name` references in docstrings by the object they import as.

The reference pages document each object under the name users import (``quilmo_lab.Result``),
while docstrings name it as their own module sees it (``Result.psi`` inside
``quilmo_lab.result``). A reference Sphinx cannot find by name is imported in the context it
was written in and, when that object is documented under another name, linked there. What
imports as a module, a dataclass field or another value with no page of its own (a
parameter called like a module, say) is set as code without a link; a function or class
that has no page stays unresolved, so that the nitpicky build reports it.
"""

from __future__ import annotations

import importlib
import inspect
from typing import Any

from docutils import nodes
from sphinx.addnodes import pending_xref
from sphinx.application import Sphinx
from sphinx.environment import BuildEnvironment
from sphinx.util.nodes import make_refnode

_MISSING = object()


def _import(dotted: str) -> Any:
    """The object a dotted name reaches: an attribute where there is one (a function
    shadowing a module of its name), else the module of that name or a name in it."""
    parts = dotted.split(".")
    try:
        value: Any = importlib.import_module(parts[0])
    except ImportError:
        return _MISSING
    for i, attribute in enumerate(parts[1:], start=1):
        try:
            value = inspect.getattr_static(value, attribute)  # a property itself, not its value
            continue
        except AttributeError:
            pass
        try:
            value = inspect.getattr_static(importlib.import_module(".".join(parts[:i])), attribute)
        except (ImportError, AttributeError):
            try:
                value = importlib.import_module(".".join(parts[:i + 1]))
            except ImportError:
                return _MISSING
    return value


def _documented(env: BuildEnvironment) -> dict[int, tuple[str, str, str]]:
    """id of each documented object -> (its name, its page, its anchor), built once per build."""
    table = getattr(env, "_quilmo_documented", None)
    if table is None:
        table = {}
        for name, entry in env.get_domain("py").objects.items():
            if entry.aliased:
                continue
            value = _import(name)
            if value is not _MISSING:
                table.setdefault(id(value), (name, entry.docname, entry.node_id))
        env._quilmo_documented = table  # type: ignore[attr-defined]
    return table


def _resolve(app: Sphinx, env: BuildEnvironment, node: pending_xref, contnode: nodes.Element) -> nodes.Node | None:
    if node.get("refdomain") != "py":
        return None
    target = node["reftarget"]
    module, cls = node.get("py:module"), node.get("py:class")
    prefixes = [f"{module}.{cls}"] if module and cls else []
    if module:  # the module and the packages around it
        parts = module.split(".")
        prefixes += [".".join(parts[:cut]) for cut in range(len(parts), 0, -1)]
    for prefix in [*prefixes, ""]:
        value = _import(f"{prefix}.{target}" if prefix else target)
        if value is _MISSING:
            continue
        documented = _documented(env).get(id(value))
        if documented is not None:
            name, docname, anchor = documented
            return make_refnode(app.builder, node["refdoc"], docname, anchor, contnode, name)
        if inspect.ismodule(value) or not (inspect.isclass(value) or callable(value) or isinstance(value, property)):
            return nodes.literal(node.astext(), node.astext())
        return None
    return None


def setup(app: Sphinx) -> dict[str, object]:
    app.connect("missing-reference", _resolve)
    return {"parallel_read_safe": True, "parallel_write_safe": True}
