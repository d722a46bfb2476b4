"""Diagnostic figure of a fit (matplotlib, imported only when a figure is asked for)."""

from typing import TYPE_CHECKING, Any

import numpy as np
import numpy.typing as npt

from ferrule._goodness import goodness_of_fit, plotting_positions
from ferrule._input import as_float_array

if TYPE_CHECKING:
    from ferrule._result import Fit

__all__ = ["plot_fit"]


def _figure_class() -> Any:
    try:
        from matplotlib.figure import Figure
    except ImportError:
        raise ImportError(
            "Fit.plot needs matplotlib, an optional extra of ferrule: "
            "pip install 'ferrule[plot]' (or pip install matplotlib)"
        ) from None
    return Figure


def plot_fit(fit: "Fit", data: npt.ArrayLike, *, figure: Any = None) -> Any:
    x = as_float_array(data)
    x = np.sort(x[~np.isnan(x)])
    if x.size == 0:
        raise ValueError("no values to plot: the data are empty or all NaN")
    if figure is None:
        figure = _figure_class()(figsize=(12.0, 4.0), layout="constrained")
    density, qq, exceedance = figure.subplots(1, 3)
    inside = x[(fit.left < x) & (x < fit.right)]

    # Density of the continuous part against a histogram of the uncensored values, both
    # as densities of all values (the censored share is missing from both alike).
    if inside.size:
        counts, edges = np.histogram(inside, bins="auto")
        density.stairs(counts / (x.size * np.diff(edges)), edges, fill=True, color="0.8",
                       label="data")  # fmt: skip
        grid = np.linspace(inside[0], inside[-1], 400)
        density.plot(grid, fit.pdf(grid), color="C0", label=f"{fit.family} fit")
        density.legend()
    density.set(title="density", xlabel="value", ylabel="density")

    # Q-Q: standardised uncensored values against the normal quantiles of their ranks
    # among all values (the censored ones take the ranks below and above them).
    judged = goodness_of_fit(fit, x)
    theoretical = judged.quantiles
    qq.plot(theoretical, judged.scores, ".", color="C0", markersize=3)
    if theoretical.size:
        line = np.array([theoretical[0], theoretical[-1]])
        qq.plot(line, line, color="0.4", linewidth=1)
    qq.set(title="normal Q-Q (uncensored)", xlabel="normal quantile", ylabel="standardised value")

    # Exceedance on a log scale: the tail is what matters for floods. Infinite values (beyond
    # a threshold) keep their ranks but have no place on the axis.
    finite = np.isfinite(x)
    empirical = 1.0 - plotting_positions(0, x.size, 0)
    if finite.any():
        exceedance.plot(x[finite], empirical[finite], ".", color="0.4", markersize=3,
                        label="data")  # fmt: skip
        grid = np.linspace(x[finite][0], x[finite][-1], 400)
        exceedance.plot(grid, fit.sf(grid), color="C0", label=f"{fit.family} fit")
        exceedance.legend()
    exceedance.set(title="exceedance", xlabel="value", ylabel="P(X > x)", yscale="log")
    return figure
