"""Reading CSV files as people write them: missing markers, headers, delimiters, encodings."""

import argparse
import re

import numpy as np
import pytest

from ferrule.cli.csv_text import sniff_delimiter
from ferrule.cli.errors import CliError
from ferrule.cli.missing import MissingMarkers
from ferrule.cli.parser import delimiter
from ferrule.cli.readers import read_series


def read_text(tmp_path, text, **options):
    path = tmp_path / "d.csv"
    path.write_text(text, encoding="utf-8")
    return read_series(str(path), **options)


@pytest.mark.parametrize(
    "text, na_values, values, dropped",
    [
        # The default markers, whatever their case; numeric ones also by value.
        (
            "d,v\n,1\n,-999\nx,\n,NA\n,nan\n,2\n,N/A\n,NULL\n,-9999.0\n,-99.9\n,3\n",
            None,
            [1, 2, 3],
            {"-999": 1, "empty": 1, "NA": 1, "NaN": 1, "N/A": 1, "null": 1, "-9999": 1, "-99.9": 1},
        ),
        # A list of one's own replaces the defaults: -999 is then a value.
        ("v\n1\nM\n-999\n2\n", "M", [1, -999, 2], {"M": 1}),
        ("v\n1\n-1\n-1.00\n2\n", " -1 ", [1, 2], {"-1": 2}),
        # '' leaves only empty cells missing; a blank line is no row at all.
        ("d,v\na,1\nb, \n\nc,-999\nd,2\n", "", [1, -999, 2], {"empty": 1}),
    ],
    ids=["defaults", "own-list", "numeric-marker", "empty-only"],
)
def test_missing_cells_are_dropped_and_counted(tmp_path, text, na_values, values, dropped):
    markers = None if na_values is None else MissingMarkers.parse(na_values)
    series = read_text(tmp_path, text, na_values=markers)
    assert series.values.tolist() == values
    assert series.missing_by_marker == dropped
    assert series.missing == sum(dropped.values())


def test_a_marker_text_left_out_of_the_list_is_refused_not_fitted(tmp_path):
    with pytest.raises(CliError, match="line 3 holds 'NA'; if 'NA' marks a missing value"):
        read_text(tmp_path, "v\n1\nNA\n2\n", na_values=MissingMarkers.parse(""))
    # A NaN cell is never fitted: missing when listed, refused otherwise.
    with pytest.raises(CliError, match="holds 'nan' on line 3; add it to --na-values"):
        read_text(tmp_path, "v\n1\nnan\n2\n", na_values=MissingMarkers.parse(""))


def test_npy_entries_equal_to_a_numeric_marker_are_dropped_with_nan(tmp_path):
    path = tmp_path / "d.npy"
    np.save(path, np.array([1.0, np.nan, -999.0, 2.0, -9999.0, np.nan]))
    series = read_series(str(path))
    assert series.values.tolist() == [1.0, 2.0]
    assert series.missing_by_marker == {"NaN": 2, "-999": 1, "-9999": 1}
    kept = read_series(str(path), na_values=MissingMarkers.parse(""))
    assert kept.values.tolist() == [1.0, -999.0, 2.0, -9999.0]


@pytest.mark.parametrize(
    "text, header, values, column",
    [
        # A first line of numbers is data, not a column name.
        ("1.5\n2.5\n3.5\n", None, [1.5, 2.5, 3.5], "1"),
        ("1.5,7\n2.5,8\n", None, [1.5, 2.5], "1"),
        # Shaped like the lines below it: data.
        ("2012-01-01,0.5\n2012-01-02,1\n", None, [0.5, 1.0], "2"),
        ("NA\n1\n2\n", None, [1.0, 2.0], "1"),
        # Text above numbers: names.
        ("date,rain\n2012-01-01,0.5\n2012-01-02,1\n", None, [0.5, 1.0], "rain"),
        ("rain\nNA\n4\n", None, [4.0], "rain"),
        ("id,rain\nA,NA\nB,3\n", None, [3.0], "rain"),
        # An empty name above the row labels: an unnamed pandas Series, R's write.csv.
        (",0\n0,1.5\n1,0\n", None, [1.5, 0.0], "0"),
        (",0\n2012-01-01,1.5\n2012-01-02,0\n", None, [1.5, 0.0], "0"),
        ('"","x"\n"1",1.5\n"2",0\n', None, [1.5, 0.0], "x"),
        # Forced either way.
        ("10\n1.5\n", False, [10.0, 1.5], "1"),
        ("10\n1.5\n", True, [1.5], "10"),
    ],
    ids=[
        "one-column",
        "two-columns",
        "dates",
        "leading-missing",
        "names",
        "name-over-missing",
        "stations",
        "unnamed-series",
        "unnamed-dated-series",
        "r-write-csv",
        "forced-off",
        "forced-on",
    ],
)
def test_header_line_is_detected(tmp_path, text, header, values, column):
    series = read_text(tmp_path, text, header=header)
    assert series.values.tolist() == values
    assert series.column == column


@pytest.mark.parametrize(
    "text, expected",
    [
        ("a,b\n1,2\n3,4\n", ","),
        ("a;b\n1;2\n3;4\n", ";"),
        ("a\tb\n1\t2\n3\t4\n", "\t"),
        ("datum;regen\n2020-01-01;0,5\n2020-01-02;1,25\n", ";"),  # decimal commas
        ("a\tb c\n1\t2,5\n", "\t"),
        ("1.5\n2.5\n", ","),  # one column
        ("", ","),
    ],
    ids=["comma", "semicolon", "tab", "decimal-comma", "tab-with-comma", "one-column", "empty"],
)
def test_delimiter_is_detected(text, expected):
    assert sniff_delimiter(text) == expected


@pytest.mark.parametrize(
    "typed, expected",
    [("\\t", "\t"), ("tab", "\t"), ("TAB", "\t"), ("\t", "\t"), (";", ";"), ("semicolon", ";")],
)
def test_delimiter_option_spellings(typed, expected):
    assert delimiter(typed) == expected


def test_delimiter_option_refuses_several_characters():
    with pytest.raises(argparse.ArgumentTypeError, match="one character"):
        delimiter(";;")


def test_detected_delimiters_read_the_same_series(tmp_path):
    rows = [("2020-01-01", "0.5"), ("2020-01-02", "1.25"), ("2020-01-03", "3")]
    for sep in [",", ";", "\t"]:
        text = f"date{sep}mm\n" + "".join(f"{d}{sep}{v}\n" for d, v in rows)
        series = read_text(tmp_path, text)
        assert (series.values.tolist(), series.column) == ([0.5, 1.25, 3.0], "mm")


LATIN = "Zürich,mm\nx,1.5\nx,2.5\n".encode("latin-1")


def test_latin_1_file_names_the_encoding_problem_and_reads_with_encoding(tmp_path):
    path = tmp_path / "d.csv"
    path.write_bytes(LATIN)
    expected = "'{}' is not valid UTF-8 at byte 1 (line 1, byte 0xfc); pass --encoding latin-1"
    with pytest.raises(CliError, match=re.escape(expected.format(path))):
        read_series(str(path))
    series = read_series(str(path), encoding="latin-1")
    assert (series.values.tolist(), series.column) == ([1.5, 2.5], "mm")


@pytest.mark.parametrize(
    "data, encoding, outcome",
    [
        (b"\xef\xbb\xbfmm\n1\n2\n", "utf-8", [1.0, 2.0]),  # a byte-order mark is skipped
        ("mm\n1\n2\n".encode("utf-16"), "utf-16", [1.0, 2.0]),
        ("mm\n1\n2\n".encode("utf-16"), "utf-8", "starts with a UTF-16 byte-order mark"),
        (b"mm\n1\n\x00\x01\x02\n", "utf-8", "not a text file; binary arrays must be NumPy .npy"),
        (b"mm\n1\n2\xe9\n", "utf-8", "not valid UTF-8 at byte 6 (line 3, byte 0xe9)"),
    ],
    ids=["utf-8-bom", "utf-16", "utf-16-unannounced", "binary", "bad-byte-line-3"],
)
def test_text_encodings(tmp_path, data, encoding, outcome):
    path = tmp_path / "d.csv"
    path.write_bytes(data)
    if isinstance(outcome, list):
        assert read_series(str(path), encoding=encoding).values.tolist() == outcome
    else:
        with pytest.raises(CliError, match=re.escape(outcome)):
            read_series(str(path), encoding=encoding)


@pytest.mark.parametrize("typed", ["\\t", "tab"])
def test_tab_delimiter_typed_on_the_command_line(tmp_path, capsys, typed):
    from ferrule.cli import main

    path = tmp_path / "d.txt"
    # Commas inside the fields: only a tab delimiter reads the second column as numbers.
    path.write_text(
        "day,id\tmm\n" + "".join(f"{i},x\t{v}\n" for i, v in enumerate([1, 2, 4, 8, 9]))
    )
    assert main(["fit", str(path), "--delimiter", typed, "--family", "yjt", "--json"]) == 0
    assert '"column": "mm"' in capsys.readouterr().out
