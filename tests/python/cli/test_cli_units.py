"""The command line's input reading and its option values, tested in-process."""

import re

import numpy as np
import pytest

from ferrule.cli.errors import CliError
from ferrule.cli.readers import read_series


def write(path, text):
    path.write_text(text)
    return str(path)


@pytest.mark.parametrize(
    "text, column, header, values, label, missing",
    [
        ("date,rain\n2020-01-01,0\n2020-01-02,1.5\n", None, True, [0.0, 1.5], "rain", 0),
        ("a,b\n1,2\n3,4\n", "b", True, [2.0, 4.0], "b", 0),
        ("a,b\n1,2\n3,4\n", "1", True, [1.0, 3.0], "a", 0),
        ("1.5\n2.5\n", None, False, [1.5, 2.5], "1", 0),
        ("x\n1\n\nNA\n \n2\nnan\n", None, True, [1.0, 2.0], "x", 2),
        ("\ufeffv;w\n1;7\n2;8\n", "w", True, [7.0, 8.0], "w", 0),
        # What DataFrame.to_csv writes: the row index first, under an empty header.
        (",flow\n0,1.5\n1,2.5\n", None, True, [1.5, 2.5], "flow", 0),
        ("year,month,rain\n2000,1,3.5\n2000,2,0\n", None, True, [3.5, 0.0], "rain", 0),
        ("1871,5.5\n1872,0.5\n", None, False, [5.5, 0.5], "2", 0),
    ],
    ids=["skips-date", "by-name", "by-number", "no-header", "missing-cells", "bom-semicolon"]
    + ["skips-row-index", "skips-calendar", "skips-row-counter"],
)
def test_csv_column_is_read(tmp_path, text, column, header, values, label, missing):
    path = write(tmp_path / "d.csv", text)
    series = read_series(path, column, header, ";" if ";" in text else ",")
    assert series.values.tolist() == values
    assert series.values.dtype == np.float64
    assert (series.column, series.missing, series.bundled) == (label, missing, False)


def test_npy_array_is_read_and_nan_counts_as_missing(tmp_path):
    path = tmp_path / "d.npy"
    np.save(path, np.array([3, 0, 7], dtype=np.int32))
    assert read_series(str(path)).values.tolist() == [3.0, 0.0, 7.0]
    np.save(path, np.array([1.0, np.nan, 2.0]))
    series = read_series(str(path))
    assert (series.values.tolist(), series.missing, series.column) == ([1.0, 2.0], 1, None)


def test_bundled_series_is_the_seattle_precipitation():
    series = read_series(None)
    values = series.values
    # Counts stated in ferrule/data/README.md.
    assert (values.size, int(np.sum(values == 0.0)), values.max()) == (1461, 838, 55.9)
    assert series.bundled and series.column == "precipitation"


@pytest.mark.parametrize(
    "name, content, column, expected",
    [
        ("d.csv", "x\n1\n1e999\n", None, "infinite value on line 3"),
        ("d.csv", "a,b\n1,2\n", "c", "no column 'c'"),
        ("d.csv", "a,b\n1,2\n", "3", "no column '3'"),
        ("d.csv", "a,b\nx,y\n", None, "has no numeric column"),
        ("d.csv", "5,1e-400\n6,2\n", None, "too small for a double"),
        ("d.csv", "a,b\n1,2\n3\n", "b", "line 3 has no field 2"),
        ("d.npy", np.zeros((2, 2)), None, "shape (2, 2)"),
        ("d.npy", np.array(["a", "b"]), None, "non-numeric values"),
        ("d.npy", np.array([1.0, np.inf]), None, "infinite value at index 1"),
        ("d.npy", b"not an array", None, "cannot read"),
        ("d.csv", b"\x00\x01\x02\xff", None, "not a text file"),
    ],
)
def test_unreadable_series_is_refused(tmp_path, name, content, column, expected):
    path = tmp_path / name
    if isinstance(content, np.ndarray):
        np.save(path, content)
    elif isinstance(content, bytes):
        path.write_bytes(content)
    else:
        path.write_text(content)
    with pytest.raises(CliError, match=re.escape(expected)):
        read_series(str(path), column)


def test_family_names_on_the_command_line_are_the_registry_aliases():
    from argparse import ArgumentTypeError

    from ferrule import _core
    from ferrule.cli.parser import family_list

    aliases = [info.aliases[0] for info in _core.FAMILIES]
    assert family_list(" , ".join(alias.upper() for alias in reversed(aliases))) == aliases[::-1]
    with pytest.raises(ArgumentTypeError, match=f"choose from {', '.join(aliases)}"):
        family_list("boxcox")
