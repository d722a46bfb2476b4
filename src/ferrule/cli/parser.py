"""The command-line grammar: `ferrule fit [INPUT] [options]`."""

import argparse
import math

from ferrule.cli.families import FAMILIES
from ferrule.cli.fitting import AUTO, OPTIMISERS

_DESCRIPTION = """\
Fit normalising transformations to a data series by censored maximum likelihood and compare them.
Without INPUT the bundled daily precipitation at Seattle 2012-2015 is fitted, left-censored at 0."""

_EPILOG = """\
families: yjt (Yeo-Johnson), logsinh (log-sinh), sinhasinh (sinh-arcsinh), jpt (Jones-Pewsey,
the sinh-arcsinh distribution of the value itself).
optimisers: simplex (Nelder-Mead from the family's start point; not held inside the search
box), sce (shuffled complex evolution within the family's search box; the same result on every
run), de (differential evolution within the search box; seeded afresh on every run).
The fitted parameters refer to the rescaled values (x + shift) * scale."""


def family_list(text: str) -> list[str]:
    """One family or a comma-separated list of them."""
    names = [name.strip().lower() for name in text.split(",") if name.strip()]
    unknown = [name for name in names if name not in FAMILIES]
    if unknown or not names:
        raise argparse.ArgumentTypeError(
            f"unknown family '{unknown[0] if unknown else text}' "
            f"(choose from {', '.join(FAMILIES)})"
        )
    return names


def threshold(text: str) -> float:
    value = _number(text)
    if math.isnan(value):
        raise argparse.ArgumentTypeError("a censoring threshold must be a number or +-inf")
    return value


def scale_value(text: str) -> float | None:
    """A finite positive factor, or 'auto' (None) for the data-derived default.

    A negative factor would turn the series round, and the left threshold with it."""
    if text.strip().lower() == "auto":
        return None
    value = _number(text)
    if not math.isfinite(value) or not value > 0.0:
        raise argparse.ArgumentTypeError(f"the scale must be finite and positive, not '{text}'")
    return value


def finite(text: str) -> float:
    value = _number(text)
    if not math.isfinite(value):
        raise argparse.ArgumentTypeError(f"expected a finite number, not '{text}'")
    return value


def positive_int(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a whole number, not '{text}'") from None
    if not 1 <= value <= 2**31 - 1:
        raise argparse.ArgumentTypeError(f"expected a number from 1 to {2**31 - 1}, not {value}")
    return value


def _number(text: str) -> float:
    try:
        return float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a number, not '{text}'") from None


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="ferrule",
        description="Normalising transformations for skewed, censored data series.",
    )
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)
    fit = commands.add_parser(
        "fit",
        help="fit transformation families to a data series and compare them",
        description=_DESCRIPTION,
        epilog=_EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )

    source = fit.add_argument_group("input")
    source.add_argument(
        "input",
        nargs="?",
        metavar="INPUT",
        help="a CSV file or a NumPy .npy file holding a one-dimensional array "
        "(default: the bundled Seattle precipitation series)",
    )
    source.add_argument(
        "--column",
        metavar="NAME|N",
        help="CSV column to read, by header name or by number counting from 1 "
        "(default: the only column, or the first whose values are all numbers)",
    )
    source.add_argument(
        "--no-header",
        dest="header",
        action="store_false",
        help="the CSV file has no header line",
    )
    source.add_argument("--delimiter", default=",", help="CSV field delimiter (default: ',')")

    model = fit.add_argument_group("model")
    model.add_argument(
        "--family",
        dest="families",
        type=family_list,
        action="extend",
        metavar="NAME[,NAME...]",
        help=f"family or families to fit: {', '.join(FAMILIES)} (default: all four); repeatable",
    )
    model.add_argument(
        "--optimiser",
        "--optimizer",
        choices=(AUTO, *OPTIMISERS),
        default=AUTO,
        help="optimiser (default: auto, simplex for yjt and sce for the other families)",
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
    model.add_argument(
        "--left",
        type=threshold,
        metavar="X",
        help="left censoring threshold: values at or below it count as censored "
        "(default: 0 for the bundled series, -inf otherwise)",
    )
    model.add_argument(
        "--right",
        type=threshold,
        default=math.inf,
        metavar="X",
        help="right censoring threshold: values at or above it count as censored (default: inf)",
    )
    model.add_argument(
        "--rescale",
        action=argparse.BooleanOptionalAction,
        default=True,
        help="fit the rescaled values (x + shift) * scale rather than the raw ones (default: on)",
    )
    model.add_argument(
        "--scale",
        type=scale_value,
        default=None,
        metavar="S|auto",
        help="rescaling factor (default: auto, the power of ten that brings the largest "
        "absolute shifted value into [1, 10))",
    )
    model.add_argument(
        "--shift",
        type=finite,
        default=0.0,
        metavar="X",
        help="rescaling shift, added before scaling (default: 0)",
    )
    model.add_argument(
        "--prior",
        action="store_true",
        help="maximise the posterior: add the family's prior on its transformation parameters",
    )

    output = fit.add_argument_group("output")
    output.add_argument("--json", action="store_true", help="print the results as JSON")
    output.add_argument(
        "--plot",
        metavar="FILE.png",
        help="write a diagnostic figure (needs matplotlib: pip install 'ferrule[plot]')",
    )
    output.add_argument(
        "-v",
        "--verbose",
        action="store_true",
        help="show the optimisers' own console lines (on standard error)",
    )
    return parser
