"""The command-line grammar: `ferrule fit [INPUT] [options]`."""

import argparse
import codecs
import math
import sys
import textwrap
from importlib import metadata

from ferrule.cli.checks import FLOOR_COUNT, FLOOR_SHARE, MIN_DISTINCT_UNCENSORED
from ferrule.cli.errors import USAGE
from ferrule.cli.families import families, family_named
from ferrule.cli.fitting import AUTO, OPTIMISERS, default_optimisers
from ferrule.cli.missing import DEFAULT_NA_VALUES, MissingMarkers

_DESCRIPTION = """\
Fit normalising transformations to a data series by censored maximum likelihood and compare them.
Without INPUT the bundled daily precipitation at Seattle 2012-2015 is fitted, left-censored at 0."""

_EPILOG = f"""\
{{families}}
optimisers: simplex (Nelder-Mead from the family's start point; not held inside the search
box), sce (shuffled complex evolution within the family's search box), de (differential
evolution within the search box). sce and de draw from --seed: the same seed gives the same
result; without it a seed is drawn and shown in the report, so that the run can be repeated.
The fitted parameters refer to the rescaled values (x + shift) * scale.
A series needs at least {MIN_DISTINCT_UNCENSORED} distinct uncensored values (strictly between
the censoring thresholds); a shorter or constant one, or one censored throughout, is refused.
Without --left, when {FLOOR_SHARE:.0%} or more of the values (at least {FLOOR_COUNT}) are tied at
the minimum, a warning suggests --left at that minimum: they look like a censored floor.
Exit status: 0 done, 1 a fit failed, 2 unusable options or input, 130 interrupted."""

_DELIMITER_NAMES = {"tab": "\t", "\\t": "\t", "comma": ",", "semicolon": ";", "space": " "}


def family(text: str) -> str:
    """One family by any of the registry's aliases, as its command-line name."""
    found = family_named(text)
    if found is None:
        raise argparse.ArgumentTypeError(
            f"unknown family '{text}' (choose from {', '.join(families())})"
        )
    return found.key


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


def delimiter(text: str) -> str:
    """One character; 'tab' and a typed backslash-t both mean a tab.

    Examples
    --------
    >>> delimiter("tab") == delimiter("\\\\t") == "\\t"
    True
    """
    value = _DELIMITER_NAMES.get(text.lower(), text)
    if len(value) != 1:
        raise argparse.ArgumentTypeError(
            f"a delimiter is one character, or tab, comma, semicolon or space; not '{text}'"
        )
    return value


def comment(text: str) -> str:
    """One character, or '' for none."""
    if len(text) > 1:
        raise argparse.ArgumentTypeError(f"a comment marker is one character, not '{text}'")
    return text


def encoding(text: str) -> str:
    try:
        return codecs.lookup(text).name
    except LookupError:
        raise argparse.ArgumentTypeError(
            f"unknown text encoding '{text}' (for example utf-8, latin-1, cp1252, utf-16)"
        ) from None


def na_values(text: str) -> MissingMarkers:
    return MissingMarkers.parse(text)


def version_text() -> str:
    try:
        return f"ferrule {metadata.version('ferrule')}"
    except metadata.PackageNotFoundError:
        return "ferrule (version unknown: not installed as a package)"


class Parser(argparse.ArgumentParser):
    """Reports a usage error the way every other error is reported: "ferrule: error: ..."."""

    def error(self, message: str):
        self.print_usage(sys.stderr)
        self.exit(USAGE, f"ferrule: error: {message}\n")


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


def build_parser() -> argparse.ArgumentParser:
    parser = Parser(
        prog="ferrule",
        description="Normalising transformations for skewed, censored data series.",
    )
    parser.add_argument("--version", action="version", version=version_text())
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)
    fit = commands.add_parser(
        "fit",
        help="fit transformation families to a data series and compare them",
        description=_DESCRIPTION,
        epilog=_EPILOG.format(families=family_titles()),
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    fit.add_argument("--version", action="version", version=version_text())

    source = fit.add_argument_group("input")
    source.add_argument(
        "input",
        nargs="?",
        metavar="INPUT",
        help="a CSV file, '-' for CSV text on standard input, or a NumPy .npy file holding a "
        "one-dimensional array (default: the bundled Seattle precipitation series)",
    )
    source.add_argument(
        "--column",
        metavar="NAME|N",
        help="CSV column to read, by header name or by number counting from 1 "
        "(default: the only column, or the first whose values are all numbers)",
    )
    source.add_argument(
        "--header",
        action=argparse.BooleanOptionalAction,
        default=None,
        help="whether the CSV file's first line names the columns (default: detected; a "
        "first line of numbers, or shaped like the lines below it, is read as data)",
    )
    source.add_argument(
        "--delimiter",
        type=delimiter,
        metavar="CHAR",
        help="CSV field delimiter: one character, or tab (also written \\t) (default: "
        "detected among ',', ';' and tab)",
    )
    source.add_argument(
        "--decimal",
        choices=(".", ","),
        help="decimal mark of the CSV numbers (default: '.'; ',' when the delimiter is ';' "
        "and the numbers are written with a comma)",
    )
    source.add_argument(
        "--comment",
        type=comment,
        default="#",
        metavar="CHAR",
        help="lines starting with this character are comments and skipped; '' reads every "
        "line (default: #)",
    )
    source.add_argument(
        "--encoding",
        type=encoding,
        default="utf-8",
        help="text encoding of the CSV file, e.g. latin-1 or cp1252 (default: utf-8; a UTF-8 "
        "byte-order mark is skipped)",
    )
    source.add_argument(
        "--na-values",
        type=na_values,
        metavar="TEXT[,TEXT...]",
        help="cell texts that mark a missing value, dropped before fitting; matched in any "
        "case, and by value when numeric (-999 also matches -999.0 and entries of a .npy "
        "array). Replaces the default list; empty cells (and NaN in a .npy array) are always "
        f"missing; '' leaves only those (default: {','.join(DEFAULT_NA_VALUES)})",
    )

    model = fit.add_argument_group("model")
    model.add_argument(
        "--family",
        dest="families",
        type=family_list,
        action="extend",
        metavar="NAME[,NAME...]",
        help=f"family or families to fit: {', '.join(families())} (default: all); repeatable",
    )
    add_optimiser_options(
        model,
        seed_help="seed of sce and de, 0 to 2^32-1: the same seed gives the same fits (default: "
        "drawn afresh, and shown in the report)",
    )
    add_threshold_options(
        model, left_default=None, left_default_help="0 for the bundled series, -inf otherwise"
    )
    model.add_argument(
        "--rescale",
        action=argparse.BooleanOptionalAction,
        default=True,
        help="fit the rescaled values (x + shift) * scale rather than the raw ones (default: on)",
    )
    # No default shift: `fit` tells a --shift given with --no-rescale from none.
    add_scale_shift_prior(model, shift_default=None)

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
    from ferrule.cli.grid_commands import add_grid_commands

    add_grid_commands(commands)
    from ferrule.cli.index import add_index_command

    add_index_command(commands)
    return parser
