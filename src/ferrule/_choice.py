"""The rule of ``family="auto"``: of one series' fits in every family, the valid fit of
lowest AIC; for one series or for many cells at once (vectorised over the cells). A
standardised index may fit the families in turn and stop early (:func:`keeps_searching`);
it then keeps the valid fit of lowest AIC among the families it fitted."""

from __future__ import annotations

import numpy as np
import numpy.typing as npt

from ferrule import _core

__all__ = ["AUTO", "candidates", "choose", "is_automatic", "keeps_searching", "scale_free"]

AUTO = "auto"


def is_automatic(family: object) -> bool:
    """Whether `family` asks for the best of every family ("auto")."""
    return isinstance(family, str) and family.strip().lower() == AUTO


def candidates(info: _core.FamilyInfo, finite_left: npt.ArrayLike) -> np.ndarray:
    """Where `info` takes part in the choice: everywhere, unless its map is undefined at
    -inf, then only where the left threshold is finite in the units of the fit."""
    finite = np.asarray(finite_left, dtype=bool)
    return finite if info.bounded_below else np.ones(finite.shape, dtype=bool)


def scale_free(info: _core.FamilyInfo) -> bool:
    """Whether `info` is one model at every scale, so that ``scale="auto"`` fits it once:
    a family that models the raw value standardised by its own mu and sigma (any real mu,
    any positive sigma) absorbs a rescaling into them, likelihood in data units and all."""
    return bool(info.models_raw_value)


def choose(aic: npt.ArrayLike, valid: npt.ArrayLike) -> npt.NDArray[np.intp]:
    """The index along the first axis of the fit the rule keeps, for each cell: the valid
    fit of lowest finite AIC; if none is valid, the fit of lowest finite AIC; if no AIC is
    finite, the first. Ties go to the earlier fit."""
    aic = np.asarray(aic, dtype=np.float64)
    comparable = np.isfinite(aic)
    chosen = np.zeros(aic.shape[1:], dtype=np.intp)
    for eligible in (comparable, comparable & np.asarray(valid, dtype=bool)):
        # The valid fits' choice overrides the comparable fits' where a valid fit exists.
        best = np.argmin(np.where(eligible, aic, np.inf), axis=0)
        chosen = np.where(eligible.any(axis=0), best, chosen)
    return chosen


def keeps_searching(
    valid: npt.ArrayLike, p_value: npt.ArrayLike | None, level: float | None
) -> npt.NDArray[np.bool_]:
    """Whether a cell fitted in one family goes on to the next family (the families in the
    order of ``_core.FAMILIES``, cheapest first): unless its fit is valid and the normal
    scores of its values above the left threshold pass the Anderson-Darling test of
    normality at `level` (p-value >= `level`); with `level` None every family is fitted.
    A higher `level` asks more of a fit before the search stops."""
    valid = np.asarray(valid, dtype=bool)
    if level is None:
        return np.ones(valid.shape, dtype=bool)
    with np.errstate(invalid="ignore"):
        return ~(valid & (np.asarray(p_value, dtype=np.float64) >= level))
