"""The words and attributes of standardised indices: what an index is called, the CF
attributes of its scores and of the fitted parameters."""

from __future__ import annotations

from typing import Any

import numpy as np

from ferrule._grid.schema import PREFIX
from ferrule.xarray._index_cells import FAMILY_CODES
from ferrule.xarray._index_groups import GROUP_TITLES

__all__ = [
    "INDEX_FORMAT",
    "INDEX_FORMAT_VERSION",
    "UNFITTED",
    "index_name",
    "param_attrs",
    "score_attrs",
]

INDEX_FORMAT = "ferrule.standardized_index"
INDEX_FORMAT_VERSION = 1
# How a cell and group without a valid fit is scored (said in warnings and attributes).
UNFITTED = ("Where a cell and group has no valid fit, values at or below the left threshold "
            "are scored from their share of its sample (kept within the plotting positions "
            "1/(n+1) and n/(n+1)), values above it get no score (NaN).")  # fmt: skip

# Names and standard names that mark a precipitation variable (its index is the SPI).
_PRECIPITATION = {"pr", "prcp", "precip", "precipitation", "rain", "rainfall", "tp"}
_PRECIPITATION_STANDARD = ("precipitation_amount", "precipitation_flux", "lwe_precipitation_rate",
                           "thickness_of_rainfall_amount", "rainfall_amount")  # fmt: skip

_PARAM_TITLES = {
    "family": "family of the fitted transformation",
    "lambda": "transformation parameter lambda (Yeo-Johnson, log-sinh)",
    "epsilon": "transformation parameter epsilon (log-sinh, sinh-arcsinh, Jones-Pewsey)",
    "delta": "transformation parameter delta (sinh-arcsinh, Jones-Pewsey)",
    "mu": "mean of the normal model",
    "sigma": "standard deviation of the normal model",
    "scale": "rescaling factor of the values",
    "shift": "shift added to the values before rescaling",
    "left": "left censoring threshold",
    "right": "right censoring threshold",
    "aic": "Akaike information criterion of the fit",
    "loglik": "log-likelihood of the fit in data units",
    "n": "number of values fitted",
    "n_left": "number of values at or below the left threshold",
    "valid": "whether the cell and group has a valid fit",
}


def _is_precipitation(da: Any) -> bool:
    name = "" if da.name is None else str(da.name).lower()
    return name in _PRECIPITATION or da.attrs.get("standard_name") in _PRECIPITATION_STANDARD


def index_name(da: Any) -> str:
    """The scores' variable name: "spi" for precipitation, else "standardized_index"."""
    return "spi" if _is_precipitation(da) else "standardized_index"


def param_attrs(name: str) -> dict[str, Any]:
    attrs: dict[str, Any] = {"long_name": _PARAM_TITLES[name]}
    if name == "family":
        # CF flags: the code of each cell's family, -1 where no fit is valid.
        attrs["flag_values"] = list(range(-1, len(FAMILY_CODES)))
        attrs["flag_meanings"] = " ".join(("none", *FAMILY_CODES))
    if name == "valid":
        attrs["comment"] = UNFITTED
    return attrs


def score_attrs(
    da: Any, fit: dict[str, Any], *, zeros: str, p0: str, clip: float | None, seed: int
) -> dict[str, Any]:
    """CF attributes of the scores: the long name says what index it is; the settings of
    the fits and of the scoring follow as ``ferrule_*`` attributes."""
    settings = {key: value for key, value in fit.items() if key.startswith(PREFIX)}
    for key in ("format", "version", "base_seed"):
        settings.pop(PREFIX + key, None)
    settings.update({PREFIX + "zeros": zeros, PREFIX + "p0": p0,
                     PREFIX + "clip": "none" if clip is None else float(clip),
                     PREFIX + "seed": seed})  # fmt: skip
    return {"long_name": long_name(da, fit), "units": "1", "comment": UNFITTED, **settings}


def long_name(da: Any, fit: dict[str, Any]) -> str:
    """Such as "standardized precipitation index (3-month accumulation, calendar-month
    fits, 1991-2020 calibration)"."""
    if _is_precipitation(da):
        what = "standardized precipitation index"
    else:
        source = da.attrs.get("long_name") or da.attrs.get("standard_name") or da.name or "values"
        what = f"standardized index of {source}"
    details = []
    steps = int(fit[PREFIX + "accumulate"])
    if steps > 1:
        details.append(f"{steps}-{_step_word(da, fit[PREFIX + 'dim'])} accumulation")
    groupby = fit[PREFIX + "groupby"]
    window = int(fit[PREFIX + "window"])
    if groupby:
        words = f"{GROUP_TITLES.get(groupby, groupby)} fits"
        details.append(words + (f", ±{window} days pooled" if window else ""))
    start, end = fit[PREFIX + "calibration"]
    details.append(f"{start[:4]}–{end[:4]} calibration" if _dated(start, end) else
                   f"{start} to {end} calibration")  # fmt: skip
    return f"{what} ({', '.join(details)})"


def _dated(*labels: str) -> bool:
    return all(len(label) == 10 and label[4] == "-" and label[:4].isdigit() for label in labels)


def _step_word(da: Any, dim: str) -> str:
    """Whether the coordinate steps by exactly one "day" or "month"; else "step"."""
    import pandas as pd

    index = da.indexes.get(dim)
    if not isinstance(index, pd.DatetimeIndex) or len(index) < 3:
        return "step"
    if (np.diff(index.values) == np.timedelta64(1, "D")).all():
        return "day"
    months = np.diff(np.asarray(index.year) * 12 + np.asarray(index.month))
    same_day = (index.day == index.day[0]).all() or index.is_month_end.all()
    if (months == 1).all() and same_day and (index.normalize() == index).all():
        return "month"
    return "step"
