"""`ferrule index`: standardised index scores (such as the SPI-3) of a NetCDF variable."""

import argparse
import inspect
import math
import os
import re
import sys
from typing import Any

from ferrule.cli.errors import FAILED, USAGE, CliError
from ferrule.cli.options import (
    add_variable_options,
    family_or_auto,
    positive_int,
    seed,
    threshold,
)

__all__ = ["add_commands", "calibration_period"]

_DESCRIPTION = """\
Standardised index scores (such as the SPI) of a variable of a NetCDF file: the values,
summed over --accumulate steps, are fitted per grid cell and group over the calibration
period, and every value becomes the standard normal score of its cell's and group's model.
Values at or below --left (dry spells) are scored by the --zeros convention. Needs xarray
and h5netcdf: pip install 'ferrule[xarray]'."""

_EPILOG = """\
zeros: upper (the top of the dry probability p0), center (its middle, the default), mean
(the normal's mean below the top, so scores average 0), random (a seeded draw within it,
so scores are standard normal). Exit status: 0 done, 1 no cell has a valid fit, 2 unusable
options or input, 130 interrupted."""


def calibration_period(text: str) -> Any:
    """ "1991-2020" (years) or "1991-01-01:2020-12-31" (first and last label).

    Examples
    --------
    >>> calibration_period("1991-2020")
    slice('1991', '2020', None)
    >>> calibration_period("1991-03-01:2020-02-29")
    ('1991-03-01', '2020-02-29')
    """
    years = re.fullmatch(r"\s*(\d{4})\s*-\s*(\d{4})\s*", text)
    if years:
        return slice(years.group(1), years.group(2))
    start, colon, stop = text.partition(":")
    if not colon or not start.strip() or not stop.strip():
        raise argparse.ArgumentTypeError(
            f"expected years such as 1991-2020 or dates such as 1991-01-01:2020-12-31, not '{text}'"
        )
    return (start.strip(), stop.strip())


def _groupby(text: str | None) -> str | None:
    """The grouping asked for: the library's default when none is named, no groups for "none"."""
    if text is None:
        from ferrule.xarray import standardized_index

        return inspect.signature(standardized_index).parameters["groupby"].default
    return None if text.strip().lower() == "none" else text.strip()


def _accumulation(text: str) -> int | str:
    return int(text) if text.strip().isdigit() else text.strip()


def _adequate(text: str) -> float | None:
    if text.strip().lower() == "none":
        return None
    value = threshold(text)
    if not 0.0 <= value <= 1.0:
        raise argparse.ArgumentTypeError(
            f"--adequate takes a level in [0, 1] or none, not '{text}'"
        )
    return value


def _clip(text: str) -> float | None:
    if text.strip().lower() == "none":
        return None
    value = threshold(text)
    if not (value > 0 and math.isfinite(value)):
        raise argparse.ArgumentTypeError(f"--clip takes a positive number or none, not '{text}'")
    return value


# The options of the fits and of the scores: flag and add_argument's keywords.
_FIT_OPTIONS: tuple[tuple[str, dict[str, Any]], ...] = (
    ("--family", {"type": family_or_auto, "default": "auto", "metavar": "NAME",
                  "help": "a family, or auto: the best valid fit by AIC per cell and group "
                  "(default)"}),
    ("--adequate", {"type": _adequate, "default": None, "metavar": "P|none",
                    "help": "with auto, fit the families in turn and stop at the first valid "
                    "fit that passes the Anderson-Darling normality test at level P "
                    "(such as 0.25; default none: every family)"}),
    ("--accumulate", {"type": _accumulation, "default": None, "metavar": "N|SPAN",
                      "help": "sum N steps (or a span such as 90D or 3MS) before fitting"}),
    ("--groupby", {"default": None, "metavar": "GROUP",
                   "help": "month (default), season, dayofyear, or none"}),
    ("--window", {"type": int, "default": None, "metavar": "DAYS",
                  "help": "with --groupby dayofyear: pool the days within +-DAYS of each day"}),
    ("--calibration", {"type": calibration_period, "default": None, "metavar": "PERIOD",
                       "help": "the period fitted: 1991-2020, or 1991-01-01:2020-12-31 "
                       "(default: the whole record)"}),
    ("--left", {"type": threshold, "default": 0.0, "metavar": "X",
                "help": "values at or below X are dry, censored there (default: 0)"}),
    ("--fast", {"action": "store_true",
                "help": "one optimiser run per fit, no restarts or polish (default: restart "
                "and polish until the optimum repeats)"}),
    ("--seed", {"type": seed, "default": None, "metavar": "N",
                "help": "base seed of the fits and of --zeros random (default: drawn, and "
                "stored in the output)"}),
    ("--save-params", {"metavar": "PARAMS.nc",
                       "help": "also write the fitted parameters, for --params later"}),
)  # fmt: skip
_SCORE_OPTIONS: tuple[tuple[str, dict[str, Any]], ...] = (
    ("--params", {"metavar": "PARAMS.nc",
                  "help": "apply parameters saved by --save-params instead of fitting"}),
    ("--zeros", {"choices": ("upper", "center", "mean", "random"), "default": "center",
                 "help": "the score of dry values (default: center)"}),
    ("--p0", {"choices": ("model", "empirical"), "default": "model",
              "help": "the dry probability: the model's (default) or the share fitted"}),
    ("--clip", {"type": _clip, "default": 8.21, "metavar": "Z",
                "help": "clip scores to +-Z, or none (default: 8.21)"}),
    ("--jobs", {"type": positive_int, "default": None, "metavar": "N",
                "help": "threads (default: every core)"}),
)  # fmt: skip


def add_commands(commands: argparse._SubParsersAction) -> None:
    """Adds `index` to the command line's subcommands."""
    index = commands.add_parser(
        "index",
        help="standardised index scores (SPI-like) of a NetCDF variable",
        description=_DESCRIPTION,
        epilog=_EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    index.add_argument("input", metavar="IN.nc", help="the NetCDF file holding the data")
    add_variable_options(index)
    index.add_argument("--out", required=True, metavar="INDEX.nc", help="the file to write")
    groups = (
        (index.add_argument_group("fits (with --params: the parameters' own; one given that "
                                  "differs from theirs is refused)"), _FIT_OPTIONS),
        (index.add_argument_group("scores"), _SCORE_OPTIONS),
    )  # fmt: skip
    for group, options in groups:
        for flag, keywords in options:
            group.add_argument(flag, **keywords)
    index.set_defaults(handler=index_command)


def index_command(args: argparse.Namespace) -> int:
    from ferrule.cli import grid_run

    grid_run._xarray()
    import ferrule.xarray as fx

    if args.save_params and args.params:
        raise CliError(f"--save-params with --params: the parameters are saved in "
                       f"'{args.params}' already", USAGE)  # fmt: skip
    if args.save_params and os.path.abspath(args.save_params) == os.path.abspath(args.out):
        raise CliError(f"--save-params and --out name one file, '{args.out}'", USAGE)
    inputs = [args.input] + ([args.params] if args.params else [])
    with grid_run._open(args.input) as dataset:
        grid_run._check_out(args.out, *inputs)
        if args.save_params:
            grid_run._check_out(args.save_params, *inputs)
        da = grid_run._variable(dataset, args.var, args.input)
        grid_run._check_dim(da, args.dim, args.input)
        groupby = _groupby(args.groupby)
        fit = {"window": args.window, "accumulate": args.accumulate,
               "calibration": args.calibration, "left": args.left, "fast": args.fast,
               "adequate": args.adequate, "seed": args.seed, "n_jobs": args.jobs}  # fmt: skip
        scoring = {"dim": args.dim, "zeros": args.zeros, "p0": args.p0, "clip": args.clip}
        try:
            if args.params:
                with grid_run._open(args.params) as saved:
                    params = saved.load()
                # The fit options given are checked against the parameters' own.
                scoring.update(fit, family=args.family, groupby=groupby)
            else:
                params = grid_run._quietly(lambda: fx.standardized_index_params(
                    da, args.family, dim=args.dim, groupby=groupby, **fit))  # fmt: skip
            z = grid_run._quietly(lambda: fx.standardized_index(da, params=params, **scoring))
        except (ValueError, TypeError) as err:
            raise CliError(str(err), USAGE) from None
        written = z.to_dataset()
        grid_run._write(written, args.out)
    if args.save_params:
        grid_run._write(params, args.save_params)
    valid, total = int(params["valid"].sum()), int(params["valid"].size)
    print(f"{z.attrs['long_name']}: {valid} of {total} fits valid; written to {args.out}",
          file=sys.stderr)  # fmt: skip
    return 0 if valid else FAILED
