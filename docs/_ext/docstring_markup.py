"""Keeps the notation of docstrings as written: |r|, |E|^2 are moduli, not
reStructuredText substitutions, and (*map, W) is a shape, not emphasis.

Bars, and stars that open a parenthesis, are escaped in every docstring line except
examples and literal blocks, before numpydoc reads the docstring.
"""

from __future__ import annotations

import re

from sphinx.application import Sphinx

_MARKUP = re.compile(r"(?<!\\)\||(?<=\()\*")


def escape_notation(lines: list[str]) -> None:
    literal_indent: int | None = None  # inside a literal block: the indent of the line that opened it
    in_example = False
    for i, line in enumerate(lines):
        stripped = line.strip()
        indent = len(line) - len(line.lstrip())
        if literal_indent is not None:
            if stripped and indent <= literal_indent:
                literal_indent = None
            else:
                continue
        if stripped.startswith(">>>"):
            in_example = True
        elif not stripped:
            in_example = False
        if in_example:
            continue
        # inline literals stay as they are
        parts = re.split(r"(``.*?``)", line)
        lines[i] = "".join(part if part.startswith("``") else _MARKUP.sub(lambda m: "\\" + m.group(0), part)
                           for part in parts)
        if stripped.endswith("::"):
            literal_indent = indent


def _process(app: Sphinx, what: str, name: str, obj: object, options: object, lines: list[str]) -> None:
    escape_notation(lines)


def setup(app: Sphinx) -> dict[str, object]:
    app.connect("autodoc-process-docstring", _process, priority=400)  # before numpydoc's (500)
    return {"parallel_read_safe": True, "parallel_write_safe": True}
