"""New stacks from old: other thicknesses, a layer split or inserted, thin layers removed."""

from __future__ import annotations

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import real_vector, type_name
from quilmo_lab._media import MediumLike
from quilmo_lab.stack import Layer, Stack


def with_thicknesses(stack: Stack, thicknesses: npt.ArrayLike) -> Stack:
    """A design with the same materials and other thicknesses.

    Parameters
    ----------
    stack : Stack
        The design.
    thicknesses : array_like
        One per layer, in nm.

    Returns
    -------
    Stack

    Examples
    --------
    >>> from quilmo_lab.design import with_thicknesses
    >>> with_thicknesses(ql.Stack([ql.Layer(1.38, 80.0)], exit=1.52), [99.6])
    1 | 1.38 99.6 nm | 1.52
    """
    if not isinstance(stack, Stack):
        raise TypeError(f"stack must be a quilmo_lab.Stack; received {type_name(stack)}")
    d = real_vector("thicknesses", thicknesses, length=len(stack.layers))
    layers = [Layer(layer.material, float(t), layer.coherent) for layer, t in zip(stack.layers, d)]
    return Stack(layers, incident=stack.incident, exit=stack.exit)


def insert_layer(stack: Stack, host: int, depth: float, material: MediumLike, thickness: float) -> Stack:
    """A design with a new layer put into one of its layers, splitting it.

    Parameters
    ----------
    stack : Stack
        The design.
    host : int
        The layer split, from 0 on the incidence side.
    depth : float
        Where the new layer goes, in nm from the host's incidence side: 0 or the host's
        thickness put it at one of the host's interfaces.
    material : Material, str or complex
        The new layer's material.
    thickness : float
        The new layer's thickness in nm.

    Returns
    -------
    Stack

    Examples
    --------
    >>> from quilmo_lab.design.editing import insert_layer
    >>> insert_layer(ql.Stack([ql.Layer(1.38, 80.0)], exit=1.52), 0, 30.0, 2.3, 5.0)
    1 | 1.38 30 nm | 2.3 5 nm | 1.38 50 nm | 1.52
    """
    layers = list(stack.layers)
    old = layers[host]
    pieces = [Layer(old.material, depth, old.coherent), Layer(material, thickness),
              Layer(old.material, max(old.thickness - depth, 0.0), old.coherent)]
    layers[host:host + 1] = [p for p in pieces if p.thickness > 0.0 or p.material is material]
    return Stack(layers, incident=stack.incident, exit=stack.exit)


def merge_and_drop(stack: Stack, min_thickness: float) -> Stack:
    """A design without its thinnest layers, neighbours of the same material joined.

    Parameters
    ----------
    stack : Stack
        The design.
    min_thickness : float
        Layers thinner than this (nm) are dropped.

    Returns
    -------
    Stack

    Examples
    --------
    >>> from quilmo_lab.design.editing import merge_and_drop
    >>> low = ql.Constant(1.38)
    >>> merge_and_drop(ql.Stack([ql.Layer(low, 40.0), ql.Layer(2.3, 0.5), ql.Layer(low, 45.0)]), 1.0)
    1 | 1.38 85 nm | 1
    """
    kept: list[Layer] = []
    for layer in stack.layers:
        if layer.thickness < min_thickness:
            continue
        if kept and kept[-1].material is layer.material and kept[-1].coherent == layer.coherent:
            kept[-1] = Layer(layer.material, kept[-1].thickness + layer.thickness, layer.coherent)
        else:
            kept.append(layer)
    return Stack(kept, incident=stack.incident, exit=stack.exit)
