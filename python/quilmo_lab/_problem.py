"""The problem every front solves, taken from a Stack or from arrays.

Each front (solve, profile, dispersion, and those to come) is called in one of two forms::

    front(stack, wavelengths, <the front's parameters>, *, thicknesses=None, <options>)
    front(indices, thicknesses, wavelengths, <the front's parameters>, *, <options>)

`read_problem` binds a call to the form its first argument asks for and returns the
checked grid in the layout of the engine, with the front's other arguments. A Stack
gives its materials' indices at the wavelengths, its thicknesses (or the batch given
as `thicknesses`) and its layers' coherence (unless `coherent` is given).
"""

from __future__ import annotations

from collections.abc import Mapping
from dataclasses import dataclass, field
from typing import Any, TypeVar

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import (axis, batch_size, coherence_mask, incidence_angles, index_array,
                                result_array, roughness_array, roughness_model, thickness_array, thread_count,
                                type_name)
from quilmo_lab.stack import Stack

Scalar = TypeVar("Scalar", bound=np.generic)

FloatArray = npt.NDArray[np.float64]
ComplexArray = npt.NDArray[np.complex128]
BoolArray = npt.NDArray[np.bool_]

# The default of a parameter that has none.
REQUIRED = object()


class Signature:
    """One form of a front: its positional-or-keyword parameters, then its keyword-only ones,
    each a (name, default) pair with REQUIRED where there is no default."""

    def __init__(self, front: str, positional: tuple[tuple[str, object], ...],
                 keyword_only: tuple[tuple[str, object], ...]) -> None:
        self.front = front
        self.positional = tuple(name for name, _ in positional)
        self.defaults = dict((*positional, *keyword_only))

    def bind(self, args: tuple[object, ...], kwargs: Mapping[str, object]) -> dict[str, object]:
        """Every parameter's value in this call, defaults filled in; a TypeError where the
        call does not fit the signature."""
        if len(args) > len(self.positional):
            raise TypeError(f"{self.front}() takes at most {len(self.positional)} positional arguments; "
                            f"received {len(args)}")
        values = dict(zip(self.positional, args))
        for name, value in kwargs.items():
            if name not in self.defaults:
                raise TypeError(f"{self.front}() takes the arguments {', '.join(self.defaults)}; received the "
                                f"unknown keyword argument {name!r}")
            if name in values:
                raise TypeError(f"{self.front}() takes {name!r} once; received it by position and by keyword")
            values[name] = value
        for name, default in self.defaults.items():
            if name not in values:
                if default is REQUIRED:
                    raise TypeError(f"{self.front}() needs the argument {name!r}; received none")
                values[name] = default
        return values


@dataclass(frozen=True)
class Form:
    """A front's parameters beyond its problem.

    parameters: positional-or-keyword (name, default) pairs after the wavelengths, the
    front's angle of incidence first (REQUIRED where there is no default); options:
    keyword-only (name, default) pairs of both forms, array_options those of the array
    form only. one_angle: the front takes a single angle. complex_angles: the front takes
    complex angles of incidence (a lossy incidence medium's).
    """

    front: str
    parameters: tuple[tuple[str, object], ...]
    options: tuple[tuple[str, object], ...]
    array_options: tuple[tuple[str, object], ...] = ()
    one_angle: bool = False
    complex_angles: bool = True
    # the array form's signature and the stack form's, built once
    signatures: tuple[Signature, Signature] = field(init=False, repr=False, compare=False)

    def __post_init__(self) -> None:
        arrays = Signature(self.front, (("indices", REQUIRED), ("thicknesses", REQUIRED), ("wavelengths", REQUIRED),
                                         *self.parameters), (*self.options, *self.array_options))
        stack = Signature(self.front, (("stack", REQUIRED), ("wavelengths", REQUIRED), *self.parameters),
                           (("thicknesses", None), *self.options))
        object.__setattr__(self, "signatures", (arrays, stack))

    @property
    def angle(self) -> str:
        """The name of the front's angle parameter."""
        return self.parameters[0][0]


@dataclass(slots=True)
class GridProblem:
    """The checked arguments of one front call in the engine's layout, owned: no caller's array
    shares memory with them."""

    indices: ComplexArray            # (1 or B, media, 1 or W)
    thicknesses: FloatArray          # (1 or B, media - 2)
    wavelengths: FloatArray          # (W,)
    angles: npt.NDArray[Any]         # (A,) float64, or complex128 for complex angles
    stacks: int                      # B
    batch: bool                      # thicknesses or indices were given as a batch of stacks
    coherent: BoolArray | None       # one flag per inner layer; None where every layer is coherent
    threads: int                     # the engine's thread argument, 0 for its default
    stack: Stack | None              # the Stack the call named, if any
    roughness: FloatArray = field(default_factory=lambda: np.zeros((1, 1)))  # (1 or B, media - 1)
    roughness_model: int = 0         # 0 Nevot-Croce, 1 Debye-Waller

    @property
    def rough(self) -> bool:
        """Some interface of some stack is rough."""
        return bool(self.roughness.any())

    @property
    def engine_grid(self) -> tuple[ComplexArray, FloatArray, FloatArray, FloatArray, int, FloatArray, int]:
        """The leading arguments of the engine's grid functions."""
        return (self.indices, self.thicknesses, self.wavelengths, self.angles, self.stacks, self.roughness,
                self.roughness_model)

    @property
    def media(self) -> int:
        """Media of every stack, the incidence and exit media included."""
        return int(self.indices.shape[1])

    @property
    def layers(self) -> int:
        """Inner layers of every stack."""
        return self.media - 2

    @property
    def flags(self) -> BoolArray:
        """The engine's coherence flags: every layer's, all True where every layer is coherent."""
        return self.coherent if self.coherent is not None else np.ones(self.layers, dtype=np.bool_)

    @property
    def grid(self) -> tuple[int, int, int]:
        """(B, A, W)."""
        return self.stacks, int(self.angles.shape[0]), int(self.wavelengths.shape[0])

    def empty(self, shape: tuple[int, ...], dtype: type[Scalar]) -> npt.NDArray[Scalar]:
        """An array for the engine to fill with results of this grid; a MemoryError naming the
        grid when it does not fit."""
        b, a, w = self.grid
        return result_array(shape, dtype, f"a grid of {b} stacks x {a} angles x {w} wavelengths of "
                                          f"{self.media} media")


def read_problem(form: Form, args: tuple[object, ...], kwargs: Mapping[str, object]
                 ) -> tuple[GridProblem, dict[str, object]]:
    """The checked problem of a call of the front `form` with `args` and `kwargs`, and the
    front's other arguments by name (its defaults filled in)."""
    stack_form = isinstance(args[0], Stack) if args else "stack" in kwargs
    values = form.signatures[stack_form].bind(args, kwargs)
    coherent = values.pop("coherent", None)
    roughness = values.pop("roughness", None)
    model = values.pop("roughness_model", "nevot-croce")
    if stack_form:
        stack = values.pop("stack")
        if not isinstance(stack, Stack):
            raise TypeError(f"stack must be a quilmo_lab.Stack; received {type_name(stack)}")
        wavelengths = axis("wavelengths", values.pop("wavelengths"), "W")
        indices: object = stack.indices(wavelengths)
        thicknesses = values.pop("thicknesses")
        thicknesses = stack.thicknesses if thicknesses is None else thicknesses
        coherent = stack.coherent if coherent is None else coherent
        if roughness is None and stack.rough:
            if not any(name == "roughness" for name, _ in form.options):
                raise ValueError(f"{form.front}() does not model rough interfaces; received a Stack with "
                                 "roughness (set its layers' roughness to 0)")
            roughness = stack.roughness
    else:
        stack = None
        wavelengths = axis("wavelengths", values.pop("wavelengths"), "W")
        indices, thicknesses = values.pop("indices"), values.pop("thicknesses")
    letter = "A" if form.angle == "angles" else "1"
    angles = incidence_angles(form.angle, values.pop(form.angle), letter, complex_allowed=form.complex_angles)
    if form.one_angle and angles.shape != (1,):
        raise ValueError(f"{form.angle} must be one angle of incidence in radians; received {angles.shape[0]}")
    n = index_array(indices, wavelengths.shape[0])
    d = thickness_array(thicknesses, n.shape[1])
    batch = d.ndim == 2
    d = d.reshape(1, -1) if d.ndim == 1 else d
    stacks = batch_size(n.shape[0], d.shape[0])
    rough = roughness_array(roughness, n.shape[1], stacks)
    if rough.shape[0] != 1:
        stacks, batch = rough.shape[0], True
    problem = GridProblem(
        indices=n, thicknesses=d, wavelengths=wavelengths, angles=angles,
        stacks=stacks, batch=batch,
        coherent=coherence_mask(coherent, n.shape[1]), threads=thread_count(values.pop("threads")), stack=stack,
        roughness=rough, roughness_model=roughness_model(model))
    return problem, values
