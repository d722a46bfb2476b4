"""Text as loggers, agencies and spreadsheets write it: decimal commas, comment lines, strict
numbers, standard input, and inputs that must fail in one short line."""

import io
import re
import sys

import pytest

from ferrule.cli import readers
from ferrule.cli.errors import CliError
from ferrule.cli.readers import read_series

RDB = (
    "# U.S. Geological Survey\n#  daily discharge\n"
    "agency_cd\tsite_no\tdatetime\tflow\n5s\t15s\t20d\t14n\n"
    "USGS\t01646500\t2020-01-01\t3.5\nUSGS\t01646500\t2020-01-02\t4\n"
)


@pytest.mark.parametrize(
    "text, options, values, column",
    [
        ("datum;regen\n2020-01-01;0,5\n2020-01-02;1,25\n", {}, [0.5, 1.25], "regen"),
        ("mm\n1,5\n-2,5e1\n", {"decimal": ","}, [1.5, -25.0], "mm"),
        ("# logger 7\n# units: mm\nmm\n1\n  # sensor cleaned\n2\n", {}, [1.0, 2.0], "mm"),
        ("; exported\nmm\n1\n", {"comment": ";"}, [1.0], "mm"),
        (RDB, {"column": "flow"}, [3.5, 4.0], "flow"),
    ],
    ids=["semicolon-decimal-comma", "decimal-option", "comments", "own-comment", "usgs-rdb"],
)
def test_text_formats_are_read(tmp_path, text, options, values, column):
    path = tmp_path / "d.csv"
    path.write_text(text)
    series = read_series(str(path), **options)
    assert (series.values.tolist(), series.column) == (values, column)


@pytest.mark.parametrize(
    "text, options, message",
    [
        # A decimal comma must not be read as a delimiter: 1,5 is not 1.
        ("mm\n1,5\n2,5\n", {}, "line 2 has 2 fields under a header of 1; if ',' is a decimal"),
        ("1,5\n2,5\n", {}, "one of numbers with a decimal comma; pass --decimal ,"),
        ("mm\n2_5\n", {}, "line 2 holds '2_5'; numbers are written without '_'"),
        ("mm\n\uff11\uff12\n", {}, "numbers are written with the digits 0 to 9"),
        ("mm\n1\n1e-400\n", {}, "holds '1e-400' on line 3, too small for a double"),
        ("mm\n1.5\n", {"decimal": ","}, "with --decimal , a number is written with a comma"),
        ("# note\nmm\n1\n", {"comment": ""}, "column '# note' of"),
        ("mm\n1\n", {"delimiter": '"'}, "--delimiter '\"' cannot separate fields"),
        ("mm\n1\n", {"delimiter": ",", "decimal": ","}, "both ','; pass another --delimiter"),
    ],
    ids=["comma-in-header-file", "comma-no-header", "underscore", "full-width", "underflow",
         "point-with-comma-option", "comments-off", "quote-delimiter", "same-marks"],
)  # fmt: skip
def test_unsafe_text_is_refused(tmp_path, text, options, message):
    path = tmp_path / "d.csv"
    path.write_text(text)
    with pytest.raises(CliError, match=re.escape(message)):
        read_series(str(path), **options)


@pytest.mark.parametrize(
    "text",
    [
        "mm\n" + "1" * 200_000 + "\n",  # beyond the CSV reader's field limit
        ",".join(["name"] * 200_000) + "\n" + ",".join(["x"] * 200_000) + "\n",
        "mm\n" + "x" * 100_000 + "\n",
    ],
    ids=["long-field", "many-text-columns", "long-cell"],
)
def test_errors_about_huge_inputs_are_one_short_line(tmp_path, text):
    path = tmp_path / "d.csv"
    path.write_text(text)
    with pytest.raises(CliError) as raised:
        read_series(str(path))
    assert "\n" not in str(raised.value) and len(str(raised.value)) < 400


def test_standard_input_is_read_with_a_dash(monkeypatch):
    monkeypatch.setattr(sys, "stdin", io.TextIOWrapper(io.BytesIO(b"mm\n1.5\n2\n")))
    series = read_series("-")
    assert (series.values.tolist(), series.source) == ([1.5, 2.0], "standard input")


def test_an_endless_device_is_cut_off(monkeypatch):
    monkeypatch.setattr(readers, "STREAM_LIMIT", 4096)
    with pytest.raises(CliError, match=re.escape("'/dev/zero' sends more than")):
        read_series("/dev/zero")
