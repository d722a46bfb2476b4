"""Turning the bytes of a CSV file into rows: the text encoding, comments, the delimiter,
the decimal mark, the header, and the numbers in the cells."""

import codecs
import csv
import io
import re

from ferrule.cli.errors import CliError
from ferrule.cli.missing import MissingMarkers

DELIMITERS = ",;\t"  # what is looked for when --delimiter is not given
# Characters that belong to the numbers or to the CSV quoting, so cannot separate fields.
_NOT_DELIMITERS = '"\r\n.+-0123456789eE'
SHOWN_CHARACTERS = 40  # how much of a cell an error message quotes
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


def shown(cell: str) -> str:
    """A cell as an error message quotes it: on one line, at most a few dozen characters.

    Examples
    --------
    >>> shown("x" * 100)[-5:], shown("a\\nb")
    ('x ...', 'a\\\\nb')
    """
    short = cell if len(cell) <= SHOWN_CHARACTERS else cell[:SHOWN_CHARACTERS] + " ..."
    # A quoted field may hold line breaks and other control characters: written escaped.
    return "".join(c if c.isprintable() else repr(c)[1:-1] for c in short)


def check_marks(delimiter: str | None, decimal: str | None, comment: str) -> None:
    """Fails when the delimiter, the decimal mark and the comment character cannot tell the
    fields, the numbers and the comments apart.

    Examples
    --------
    >>> check_marks(";", ",", "#")
    >>> check_marks(",", ",", "#")  # doctest: +ELLIPSIS
    Traceback (most recent call last):
    ferrule.cli.errors.CliError: the delimiter and the decimal mark are both ','; ...
    """
    if delimiter is not None and delimiter in _NOT_DELIMITERS:
        raise CliError(
            f"--delimiter {delimiter!r} cannot separate fields: it is part of numbers or of "
            "CSV quoting"
        )
    if delimiter is not None and delimiter == decimal:
        raise CliError(
            f"the delimiter and the decimal mark are both '{delimiter}'; pass another --delimiter"
        )
    if comment and comment in (delimiter, decimal):
        raise CliError(f"the comment character '{comment}' is also the delimiter or decimal mark")


def drop_comments(text: str, comment: str) -> str:
    """The text with each line whose first non-blank character is `comment` emptied (so the
    lines keep their numbers); an empty `comment` keeps every line.

    Examples
    --------
    >>> drop_comments("# station 1\\nmm\\n  # gauge moved\\n1.5\\n", "#")
    '\\nmm\\n\\n1.5\\n'
    """
    if not comment:
        return text
    lines = text.splitlines(keepends=True)
    return "".join(
        line[len(line.rstrip("\r\n")) :] if line.lstrip().startswith(comment) else line
        for line in lines
    )


def sniff_delimiter(text: str, decimal: str | None = None) -> str:
    """',', ';' or tab, whichever splits the first lines into equally many fields.

    csv.Sniffer, restricted to those three, decides first; when it cannot, or its choice
    leaves the lines with differing numbers of fields, the first of tab, ';' and ',' that
    appears equally often on every line wins (';' before ',', for decimal commas). A file
    with none of them is one column. The decimal mark is never the delimiter.

    Examples
    --------
    >>> sniff_delimiter("datum;regen\\n2020-01-01;0,5\\n")
    ';'
    """
    candidates = "".join(c for c in DELIMITERS if c != decimal)
    one_column = candidates[0]
    lines = [line for line in text.splitlines() if line.strip()][:_SAMPLE_LINES]
    if not lines:
        return one_column
    sample = "\n".join(lines) + "\n"
    try:
        found = csv.Sniffer().sniff(sample, delimiters=candidates).delimiter
    except csv.Error:
        found = None
    if found is not None and _splits_evenly(sample, found):
        return found
    for candidate in "\t;,":
        if candidate in candidates and _splits_evenly(sample, candidate):
            return candidate
    return found or one_column


def _splits_evenly(sample: str, delimiter: str) -> bool:
    try:
        widths = {len(row) for row in csv.reader(io.StringIO(sample), delimiter=delimiter) if row}
    except csv.Error:  # a field too long to read: the rows tell nothing
        return False
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
        raise CliError(
            f"cannot read '{source}' as CSV: line {reader.line_num + 1}: {shown(str(err))}"
        ) from None
    return rows


# Plain ASCII decimal numbers, as a logger or a spreadsheet writes them: no digit-group
# underscores, no digits of other scripts (which float() would take).
_NUMBER = re.compile(r"[-+]?(?:[0-9]+(?:\.[0-9]*)?|\.[0-9]+)(?:[eE][-+]?[0-9]+)?")
_WORDS = re.compile(r"[-+]?(?:nan|inf|infinity)", re.IGNORECASE)
_COMMA_NUMBER = re.compile(r"[-+]?[0-9]*,[0-9]+(?:[eE][-+]?[0-9]+)?")


class Underflow(ValueError):
    """A number written with nonzero digits that is too small for a double: it would be 0."""


def parse_number(cell: str, decimal: str = ".") -> float | None:
    """The value of a cell, or None when it is no number; NaN and infinity words are numbers
    (the callers say what is wrong with them).

    Raises Underflow for a nonzero number that a double holds as 0 ("1e-400").

    Examples
    --------
    >>> parse_number(" 1,5 ", ","), parse_number("2_5"), parse_number("1.5", ",")
    (1.5, None, None)
    """
    text = cell.strip()
    if decimal != ".":
        if "." in text:
            return None
        text = text.replace(decimal, ".", 1)
    if _WORDS.fullmatch(text):
        return float(text)
    if not _NUMBER.fullmatch(text):
        return None
    value = float(text)
    if value == 0.0 and any(ch in "123456789" for ch in re.split("[eE]", text)[0]):
        raise Underflow(cell.strip())
    return value


def is_number(cell: str, decimal: str = ".") -> bool:
    try:
        return parse_number(cell, decimal) is not None
    except Underflow:
        return True


def detect_decimal(rows: list[tuple[int, list[str]]]) -> str:
    """',' when the cells of the first rows hold decimal commas ("0,5"), else '.'.

    Examples
    --------
    >>> detect_decimal([(1, ["datum", "regen"]), (2, ["2020-01-01", "0,5"])])
    ','
    """
    for _, row in rows[: _SAMPLE_LINES + 1]:
        if any(_COMMA_NUMBER.fullmatch(cell.strip()) for cell in row):
            return ","
    return "."


def looks_like_decimal_commas(rows: list[tuple[int, list[str]]]) -> bool:
    """Whether rows split at ',' could be one column of numbers with decimal commas: every
    row two whole numbers, the second unsigned ("1,5" as 1 and 5, or as 1.5).

    Examples
    --------
    >>> looks_like_decimal_commas([(1, ["1", "5"]), (2, ["0", "25"])])
    True
    """
    return bool(rows) and all(
        len(row) == 2
        and re.fullmatch("[-+]?[0-9]+", row[0].strip())
        and re.fullmatch("[0-9]+", row[1].strip())
        for _, row in rows
    )


def first_row_is_header(
    rows: list[tuple[int, list[str]]], markers: MissingMarkers, decimal: str = "."
) -> bool:
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
    body = [row for _, row in rows[1 : 1 + _SAMPLE_LINES]]
    if len(first) > 1 and not first[0] and body and all(row and row[0].strip() for row in body):
        return True  # pandas and R write an empty name above the row labels: ",0" or "","x"
    texts = [
        i
        for i, cell in enumerate(first)
        if markers.marker_of(cell) is None and not is_number(cell, decimal)
    ]
    if not texts:
        return False
    if len(texts) == len([cell for cell in first if cell]):
        return True
    for index in texts:
        cells = [row[index] for row in body if index < len(row)]
        if all(markers.marker_of(cell) is not None or is_number(cell, decimal) for cell in cells):
            return True
    return False
