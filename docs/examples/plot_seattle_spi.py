"""
A standardised precipitation index of Seattle
=============================================

Monthly totals of the bundled daily series, summed over three months, give the SPI-3 of each month
of 2012-2015: :func:`ferrule.xarray.standardized_index` on a DataArray with one station. Four years
hold only four values per calendar month, too few to fit (the fits need 5 distinct values, and
those cells are NaN), so this example fits per season, twelve values each; with 30 years of a grid
the default, ``groupby="time.month"``, is the usual choice and the call is otherwise the same.
"""

import textwrap
from importlib import resources

import matplotlib.pyplot as plt
import numpy as np
import pandas as pd
import xarray as xr

import ferrule.xarray as fx

bundled = resources.files("ferrule") / "data" / "seattle_precipitation.csv"
with resources.as_file(bundled) as path:
    daily = pd.read_csv(path, parse_dates=["date"], index_col="date")["precipitation"]

monthly = daily.resample("MS").sum()
pr = xr.DataArray(
    monthly.to_numpy()[np.newaxis, :],
    dims=("station", "time"),
    coords={"station": ["Seattle"], "time": monthly.index.to_numpy()},
    name="pr",
    attrs={"units": "mm/month"},
)
spi3 = fx.standardized_index(pr, "yeo_johnson", accumulate=3, groupby="time.season", seed=1)
print(textwrap.fill(spi3.attrs["long_name"], 80))
# The first two months have no 3-month sum.
print("scores:", int(spi3.notnull().sum()), "of", spi3.size)

# %%
# Negative scores are drier than usual for the season, positive ones wetter.
cell = spi3.sel(station="Seattle")
figure, (top, bottom) = plt.subplots(2, 1, figsize=(8, 5), sharex=True)
top.bar(monthly.index, monthly.to_numpy(), width=25, color="#4a7ab5")
top.set_ylabel("mm/month")
colours = np.where(cell.values < 0, "#b2182b", "#2166ac")
bottom.bar(monthly.index, cell.values, width=25, color=colours)
bottom.axhline(0.0, color="black", linewidth=0.6)
bottom.set_ylabel("SPI-3")
figure.tight_layout()
