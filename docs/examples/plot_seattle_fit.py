"""
Fitting the Seattle rainfall, dry days censored
===============================================

The bundled series has a dry day on more than half of its days. Treating those days as left-censored
at 0 mm says only that the rain was at most 0 mm, so they contribute the probability mass below the
threshold rather than a density at one point. :meth:`ferrule.Fit.plot` draws the three views a
hydrologist looks at: the fitted density over a histogram of the wet days, a normal Q-Q plot of the
transformed wet days, and the probabilities of exceeding each amount on a log scale.
"""

from importlib import resources

import matplotlib.pyplot as plt
import numpy as np
import pandas as pd

import ferrule

bundled = resources.files("ferrule") / "data" / "seattle_precipitation.csv"
with resources.as_file(bundled) as path:
    rain = pd.read_csv(path, parse_dates=["date"], index_col="date")["precipitation"]

fit = ferrule.fit(rain, "yeo_johnson", left=0.0, seed=1)
print(fit.summary())

# %%
# The censored mass is the model's probability of a dry day; it should be close to the share of
# dry days in the record.
print(f"P(dry) fitted {float(fit.cdf(0.0)):.3f}, observed {np.mean(rain == 0.0):.3f}")

# %%
# The diagnostic figure, drawn into a figure of the page's width.
figure = fit.plot(rain, figure=plt.figure(figsize=(11, 3.8), layout="constrained"))
