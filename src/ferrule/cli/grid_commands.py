"""The grammar of `ferrule fit-grid` and `ferrule transform` (NetCDF in, NetCDF out)."""

import argparse
import math
import textwrap

from ferrule.cli.families import families
from ferrule.cli.fitting import default_optimisers
from ferrule.cli.options import (
    add_optimiser_options,
    add_scale_shift_prior,
    add_threshold_options,
    add_variable_options,
    family_or_auto,
    family_titles,
    positive_int,
)

__all__ = ["add_commands"]

_FIT_DESCRIPTION = """\
Fit one normalising transformation per grid cell (and per group, with --groupby) to a
variable of a NetCDF file, along one dimension, and write the parameters to a NetCDF file.
NaN values are missing days; cells with all values missing are left out. Needs xarray and
h5netcdf: pip install 'ferrule[xarray]'."""

_FIT_EPILOG = (
    "optimisers: simplex, sce, de (default: {optimisers}); sce and de draw from each cell's "
    "seed, derived from --seed and the cell's place in the grid. logsinh needs a finite --left.",
    "The output holds one variable per fitted quantity (the parameters, mu, sigma, loglik, "
    "valid, reason...) over the cell dimensions, with the input's coordinates, and the fit "
    "settings as attributes; `ferrule transform` applies it to new data.",
    "Exit status: 0 done, 1 no cell has a valid fit, 2 unusable options or input, 130 interrupted.",
)

_TRANSFORM_DESCRIPTION = """\
Apply the parameters written by `ferrule fit-grid` to a variable of a NetCDF file: each
cell's series (and with grouped parameters, each value by its group's fit) becomes standard
normal scores, written to a NetCDF file. Cells without a valid fit give NaN."""


def add_commands(commands: argparse._SubParsersAction) -> None:
    """Adds `fit-grid` and `transform` to the command line's subcommands."""
    fit = commands.add_parser(
        "fit-grid",
        help="fit one transformation per grid cell of a NetCDF variable",
        description=_FIT_DESCRIPTION,
        epilog=_fit_epilog(),
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    fit.add_argument("input", metavar="IN.nc", help="the NetCDF file holding the data")
    add_variable_options(fit)
    fit.add_argument(
        "--groupby",
        metavar="GROUP",
        help="fit one model per cell and group: month, season, dayofyear... (of the series "
        "dimension's dates), or the name of a coordinate along it",
    )
    fit.add_argument("--out", required=True, metavar="PARAMS.nc", help="the file to write")
    model = fit.add_argument_group("model")
    model.add_argument(
        "--family",
        type=family_or_auto,
        default="yjt",
        metavar="NAME",
        help=f"the family to fit: {', '.join(families())}, or auto: per cell the valid fit of "
        "lowest AIC (default: yjt)",
    )
    add_optimiser_options(
        model,
        seed_help="base seed of the cell seeds, 0 to 2^32-1: the same seed gives the same fits "
        "(default: drawn afresh, and stored in the output)",
    )
    add_threshold_options(model, left_default=-math.inf, left_default_help="-inf; give 0 for rain")
    add_scale_shift_prior(model, where=", cell by cell")
    run = fit.add_argument_group("running")
    run.add_argument(
        "--jobs", type=positive_int, default=None, metavar="N", help="threads (default: every core)"
    )
    run.add_argument("--progress", action=argparse.BooleanOptionalAction, default=None,
                     help="progress bar on standard error (default: on a terminal, for "
                     "large grids, when tqdm is installed)")  # fmt: skip
    fit.set_defaults(handler=_run("fit_grid_command"))

    transform = commands.add_parser(
        "transform",
        help="apply parameters written by fit-grid to a NetCDF variable",
        description=_TRANSFORM_DESCRIPTION,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    transform.add_argument("params", metavar="PARAMS.nc", help="the output of fit-grid")
    transform.add_argument("input", metavar="IN.nc", help="the NetCDF file holding the data")
    add_variable_options(transform, dim_default=None)
    transform.add_argument("--out", required=True, metavar="Z.nc", help="the file to write")
    transform.set_defaults(handler=_run("transform_command"))


def _fit_epilog() -> str:
    optimisers, output, status = _FIT_EPILOG
    paragraphs = (family_titles(), optimisers.format(optimisers=default_optimisers()), output,
                  status)  # fmt: skip
    return "\n".join(textwrap.fill(p, width=95, break_on_hyphens=False) for p in paragraphs)


def _run(name: str):
    """The handler `name` of ferrule.cli.grid_run, imported when the command runs."""

    def handler(args: argparse.Namespace) -> int:
        from ferrule.cli import grid_run

        return getattr(grid_run, name)(args)

    return handler
