"""New stacks from old: other thicknesses, a layer split or inserted, thin layers removed."""

from __future__ import annotations

import numpy as np
import numpy.typing as npt

from quilmo_lab._media import MediumLike
from quilmo_lab.stack import Layer, Stack


def with_thicknesses(stack: Stack, thicknesses: npt.ArrayLike) -> Stack:
    """The same materials with `thicknesses` (nm)."""
    d = np.asarray(thicknesses, dtype=np.float64)
    layers = [Layer(layer.material, float(t), layer.coherent) for layer, t in zip(stack.layers, d)]
    return Stack(layers, incident=stack.incident, exit=stack.exit)


def insert_layer(stack: Stack, host: int, depth: float, material: MediumLike, thickness: float) -> Stack:
    """`material` of `thickness` nm put `depth` nm into layer `host` (counted from the
    incidence side of that layer), splitting it; depth 0 or the host's full thickness
    puts the new layer at one of its interfaces."""
    layers = list(stack.layers)
    old = layers[host]
    pieces = [Layer(old.material, depth, old.coherent), Layer(material, thickness),
              Layer(old.material, max(old.thickness - depth, 0.0), old.coherent)]
    layers[host:host + 1] = [p for p in pieces if p.thickness > 0.0 or p.material is material]
    return Stack(layers, incident=stack.incident, exit=stack.exit)


def merge_and_drop(stack: Stack, min_thickness: float) -> Stack:
    """Drops layers thinner than `min_thickness` nm and joins neighbours of the same
    material into one layer."""
    kept: list[Layer] = []
    for layer in stack.layers:
        if layer.thickness < min_thickness:
            continue
        if kept and kept[-1].material is layer.material and kept[-1].coherent == layer.coherent:
            kept[-1] = Layer(layer.material, kept[-1].thickness + layer.thickness, layer.coherent)
        else:
            kept.append(layer)
    return Stack(kept, incident=stack.incident, exit=stack.exit)
