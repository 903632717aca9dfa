"""The ``material-library`` directive: a table of every entry of ``quilmo_lab.library``.

Each row is read from the entry itself: its name, its model, the wavelengths it covers,
its index at 550 nm where that lies in range, and its docstring (source and precision).
An entry added to the library appears in the table at the next build.
"""

from __future__ import annotations

from docutils import nodes
from docutils.statemachine import StringList
from sphinx.application import Sphinx
from sphinx.util.docutils import SphinxDirective


def _index_text(material) -> str:
    low, high = material.valid_range
    if not low <= 550.0 <= high:
        return "—"
    n = complex(material(550.0))
    return f"{n.real:.4f}" if n.imag == 0.0 else f"{n.real:.4f} + {n.imag:.4f}i"


def _cell(text: str) -> list[str]:
    return [line for line in text.replace("*", r"\*").splitlines() if line.strip()] or [""]


def library_rows() -> list[list[str]]:
    from quilmo_lab import library

    rows = []
    for name in library:
        material = library[name]
        low, high = material.valid_range
        rows.append([f"``{name}``", type(material).__name__, f"{low:g}–{high:g}", _index_text(material),
                     " ".join(_cell(material.__doc__ or ""))])
    return rows


class MaterialLibraryTable(SphinxDirective):
    has_content = False

    def run(self) -> list[nodes.Node]:
        lines = [".. list-table::", "   :header-rows: 1", "   :widths: 12 14 12 14 48", "",
                 "   * - name", "     - model", "     - range (nm)", "     - n + ik at 550 nm", "     - source"]
        for row in library_rows():
            lines.append(f"   * - {row[0]}")
            lines.extend(f"     - {cell}" for cell in row[1:])
        container = nodes.container()
        self.state.nested_parse(StringList(lines, source="quilmo_lab.library"), self.content_offset, container)
        return container.children


def setup(app: Sphinx) -> dict[str, object]:
    app.add_directive("material-library", MaterialLibraryTable)
    return {"parallel_read_safe": True, "parallel_write_safe": True}
