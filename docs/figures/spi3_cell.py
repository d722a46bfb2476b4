"""Draws spi3_cell.png, the README's figure: the SPI-3 of one cell of a synthetic monthly
rain grid, 1991-2020, as ferrule.xarray.standardized_index computes it.

Usage: ``python docs/figures/spi3_cell.py`` (needs ferrule[xarray,plot]); writes the PNG
beside this script."""

from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt
import numpy as np
import pandas as pd
import xarray as xr

import ferrule.xarray as fx


def monthly_rain(seed=0):
    """A 5 x 6 grid of monthly totals (mm) with a dry summer, some months without rain."""
    rng = np.random.default_rng(seed)
    time = pd.date_range("1991-01-01", "2020-12-01", freq="MS")
    wet_share = 0.55 + 0.4 * np.cos(2 * np.pi * (time.month.values - 1) / 12)
    totals = rng.gamma(2.0, 40.0, size=(5, 6, time.size)) * wet_share
    totals[rng.random(totals.shape) < 0.3 * (1 - wet_share)] = 0.0
    coords = {"lat": np.linspace(50, 52, 5), "lon": np.linspace(4, 7, 6), "time": time}
    return xr.DataArray(
        totals.round(1),
        dims=("lat", "lon", "time"),
        coords=coords,
        name="pr",
        attrs={"units": "mm/month", "standard_name": "precipitation_amount"},
    )


def main():
    spi3 = fx.standardized_index(
        monthly_rain(), accumulate=3, calibration=slice("1991", "2020"), seed=1
    )
    cell = spi3.isel(lat=2, lon=3).sel(time=slice("2011", "2020"))
    figure, axes = plt.subplots(figsize=(8, 2.6), dpi=80)
    colours = np.where(cell.values < 0, "#b2182b", "#2166ac")
    axes.bar(cell.indexes["time"].to_pydatetime(), cell.values, width=25, color=colours)
    axes.axhline(-1.0, color="grey", linewidth=0.6, linestyle="--")
    axes.set_ylabel("SPI-3")
    axes.set_title(
        f"{cell.attrs['long_name']}\nlat {float(cell.lat):.1f}, lon {float(cell.lon):.1f}",
        fontsize=9,
    )
    figure.tight_layout()
    figure.savefig(Path(__file__).with_suffix(".png"))


if __name__ == "__main__":
    main()
