"""The diagnostic figure: the data with the fitted densities, and a normal Q-Q plot per family."""

import math

import numpy as np

from ferrule.cli.errors import CliError
from ferrule.cli.normality import normal_cdf, normal_quantiles, plotting_positions
from ferrule.cli.table import Report

_COLOURS = {"yjt": "tab:blue", "logsinh": "tab:orange", "sinhasinh": "tab:green", "jpt": "tab:red"}
_MARKERS = {"yjt": "o", "logsinh": "s", "sinhasinh": "^", "jpt": "D"}


def check_matplotlib() -> None:
    """Fails before any fit runs when the figure could not be drawn."""
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        raise CliError(
            "--plot needs matplotlib, which is not installed; "
            "install it with: pip install 'ferrule[plot]' (or pip install matplotlib)"
        ) from None


def write_plot(report: Report, path: str) -> None:
    """Draws the valid fits; one that explains nothing (see the table's notes) is left out."""
    # The figure is drawn with the Agg canvas alone: no display or GUI toolkit is needed.
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from matplotlib.figure import Figure

    figure = Figure(figsize=(12, 5), layout="constrained")
    FigureCanvasAgg(figure)
    density_axes, qq_axes = figure.subplots(1, 2)
    shown = [outcome for outcome in report.outcomes if not outcome.problems]
    _draw_densities(density_axes, report, shown)
    _draw_qq(qq_axes, shown)
    figure.suptitle(f"ferrule fit: {report.series.source}")
    try:
        figure.savefig(path, dpi=100)
    except (OSError, ValueError) as err:
        raise CliError(f"cannot write the figure to '{path}': {err}") from None


def _draw_densities(axes, report: Report, outcomes: list) -> None:
    settings, values = report.settings, report.series.values
    inside = values[(values > settings.left) & (values < settings.right)]
    n = values.size
    low = inside.min() if inside.size else values.min()
    high = inside.max() if inside.size else values.max()
    if math.isfinite(settings.left):
        low = settings.left
    if math.isfinite(settings.right):
        high = min(high, settings.right)
    bins = np.linspace(low, high, 41)
    # Weighted by 1 / (n * width), the histogram integrates to the uncensored share of all n
    # values, as the fitted density over the open interval between the thresholds does.
    heights, _, _ = axes.hist(
        inside,
        bins=bins,
        weights=np.full(inside.size, 1.0 / (n * (bins[1] - bins[0]))),
        color="0.8",
        edgecolor="0.55",
        label=f"data, {inside.size} uncensored of {n}",
    )
    span = high - low
    grid = np.linspace(low + 1e-3 * span, high - 1e-3 * span, 400)
    for outcome in outcomes:
        density = _raw_density(outcome, grid, settings)
        label = outcome.family.key
        if outcome.n_left:
            share = float(normal_cdf(np.array([outcome.z_thresholds[0]]))[0])
            label += (
                f" (fitted P(x <= {settings.left:g}) {share:.3f}, data {outcome.n_left / n:.3f})"
            )
        axes.plot(grid, density, color=_COLOURS[outcome.family.key], label=label)
    top = heights.max() if heights.size and heights.max() > 0 else 1.0
    axes.set_ylim(0.0, 1.5 * top)
    axes.set_xlim(low, high)
    column = report.series.column or "value"
    axes.set_xlabel(column)
    axes.set_ylabel("density")
    axes.set_title("data and fitted densities (uncensored range)")
    axes.legend(fontsize="small")


def _raw_density(outcome, grid: np.ndarray, settings) -> np.ndarray:
    """Fitted density in the data's own units.

    log_density gives the density of the rescaled value; the rescaling's factor |scale| turns it
    into the density of the raw value."""
    family, model = outcome.family, outcome.model
    params = np.array(outcome.search, dtype=np.float64)
    shift = settings.shift if settings.rescale else 0.0
    x = family.prepare(grid, shift)
    bounds = family.prepare(np.array([settings.left, settings.right]), shift)
    factor = abs(settings.scale) if settings.rescale else 1.0
    left, right = float(bounds[0]), float(bounds[1])
    log_f = np.array(
        [model.log_density(params, float(v), left, right, settings.rescale) for v in x]
    )
    with np.errstate(over="ignore"):
        return np.exp(log_f) * factor


def _draw_qq(axes, outcomes: list) -> None:
    lowest, highest = math.inf, -math.inf
    for outcome in outcomes:
        if outcome.z.size == 0:
            continue
        positions = plotting_positions(outcome.n_left, outcome.z.size, outcome.n_right)
        q = normal_quantiles(positions)
        key = outcome.family.key
        axes.plot(
            q,
            outcome.z,
            linestyle="none",
            marker=_MARKERS[key],
            markersize=3,
            alpha=0.6,
            color=_COLOURS[key],
            label=f"{key} (PPCC {outcome.ppcc:.4f})",
        )
        lowest = min(lowest, q[0])
        highest = max(highest, q[-1])
    if math.isfinite(lowest):
        axes.plot([lowest, highest], [lowest, highest], color="black", linestyle="--", label="1:1")
    axes.set_xlabel("standard normal quantile (ranked within the whole sample)")
    axes.set_ylabel("standardised transformed value")
    axes.set_title("normal Q-Q plot of the uncensored values")
    axes.legend(fontsize="small")
