"""How a grid of (stack, angle, wavelength) points is cut into tasks."""

from __future__ import annotations

import math
from collections.abc import Mapping

from quilmo_lab._checks import type_name, whole_number

# Points (stack x angle x wavelength) per task by default: about a second of one engine
# thread, so that the scheduler's few milliseconds per task stay well under 1 %, while
# 10^4 stacks of 1000 wavelengths still make 8 tasks, several per worker.
POINTS_PER_TASK = 1_250_000
# A single stack wider than this many (angle x wavelength) points is cut along its wavelengths.
WIDEST_ROW = 10_000


def blocks(total: int, size: int) -> tuple[int, ...]:
    """`total` cut into blocks of `size`, the last one shorter (Dask's chunk tuple)."""
    if total == 0:
        return (0,)
    full, rest = divmod(total, size)
    return (size,) * full + ((rest,) if rest else ())


def offsets(sizes: tuple[int, ...]) -> list[tuple[int, int]]:
    """The (start, stop) of each block."""
    out, start = [], 0
    for size in sizes:
        out.append((start, start + size))
        start += size
    return out


def plan(stacks: int, angles: int, wavelengths: int, chunks: object) -> tuple[tuple[int, ...], tuple[int, ...]]:
    """The block sizes along the stack and wavelength axes of a solve.

    `chunks` is None (the default plan), an int (stacks per task, all wavelengths at
    once), a pair (stacks, wavelengths) or a mapping with the keys "stack" and
    "wavelength" (either may be left out: all of that axis).
    """
    if chunks is None:
        wavelength_blocks = max(1, math.ceil(angles * wavelengths / WIDEST_ROW))
        width = max(1, math.ceil(wavelengths / wavelength_blocks))
        depth = max(1, POINTS_PER_TASK // (angles * width))
    elif isinstance(chunks, Mapping):
        unknown = set(chunks) - {"stack", "wavelength"}
        if unknown:
            raise ValueError(f"chunks must have the keys 'stack' and 'wavelength'; received {sorted(unknown)}")
        depth = whole_number("chunks['stack']", chunks.get("stack", max(stacks, 1)), minimum=1)
        width = whole_number("chunks['wavelength']", chunks.get("wavelength", max(wavelengths, 1)), minimum=1)
    elif isinstance(chunks, tuple):
        if len(chunks) != 2:
            raise ValueError(f"chunks must be a pair (stacks, wavelengths); received {len(chunks)} entries")
        depth = whole_number("chunks[0]", chunks[0], minimum=1)
        width = whole_number("chunks[1]", chunks[1], minimum=1)
    elif isinstance(chunks, int) and not isinstance(chunks, bool):
        depth, width = whole_number("chunks", chunks, minimum=1), max(wavelengths, 1)
    else:
        raise TypeError("chunks must be None, an int, a pair (stacks, wavelengths) or a mapping; "
                        f"received {type_name(chunks)}")
    return blocks(stacks, min(depth, max(stacks, 1))), blocks(wavelengths, min(width, max(wavelengths, 1)))
