"""The command-line grammar: `ferrule fit [INPUT] [options]`."""

import argparse
import codecs
import importlib
import sys
from importlib import metadata

from ferrule.cli.checks import FLOOR_COUNT, FLOOR_SHARE, MIN_DISTINCT_UNCENSORED
from ferrule.cli.errors import USAGE
from ferrule.cli.families import families
from ferrule.cli.missing import DEFAULT_NA_VALUES, MissingMarkers
from ferrule.cli.options import (
    add_optimiser_options,
    add_scale_shift_prior,
    add_threshold_options,
    family_list,
    family_titles,
)

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

# The modules that add further subcommands, each through its add_commands(commands); they
# build on the option builders of ferrule.cli.options, never on this module.
_COMMAND_MODULES = ("ferrule.cli.grid_commands", "ferrule.cli.index")

_DELIMITER_NAMES = {"tab": "\t", "\\t": "\t", "comma": ",", "semicolon": ";", "space": " "}


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
        "(default: the only column, or the first whose values are all numbers, passing over "
        "a row index, a year/month/day column or a row counter while a column of data follows)",
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
    for name in _COMMAND_MODULES:
        importlib.import_module(name).add_commands(commands)
    return parser
