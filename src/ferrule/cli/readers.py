"""Reading one data series from a CSV column (a file or standard input), a .npy array or the
bundled precipitation table."""

import math
import re
import sys
from collections import Counter
from dataclasses import dataclass, field, replace
from importlib import resources
from pathlib import Path

import numpy as np

from ferrule.cli.csv_text import (
    Underflow,
    check_marks,
    decode,
    detect_decimal,
    drop_comments,
    first_row_is_header,
    is_number,
    looks_like_decimal_commas,
    parse_number,
    read_rows,
    shown,
    sniff_delimiter,
)
from ferrule.cli.errors import FAILED, CliError
from ferrule.cli.missing import MissingMarkers

BUNDLED_FILE = "seattle_precipitation.csv"
BUNDLED_COLUMN = "precipitation"
STDIN = "-"  # the input name that reads standard input
# The most a pipe, a device or standard input may send: their size is unknown beforehand,
# and /dev/zero never ends. A regular file's size is known, and read whole.
STREAM_LIMIT = 256 * 2**20
_SHOWN_COLUMNS = 5  # how many columns a message about the columns lists


@dataclass(frozen=True)
class Series:
    """The values to fit and where they came from.

    Examples
    --------
    >>> series = read_series(None)
    >>> series.values.size, series.column, series.missing
    (1461, 'precipitation', 0)
    """

    values: np.ndarray  # 1-D float64, finite, missing entries already dropped
    source: str  # how the input is named in the report
    column: str | None  # the CSV column read; None for arrays
    missing: int  # entries dropped as missing
    bundled: bool
    # how many entries each marker dropped ("empty" for blank cells), in the order first met
    missing_by_marker: dict[str, int] = field(default_factory=dict)


def read_series(
    path: str | None,
    column: str | None = None,
    header: bool | None = None,
    delimiter: str | None = None,
    *,
    encoding: str = "utf-8",
    na_values: MissingMarkers | None = None,
    decimal: str | None = None,
    comment: str = "#",
) -> Series:
    """Reads the series to fit; without a path, the bundled daily precipitation; "-" reads
    standard input.

    `header` None detects a header line, `delimiter` None detects ',', ';' or tab, `decimal`
    None takes '.' (',' when the delimiter is ';' and the cells hold decimal commas), lines
    starting with `comment` are skipped ('' skips none), and `na_values` None takes the
    default missing-value markers.

    Examples
    --------
    >>> read_series("rain.csv", "mm", delimiter=";").values  # doctest: +SKIP
    array([0. , 1.5, 0.2])
    """
    markers = na_values if na_values is not None else MissingMarkers.parse(None)
    check_marks(delimiter, decimal, comment)
    text_options = _TextOptions(column, header, delimiter, decimal, comment, markers)
    if path is None:
        return _read_bundled(text_options)
    if path == STDIN:
        data = _read_stream(sys.stdin.buffer, "standard input")
        return _read_csv(decode(data, "standard input", encoding), "standard input",
                         text_options, bundled=False)  # fmt: skip
    file = Path(path)
    if file.suffix.lower() == ".npy":
        if column is not None:
            raise CliError(f"--column applies to CSV input, not to the array file '{path}'")
        return _read_npy(file, markers)
    data = _read_bytes(file)
    text = decode(data, path, encoding)
    return _read_csv(text, path, text_options, bundled=False)


@dataclass(frozen=True)
class _TextOptions:
    column: str | None
    header: bool | None
    delimiter: str | None
    decimal: str | None
    comment: str
    markers: MissingMarkers


def _read_bundled(options: _TextOptions) -> Series:
    resource = resources.files("ferrule").joinpath("data", BUNDLED_FILE)
    with resources.as_file(resource) as file:
        if not file.is_file():
            raise CliError(
                f"the bundled data file {BUNDLED_FILE} is missing from this installation", FAILED
            )
        text = decode(file.read_bytes(), BUNDLED_FILE, "utf-8")
    if options.column is None:
        options = replace(options, column=BUNDLED_COLUMN)
    return _read_csv(text, f"{BUNDLED_FILE} (bundled)", options, bundled=True)


def _check_file(file: Path) -> None:
    if not file.exists():
        raise CliError(f"no such file: '{file}'")
    if file.is_dir():
        raise CliError(f"'{file}' is a directory, not a data file")


def _read_bytes(file: Path) -> bytes:
    _check_file(file)
    try:
        if file.is_file():
            return file.read_bytes()
        with open(file, "rb") as stream:
            return _read_stream(stream, str(file))
    except OSError as err:
        raise CliError(f"cannot read '{file}': {err.strerror or err}") from None


def _read_stream(stream, source: str) -> bytes:
    """All of a stream of unknown length, up to STREAM_LIMIT bytes."""
    data = stream.read(STREAM_LIMIT + 1)
    if len(data) > STREAM_LIMIT:
        raise CliError(
            f"'{source}' sends more than {STREAM_LIMIT // 2**20} MiB, the most read from a "
            "pipe or device; save the data to a file and read that"
        )
    return data


def _read_npy(file: Path, markers: MissingMarkers) -> Series:
    _check_file(file)
    try:
        array = np.load(file, allow_pickle=False)
    except (OSError, ValueError, EOFError) as err:
        raise CliError(f"cannot read '{file}' as a NumPy .npy array: {err}") from None
    if not isinstance(array, np.ndarray):
        raise CliError(f"'{file}' does not hold a single array")
    if array.ndim != 1:
        raise CliError(
            f"'{file}' holds an array of shape {array.shape}; expected one dimension "
            "(save one series, e.g. array.ravel() or one column array[:, j])"
        )
    # Booleans are refused as the library refuses them: they are no measurements.
    if array.dtype.kind not in "iuf":
        raise CliError(f"'{file}' holds non-numeric values (dtype {array.dtype})")
    values, dropped = markers.drop_from_array(array.astype(np.float64))
    if np.isinf(values).any():
        at = int(np.flatnonzero(np.isinf(array.astype(np.float64)))[0])
        raise CliError(f"'{file}' holds an infinite value at index {at}")
    return _finish(values, str(file), None, dropped, bundled=False)


def _read_csv(text: str, source: str, options: _TextOptions, bundled: bool) -> Series:
    markers = options.markers
    text = drop_comments(text, options.comment)
    delimiter = options.delimiter or sniff_delimiter(text, options.decimal)
    rows = read_rows(text, source, delimiter)
    decimal = options.decimal or (detect_decimal(rows) if delimiter == ";" else ".")
    header = options.header
    if header is None:
        header = first_row_is_header(rows, markers, decimal)
    names: list[str] = []
    if header and rows:
        names = [cell.strip() for cell in rows[0][1]]
        rows = rows[1:]
        # A tab-separated USGS RDB file has a line of field widths and kinds under its
        # header ("5s  15s  20d  14n"): it describes the columns and holds no data.
        if rows and all(re.fullmatch(r"[0-9]+[sdn]", cell.strip()) for cell in rows[0][1]):
            rows = rows[1:]
    _check_decimal_comma(source, names, rows, options, decimal)
    width = max([len(names)] + [len(row) for _, row in rows])
    index = _choose_column(source, options.column, names, width, rows, markers, decimal)
    name = names[index] if index < len(names) else ""
    label = f"column '{shown(name)}'" if name else f"column {index + 1}"

    values = []
    dropped = Counter()
    for number, row in rows:
        if index >= len(row):
            raise CliError(
                f"'{source}' line {number} has no field {index + 1} ({label}), only "
                f"{_fields(len(row))}; the rows have differing numbers of fields"
            )
        cell = row[index].strip()
        marker = markers.marker_of(cell)
        if marker is not None:
            dropped[marker] += 1
            continue
        try:
            value = parse_number(cell, decimal)
        except Underflow:
            raise CliError(
                f"{label} of '{source}' holds '{shown(cell)}' on line {number}, too small for "
                "a double: it would be read as 0"
            ) from None
        if value is None:
            raise CliError(
                f"{label} of '{source}' is not numeric: line {number} holds '{shown(cell)}'"
                + _number_hint(cell, decimal)
            )
        if math.isinf(value):
            raise CliError(f"{label} of '{source}' holds an infinite value on line {number}")
        if math.isnan(value):
            raise CliError(
                f"{label} of '{source}' holds '{shown(cell)}' on line {number}; "
                f"add it to --na-values to drop it as missing"
            )
        values.append(value)
    return _finish(
        np.array(values, dtype=np.float64), source, name or str(index + 1), dropped, bundled
    )


def _check_decimal_comma(
    source: str, names: list[str], rows: list, options: _TextOptions, decimal: str
) -> None:
    """Fails where ',' splits the rows but may be a decimal comma: 1,5 must not become 1."""
    if options.delimiter is not None or decimal == ",":
        return
    for number, row in rows:
        # A row one field wider than its header, "1,5" under "mm", split at the last one.
        split = len(names) - 1
        if (names and len(row) == len(names) + 1
                and looks_like_decimal_commas([(number, row[split : split + 2])])):  # fmt: skip
            raise CliError(
                f"'{source}' line {number} has {_fields(len(row))} under a header of "
                f"{len(names)}; if ',' is a decimal comma there, pass --decimal , "
                "(and --delimiter for the fields)"
            )
    if not names and looks_like_decimal_commas(rows):
        raise CliError(
            f"'{source}' could be two columns of whole numbers or one of numbers with a "
            "decimal comma; pass --decimal , or --delimiter ,"
        )


def _fields(count: int) -> str:
    return f"{count} field" if count == 1 else f"{count} fields"


def _number_hint(cell: str, decimal: str, column_has_numbers: bool = True) -> str:
    """A likely reason why a cell is not a number, as "; <reason>", or nothing.

    A stray word is taken for a missing-value marker only in a column that holds numbers."""
    if decimal == "." and re.fullmatch(r"[-+]?[0-9]+,[0-9]+", cell):
        return f"; '{cell}' has a decimal comma: pass --decimal ,"
    if decimal == "," and is_number(cell):
        return "; with --decimal , a number is written with a comma"
    if "_" in cell and is_number(cell.replace("_", "")):
        return "; numbers are written without '_' between digits"
    if any(ch.isdigit() and not ch.isascii() for ch in cell):
        return "; numbers are written with the digits 0 to 9"
    if column_has_numbers and not any(ch.isdigit() for ch in cell):
        return f"; if '{shown(cell)}' marks a missing value, list it in --na-values"
    return ""


def _listed(names: list[str], width: int) -> str:
    if not names:
        return f"{width} unnamed"
    more = len(names) - _SHOWN_COLUMNS
    return ", ".join(shown(name) for name in names[:_SHOWN_COLUMNS]) + (
        f" and {more} more" if more > 0 else ""
    )


def _choose_column(
    source: str,
    column: str | None,
    names: list[str],
    width: int,
    rows: list,
    markers: MissingMarkers,
    decimal: str,
) -> int:
    listed = _listed(names, width)
    if column is not None:
        if column in names:
            return names.index(column)
        folded = [i for i, name in enumerate(names) if name.lower() == column.lower()]
        if len(folded) == 1:
            return folded[0]
        number = column.strip()
        if number.isascii() and number.isdigit() and 1 <= int(number) <= max(width, 1):
            return int(number) - 1
        if number.lstrip("+-").isascii() and number.lstrip("+-").isdigit():
            raise CliError(
                f"no column '{shown(column)}' in '{source}': columns are numbered from 1 to "
                f"{max(width, 1)} (columns: {listed})"
            )
        if not names:
            raise CliError(
                f"no column '{shown(column)}' in '{source}': it has no header line, so columns "
                f"are chosen by number from 1 to {width}"
            )
        raise CliError(f"no column '{shown(column)}' in '{source}' (columns: {listed})")
    if width <= 1:
        return 0
    # With several columns and none named, take the first one that holds only numbers
    # (a date or station column is skipped this way), passing over columns that number the
    # rows or the calendar while a column of data follows.
    numeric = _numeric_columns(width, rows, markers, decimal)
    data = [index for index in numeric if not _indexes_rows(index, names, rows, decimal)]
    if data or numeric:
        return (data or numeric)[0]
    offending, hints = [], []
    for index in range(width):
        first_text = next(
            (
                (number, row[index].strip())
                for number, row in rows
                if index < len(row)
                and markers.marker_of(row[index]) is None
                and not is_number(row[index], decimal)
            ),
            None,
        )
        if first_text is not None:
            offending.append(index)
            if len(offending) > _SHOWN_COLUMNS:
                continue
            name = names[index] if index < len(names) and names[index] else f"column {index + 1}"
            number, cell = first_text
            # A hint about a stray cell helps only in a column that otherwise holds numbers.
            has_numbers = any(
                index < len(row) and is_number(row[index], decimal) for _, row in rows
            )
            hints.append(_number_hint(cell, decimal, has_numbers))
            offending[-1] = f"{shown(name)} holds '{shown(cell)}' on line {number}"
    more = len(offending) - _SHOWN_COLUMNS
    said = ", ".join(offending[:_SHOWN_COLUMNS]) + (f" and {more} more" if more > 0 else "")
    hint = next((hint for hint in hints if hint), "; choose a column with --column")
    raise CliError(f"'{source}' has no numeric column: {said}{hint}")


def _numeric_columns(width: int, rows: list, markers: MissingMarkers, decimal: str) -> list[int]:
    """The columns whose present cells are all numbers."""
    return [
        index
        for index in range(width)
        if any(index < len(row) for _, row in rows)
        and all(
            is_number(row[index], decimal)
            for _, row in rows
            if index < len(row) and markers.marker_of(row[index]) is None
        )
    ]


# Headers of columns that say where or when a row is, not what was measured: pandas writes
# its row index under an empty header (or "Unnamed: 0" when read back and written again).
_INDEX_HEADERS = frozenset(
    {"", "unnamed: 0", "index", "id", "year", "month", "day", "doy", "hour", "date", "time"}
)


def _indexes_rows(index: int, names: list[str], rows: list, decimal: str) -> bool:
    """Whether a numeric column numbers the rows: an index header, or, without a header,
    whole numbers counting up by one (a row counter, consecutive years)."""
    if names:
        return index < len(names) and names[index].strip().lower() in _INDEX_HEADERS
    try:
        numbers = [parse_number(row[index], decimal) for _, row in rows if index < len(row)]
    except Underflow:  # a value too small for a double numbers no row
        return False
    return len(numbers) > 1 and all(
        b is not None and a is not None and b == a + 1 and float(a).is_integer()
        for a, b in zip(numbers, numbers[1:], strict=False)
    )


def _finish(
    values: np.ndarray, source: str, column: str | None, dropped: Counter, bundled: bool
) -> Series:
    missing = sum(dropped.values())
    if values.size == 0:
        detail = f"all {missing} entries are missing" if missing else "the series is empty"
        raise CliError(f"no values to fit in '{source}': {detail}")
    return Series(values, source, column, missing, bundled, dict(dropped))
