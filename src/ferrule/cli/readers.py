"""Reading one data series from a CSV column, a .npy array or the bundled precipitation table."""

import csv
import math
from dataclasses import dataclass
from importlib import resources
from pathlib import Path

import numpy as np

from ferrule.cli.errors import CliError

BUNDLED_FILE = "seattle_precipitation.csv"
BUNDLED_COLUMN = "precipitation"

# Cells that mean "no observation" rather than a malformed number.
_MISSING = frozenset({"", "na", "nan", "n/a", "null"})


@dataclass(frozen=True)
class Series:
    values: np.ndarray  # 1-D float64, finite, missing entries already dropped
    source: str  # how the input is named in the report
    column: str | None  # the CSV column read; None for arrays
    missing: int  # entries skipped as missing
    bundled: bool


def read_series(
    path: str | None, column: str | None = None, header: bool = True, delimiter: str = ","
) -> Series:
    """Reads the series to fit; without a path, the bundled daily precipitation."""
    if path is None:
        return _read_bundled(column, header, delimiter)
    file = Path(path)
    _check_readable(file)
    if file.suffix.lower() == ".npy":
        if column is not None:
            raise CliError(f"--column applies to CSV input, not to the array file '{path}'", 2)
        return _read_npy(file)
    return _read_csv(file, path, column, header, delimiter, bundled=False)


def _read_bundled(column: str | None, header: bool, delimiter: str) -> Series:
    resource = resources.files("ferrule").joinpath("data", BUNDLED_FILE)
    with resources.as_file(resource) as file:
        if not file.is_file():
            raise CliError(
                f"the bundled data file {BUNDLED_FILE} is missing from this installation"
            )
        return _read_csv(
            file,
            f"{BUNDLED_FILE} (bundled)",
            BUNDLED_COLUMN if column is None else column,
            header,
            delimiter,
            bundled=True,
        )


def _check_readable(file: Path) -> None:
    if not file.exists():
        raise CliError(f"no such file: '{file}'")
    if file.is_dir():
        raise CliError(f"'{file}' is a directory, not a data file")


def _read_npy(file: Path) -> Series:
    try:
        array = np.load(file, allow_pickle=False)
    except (OSError, ValueError, EOFError) as err:
        raise CliError(f"cannot read '{file}' as a NumPy .npy array: {err}") from None
    if not isinstance(array, np.ndarray):
        raise CliError(f"'{file}' does not hold a single array")
    if array.ndim != 1:
        raise CliError(f"'{file}' holds an array of shape {array.shape}; expected one dimension")
    if array.dtype.kind not in "biuf":
        raise CliError(f"'{file}' holds non-numeric values (dtype {array.dtype})")
    values = array.astype(np.float64)
    is_missing = np.isnan(values)
    if np.isinf(values).any():
        at = int(np.flatnonzero(np.isinf(values))[0])
        raise CliError(f"'{file}' holds an infinite value at index {at}")
    return _finish(values[~is_missing], str(file), None, int(is_missing.sum()), bundled=False)


def _read_csv(
    file: Path, source: str, column: str | None, header: bool, delimiter: str, bundled: bool
) -> Series:
    try:
        with open(file, newline="", encoding="utf-8-sig") as handle:
            rows = [
                (number, row)
                for number, row in enumerate(csv.reader(handle, delimiter=delimiter), start=1)
                if any(cell.strip() for cell in row)
            ]
    except UnicodeDecodeError:
        raise CliError(
            f"'{source}' is not a text file; binary arrays must be NumPy .npy files"
        ) from None
    except (OSError, csv.Error) as err:
        raise CliError(f"cannot read '{source}': {err}") from None

    names: list[str] = []
    if header and rows:
        names = [cell.strip() for cell in rows[0][1]]
        rows = rows[1:]
    width = max([len(names)] + [len(row) for _, row in rows])
    index = _choose_column(source, column, names, width, rows)
    name = names[index] if index < len(names) else ""
    label = f"column '{name}'" if name else f"column {index + 1}"

    values = []
    missing = 0
    for number, row in rows:
        if index >= len(row):
            raise CliError(f"'{source}' line {number} has no field {index + 1} ({label})")
        cell = row[index].strip()
        if cell.lower() in _MISSING:
            missing += 1
            continue
        value = _parse_number(cell)
        if value is None:
            raise CliError(f"{label} of '{source}' is not numeric: line {number} holds '{cell}'")
        if math.isinf(value):
            raise CliError(f"{label} of '{source}' holds an infinite value on line {number}")
        values.append(value)
    return _finish(np.array(values, dtype=np.float64), source, name or label, missing, bundled)


def _choose_column(
    source: str, column: str | None, names: list[str], width: int, rows: list
) -> int:
    if column is not None:
        if column in names:
            return names.index(column)
        if column.isdigit() and 1 <= int(column) <= max(width, 1):
            return int(column) - 1
        listed = ", ".join(names) if names else f"{width} unnamed"
        raise CliError(f"no column '{column}' in '{source}' (columns: {listed})", 2)
    if width <= 1:
        return 0
    # With several columns and none named, take the first one that holds only numbers
    # (a date or station column is skipped this way).
    for index in range(width):
        cells = [row[index].strip() for _, row in rows if index < len(row)]
        present = [cell for cell in cells if cell.lower() not in _MISSING]
        if present and all(_parse_number(cell) is not None for cell in present):
            return index
    listed = ", ".join(names) if names else f"{width} unnamed"
    raise CliError(
        f"'{source}' has no numeric column; choose one with --column (columns: {listed})", 2
    )


def _parse_number(cell: str) -> float | None:
    try:
        return float(cell)
    except ValueError:
        return None


def _finish(
    values: np.ndarray, source: str, column: str | None, missing: int, bundled: bool
) -> Series:
    if values.size == 0:
        detail = f"all {missing} entries are missing" if missing else "the series is empty"
        raise CliError(f"no values to fit in '{source}': {detail}")
    return Series(values, source, column, missing, bundled)
