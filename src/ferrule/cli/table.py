"""The report of a run: a plain-text comparison table, or the same results as JSON."""

import json
import math
import textwrap
from dataclasses import dataclass

import numpy as np

from ferrule.cli.fitting import AUTO, OPTIMISERS, FitOutcome, FitSettings
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
        optimiser = "auto (simplex for yjt, sce for the rest)"
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
        f"prior {'on' if settings.prior else 'off'}",
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
        names = outcome.family.param_names
        params = "  ".join(f"{n}={_g(v)}" for n, v in zip(names, outcome.natural, strict=False))
        mu, sigma = outcome.natural[-2:]
        count = "?" if outcome.count is None else str(outcome.count)
        rows[outcome.family.key] = [
            outcome.family.key,
            params,
            _g(mu),
            _g(sigma),
            _fixed(outcome.log_lik, 2),
            _fixed(outcome.aic, 2),
            f"{outcome.optimiser} {count}",
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


def _flags(outcome: FitOutcome) -> str:
    return (
        ("!" if outcome.problems else "")
        + ("#" if not outcome.comparable else "")
        + ("*" if outcome.hit_limit else "")
    )


def rankable(outcome: FitOutcome) -> bool:
    return not outcome.problems and outcome.comparable and math.isfinite(outcome.aic)


def _notes(report: Report) -> list[str]:
    notes = [
        "log-lik: censored log-likelihood at the optimum (the prior not included); "
        "AIC = 2k - 2 log-lik, k = 3 (yjt) or 4. optimiser: the search that ran and its count "
        "(simplex iterations, de generations, sce likelihood evaluations).",
        "PPCC: correlation of the normal Q-Q plot of the standardised uncensored values, "
        "ranked within the whole sample (1 = straight line).",
        "AD: Anderson-Darling statistic of the uncensored values against the fitted normal "
        "between the thresholds (smaller is better).",
        "Parameters refer to the rescaled values; yjt, logsinh and sinhasinh model "
        "(T(x)-mu)/sigma, jpt models T((x-mu)/sigma) as standard normal.",
    ]
    for outcome in report.outcomes:
        if outcome.problems:
            notes.append(
                f"! {outcome.family.key} is not a valid fit: {', '.join(outcome.problems)}."
                + (
                    " The simplex search is not held inside the search box; --optimiser sce or"
                    " de searches within it."
                    if outcome.optimiser == "simplex"
                    else ""
                )
            )
    if any(not outcome.comparable for outcome in report.outcomes):
        notes.append(
            "# jpt: a censored value enters its likelihood as Phi((T(L)-mu)/sigma), not as the"
            " mass Phi(T((L-mu)/sigma)) that its density leaves below the threshold; with"
            " censored values its log-lik and AIC cannot be ranked against the other families."
        )
    if any(outcome.hit_limit for outcome in report.outcomes):
        notes.append(
            "* the optimiser stopped at its iteration limit: the result may not be optimal."
        )
    ranked = [o for o in report.outcomes if rankable(o)]
    if len(ranked) > 1:
        best = min(ranked, key=lambda o: o.aic)
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
        names = outcome.family.param_names
        fits.append(
            {
                "family": outcome.family.key,
                "optimiser": outcome.optimiser,
                "parameters": {n: _number(v) for n, v in zip(names, outcome.natural, strict=False)},
                "mu": _number(outcome.natural[-2]),
                "sigma": _number(outcome.natural[-1]),
                "search_vector": [_number(v) for v in outcome.search],
                "log_likelihood": _number(outcome.log_lik),
                "aic": _number(outcome.aic),
                "count": outcome.count,
                "iteration_limit_reached": outcome.hit_limit,
                "valid": not outcome.problems,
                "problems": outcome.problems,
                "comparable": outcome.comparable,
                "censored_left": outcome.n_left,
                "uncensored": int(outcome.z.size),
                "censored_right": outcome.n_right,
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
        },
        "fits": fits,
        "not_fitted": [{"family": key, "reason": reason} for key, reason in report.not_fitted],
    }
    return json.dumps(document, indent=2, allow_nan=False) + "\n"
