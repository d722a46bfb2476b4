"""
One model per calendar month
============================

:func:`ferrule.fit_grid` fits every cell of an array along one axis; here the cells are the twelve
calendar months of the bundled Seattle series, arranged as a (month, day) array with NaN where a
month has fewer days in the record. Each month gets its own Yeo-Johnson model with dry days
censored at 0 mm, and the fitted probability of a dry day follows the season.
"""

from importlib import resources

import matplotlib.pyplot as plt
import numpy as np
import pandas as pd

import ferrule

bundled = resources.files("ferrule") / "data" / "seattle_precipitation.csv"
with resources.as_file(bundled) as path:
    daily = pd.read_csv(path, parse_dates=["date"], index_col="date")["precipitation"]

by_month = [daily[daily.index.month == m].to_numpy() for m in range(1, 13)]
values = np.full((12, max(len(v) for v in by_month)), np.nan)
for m, v in enumerate(by_month):
    values[m, : len(v)] = v

grid = ferrule.fit_grid(values, left=0.0, seed=1, n_jobs=1)
print("valid fits:", int(grid.valid.sum()), "of", grid.size)

# %%
# The fitted probability of a dry day (the censored mass) against the observed share, per month.
p_dry = np.array([float(grid.cell(m).cdf(0.0)) for m in range(12)])
observed = np.array([np.mean(v == 0.0) for v in by_month])
months = np.arange(1, 13)
figure, axes = plt.subplots(figsize=(8, 3.5))
axes.bar(months, observed, color="0.8", label="observed share of dry days")
axes.plot(months, p_dry, "o-", color="#b2182b", label="fitted P(dry)")
axes.set_xticks(months, ["J", "F", "M", "A", "M", "J", "J", "A", "S", "O", "N", "D"])
axes.set_ylim(0, 1)
axes.legend(loc="upper left")
figure.tight_layout()
