"""Option builders and value checks that several subcommands share."""

import argparse
import math
import textwrap

from ferrule.cli.families import families, family_named
from ferrule.cli.fitting import AUTO, OPTIMISERS, default_optimisers


def family(text: str) -> str:
    """One family by any of the registry's aliases, as its command-line name."""
    found = family_named(text)
    if found is None:
        raise argparse.ArgumentTypeError(
            f"unknown family '{text}' (choose from {', '.join(families())})"
        )
    return found.key


def family_or_auto(text: str) -> str:
    """One family by any of the registry's aliases, or "auto": the best fit per cell."""
    return "auto" if text.strip().lower() == "auto" else family(text)


def family_list(text: str) -> list[str]:
    """One family or a comma-separated list of them, by any of the registry's aliases."""
    names = [name.strip() for name in text.split(",") if name.strip()]
    if not names:
        family(text)  # refused with the list of families
    return [family(name) for name in names]


def family_titles() -> str:
    """ "families: yjt (Yeo-Johnson), ...", wrapped, from the registry."""
    titles = ", ".join(
        f"{key} ({family.title}"
        + (", modelling T((x-mu)/sigma) as standard normal" if family.models_raw_value else "")
        + ")"
        for key, family in families().items()
    )
    return textwrap.fill(f"families: {titles}.", width=95, break_on_hyphens=False)


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


def seed(text: str) -> int:
    """A whole number from 0 to 2^32 - 1: the seeds the optimisers' engine takes as they are."""
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a whole number, not '{text}'") from None
    if value < 0:
        raise argparse.ArgumentTypeError(f"a seed is not negative, got {value}")
    if value > 2**32 - 1:
        raise argparse.ArgumentTypeError(f"a seed is a number from 0 to {2**32 - 1}, not {value}")
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


def add_optimiser_options(group: argparse._ArgumentGroup, *, seed_help: str) -> None:
    """--optimiser, --seed and the limits of shuffled complex evolution, which both fitting
    commands take."""
    group.add_argument(
        "--optimiser",
        "--optimizer",
        choices=(AUTO, *OPTIMISERS),
        default=AUTO,
        help=f"optimiser (default: auto, {default_optimisers()})",
    )
    group.add_argument("--seed", type=seed, metavar="N", help=seed_help)
    group.add_argument(
        "--max-converge",
        type=positive_int,
        default=5,
        metavar="N",
        help="sce: stop after N shuffles without improvement (default: 5)",
    )
    group.add_argument(
        "--max-eval",
        type=positive_int,
        default=100000,
        metavar="N",
        help="sce: stop once more than N likelihood evaluations were made, checked after each "
        "shuffle (default: 100000)",
    )
    group.add_argument(
        "--fast",
        action="store_true",
        help="one run of the optimiser, no restarts or polish (default: restart and polish "
        "until the optimum repeats)",
    )


def add_variable_options(parser: argparse.ArgumentParser, dim_default: str | None = "time") -> None:
    """--var and --dim: the variable of a NetCDF file and its series dimension."""
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


def add_threshold_options(
    group: argparse._ArgumentGroup, *, left_default: float | None, left_default_help: str
) -> None:
    """--left and --right, the censoring thresholds."""
    group.add_argument(
        "--left",
        type=threshold,
        default=left_default,
        metavar="X",
        help="left censoring threshold: values at or below it count as censored "
        f"(default: {left_default_help})",
    )
    group.add_argument(
        "--right",
        type=threshold,
        default=math.inf,
        metavar="X",
        help="right censoring threshold: values at or above it count as censored (default: inf)",
    )


def add_scale_shift_prior(
    group: argparse._ArgumentGroup, *, where: str = "", shift_default: float | None = 0.0
) -> None:
    """--scale, --shift and --prior; `where` ends the automatic scale's description."""
    group.add_argument(
        "--scale",
        type=scale_value,
        default=None,
        metavar="S|auto",
        help="rescaling factor (default: auto, the power of ten that brings the largest "
        f"absolute shifted value into [1, 10){where})",
    )
    group.add_argument(
        "--shift",
        type=finite,
        default=shift_default,
        metavar="X",
        help="rescaling shift, added before scaling (default: 0)",
    )
    group.add_argument(
        "--prior",
        action="store_true",
        help="maximise the posterior: add the family's prior on its transformation parameters",
    )
