"""The report of a run: a plain-text comparison table, or the same results as JSON."""

import json
import math
import textwrap
from dataclasses import dataclass

import numpy as np

from ferrule.cli.families import families
from ferrule.cli.fitting import (
    AUTO,
    OPTIMISERS,
    FitOutcome,
    FitSettings,
    default_optimisers,
    grouped,
)
from ferrule.cli.missing import EMPTY
from ferrule.cli.readers import Series


@dataclass(frozen=True)
class Report:
    series: Series
    settings: FitSettings
    outcomes: list[FitOutcome]
    not_fitted: list[tuple[str, str]]  # (family key, reason)
    order: list[str]  # family keys in the order asked for


def _g(value: float, digits: int = 4) -> str:
    return f"{value:.{digits}g}"


def _fixed(value: float, decimals: int) -> str:
    return f"{value:.{decimals}f}" if math.isfinite(value) else f"{value}"


def _describe_input(report: Report) -> list[str]:
    series, settings = report.series, report.settings
    values = series.values
    column = f", column {series.column}" if series.column else ""
    missing = f" ({_describe_missing(series)})" if series.missing else ""
    below = int(np.sum(values <= settings.left))
    above = int(np.sum(values >= settings.right))
    if settings.optimiser == AUTO:
        optimiser = f"auto ({default_optimisers()})"
    else:
        optimiser = f"{settings.optimiser} ({OPTIMISERS[settings.optimiser][1]})"
    if settings.rescale:
        rescaling = f"x -> (x + {_g(settings.shift, 6)}) * {_g(settings.scale, 6)}"
    else:
        rescaling = "off"
    return [
        f"input:      {series.source}{column}: {values.size} values{missing}, "
        f"min {_g(values.min(), 6)}, max {_g(values.max(), 6)}",
        f"censoring:  {below} at or below left threshold {_g(settings.left, 6)}, "
        f"{above} at or above right threshold {_g(settings.right, 6)}",
        f"fit:        optimiser {optimiser}, rescaling {rescaling}, "
        f"prior {'on' if settings.prior else 'off'}, seed {settings.seed}",
    ]


def _describe_missing(series: Series) -> str:
    """What was dropped, by the marker that matched: "5 missing dropped: 3 empty, 2 '-999'"."""
    kinds = ", ".join(
        f"{count} {marker if marker == EMPTY else repr(marker)}"
        for marker, count in series.missing_by_marker.items()
    )
    return f"{series.missing} missing dropped" + (f": {kinds}" if kinds else "")


def render_table(report: Report) -> str:
    headings = [
        "family",
        "parameters",
        "mu",
        "sigma",
        "log-lik",
        "AIC",
        "optimiser",
        "PPCC",
        "AD",
        "notes",
    ]
    rows = {}
    for outcome in report.outcomes:
        fit = outcome.fit
        params = "  ".join(f"{name}={_g(value)}" for name, value in fit.params.items())
        rows[outcome.family.key] = [
            outcome.family.key,
            params,
            _g(fit.mu),
            _g(fit.sigma),
            _fixed(fit.loglik, 2),
            _fixed(fit.aic, 2),
            _search(outcome.optimiser, fit),
            _fixed(outcome.ppcc, 4),
            _g(outcome.anderson_darling, 3),
            _flags(outcome),
        ]
    widths = [max(len(r[i]) for r in [headings, *rows.values()]) for i in range(len(headings))]
    left_aligned = {0, 1, 6, len(headings) - 1}

    def line(cells: list[str]) -> str:
        return "  ".join(
            cell.ljust(w) if i in left_aligned else cell.rjust(w)
            for i, (cell, w) in enumerate(zip(cells, widths, strict=True))
        ).rstrip()

    out = _describe_input(report) + [""]
    out.append(line(headings))
    out.append(line(["-" * w for w in widths]))
    reasons = dict(report.not_fitted)
    for key in report.order:
        if key in rows:
            out.append(line(rows[key]))
        else:
            out.append(f"{key.ljust(widths[0])}  not fitted: {reasons[key]}")
    out.append("")
    for note in _notes(report):
        out.extend(textwrap.wrap(note, width=100, subsequent_indent="  ", break_on_hyphens=False))
    return "\n".join(out) + "\n"


def _count(value: int) -> str:
    return "?" if value < 0 else str(value)


def _flags(outcome: FitOutcome) -> str:
    return ("!" if not outcome.fit.valid else "") + ("*" if outcome.fit.limit_reached else "")


def rankable(outcome: FitOutcome) -> bool:
    return outcome.fit.valid and math.isfinite(outcome.fit.aic)


def _parameter_counts() -> str:
    """ "k = 3 (yjt) or 4 (the rest)", from the registry."""
    counts: dict[str, list[str]] = {}
    for family in families().values():
        counts.setdefault(str(len(family.info.natural_names)), []).append(family.key)
    return "k = " + grouped(counts, "{value} ({keys})", " or ")


def _modelled_scales() -> str:
    """ "yjt, logsinh and sinhasinh model (T(x)-mu)/sigma, jpt models T((x-mu)/sigma)"."""
    phrases = []
    for raw, formula in ((False, "(T(x)-mu)/sigma"), (True, "T((x-mu)/sigma)")):
        keys = [f.key for f in families().values() if f.models_raw_value is raw]
        if keys:
            names = " and ".join([", ".join(keys[:-1]), keys[-1]] if len(keys) > 1 else keys)
            phrases.append(f"{names} model{'' if len(keys) > 1 else 's'} {formula}")
    return ", ".join(phrases)


def _search(optimiser: str, fit) -> str:
    """The optimiser cell: the search and its count, "settled" for a fit that needed none."""
    count = "settled" if fit.runs == 0 else fit.count
    return f"{optimiser} {count} ({_count(fit.evaluations)} ev)"


def _notes(report: Report) -> list[str]:
    notes = [
        "log-lik: censored log-likelihood at the optimum in the data's own units (the prior "
        "not included), so that every family and any --scale compare; AIC = 2 k - 2 log-lik, "
        f"{_parameter_counts()}. optimiser: the search that ran and its count (simplex "
        "iterations, de generations, sce likelihood evaluations), then the likelihood "
        'evaluations it made ("settled": the polished starting points agreed on one optimum, '
        "so the search did not have to run).",
        "PPCC: correlation of the normal Q-Q plot of the standardised uncensored values, "
        "ranked within the whole sample (1 = straight line).",
        "AD: Anderson-Darling statistic of the uncensored values against the fitted normal "
        "between the thresholds (smaller is better).",
        f"Parameters refer to the rescaled values; {_modelled_scales()} as standard normal.",
    ]
    for outcome in report.outcomes:
        if not outcome.fit.valid:
            notes.append(
                f"! {outcome.family.key} is not a valid fit: {'; '.join(outcome.problems)}."
                + (
                    " The simplex search is not held inside the search box; --optimiser sce or"
                    " de searches within it."
                    if outcome.optimiser == "simplex"
                    else ""
                )
            )
    if any(outcome.fit.limit_reached for outcome in report.outcomes):
        notes.append(
            "* the optimiser stopped at its limit (the simplex's iterations, de's generations, or"
            " more likelihood evaluations than --max-eval for sce): the result may not be optimal."
        )
    ranked = [o for o in report.outcomes if rankable(o)]
    if len(ranked) > 1:
        best = min(ranked, key=lambda o: o.fit.aic)
        notes.append(f"Lowest AIC: {best.family.key} ({best.family.title}).")
    return notes


def _number(value: float) -> float | None:
    """JSON has no inf or nan: those become null."""
    return float(value) if math.isfinite(value) else None


def _threshold(value: float) -> float | str:
    return float(value) if math.isfinite(value) else str(value)


def render_json(report: Report) -> str:
    series, settings = report.series, report.settings
    fits = []
    for outcome in report.outcomes:
        fit = outcome.fit
        fits.append(
            {
                "family": outcome.family.key,
                "optimiser": outcome.optimiser,
                "parameters": {name: _number(value) for name, value in fit.params.items()},
                "mu": _number(fit.mu),
                "sigma": _number(fit.sigma),
                "search_vector": [_number(v) for v in fit.search],
                "log_likelihood": _number(fit.loglik),
                "aic": _number(fit.aic),
                "count": fit.count,
                "count_unit": fit.count_unit,
                "evaluations": fit.evaluations,
                "limit_reached": fit.limit_reached,
                # The earlier name of limit_reached, kept for existing readers.
                "iteration_limit_reached": fit.limit_reached,
                "valid": fit.valid,
                "problems": list(fit.problems),
                "notes": list(fit.notes),
                "censored_left": fit.n_left,
                "uncensored": fit.n_uncensored,
                "censored_right": fit.n_right,
                "ppcc": _number(outcome.ppcc),
                "anderson_darling": _number(outcome.anderson_darling),
            }
        )
    document = {
        "input": {
            "source": series.source,
            "column": series.column,
            "values": int(series.values.size),
            "missing_skipped": series.missing,
            "missing_by_marker": dict(series.missing_by_marker),
        },
        "settings": {
            "optimiser": settings.optimiser,
            "left": _threshold(settings.left),
            "right": _threshold(settings.right),
            "rescale": settings.rescale,
            "scale": settings.scale,
            "shift": settings.shift,
            "prior": settings.prior,
            "seed": settings.seed,
            "max_converge": settings.max_converge,
            "max_eval": settings.max_eval,
            "fast": settings.fast,
        },
        "fits": fits,
        "not_fitted": [{"family": key, "reason": reason} for key, reason in report.not_fitted],
    }
    return json.dumps(document, indent=2, allow_nan=False) + "\n"
