"""Command-line entry point: `ferrule fit ...` and `python -m ferrule fit ...`."""

import math
import sys

import numpy as np

from ferrule.cli.errors import CliError
from ferrule.cli.families import FAMILIES
from ferrule.cli.fitting import FitSettings, NotFitted, fit_family
from ferrule.cli.parser import build_parser
from ferrule.cli.readers import read_series
from ferrule.cli.table import Report, render_json, render_table

__all__ = ["main"]


def main(argv: list[str] | None = None) -> int:
    """Runs the command line; returns the exit status: 0 done, 1 failed input or fit, 2 usage."""
    parser = build_parser()
    args = parser.parse_args(argv)
    try:
        return _fit(args)
    except CliError as err:
        print(f"ferrule: error: {err}", file=sys.stderr)
        return err.status


def auto_scale(values: np.ndarray, shift: float) -> float:
    """The power of ten 10^-k that brings the largest |x + shift| into [1, 10).

    Log-sinh in particular needs values of order one; a power of ten keeps the fitted
    parameters easy to read back into the data's units."""
    largest = float(np.max(np.abs(values + shift)))
    if not largest > 0.0:
        return 1.0
    return 10.0 ** -math.floor(math.log10(largest))


def _kestrel_unavailable(err: ImportError) -> str:
    return f"the extension module ferrule.kestrel cannot be loaded: {err}"


def _fit(args) -> int:
    if args.plot is not None:
        from ferrule.cli.plot import check_matplotlib

        check_matplotlib()
    try:
        from ferrule import kestrel  # noqa: F401
    except ImportError as err:
        raise CliError(_kestrel_unavailable(err)) from None

    series = read_series(args.input, args.column, args.header, args.delimiter)
    left = args.left if args.left is not None else (0.0 if series.bundled else -np.inf)
    if not left < args.right:
        raise CliError(
            f"the left threshold ({left:g}) must be below the right one ({args.right:g})", 2
        )
    scale = args.scale if args.scale is not None else auto_scale(series.values, args.shift)
    settings = FitSettings(
        optimiser=args.optimiser,
        left=left,
        right=args.right,
        rescale=args.rescale,
        scale=scale,
        shift=args.shift,
        prior=args.prior,
        max_converge=args.max_converge,
        max_eval=args.max_eval,
    )

    # Named families are fitted in the order given, each once; by default all four.
    chosen = list(dict.fromkeys(args.families or FAMILIES))
    outcomes, not_fitted = [], []
    for key in chosen:
        try:
            outcome = fit_family(FAMILIES[key], series.values, settings)
        except NotFitted as err:
            not_fitted.append((key, str(err)))
            continue
        if args.verbose:
            for line in outcome.console:
                print(f"[{key}] {line}", file=sys.stderr)
        outcomes.append(outcome)

    report = Report(series, settings, outcomes, not_fitted, chosen)
    sys.stdout.write(render_json(report) if args.json else render_table(report))
    sys.stdout.flush()
    if args.plot is not None and outcomes:
        from ferrule.cli.plot import write_plot

        write_plot(report, args.plot)
        print(f"figure written to {args.plot}", file=sys.stderr)
    # An invalid optimum fails the run. A family that cannot be applied to this series is
    # only left out of the default set; asked for by name, it fails the run too.
    failed = (
        not outcomes
        or any(outcome.problems for outcome in outcomes)
        or (args.families is not None and not_fitted)
    )
    return 1 if failed else 0
