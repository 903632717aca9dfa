"""Checks of what users pass to quilmo_lab, with one wording for every mistake.

A value of the wrong kind (a string for a number, complex thicknesses, a float
thread count) is a TypeError; a value of the wrong shape or range, or a request
that is not defined physically, is a ValueError. Every message names the
parameter, says what was expected and ends in "; received ..." with the value,
shape or dtype received. Numbers that flow through the engine are not checked:
NaN and infinities come out as NaN and infinities.

Arrays that a result may still compute from are returned owned: where the
conversion left them sharing memory with the caller's data, they are copied.
"""

from __future__ import annotations

import math
import numbers
import operator
from collections.abc import Sequence
from typing import Any, TypeVar

import numpy as np
import numpy.typing as npt

# The most threads one call may ask for (the kernel's own pool has the same cap).
MAX_THREADS = 255

FloatArray = npt.NDArray[np.float64]
ComplexArray = npt.NDArray[np.complex128]
Scalar = TypeVar("Scalar", bound=np.generic)
Option = TypeVar("Option", bound=str)

# Inputs NumPy always copies when it converts them: nothing of the caller's can alias the result.
_FRESH_ON_CONVERSION = (list, tuple, int, float, complex, np.generic)


def shape_text(shape: tuple[int, ...]) -> str:
    """A shape as Python writes a tuple: (3,), (2, 7)."""
    return "(" + ", ".join(str(n) for n in shape) + ("," if len(shape) == 1 else "") + ")"


def count_text(count: int, singular: str, plural: str) -> str:
    """'1 medium', '4 media'."""
    return f"{count} {singular if count == 1 else plural}"


def type_name(value: object) -> str:
    """The name of the type of `value`, as messages show what was received."""
    return type(value).__name__


def number_array(name: str, value: object, *, complex_allowed: bool = False) -> npt.NDArray[Any]:
    """`value` read by NumPy as an array of real (or complex) numbers, or an error naming `name`."""
    try:
        array = np.asarray(value)
    except (TypeError, ValueError) as error:  # ragged nested lists, among others
        raise ValueError(f"{name} must be a rectangular array of numbers; received a {type_name(value)} "
                         f"NumPy cannot read as one ({error})") from None
    allowed = "iufc" if complex_allowed else "iuf"
    if array.dtype.kind not in allowed:
        expected = "real or complex numbers" if complex_allowed else "real numbers"
        raise TypeError(f"{name} must hold {expected}; received an array of dtype {array.dtype}")
    return array


def owned(array: npt.NDArray[Scalar], source: object, read: npt.NDArray[Any]) -> npt.NDArray[Scalar]:
    """`array` converted from the caller's `source` (read by NumPy as `read`), copied where it
    still shares memory with the caller's data, so that nothing the caller does later changes it."""
    if isinstance(source, _FRESH_ON_CONVERSION) or not np.may_share_memory(array, read):
        return array
    return array.copy()


def owned_array(name: str, value: object, dtype: type[Scalar]) -> npt.NDArray[Scalar]:
    """`value` as a C-contiguous array of `dtype` that no caller's array shares memory with."""
    read = number_array(name, value, complex_allowed=np.dtype(dtype).kind == "c")
    return owned(np.ascontiguousarray(read, dtype=dtype), value, read)


def axis(name: str, value: object, letter: str) -> FloatArray:
    """A grid axis (wavelengths, angles, depths): a scalar or a 1-D array, as an owned (N,) array."""
    array = owned_array(name, value, np.float64)
    if array.ndim > 1:
        raise ValueError(f"{name} must be a scalar or of shape ({letter},); received shape {shape_text(array.shape)}")
    return array.reshape(-1)


def incidence_angles(name: str, value: object, letter: str) -> FloatArray:
    """Angles of incidence in radians as an owned (N,) array, each within [-pi/2, pi/2]
    (NaN passes through): beyond that the light would come from the exit side, and a value
    such as 2.0 or 45.0 is most likely a slip of units."""
    angles = axis(name, value, letter)
    with np.errstate(invalid="ignore"):
        beyond = np.abs(angles) > np.pi / 2
    if beyond.any():
        raise ValueError(f"{name} must be angles of incidence in radians between -pi/2 and pi/2 (did you "
                         f"pass degrees?); received {angles[beyond][0]!r}")
    return angles


def index_array(value: object, wavelengths: int) -> ComplexArray:
    """Refractive indices as an owned (1 or B, media, 1 or W) array."""
    array = owned_array("indices", value, np.complex128)
    if array.ndim == 1:
        array = array.reshape(1, array.shape[0], 1)
    elif array.ndim == 2:
        array = array.reshape(1, *array.shape)
    elif array.ndim != 3:
        raise ValueError("indices must have shape (media,), (media, W) or (B, media, W); "
                         f"received shape {shape_text(array.shape)}")
    media_and_columns("indices", array.shape[1], array.shape[2], wavelengths)
    return array


def media_and_columns(name: str, media: int, columns: int, wavelengths: int) -> None:
    """Checks that a stack's per-medium values (`name`: indices, permittivity tensors) describe
    at least 2 media, over 1 or `wavelengths` columns."""
    if media < 2:
        raise ValueError(f"{name} must hold at least 2 media (incidence and exit medium); "
                         f"received {count_text(media, 'medium', 'media')}")
    if columns not in (1, wavelengths):
        raise ValueError(f"{name} must have {wavelengths} columns, one per wavelength (or 1 for {name} that "
                         f"do not depend on the wavelength); received {columns} columns")


def thickness_array(value: object, media: int) -> FloatArray:
    """Thicknesses of the inner layers as an owned (media - 2,) or (B, media - 2) array."""
    array = owned_array("thicknesses", value, np.float64)
    layers = media - 2
    if array.ndim not in (1, 2) or array.shape[-1] != layers:
        received = (count_text(array.shape[-1], "entry", "entries") if array.ndim in (1, 2)
                    else f"shape {shape_text(array.shape)}")
        raise ValueError(f"thicknesses must have {layers} entries or shape (B, {layers}) for "
                         f"{count_text(media, 'medium', 'media')}; received {received}")
    return array


def roughness_array(value: object, media: int, stacks: int) -> FloatArray:
    """RMS roughness of every interface as an owned (1 or B, media - 1) array of finite
    numbers of at least 0 (None: every interface smooth)."""
    interfaces = media - 1
    if value is None:
        return np.zeros((1, interfaces), dtype=np.float64)
    array = owned_array("roughness", value, np.float64)
    if isinstance(value, numbers.Real):
        array = np.full((1, interfaces), array.reshape(-1)[0], dtype=np.float64)
    if array.ndim not in (1, 2) or array.shape[-1] != interfaces:
        received = (count_text(array.shape[-1], "entry", "entries") if array.ndim in (1, 2)
                    else f"shape {shape_text(array.shape)}")
        raise ValueError(f"roughness must have {interfaces} entries (one per interface) or shape "
                         f"(B, {interfaces}) for {count_text(media, 'medium', 'media')}; received {received}")
    array = array.reshape(1, -1) if array.ndim == 1 else array
    if array.shape[0] not in (1, stacks) and stacks != 1:
        raise ValueError(f"roughness must hold one row for all stacks or one per stack ({stacks}); received "
                         f"{array.shape[0]} rows")
    bad = array[~(np.isfinite(array) & (array >= 0))]
    if bad.size:
        raise ValueError(f"roughness must be finite and at least 0; received {bad.flat[0]!r}")
    return array


ROUGHNESS_MODELS = ("nevot-croce", "debye-waller")


def roughness_model(value: object) -> int:
    """The engine's code of a roughness model name: 0 Nevot-Croce, 1 Debye-Waller."""
    return ROUGHNESS_MODELS.index(choice("roughness_model", value, ROUGHNESS_MODELS))


def batch_size(index_stacks: int, thickness_stacks: int) -> int:
    """B of a solve whose indices hold `index_stacks` stacks and thicknesses `thickness_stacks`."""
    if index_stacks != thickness_stacks and 1 not in (index_stacks, thickness_stacks):
        raise ValueError(f"thicknesses must hold as many stacks as indices ({index_stacks}), or one of them a "
                         f"single stack for all; received {thickness_stacks} stacks of thicknesses")
    return thickness_stacks if index_stacks == 1 else index_stacks


def lossless_incidence_or_normal(indices: ComplexArray, angles: FloatArray) -> None:
    """Refuses an absorbing incidence medium at an oblique angle: the incident power flux, and with
    it R and T, is only defined there at normal incidence."""
    incidence = indices[:, 0, :].imag
    if not incidence.any():
        return
    lossy = np.abs(incidence) > 0
    with np.errstate(invalid="ignore"):
        oblique = np.abs(np.sin(angles)) > 0
    if lossy.any() and oblique.any():
        k = incidence[lossy][0]
        angle = angles[oblique][0]
        raise ValueError(
            "angles must be 0 where the incidence medium (row 0 of indices) absorbs: the incident power flux, "
            "and with it R and T, is only defined in a lossy incidence medium at normal incidence; received "
            f"the oblique angle {angle:g} rad with an incidence medium of imaginary part {k:g}. Use a lossless "
            "incidence medium or angle 0.")


def coherence_mask(value: object, media: int) -> npt.NDArray[np.bool_] | None:
    """The engine's coherence flags, one per inner layer; None where every layer is coherent."""
    if value is None:
        return None
    try:
        array = np.asarray(value)
    except (TypeError, ValueError) as error:
        raise ValueError(f"coherent must be a sequence of booleans, one per inner layer; received a "
                         f"{type_name(value)} NumPy cannot read as one ({error})") from None
    layers = media - 2
    if array.dtype != np.bool_ and not (array.size == 0 and array.dtype.kind == "f"):
        raise TypeError(f"coherent must hold booleans (True: coherent, False: incoherent); "
                        f"received an array of dtype {array.dtype}")
    if array.shape != (layers,):
        raise ValueError(f"coherent must have shape ({layers},), one flag per inner layer of "
                         f"{count_text(media, 'medium', 'media')}; received shape {shape_text(array.shape)}")
    mask = np.array(array, dtype=np.bool_)
    if mask.all():
        return None
    return mask


def result_array(shape: tuple[int, ...], dtype: type[Scalar], grid: str) -> npt.NDArray[Scalar]:
    """An array of `shape` for the engine to fill; a MemoryError naming `grid` (what the array
    holds the results of) when it cannot be allocated."""
    try:
        return np.empty(shape, dtype=dtype)
    except (MemoryError, ValueError):  # ValueError: more bytes than an address holds
        size = math.prod(shape) * np.dtype(dtype).itemsize
        raise MemoryError(f"the results of {grid} need {size / 2 ** 30:.3g} GiB (an array of shape "
                          f"{shape_text(shape)}), which could not be allocated") from None


def thread_count(threads: object) -> int:
    """The engine's thread argument: 0 for the default."""
    if threads is None:
        return 0
    if isinstance(threads, bool):
        raise TypeError("threads must be an int or None; received bool")
    try:
        count = operator.index(threads)  # type: ignore[arg-type]
    except TypeError:
        raise TypeError(f"threads must be an int or None; received {type_name(threads)}") from None
    if not 1 <= count <= MAX_THREADS:
        raise ValueError(f"threads must be between 1 and {MAX_THREADS}; received {count}")
    return count


def whole_number(name: str, value: object, *, minimum: int) -> int:
    """`value` as an int of at least `minimum`."""
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{name} must be an integer; received {type_name(value)}")
    if value < minimum:
        raise ValueError(f"{name} must be at least {minimum}; received {value}")
    return int(value)


def flag(name: str, value: object) -> bool:
    """`value` if it is True or False, else a TypeError naming `name`."""
    if not isinstance(value, bool):
        raise TypeError(f"{name} must be True or False; received {value!r}")
    return value


def choice(name: str, value: object, options: Sequence[Option]) -> Option:
    """`value` if it is one of the strings `options`, else an error listing them."""
    if isinstance(value, str) and value in options:
        return options[options.index(value)]
    expected = ", ".join(repr(o) for o in options[:-1]) + f" or {options[-1]!r}" if len(options) > 1 \
        else repr(options[0])
    raise ValueError(f"{name} must be {expected}; received {value!r}")


def real_number(name: str, value: object, *, minimum: float | None = None, strictly: bool = False) -> float:
    """`value` as a finite float, at least (or with `strictly`, above) `minimum` if given."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a real number; received {type_name(value)}")
    number = float(value)
    if not math.isfinite(number):
        raise ValueError(f"{name} must be finite; received {number!r}")
    if minimum is not None and (number <= minimum if strictly else number < minimum):
        bound = "greater than" if strictly else "at least"
        raise ValueError(f"{name} must be {bound} {minimum:g}; received {number!r}")
    return number


def real_vector(name: str, values: object, *, length: int | None = None) -> FloatArray:
    """`values` as a new 1-D float64 array of finite numbers (a scalar gives one entry)."""
    array = np.atleast_1d(number_array(name, values).astype(np.float64))
    if array.ndim != 1:
        raise ValueError(f"{name} must be one-dimensional; received shape {shape_text(array.shape)}")
    if length is not None and array.size != length:
        raise ValueError(f"{name} must have {length} entries; received {array.size}")
    if not np.all(np.isfinite(array)):
        raise ValueError(f"{name} must be finite; received {array}")
    return array


def wavelength_array(wavelengths: object) -> FloatArray:
    """Vacuum wavelengths as a float64 array, without a copy when they already are one."""
    array = number_array("wavelengths", wavelengths)
    return array if array.dtype == np.float64 else array.astype(np.float64)


def per_wavelength(name: str, value: object, count: int) -> FloatArray:
    """A number or one per wavelength, as a new (count,) array."""
    array = number_array(name, value).astype(np.float64)
    if array.ndim == 0:
        return np.full(count, float(array))
    if array.shape != (count,):
        raise ValueError(f"{name} must be a scalar or of shape ({count},), one per wavelength; "
                         f"received shape {shape_text(array.shape)}")
    return array


def on_grid(name: str, value: object, shape: tuple[int, int]) -> FloatArray:
    """A number or array broadcast onto the (angles, wavelengths) grid `shape`, as a new array."""
    given = number_array(name, value).astype(np.float64)
    array = given[None, :] if given.ndim == 1 and shape[0] == 1 else given
    try:
        return np.ascontiguousarray(np.broadcast_to(array, shape))
    except ValueError:
        alternative = " or (wavelengths,)" if shape[0] == 1 else ""
        raise ValueError(f"{name} must have shape (angles, wavelengths) = {shape_text(shape)}{alternative}; "
                         f"received shape {shape_text(given.shape)}") from None


def material_callable(name: str, value: object) -> Any:
    """`value` if it is a callable that can stand for a material's n(λ): not a class, which is
    callable too but builds an object instead of returning indices."""
    if isinstance(value, type):
        raise TypeError(f"{name} must be a callable of the wavelength that returns indices; received the "
                        f"class {value.__name__} (call it to build the object first)")
    if not callable(value):
        raise TypeError(f"{name} must be a callable of the wavelength that returns indices; received "
                        f"{type_name(value)}")
    return value


def vectorised_values(values: object, count: int) -> ComplexArray | None:
    """What a material's callable returned for the whole array of `count` wavelengths, as a complex
    (count,) array; None where it is not one number per wavelength, so that the callable is asked
    again one wavelength at a time. One value for many wavelengths is not taken either: it may be a
    reduction of the array (min, mean) by a callable written for floats."""
    try:
        array = np.asarray(values)
    except (TypeError, ValueError):
        return None
    if array.dtype.kind not in "iufc" or (array.shape != (count,) and not (count == 1 and array.size == 1)):
        return None
    return np.array(array.reshape(count), dtype=np.complex128)


def per_wavelength_values(name: str, values: list[Any]) -> ComplexArray:
    """What a material's callable `name` returned, called once per wavelength, as a complex array."""
    try:
        array = np.asarray(values)
    except (TypeError, ValueError) as error:
        raise TypeError(f"{name} must return one number per wavelength; received values NumPy cannot read as "
                        f"numbers ({error})") from None
    if array.dtype.kind not in "iufc":
        raise TypeError(f"{name} must return numbers; received {type_name(values[0])} of dtype {array.dtype}")
    if array.size != len(values):
        raise ValueError(f"{name} must return one number per wavelength; received "
                         f"{array.size // max(len(values), 1)} numbers for one wavelength")
    return np.array(array.reshape(len(values)), dtype=np.complex128)


PERMITTIVITY_KEYWORDS = ("eps", "epsilon", "permittivity")


def no_permittivity_keyword(owner: str, keywords: dict[str, Any]) -> None:
    """Refuses keywords `owner` does not take; a permittivity passed by name gets directions,
    since every medium here is an index n + ik and ε taken as n would be silently wrong."""
    if not keywords:
        return
    keyword = next(iter(keywords))
    if keyword in PERMITTIVITY_KEYWORDS:
        raise TypeError(f"{owner} takes refractive indices n + ik, not permittivities; received the keyword "
                        f"{keyword!r}. Pass ql.materials.from_permittivity(ε) as the material instead "
                        "(n + ik = √ε with k ≥ 0)")
    raise TypeError(f"{owner} takes no keyword {keyword!r}; received {keyword}={keywords[keyword]!r}")
