"""Reading one data series from a CSV column, a .npy array or the bundled precipitation table."""

import math
import re
from collections import Counter
from dataclasses import dataclass, field
from importlib import resources
from pathlib import Path

import numpy as np

from ferrule.cli.csv_text import decode, first_row_is_header, is_number, read_rows, sniff_delimiter
from ferrule.cli.errors import FAILED, CliError
from ferrule.cli.missing import MissingMarkers

BUNDLED_FILE = "seattle_precipitation.csv"
BUNDLED_COLUMN = "precipitation"


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
) -> Series:
    """Reads the series to fit; without a path, the bundled daily precipitation.

    `header` None detects a header line, `delimiter` None detects ',', ';' or tab, and
    `na_values` None takes the default missing-value markers.

    Examples
    --------
    >>> read_series("rain.csv", "mm", delimiter=";").values  # doctest: +SKIP
    array([0. , 1.5, 0.2])
    """
    markers = na_values if na_values is not None else MissingMarkers.parse(None)
    if path is None:
        return _read_bundled(column, header, delimiter, markers)
    file = Path(path)
    if file.suffix.lower() == ".npy":
        if column is not None:
            raise CliError(f"--column applies to CSV input, not to the array file '{path}'")
        return _read_npy(file, markers)
    data = _read_bytes(file)
    text = decode(data, path, encoding)
    return _read_csv(text, path, column, header, delimiter, markers, bundled=False)


def _read_bundled(
    column: str | None, header: bool | None, delimiter: str | None, markers: MissingMarkers
) -> Series:
    resource = resources.files("ferrule").joinpath("data", BUNDLED_FILE)
    with resources.as_file(resource) as file:
        if not file.is_file():
            raise CliError(
                f"the bundled data file {BUNDLED_FILE} is missing from this installation", FAILED
            )
        text = decode(file.read_bytes(), BUNDLED_FILE, "utf-8")
    return _read_csv(
        text,
        f"{BUNDLED_FILE} (bundled)",
        BUNDLED_COLUMN if column is None else column,
        header,
        delimiter,
        markers,
        bundled=True,
    )


def _check_file(file: Path) -> None:
    if not file.exists():
        raise CliError(f"no such file: '{file}'")
    if file.is_dir():
        raise CliError(f"'{file}' is a directory, not a data file")


def _read_bytes(file: Path) -> bytes:
    _check_file(file)
    try:
        return file.read_bytes()
    except OSError as err:
        raise CliError(f"cannot read '{file}': {err.strerror or err}") from None


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


def _read_csv(
    text: str,
    source: str,
    column: str | None,
    header: bool | None,
    delimiter: str | None,
    markers: MissingMarkers,
    bundled: bool,
) -> Series:
    rows = read_rows(text, source, delimiter or sniff_delimiter(text))
    if header is None:
        header = first_row_is_header(rows, markers)
    names: list[str] = []
    if header and rows:
        names = [cell.strip() for cell in rows[0][1]]
        rows = rows[1:]
    width = max([len(names)] + [len(row) for _, row in rows])
    index = _choose_column(source, column, names, width, rows, markers)
    name = names[index] if index < len(names) else ""
    label = f"column '{name}'" if name else f"column {index + 1}"

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
        value = _parse_number(cell)
        if value is None:
            raise CliError(
                f"{label} of '{source}' is not numeric: line {number} holds '{cell}'"
                + _number_hint(cell)
            )
        if math.isinf(value):
            raise CliError(f"{label} of '{source}' holds an infinite value on line {number}")
        if math.isnan(value):
            raise CliError(
                f"{label} of '{source}' holds '{cell}' on line {number}; "
                f"add it to --na-values to drop it as missing"
            )
        values.append(value)
    return _finish(
        np.array(values, dtype=np.float64), source, name or str(index + 1), dropped, bundled
    )


def _fields(count: int) -> str:
    return f"{count} field" if count == 1 else f"{count} fields"


def _number_hint(cell: str, column_has_numbers: bool = True) -> str:
    """A likely reason why a cell is not a number, as "; <reason>", or nothing.

    A stray word is taken for a missing-value marker only in a column that holds numbers."""
    if cell.startswith("#"):
        return "; lines starting with '#' look like comments, which are not read: remove them"
    if re.fullmatch(r"[-+]?\d+,\d+", cell):
        return f"; '{cell}' has a decimal comma, and numbers must be written with a decimal point"
    if column_has_numbers and not any(ch.isdigit() for ch in cell):
        return f"; if '{cell}' marks a missing value, list it in --na-values"
    return ""


def _choose_column(
    source: str,
    column: str | None,
    names: list[str],
    width: int,
    rows: list,
    markers: MissingMarkers,
) -> int:
    listed = ", ".join(names) if names else f"{width} unnamed"
    if column is not None:
        if column in names:
            return names.index(column)
        folded = [i for i, name in enumerate(names) if name.lower() == column.lower()]
        if len(folded) == 1:
            return folded[0]
        if column.strip().isdigit() and 1 <= int(column) <= max(width, 1):
            return int(column) - 1
        if column.strip().lstrip("+-").isdigit():
            raise CliError(
                f"no column '{column}' in '{source}': columns are numbered from 1 to "
                f"{max(width, 1)} (columns: {listed})"
            )
        if not names:
            raise CliError(
                f"no column '{column}' in '{source}': it has no header line, so columns are "
                f"chosen by number from 1 to {width}"
            )
        raise CliError(f"no column '{column}' in '{source}' (columns: {listed})")
    if width <= 1:
        return 0
    # With several columns and none named, take the first one that holds only numbers
    # (a date or station column is skipped this way).
    offending = []
    for index in range(width):
        first_text = next(
            (
                (number, row[index].strip())
                for number, row in rows
                if index < len(row)
                and markers.marker_of(row[index]) is None
                and not is_number(row[index])
            ),
            None,
        )
        if first_text is None and any(index < len(row) for _, row in rows):
            return index
        if first_text is not None:
            name = names[index] if index < len(names) and names[index] else f"column {index + 1}"
            number, cell = first_text
            # A hint about a stray cell helps only in a column that otherwise holds numbers.
            has_numbers = any(index < len(row) and is_number(row[index]) for _, row in rows)
            hint = _number_hint(cell, has_numbers)
            offending.append((f"{name} holds '{cell}' on line {number}", hint))
    hints = [hint for _, hint in offending if hint][:1]
    raise CliError(
        f"'{source}' has no numeric column: {', '.join(text for text, _ in offending)}"
        + (hints[0] if hints else "; choose a column with --column")
    )


def _parse_number(cell: str) -> float | None:
    try:
        return float(cell)
    except ValueError:
        return None


def _finish(
    values: np.ndarray, source: str, column: str | None, dropped: Counter, bundled: bool
) -> Series:
    missing = sum(dropped.values())
    if values.size == 0:
        detail = f"all {missing} entries are missing" if missing else "the series is empty"
        raise CliError(f"no values to fit in '{source}': {detail}")
    return Series(values, source, column, missing, bundled, dict(dropped))
