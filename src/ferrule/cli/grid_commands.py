"""The grammar of `ferrule fit-grid` and `ferrule transform` (NetCDF in, NetCDF out)."""

import argparse
import math

from ferrule.cli.parser import finite, positive_int, scale_value, threshold

__all__ = ["add_grid_commands"]

_FIT_DESCRIPTION = """\
Fit one normalising transformation per grid cell (and per group, with --groupby) to a
variable of a NetCDF file, along one dimension, and write the parameters to a NetCDF file.
NaN values are missing days; cells with all values missing are left out. Needs xarray and
h5netcdf: pip install 'ferrule[xarray]'."""

_FIT_EPILOG = """\
families: yjt (Yeo-Johnson, the default), logsinh (log-sinh, needs --left), sinhasinh
(sinh-arcsinh), jpt (Jones-Pewsey). optimisers: simplex, sce, de (default: simplex for yjt,
sce for the others). The output holds one variable per fitted quantity (the parameters, mu,
sigma, loglik, valid, reason...) over the cell dimensions, with the input's coordinates, and
the fit settings as attributes; `ferrule transform` applies it to new data.
Exit status: 0 done, 1 no cell could be fitted, 2 unusable options or input, 130 interrupted."""

_TRANSFORM_DESCRIPTION = """\
Apply the parameters written by `ferrule fit-grid` to a variable of a NetCDF file: each
cell's series (and with grouped parameters, each value by its group's fit) becomes standard
normal scores, written to a NetCDF file. Cells without a valid fit give NaN."""


def add_grid_commands(commands: argparse._SubParsersAction) -> None:
    """Adds `fit-grid` and `transform` to the command line's subcommands."""
    fit = commands.add_parser(
        "fit-grid",
        help="fit one transformation per grid cell of a NetCDF variable",
        description=_FIT_DESCRIPTION,
        epilog=_FIT_EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    fit.add_argument("input", metavar="IN.nc", help="the NetCDF file holding the data")
    _variable_options(fit)
    fit.add_argument(
        "--groupby",
        metavar="GROUP",
        help="fit one model per cell and group: month, season, dayofyear... (of the series "
        "dimension's dates), or the name of a coordinate along it",
    )
    fit.add_argument("--out", required=True, metavar="PARAMS.nc", help="the file to write")
    model = fit.add_argument_group("model")
    model.add_argument("--family", default="yjt", metavar="NAME",
                       help="yjt, logsinh, sinhasinh or jpt (default: yjt)")  # fmt: skip
    model.add_argument(
        "--optimiser", "--optimizer", dest="method", default="auto",
        choices=("auto", "simplex", "sce", "de"),
        help="optimiser (default: auto, simplex for yjt and sce for the other families)",
    )  # fmt: skip
    model.add_argument(
        "--left",
        type=threshold,
        default=-math.inf,
        metavar="X",
        help="left censoring threshold, e.g. 0 for rain (default: -inf)",
    )
    model.add_argument(
        "--right",
        type=threshold,
        default=math.inf,
        metavar="X",
        help="right censoring threshold (default: inf)",
    )
    model.add_argument(
        "--scale",
        type=scale_value,
        default=None,
        metavar="S|auto",
        help="rescaling factor (default: auto, per cell)",
    )
    model.add_argument(
        "--shift",
        type=finite,
        default=0.0,
        metavar="X",
        help="added to the values before scaling (default: 0)",
    )
    model.add_argument("--prior", action="store_true", help="maximise the posterior")
    model.add_argument(
        "--seed",
        type=_seed,
        default=None,
        metavar="N",
        help="base seed of the cell seeds (default: fresh; stored in the output)",
    )
    model.add_argument(
        "--max-converge",
        type=positive_int,
        default=5,
        metavar="N",
        help="sce: stop after N shuffles without improvement (default: 5)",
    )
    model.add_argument(
        "--max-eval",
        type=positive_int,
        default=100000,
        metavar="N",
        help="sce: largest number of likelihood evaluations (default: 100000)",
    )
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
    _variable_options(transform, dim_default=None)
    transform.add_argument("--out", required=True, metavar="Z.nc", help="the file to write")
    transform.set_defaults(handler=_run("transform_command"))


def _variable_options(parser: argparse.ArgumentParser, dim_default: str | None = "time") -> None:
    parser.add_argument(
        "--var",
        metavar="NAME",
        help="the variable to read (default: the file's only data variable)",
    )
    parser.add_argument(
        "--dim", default=dim_default, metavar="NAME",
        help="the series dimension (default: time)" if dim_default else
        "the series dimension (default: the one the parameters were fitted along)",
    )  # fmt: skip


def _seed(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a whole number, not '{text}'") from None
    if value < 0:
        raise argparse.ArgumentTypeError(f"a seed is not negative, got {value}")
    return value


def _run(name: str):
    """The handler `name` of ferrule.cli.grid_run, imported when the command runs."""

    def handler(args: argparse.Namespace) -> int:
        from ferrule.cli import grid_run

        return getattr(grid_run, name)(args)

    return handler
