"""Checks a saved model before it is used: one set of rules and messages for a fit read from
a dictionary, a grid read from a file, and the parameter Dataset a transform reads."""

from __future__ import annotations

from collections.abc import Iterable, Mapping
from typing import Any

import numpy as np

from ferrule import _core
from ferrule._names import family_info

__all__ = ["check_fields", "check_format", "check_model", "family_names"]

# The fields a model is built from besides its transformation parameters.
MODEL_FIELDS = ("mu", "sigma", "scale", "shift", "left", "right")
_POSITIVE = ("sigma", "scale")


def check_format(what: str, found: Any, version: Any, expected: str, current: int) -> None:
    """Fails unless the layout is `expected` in the version this ferrule reads.

    Examples
    --------
    >>> check_format("saved fit", "ferrule.Fit", 9, "ferrule.Fit", 1)
    Traceback (most recent call last):
    ValueError: saved fit has format version 9; this ferrule reads version 1
    """
    if found != expected:
        raise ValueError(f"not a {what.replace('saved ', 'saved ferrule ')} (format {found!r})")
    if isinstance(version, bool) or version != current:
        raise ValueError(f"{what} has format version {version!r}; this ferrule reads version "
                         f"{current}")  # fmt: skip


def check_fields(what: str, data: Any, names: Iterable[str]) -> None:
    """Fails naming every field of `names` that `data` (a mapping or a Dataset) lacks.

    Examples
    --------
    >>> check_fields("saved fit", {"mu": 0.0}, ["mu", "sigma"])
    Traceback (most recent call last):
    ValueError: saved fit lacks the field(s) sigma
    """
    missing = [name for name in names if name not in data]
    if missing:
        raise ValueError(f"{what} lacks the field(s) {', '.join(missing)}")


def check_model(
    what: str, family: Any, params: Mapping[str, Any], fields: Mapping[str, Any]
) -> _core.FamilyInfo:
    """Fails, naming the field (and the cell of a grid), unless the family is known, its
    parameters are the family's, and every valid model's numbers lie in their domain.

    `fields` holds ``mu, sigma, scale, shift, left, right`` and ``valid``, scalars or arrays
    of one cell shape; cells that are not valid hold no model and are not checked.

    Examples
    --------
    >>> fields = dict(mu=0.0, sigma=-1.0, scale=1.0, shift=0.0, left=0.0, right=np.inf)
    >>> check_model("saved fit", "yeo_johnson", {"lambda": 1.0}, {**fields, "valid": True})
    Traceback (most recent call last):
    ValueError: saved fit: sigma is -1.0; it must be a finite number above 0
    """
    info = _family(what, family)
    if sorted(params) != sorted(info.transformation_names):
        raise ValueError(
            f"{what}: a {info.title} model has the parameter(s) "
            f"{', '.join(info.transformation_names)}, not {', '.join(map(str, params)) or 'none'}"
        )
    valid = np.asarray(fields["valid"]).astype(bool)
    rules = [(name, params[name], name in info.positive_names)
             for name in info.transformation_names]  # fmt: skip
    rules += [(name, fields[name], name in _POSITIVE) for name in ("mu", "sigma", "scale", "shift")]
    for name, value, positive in rules:
        value = _numbers(what, name, value)
        bad = ~np.isfinite(value) | (value <= 0 if positive else False)
        _refuse(what, name, value, bad & valid,
                "a finite number above 0" if positive else "a finite number")  # fmt: skip
    left, right = _numbers(what, "left", fields["left"]), _numbers(what, "right", fields["right"])
    bad = ~(left < right) | np.isnan(left) | (left == np.inf) | (right == -np.inf)
    _refuse(what, "left", left, bad & valid, "below right", right)
    return info


def family_names(what: str, family: Any) -> tuple[str, ...]:
    """The transformation parameter names of a saved model's family.

    Examples
    --------
    >>> family_names("saved grid", "sinh_asinh")
    ('delta', 'epsilon')
    """
    return _family(what, family).transformation_names


def _family(what: str, family: Any) -> _core.FamilyInfo:
    try:
        return family_info(family)
    except (TypeError, ValueError):
        known = ", ".join(repr(i.key) for i in _core.FAMILIES)
        raise ValueError(f"{what}: unknown family {family!r} (one of {known})") from None


def _numbers(what: str, name: str, value: Any) -> np.ndarray:
    try:
        return np.asarray(value, dtype=np.float64)
    except (TypeError, ValueError):
        raise ValueError(f"{what}: {name} holds {type(value).__name__}, not numbers") from None


def _refuse(
    what: str, name: str, value: np.ndarray, bad: np.ndarray, rule: str, other: Any = None
) -> None:
    if not bad.any():
        return
    first = np.unravel_index(int(np.argmax(bad)), bad.shape) if bad.ndim else ()
    at = f" at cell {tuple(map(int, first))}" if first else ""
    shown = float(np.broadcast_to(value, bad.shape)[first])
    if other is not None:
        rule = f"{rule} ({float(np.broadcast_to(other, bad.shape)[first])!r})"
    raise ValueError(f"{what}: {name} is {shown!r}{at}; it must be {rule}")
