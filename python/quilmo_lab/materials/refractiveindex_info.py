"""Reading pages of the refractiveindex.info database from local files (nothing is downloaded).

A page is a YAML file whose DATA list holds a dispersion formula ("formula 1" to "formula 9"
with `wavelength_range` and `coefficients`) and/or tables ("tabulated n", "tabulated k",
"tabulated nk" with rows of λ, n and/or k), all with wavelengths in µm.  A formula or table for n
and a table for k combine into one material.
"""

from __future__ import annotations

import os
from pathlib import Path
from typing import Any

import numpy as np

from quilmo_lab._checks import type_name
from quilmo_lab._optional import yaml_module
from quilmo_lab.materials.base import Material, RealArray
from quilmo_lab.materials.refractiveindex_formulas import RefractiveIndexFormula
from quilmo_lab.materials.separate_nk import SeparateNK
from quilmo_lab.materials.tabulated import Tabulated

_MICROMETRE = 1e3  # nm

# The largest page read (the database's largest tables are a few MiB) and the deepest
# nesting (its pages nest three levels): beyond either, a file is not a page.
MAX_PAGE_BYTES = 32 << 20
MAX_PAGE_DEPTH = 32
DATA_TYPES = "'formula 1' to 'formula 9', 'tabulated n', 'tabulated k' or 'tabulated nk'"


def _numbers(text: object, what: str, source: str) -> RealArray:
    try:
        return np.array(str(text).split(), dtype=np.float64)
    except ValueError:
        raise ValueError(f"{source}: {what} must be numbers; received {str(text)[:60]!r}") from None


def _table(entry: dict[str, Any], columns: int, source: str) -> RealArray:
    values = _numbers(entry.get("data", ""), "tabulated data", source)
    if values.size == 0 or values.size % columns:
        raise ValueError(f"{source}: {entry['type']} must have rows of {columns} numbers; received {values.size} numbers")
    table = values.reshape(-1, columns)
    table[:, 0] *= _MICROMETRE
    return table


def _formula(entry: dict[str, Any], source: str, name: str) -> Material:
    kind = str(entry["type"])
    try:
        number = int(kind.split()[1])
    except (IndexError, ValueError):
        raise ValueError(f"{source}: the data type must be {DATA_TYPES}; received {kind!r}") from None
    span = _numbers(entry.get("wavelength_range", entry.get("range", "")), "wavelength_range", source)
    if span.size != 2:
        raise ValueError(f"{source}: {kind} must have a wavelength_range of two numbers (µm); received {span.size}")
    return RefractiveIndexFormula(number, _numbers(entry.get("coefficients", ""), "coefficients", source),
                                  valid_range=(float(span[0]) * _MICROMETRE, float(span[1]) * _MICROMETRE), name=name)


def _page_loader(yaml: Any) -> type:
    """A YAML loader of plain data that refuses anchors and aliases (whose expansion lets a
    few hundred bytes describe gigabytes) and nesting deeper than MAX_PAGE_DEPTH."""

    class PageLoader(yaml.SafeLoader):  # type: ignore[misc]
        depth = 0

        def compose_node(self, parent: Any, index: Any) -> Any:
            event = self.peek_event()
            if isinstance(event, yaml.AliasEvent) or getattr(event, "anchor", None) is not None:
                raise ValueError("YAML anchors and aliases are not part of a page; received "
                                 f"{'an alias' if isinstance(event, yaml.AliasEvent) else 'an anchor'} "
                                 f"at line {event.start_mark.line + 1}")
            self.depth += 1
            if self.depth > MAX_PAGE_DEPTH:
                raise ValueError(f"a page nests at most {MAX_PAGE_DEPTH} levels; received deeper nesting at line "
                                 f"{event.start_mark.line + 1}")
            try:
                return super().compose_node(parent, index)
            finally:
                self.depth -= 1

    return PageLoader


def _read_page(path: Path) -> Any:
    """The parsed YAML of the page at `path`; FileNotFoundError or ValueError naming it."""
    yaml = yaml_module("reading refractiveindex.info files")
    try:
        if path.is_dir():
            raise ValueError("is a directory, not a refractiveindex.info page")
        size = path.stat().st_size
        if size > MAX_PAGE_BYTES:
            raise ValueError(f"a refractiveindex.info page has at most {MAX_PAGE_BYTES >> 20} MiB; received "
                             f"{size} bytes")
        text = path.read_bytes()[:MAX_PAGE_BYTES + 1].decode("utf-8")
        loader = _page_loader(yaml)(text)
        try:
            return loader.get_single_data()
        finally:
            loader.dispose()
    except FileNotFoundError:
        raise FileNotFoundError(f"no refractiveindex.info page at {path}") from None
    except UnicodeDecodeError as error:
        raise ValueError(f"{path}: a refractiveindex.info page must be UTF-8 text; received byte "
                         f"{error.object[error.start]:#04x} at offset {error.start}") from None
    except yaml.YAMLError as error:
        raise ValueError(f"{path}: not a YAML page: {' '.join(str(error).split())}") from None
    except RecursionError:
        raise ValueError(f"{path}: a page nests at most {MAX_PAGE_DEPTH} levels; received deeper nesting") from None
    except (ValueError, OSError) as error:
        raise ValueError(f"{path}: {error}") from None


def material_from_page(page: dict[str, Any], *, name: str, source: str = "<page>",
                       interpolation: str = "linear") -> Material:
    """The material an already-parsed refractiveindex.info page describes.

    Parameters
    ----------
    page : dict
        The page as a YAML reader gives it, with its DATA list.
    name : str
        The name of the material.
    source : str, optional
        Where the page came from, for errors.
    interpolation : {"linear", "cubic"}, optional
        How tables are interpolated.

    Returns
    -------
    Material
        A `RefractiveIndexFormula`, a `Tabulated` or, for n and k from two entries, a
        `SeparateNK`.

    Raises
    ------
    ValueError
        For a page without data, an unknown data type or malformed numbers.

    Examples
    --------
    >>> from quilmo_lab.materials import material_from_page
    >>> page = {"DATA": [{"type": "tabulated nk", "data": "0.4 1.50 0.01\\n0.6 1.48 0.0"}]}
    >>> film = material_from_page(page, name="film")
    >>> print(film(500.0))
    (1.49+0.005j)
    """
    if not isinstance(page, dict) or not isinstance(page.get("DATA"), list) or not page["DATA"]:
        raise ValueError(f"{source}: a refractiveindex.info page must have a non-empty DATA list; received "
                         f"{'a page without one' if isinstance(page, dict) else type_name(page)}")
    real_part: Material | None = None
    imaginary_part: Material | None = None
    for entry in page["DATA"]:
        kind = str(entry.get("type", "")) if isinstance(entry, dict) else ""
        if kind.startswith("formula"):
            real_part = _formula(entry, source, name)
        elif kind == "tabulated nk":
            table = _table(entry, 3, source)
            real_part = imaginary_part = Tabulated(table[:, 0], table[:, 1], table[:, 2],
                                                   interpolation=interpolation, name=name)
        elif kind == "tabulated n":
            table = _table(entry, 2, source)
            real_part = Tabulated(table[:, 0], table[:, 1], interpolation=interpolation, name=name)
        elif kind == "tabulated k":
            table = _table(entry, 2, source)
            imaginary_part = Tabulated(table[:, 0], np.zeros(len(table)), table[:, 1],
                                       interpolation=interpolation, name=name)
        else:
            raise ValueError(f"{source}: the data type must be {DATA_TYPES}; received {kind!r}")
    if real_part is None:
        raise ValueError(f"{source}: the page must give n (a formula, tabulated n or tabulated nk); "
                         "received tabulated k only")
    if imaginary_part is None or imaginary_part is real_part:
        return real_part
    return SeparateNK(real_part, imaginary_part, name=name)


def read_refractiveindex_info(path: str | os.PathLike[str], *, name: str | None = None,
                              interpolation: str = "linear") -> Material:
    """The material of one refractiveindex.info YAML file.

    Parameters
    ----------
    path : str or os.PathLike
        The file.
    name : str, optional
        The name of the material (default: the file's stem).
    interpolation : {"linear", "cubic"}, optional
        How tables are interpolated.

    Returns
    -------
    Material

    Raises
    ------
    ImportError
        Without PyYAML (``pip install "quilmo[materials]"``).
    FileNotFoundError
        Where the file does not exist.
    ValueError
        For a file that cannot be read as a page (a directory, not UTF-8, not YAML, larger
        than 32 MiB, nested deeper than 32 levels, with YAML anchors or aliases) or a
        malformed page; the message names the file.

    See Also
    --------
    load_from_database : A page of a local copy of the database by shelf, book and page.

    Examples
    --------
    >>> import pathlib, tempfile
    >>> path = pathlib.Path(tempfile.mkdtemp()) / "MgF2.yml"
    >>> _ = path.write_text("DATA:\\n  - type: formula 1\\n    wavelength_range: 0.2 7.0\\n"
    ...                     "    coefficients: 0 0.48755108 0.04338408 0.39875031 0.09461442 2.3120353 23.793604\\n")
    >>> glass = ql.read_refractiveindex_info(path)
    >>> glass.name, round(float(glass(550.0).real), 4)
    ('MgF2', 1.3785)
    """
    path = Path(os.fspath(path))
    page = _read_page(path)
    return material_from_page(page, name=name if name is not None else path.stem, source=str(path),
                              interpolation=interpolation)


def load_from_database(root: str | os.PathLike[str], shelf: str, book: str | None = None, page: str | None = None, *,
                       name: str | None = None, interpolation: str = "linear") -> Material:
    """The material of a page of a local copy of the refractiveindex.info database.

    Nothing is downloaded: `root` is a copy of the database on disk.

    Parameters
    ----------
    root : str or os.PathLike
        The database's folder.
    shelf : str
        The shelf ("main"), or the page's whole relative path ("main/Ag/Rakic-LD").
    book, page : str, optional
        The book ("Ag") and page ("Rakic-LD").
    name : str, optional
        The name of the material (default: "book (page)").
    interpolation : {"linear", "cubic"}, optional
        How tables are interpolated.

    Returns
    -------
    Material

    Raises
    ------
    FileNotFoundError
        Where no such page is found; the message lists the paths tried.
    ValueError
        For a page outside `root` (``"../x"``, an absolute path, a link leading out) or a
        file that is not a page (see `read_refractiveindex_info`).

    Notes
    -----
    The older ``data/`` and the newer ``data-nk/`` layouts are searched, and `root` itself.

    Examples
    --------
    >>> import pathlib, tempfile
    >>> root = pathlib.Path(tempfile.mkdtemp())
    >>> (root / "data" / "main" / "MgF2").mkdir(parents=True)
    >>> _ = (root / "data" / "main" / "MgF2" / "Dodge-o.yml").write_text(
    ...     "DATA:\\n  - type: formula 1\\n    wavelength_range: 0.2 7.0\\n"
    ...     "    coefficients: 0 0.48755108 0.04338408 0.39875031 0.09461442 2.3120353 23.793604\\n")
    >>> ql.load_from_database(root, "main", "MgF2", "Dodge-o").name
    'MgF2 (Dodge-o)'
    """
    root = Path(os.fspath(root))
    relative = Path(shelf) if book is None and page is None else Path(shelf, book or "", page or "")
    if relative.suffix != ".yml":
        relative = relative.with_name(relative.name + ".yml")
    parts = relative.parts
    candidates = [root / base / relative for base in ("data-nk", "data", ".")]
    if len(parts) >= 2:  # newer layout: shelf/book/nk/page.yml
        candidates.append(root / "data" / Path(*parts[:-1]) / "nk" / parts[-1])
    inside = root.resolve()
    for candidate in candidates:
        if not candidate.resolve().is_relative_to(inside):
            raise ValueError(f"the page {relative} must lie inside the database at {root}; received a path "
                             f"that leads to {candidate.resolve()}")
        if candidate.is_file():
            default = f"{parts[-2]} ({Path(parts[-1]).stem})" if len(parts) >= 2 else Path(parts[-1]).stem
            return read_refractiveindex_info(candidate, name=name if name is not None else default,
                                             interpolation=interpolation)
    tried = ", ".join(str(candidate) for candidate in candidates)
    raise FileNotFoundError(f"no refractiveindex.info page {relative} under {root} (tried {tried})")
