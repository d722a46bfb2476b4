"""
Four families on one series
===========================

``family="auto"`` fits every family and keeps the valid fit of lowest AIC; the others stay in
``fit.alternatives``. Here all four are fitted to the wet days of the bundled Seattle series (no
censoring, so that Jones-Pewsey takes part, and log-sinh is given a finite left threshold below the
smallest value), and their densities are drawn over the histogram.
"""

from importlib import resources

import matplotlib.pyplot as plt
import numpy as np
import pandas as pd

import ferrule

bundled = resources.files("ferrule") / "data" / "seattle_precipitation.csv"
with resources.as_file(bundled) as path:
    rain = pd.read_csv(path)["precipitation"].to_numpy()
wet = rain[rain > 0.0]

best = ferrule.fit(wet, "auto", left=0.0, seed=3)
fits = sorted((best, *best.alternatives), key=lambda f: f.aic)
for f in fits:
    print(f"{f.family:13} AIC {f.aic:9.2f}  valid {f.valid}  {'; '.join(f.problems)}")
print("kept:", best.family)

# %%
# Densities of the fitted distributions in millimetres; a fit that is not valid is dashed: it is
# not a model to use, whatever its AIC.
x = np.linspace(0.05, 40.0, 400)
figure, axes = plt.subplots(figsize=(8, 4))
axes.hist(wet, bins=60, range=(0, 40), density=True, color="0.85", label="wet days")
for f in fits:
    note = "" if f.valid else ", not valid"
    style = "-" if f.valid else "--"
    axes.plot(x, f.pdf(x), style, label=f"{f.family} (AIC {f.aic:.0f}{note})")
axes.set_xlabel("precipitation (mm/day)")
axes.set_ylabel("density")
axes.set_ylim(0, 0.35)
axes.legend()
figure.tight_layout()
