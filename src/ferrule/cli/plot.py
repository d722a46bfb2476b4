"""The diagnostic figure: the data with the fitted densities, and a normal Q-Q plot per family."""

import math
import warnings
from pathlib import Path

import numpy as np

import ferrule
from ferrule.cli.errors import FAILED, CliError
from ferrule.cli.families import Family, families
from ferrule.cli.table import Report

# Colour and marker by the family's place in the registry.
_STYLES = (("tab:blue", "o"), ("tab:orange", "s"), ("tab:green", "^"), ("tab:red", "D"))


def _style(family: Family) -> tuple[str, str]:
    return _STYLES[list(families()).index(family.key) % len(_STYLES)]


def check_matplotlib() -> None:
    """Fails before any fit runs when the figure could not be drawn."""
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        raise CliError(
            "--plot needs matplotlib, which is not installed; "
            "install it with: pip install 'ferrule[plot]' (or pip install matplotlib)",
            FAILED,
        ) from None


def check_destination(path: str) -> None:
    """Fails before any fit runs when the figure could not be written where asked."""
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from matplotlib.figure import Figure

    target = Path(path)
    if target.is_dir():
        raise CliError(f"--plot {path}: that is a directory; name the figure file")
    if not target.parent.is_dir():
        raise CliError(f"--plot {path}: the folder '{target.parent}' does not exist")
    kinds = FigureCanvasAgg(Figure()).get_supported_filetypes()
    suffix = target.suffix.lower().lstrip(".")
    if suffix and suffix not in kinds:
        raise CliError(
            f"--plot {path}: cannot write a '.{suffix}' figure (choose from "
            f"{', '.join('.' + kind for kind in sorted(kinds))})"
        )


class FigureNotDrawn(Exception):
    """The figure could not be drawn for this series or these fits; the text says why."""


def write_plot(report: Report, path: str) -> list[str]:
    """Draws the valid fits; one that explains nothing (see the table's notes) is left out.

    Returns notes on what the figure leaves out. Raises FigureNotDrawn when nothing sensible
    can be drawn, and CliError when the file cannot be written.

    Examples
    --------
    >>> write_plot(report, "fit.png")  # doctest: +SKIP
    []
    """
    # The figure is drawn with the Agg canvas alone: no display or GUI toolkit is needed.
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from matplotlib.figure import Figure

    notes: list[str] = []
    shown = [outcome for outcome in report.outcomes if outcome.fit.valid]
    if shown and len(shown) < len(report.outcomes):
        left_out = [o.family.key for o in report.outcomes if not o.fit.valid]
        notes.append(f"the figure leaves out {', '.join(left_out)}: not a valid fit")
    figure = Figure(figsize=(12, 5), layout="constrained")
    FigureCanvasAgg(figure)
    density_axes, qq_axes = figure.subplots(1, 2)
    # Degenerate data are dealt with here; what matplotlib or NumPy still warn about would
    # only repeat it.
    with warnings.catch_warnings(), np.errstate(all="ignore"):
        warnings.simplefilter("ignore")
        try:
            _draw_densities(density_axes, report, shown, notes)
            _draw_qq(qq_axes, shown)
        except (ValueError, ArithmeticError, RuntimeError) as err:
            raise FigureNotDrawn(f"{type(err).__name__}: {err}") from None
        figure.suptitle(f"ferrule fit: {report.series.source}")
        try:
            # The kind comes from the name asked for (PNG without a suffix), not from the
            # temporary file's.
            kind = Path(path).suffix.lower().lstrip(".") or "png"
            with ferrule.atomic_path(path) as temporary:
                figure.savefig(temporary, dpi=100, format=kind)
        except (OSError, ValueError) as err:
            raise CliError(f"cannot write the figure to '{path}': {err}", FAILED) from None
    return notes


def _value_range(report: Report, inside: np.ndarray) -> tuple[float, float]:
    """The span of the density panel: the uncensored values, widened when they are one point."""
    settings, values = report.settings, report.series.values
    low = float(inside.min() if inside.size else values.min())
    high = float(inside.max() if inside.size else values.max())
    if math.isfinite(settings.left):
        low = settings.left
    if math.isfinite(settings.right):
        high = min(high, settings.right)
    if not high > low:
        middle = low if math.isfinite(settings.left) else 0.5 * (low + high)
        half = max(abs(middle) * 0.1, 0.5)
        low, high = middle - (0.0 if math.isfinite(settings.left) else half), middle + half
    return low, high


def _draw_densities(axes, report: Report, outcomes: list, notes: list[str]) -> None:
    settings, values = report.settings, report.series.values
    inside = values[(values > settings.left) & (values < settings.right)]
    n = values.size
    low, high = _value_range(report, inside)
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
        fit = outcome.fit
        try:
            # Strictly between the thresholds: the fitted density in the data's units.
            density = fit.pdf(grid)
        except (ValueError, ArithmeticError, RuntimeError) as err:
            notes.append(f"the fitted density of {outcome.family.key} cannot be drawn: {err}")
            continue
        if not np.isfinite(density).any():
            notes.append(f"the fitted density of {outcome.family.key} is not finite anywhere")
            continue
        label = outcome.family.key
        if fit.n_left:
            share = float(fit.cdf(settings.left))
            label += f" (fitted P(x <= {settings.left:g}) {share:.3f}, data {fit.n_left / n:.3f})"
        axes.plot(grid, density, color=_style(outcome.family)[0], label=label)
    top = heights.max() if heights.size and heights.max() > 0 else 1.0
    if not outcomes:
        notes.append("no valid fit to draw: the figure shows the data alone")
    axes.set_ylim(0.0, 1.5 * top)
    axes.set_xlim(low, high)
    column = report.series.column or "value"
    axes.set_xlabel(column)
    axes.set_ylabel("density")
    axes.set_title("data and fitted densities (uncensored range)")
    axes.legend(fontsize="small")


def _draw_qq(axes, outcomes: list) -> None:
    lowest, highest = math.inf, -math.inf
    for outcome in outcomes:
        if outcome.z.size == 0:
            continue
        q = outcome.goodness.quantiles
        colour, marker = _style(outcome.family)
        axes.plot(
            q,
            outcome.z,
            linestyle="none",
            marker=marker,
            markersize=3,
            alpha=0.6,
            color=colour,
            label=f"{outcome.family.key} (PPCC {outcome.ppcc:.4f})",
        )
        lowest = min(lowest, q[0])
        highest = max(highest, q[-1])
    axes.set_xlabel("standard normal quantile (ranked within the whole sample)")
    axes.set_ylabel("standardised transformed value")
    axes.set_title("normal Q-Q plot of the uncensored values")
    if math.isfinite(lowest):
        axes.plot([lowest, highest], [lowest, highest], color="black", linestyle="--", label="1:1")
        axes.legend(fontsize="small")
    else:
        axes.text(0.5, 0.5, "no valid fit", ha="center", va="center", transform=axes.transAxes)
