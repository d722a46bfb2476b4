"""Seeded rain grids for the standardised-index benchmark: daily totals in mm with about
54.5 % dry days, a dry season and sea cells, their monthly totals, and the bundled Seattle
series; the groups of a case's values and the chance of a dry value each is measured
against."""

from importlib import resources

import numpy as np
import pandas as pd
import xarray as xr
from scipy import special

CALIBRATION = ("1991", "2020")


def daily_grid(side, years, seed, sea=True):
    """A side x side grid of daily rain over `years` from 1991. Each cell has its own wet
    chance, a season whose driest months are almost rainless, and wet amounts from a
    mixture of two exponentials (the usual weather-generator choice, heavier-tailed than a
    gamma), unrounded so that goodness-of-fit tests see no ties; a corner is sea (NaN)."""
    rng = np.random.default_rng(seed)
    time = pd.date_range("1991-01-01", f"{1990 + years}-12-31", freq="D")
    wet_chance = _wet_chance(_base(rng, side), time)
    wet = rng.random((side, side, time.size)) < wet_chance
    heavy = rng.random(wet.shape) < rng.uniform(0.15, 0.35, size=(side, side, 1))
    means = np.where(heavy, rng.uniform(8.0, 16.0, size=(side, side, 1)),
                     rng.uniform(1.0, 3.0, size=(side, side, 1)))  # fmt: skip
    amounts = rng.exponential(1.0, size=wet.shape) * means
    values = np.where(wet, amounts, 0.0)
    if sea:
        rows, cols = np.indices((side, side))
        values[rows + cols < side // 3] = np.nan
    coords = {"lat": np.linspace(40.0, 50.0, side), "lon": np.linspace(0.0, 10.0, side),
              "time": time}  # fmt: skip
    attrs = {"units": "mm/day", "standard_name": "precipitation_amount"}
    return xr.DataArray(values, dims=("lat", "lon", "time"), coords=coords, name="pr",
                        attrs=attrs)  # fmt: skip


def _base(rng, side):
    """Each cell's wet chance before the season: the first draw of the grid's stream."""
    return rng.uniform(0.38, 0.53, size=(side, side, 1))


def _wet_chance(base, time):
    season = np.cos(2.0 * np.pi * (time.day_of_year.values - 30) / 365.25)
    return np.clip(base + 0.38 * season, 0.01, 0.95)


def true_dry_chance(da, seed):
    """The probability that each value of `da` (a grid of :func:`daily_grid` with `seed`,
    or its :func:`monthly` totals) is 0: the generator's, not an estimate. A month is dry
    when all its days are."""
    side = da.sizes["lat"]
    base = _base(np.random.default_rng(seed), side)
    time = da.indexes["time"]
    if (np.diff(time.values) == np.timedelta64(1, "D")).all():
        return 1.0 - _wet_chance(base, time)
    out = np.empty((side, side, time.size))
    for k, start in enumerate(time):
        days = pd.date_range(start, start + pd.offsets.MonthEnd(0), freq="D")
        out[..., k] = np.exp(np.log1p(-_wet_chance(base, days)).sum(axis=-1))
    return out


def monthly(daily):
    """Monthly totals (NaN where the month holds a NaN day), time at the month's start."""
    totals = daily.resample(time="MS").sum(skipna=False)
    totals.attrs = {"units": "mm/month", "standard_name": "precipitation_amount"}
    return totals


def seattle():
    """The bundled daily precipitation at Seattle, 2012-2015, as one cell."""
    path = resources.files("ferrule") / "data" / "seattle_precipitation.csv"
    with resources.as_file(path) as csv:
        frame = pd.read_csv(csv, parse_dates=["date"])
    values = frame["precipitation"].to_numpy(dtype=np.float64)[None, None, :]
    return xr.DataArray(values, dims=("lat", "lon", "time"),
                        coords={"lat": [47.6], "lon": [-122.3], "time": frame["date"].values},
                        name="pr", attrs={"units": "mm/day",
                                          "standard_name": "precipitation_amount"})  # fmt: skip


def group_of(da, case):
    """The group of each position along time: its calendar month or day of year."""
    field = "dayofyear" if case["groups"] == "dayofyear" else "month"
    return da[f"time.{field}"].values


def seasonal_dry_chance(da, harmonics=3):
    """The chance of a dry day through the year where no generator's is known: per cell, a
    logistic regression of dryness on the first `harmonics` harmonics of the day of year
    over every day (the seasonal occurrence model of weather generators). A day of year's
    own few values cannot stand for it: four years give its share of zeros a standard
    error near 0.25."""
    angle = 2.0 * np.pi * da["time.dayofyear"].values / 365.25
    columns = [np.ones_like(angle)]
    for k in range(1, harmonics + 1):
        columns += [np.cos(k * angle), np.sin(k * angle)]
    design = np.stack(columns, axis=-1)
    values = da.values.reshape(-1, da.sizes["time"])
    out = np.full(values.shape, np.nan)
    for row, x in enumerate(values):
        seen = ~np.isnan(x)
        if not seen.any():
            continue
        a, dry = design[seen], (x[seen] <= 0.0).astype(np.float64)
        beta = np.zeros(design.shape[1])
        for _ in range(50):  # Newton's method (iteratively reweighted least squares)
            p = special.expit(a @ beta)
            step = np.linalg.solve(a.T @ (a * (p * (1.0 - p))[:, None]), a.T @ (dry - p))
            beta += step
            if np.max(np.abs(step)) < 1e-12:
                break
        out[row] = special.expit(design @ beta)
    return out.reshape(da.shape)
