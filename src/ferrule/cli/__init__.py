"""Command-line entry point: `ferrule fit ...` and `python -m ferrule fit ...`."""

import os
import sys
import traceback

import numpy as np

import ferrule
from ferrule.cli.checks import check_enough_values, floor_warning
from ferrule.cli.errors import (
    BROKEN_PIPE,
    FAILED,
    INTERRUPTED,
    USAGE,
    CliError,
    in_option_words,
    warn,
)
from ferrule.cli.families import families
from ferrule.cli.fitting import FitSettings, NotFitted, fit_family
from ferrule.cli.outputs import refuse_inputs
from ferrule.cli.parser import build_parser
from ferrule.cli.readers import read_series
from ferrule.cli.table import Report, render_json, render_table

__all__ = ["main"]


def main(argv: list[str] | None = None) -> int:
    """Runs the command line and returns its exit status.

    0 done, 1 a failed fit, 2 unusable options or input, 130 interrupted (Ctrl-C); every
    problem is one "ferrule: error: ..." line on standard error, never a traceback.

    Examples
    --------
    >>> main(["fit", "--family", "yjt"])  # doctest: +SKIP
    0
    """
    verbose = False
    try:
        args = build_parser().parse_args(argv)
        verbose = getattr(args, "verbose", False)
        return getattr(args, "handler", _fit)(args)
    except CliError as err:
        print(f"ferrule: error: {err}", file=sys.stderr)
        return err.status
    except KeyboardInterrupt:
        print("ferrule: interrupted", file=sys.stderr)
        return INTERRUPTED
    except BrokenPipeError:
        # Whoever read standard output has gone (`ferrule fit | head`): nothing is left to
        # say, and what is still buffered must not fail again at exit.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return BROKEN_PIPE
    except MemoryError:
        print("ferrule: error: out of memory", file=sys.stderr)
        return FAILED
    except Exception as err:  # a fault of this program, still reported in one line
        if verbose:
            traceback.print_exc()
        print(
            f"ferrule: error: internal error ({type(err).__name__}: {err}); please report it"
            + ("" if verbose else ", with the output of the same command run with --verbose"),
            file=sys.stderr,
        )
        return FAILED


def _fit(args) -> int:
    if args.plot is not None:
        from ferrule.cli.plot import check_destination, check_matplotlib

        check_matplotlib()
        check_destination(args.plot)
        refuse_inputs("--plot", args.plot, args.input)
    registry = families()
    series = read_series(
        args.input,
        args.column,
        args.header,
        args.delimiter,
        encoding=args.encoding,
        na_values=args.na_values,
        decimal=args.decimal,
        comment=args.comment,
    )
    left = args.left if args.left is not None else (0.0 if series.bundled else -np.inf)
    if not left < args.right:
        raise CliError(
            f"the left threshold ({left:g}) must be below the right one ({args.right:g})", USAGE
        )
    check_enough_values(series.values, left, args.right, series.source)
    if args.left is None and (suggestion := floor_warning(series.values, left)):
        warn(suggestion)
    scale, shift = _rescaling(args, series.values)
    settings = FitSettings(
        optimiser=args.optimiser,
        left=left,
        right=args.right,
        rescale=args.rescale,
        scale=scale,
        shift=shift,
        prior=args.prior,
        seed=args.seed if args.seed is not None else _fresh_seed(),
        max_converge=args.max_converge,
        max_eval=args.max_eval,
        fast=args.fast,
    )

    # Named families are fitted in the order given, each once; by default every one.
    chosen = list(dict.fromkeys(args.families or registry))
    outcomes, not_fitted = [], []
    for key in chosen:
        try:
            outcome = fit_family(registry[key], series.values, settings)
        except NotFitted as err:
            not_fitted.append((key, str(err)))
            continue
        if args.verbose:
            for line in outcome.fit.console:
                print(f"[{key}] {line}", file=sys.stderr)
            sys.stderr.flush()
        outcomes.append(outcome)

    report = Report(series, settings, outcomes, not_fitted, chosen)
    sys.stdout.write(render_json(report) if args.json else render_table(report))
    sys.stdout.flush()
    if args.plot is not None:
        _plot(report, args.plot)
    # An invalid optimum fails the run. A family that cannot be applied to this series is
    # only left out of the default set; asked for by name, it fails the run too.
    failed = (
        not outcomes
        or any(not outcome.fit.valid for outcome in outcomes)
        or (args.families is not None and not_fitted)
    )
    return FAILED if failed else 0


def _rescaling(args, values: np.ndarray) -> tuple[float, float]:
    """The scale and shift every fit uses: 1 and 0 without rescaling."""
    if not args.rescale:
        if args.scale is not None or args.shift is not None:
            warn("--scale and --shift have no effect with --no-rescale")
        return 1.0, 0.0
    shift = 0.0 if args.shift is None else args.shift
    if args.scale is not None:
        return args.scale, shift
    try:
        return ferrule.auto_scale(values, shift), shift
    except ferrule.ArgumentError as err:  # values too small for a power of ten
        raise CliError(in_option_words(err)) from None


def _fresh_seed() -> int:
    """A 32-bit seed from fresh entropy: every family's fit runs with it, and the report
    shows it, so that the run can be repeated."""
    return int(np.random.SeedSequence().generate_state(1)[0])


def _plot(report: Report, path: str) -> None:
    """Writes the figure, or says on standard error why it could not; the report stands."""
    from ferrule.cli.plot import FigureNotDrawn, write_plot

    if not report.outcomes:
        warn(f"no figure written to {path}: no family was fitted")
        return
    try:
        notes = write_plot(report, path)
    except FigureNotDrawn as err:
        warn(f"no figure written to {path}: {err}")
        return
    for note in notes:
        warn(note)
    print(f"figure written to {path}", file=sys.stderr)
