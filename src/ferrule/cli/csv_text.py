"""Turning the bytes of a CSV file into rows: the text encoding, the delimiter, the header."""

import codecs
import csv
import io

from ferrule.cli.errors import CliError
from ferrule.cli.missing import MissingMarkers

DELIMITERS = ",;\t"  # what is looked for when --delimiter is not given
_SAMPLE_LINES = 50  # lines of the file the delimiter and the header are judged on
_BOMS = {
    codecs.BOM_UTF32_LE: "utf-32",
    codecs.BOM_UTF32_BE: "utf-32",
    codecs.BOM_UTF16_LE: "utf-16",
    codecs.BOM_UTF16_BE: "utf-16",
}


def decode(data: bytes, source: str, encoding: str) -> str:
    """The file's text; a UTF-8 byte-order mark is skipped.

    A file that cannot be text in the encoding is refused with the place of the first bad
    byte and the option that reads it.

    Examples
    --------
    >>> decode(b"\\xef\\xbb\\xbfmm\\n1\\n", "d.csv", "utf-8")
    'mm\\n1\\n'
    """
    is_utf8 = codecs.lookup(encoding).name == "utf-8"
    if is_utf8:
        for bom, name in _BOMS.items():
            if data.startswith(bom):
                raise CliError(
                    f"'{source}' starts with a {name.upper()} byte-order mark; "
                    f"pass --encoding {name}"
                )
        if b"\0" in data[:8192]:
            raise CliError(f"'{source}' is not a text file; binary arrays must be NumPy .npy files")
    start = len(codecs.BOM_UTF8) if is_utf8 and data.startswith(codecs.BOM_UTF8) else 0
    try:
        return data[start:].decode(encoding)
    except UnicodeDecodeError as err:
        at = start + err.start
        line = data.count(b"\n", 0, at) + 1
        hint = (
            "pass --encoding latin-1 (or cp1252, or the encoding the file was written in)"
            if is_utf8
            else "pass the encoding the file was written in with --encoding"
        )
        raise CliError(
            f"'{source}' is not valid {_display(encoding)} at byte {at} (line {line}, "
            f"byte 0x{data[at]:02x}); {hint}"
        ) from None


def _display(encoding: str) -> str:
    name = codecs.lookup(encoding).name
    return "UTF-8" if name == "utf-8" else name


def sniff_delimiter(text: str) -> str:
    """',', ';' or tab, whichever splits the first lines into equally many fields.

    csv.Sniffer, restricted to those three, decides first; when it cannot, or its choice
    leaves the lines with differing numbers of fields, the first of tab, ';' and ',' that
    appears equally often on every line wins (';' before ',', for decimal commas). A file
    with none of them is one column.

    Examples
    --------
    >>> sniff_delimiter("datum;regen\\n2020-01-01;0,5\\n")
    ';'
    """
    lines = [line for line in text.splitlines() if line.strip()][:_SAMPLE_LINES]
    if not lines:
        return ","
    sample = "\n".join(lines) + "\n"
    try:
        found = csv.Sniffer().sniff(sample, delimiters=DELIMITERS).delimiter
    except csv.Error:
        found = None
    if found is not None and _splits_evenly(sample, found):
        return found
    for candidate in "\t;,":
        if _splits_evenly(sample, candidate):
            return candidate
    return found or ","


def _splits_evenly(sample: str, delimiter: str) -> bool:
    widths = {len(row) for row in csv.reader(io.StringIO(sample), delimiter=delimiter) if row}
    return len(widths) == 1 and widths.pop() > 1


def read_rows(text: str, source: str, delimiter: str) -> list[tuple[int, list[str]]]:
    """The rows that hold anything, each with the number of the line it starts on.

    Examples
    --------
    >>> read_rows("mm\\n\\n1.5\\n", "d.csv", ",")
    [(1, ['mm']), (3, ['1.5'])]
    """
    reader = csv.reader(io.StringIO(text, newline=""), delimiter=delimiter)
    rows = []
    try:
        line = 1
        for row in reader:
            if any(cell.strip() for cell in row):
                rows.append((line, row))
            line = reader.line_num + 1
    except csv.Error as err:
        raise CliError(f"cannot read '{source}' as CSV: line {reader.line_num}: {err}") from None
    return rows


def is_number(cell: str) -> bool:
    try:
        float(cell)
    except ValueError:
        return False
    return True


def first_row_is_header(rows: list[tuple[int, list[str]]], markers: MissingMarkers) -> bool:
    """Whether the first row names the columns rather than holding data.

    It does when it holds no number at all, or when it has text where the rows below hold
    only numbers (or nothing): "date,rain" above "2012-01-01,0.5". A first row of numbers,
    or one shaped like the rows below it ("A1,3.2" above "A2,4.0"), is data.

    Examples
    --------
    >>> markers = MissingMarkers.parse(None)
    >>> first_row_is_header([(1, ["date", "mm"]), (2, ["2020-01-01", "0.5"])], markers)
    True
    >>> first_row_is_header([(1, ["1.5"]), (2, ["2.5"])], markers)
    False
    """
    if not rows:
        return False
    first = [cell.strip() for cell in rows[0][1]]
    texts = [
        i for i, cell in enumerate(first) if markers.marker_of(cell) is None and not is_number(cell)
    ]
    if not texts:
        return False
    if len(texts) == len([cell for cell in first if cell]):
        return True
    body = [row for _, row in rows[1 : 1 + _SAMPLE_LINES]]
    for index in texts:
        cells = [row[index] for row in body if index < len(row)]
        if all(markers.marker_of(cell) is not None or is_number(cell) for cell in cells):
            return True
    return False
