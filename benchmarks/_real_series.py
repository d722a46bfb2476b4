"""Real series from data files shipped inside packages on PyPI, for the optimum benchmark.

Every series names its source file. Long ones are used as they are; short ones (n = 40 to
53) are yearly values of one calendar month or weekly totals of one quarter, the series a
standardised index fits cell by cell.

- ``statsmodels`` (PyPI ``statsmodels``): ``statsmodels/datasets/nile/nile.csv`` (annual
  Nile flow at Aswan, 1871-1970), ``statsmodels/datasets/engel/engel.csv`` (household
  income and food expenditure, 235 Belgian households), ``statsmodels/datasets/sunspots/
  sunspots.csv`` (yearly sunspot numbers 1700-2008, zeros censored at 0),
  ``statsmodels/datasets/strikes/strikes.csv`` (strike durations in days),
  ``statsmodels/datasets/elnino/elnino.csv`` (monthly sea surface temperature, 1950-2010;
  each calendar month's first 40 years is one short series).
- ferrule's bundled ``src/ferrule/data/seattle_precipitation.csv`` (daily precipitation,
  Seattle 2012-2015, itself from ``vega_datasets/_data/seattle-weather.csv`` of PyPI
  ``vega_datasets`` 0.9.0): the daily series (dry days censored at 0) and weekly totals of
  each quarter (n = 52 or 53, dry weeks censored at 0).
"""

from dataclasses import dataclass
from importlib import resources

import numpy as np


@dataclass(frozen=True)
class RealSeries:
    name: str
    values: np.ndarray
    left: float  # censoring threshold, -inf for none
    short: bool


def _statsmodels():
    from statsmodels import datasets  # noqa: PLC0415 (optional benchmark dependency)

    return datasets


def _seattle_daily():
    text = resources.files("ferrule").joinpath("data", "seattle_precipitation.csv").read_text()
    return np.array([float(line.split(",")[1]) for line in text.splitlines()[1:]])


def long_series():
    sm = _statsmodels()
    engel = sm.engel.load_pandas().data
    return [
        RealSeries("nile", sm.nile.load_pandas().data["volume"].to_numpy(float), -np.inf, False),
        RealSeries("engel income", engel["income"].to_numpy(float), -np.inf, False),
        RealSeries("engel food", engel["foodexp"].to_numpy(float), -np.inf, False),
        RealSeries("sunspots", sm.sunspots.load_pandas().data["SUNACTIVITY"].to_numpy(float), 0.0,
                   False),
        RealSeries("strikes", sm.strikes.load_pandas().data["duration"].to_numpy(float), -np.inf,
                   False),
        RealSeries("seattle daily", _seattle_daily(), 0.0, False),
    ]  # fmt: skip


def short_series():
    sm = _statsmodels()
    elnino = sm.elnino.load_pandas().data
    out = [
        RealSeries(f"elnino {month.lower()}", elnino[month].to_numpy(float)[:40], -np.inf, True)
        for month in elnino.columns[1:]
    ]
    daily = _seattle_daily()
    weekly = daily[: daily.size // 7 * 7].reshape(-1, 7).sum(axis=1)
    quarter = (np.arange(weekly.size) % 52) // 13
    out += [
        RealSeries(f"seattle weekly q{q + 1}", weekly[quarter == q], 0.0, True) for q in range(4)
    ]
    return out


def all_series(quick=False):
    series = long_series() + short_series()
    if quick:
        return [s for s in series if s.name in ("nile", "elnino jan", "seattle weekly q1")]
    return series
