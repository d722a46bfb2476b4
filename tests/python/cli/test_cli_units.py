"""The command line's own arithmetic and input reading, tested in-process."""

import math
import re
from statistics import NormalDist

import numpy as np
import pytest

from ferrule.cli.errors import CliError
from ferrule.cli.normality import (
    conditional_anderson_darling,
    plotting_positions,
    probability_plot_correlation,
)
from ferrule.cli.readers import read_series

STANDARD = NormalDist()


def test_plotting_positions_rank_uncensored_values_within_the_whole_sample():
    # Hand derivation: n = 2 + 3 + 1 = 6, ranks 3, 4, 5, Blom (i - 0.375) / 6.25.
    assert plotting_positions(2, 3, 1) == pytest.approx([0.42, 0.58, 0.74], abs=1e-15)


def test_ppcc_is_one_for_values_on_the_censored_sample_line():
    n_left, n_inside, n_right = 40, 55, 5
    q = [STANDARD.inv_cdf(p) for p in plotting_positions(n_left, n_inside, n_right)]
    z = 0.5 + 2.0 * np.array(q)  # any straight line through the Q-Q points
    assert probability_plot_correlation(z[::-1], n_left, n_right) == pytest.approx(1.0, abs=1e-12)
    # Ranked as if nothing were censored, the same points bend away from a line.
    assert probability_plot_correlation(z, 0, 0) < 0.99


def test_ppcc_is_nan_when_too_few_values_to_judge():
    assert math.isnan(probability_plot_correlation(np.array([0.1, 0.2]), 0, 0))
    assert math.isnan(probability_plot_correlation(np.array([1.0, 1.0, 1.0]), 0, 0))


def anderson_darling_by_integral(u):
    """Independent reference: A^2 = n * integral_0^1 (F_n(t) - t)^2 / (t (1 - t)) dt.

    On an interval [a, b] where the empirical distribution function is the constant c, the
    integrand splits as c^2/t + (1 - c)^2/(1 - t) - 1, so the piece is
    c^2 log(b/a) - (1 - c)^2 log((1 - b)/(1 - a)) - (b - a)."""
    u = sorted(u)
    n = len(u)
    edges = [0.0, *u, 1.0]
    total = 0.0
    for i in range(n + 1):
        a, b, c = edges[i], edges[i + 1], i / n
        piece = -(b - a)
        if c > 0:
            piece += c * c * math.log(b / a)
        if c < 1:
            piece -= (1 - c) ** 2 * math.log((1 - b) / (1 - a))
        total += piece
    return n * total


@pytest.mark.parametrize(
    "u, p_left, p_right",
    [
        ([0.1, 0.35, 0.5, 0.8], 0.0, 1.0),  # nothing censored
        ([0.05, 0.07, 0.6, 0.61, 0.9, 0.97], 0.0, 1.0),
        ([0.2, 0.45, 0.5, 0.9], 0.3, 1.0),  # 30 % of the fitted mass below the left threshold
        ([0.01, 0.5, 0.99], 0.6, 0.9),  # censored on both sides
    ],
)
def test_conditional_anderson_darling_matches_the_integral_definition(u, p_left, p_right):
    # z placed so that the conditional probability of each value is the given u.
    z = [STANDARD.inv_cdf(p_left + v * (p_right - p_left)) for v in u]
    z_left = -math.inf if p_left == 0 else STANDARD.inv_cdf(p_left)
    z_right = math.inf if p_right == 1 else STANDARD.inv_cdf(p_right)
    got = conditional_anderson_darling(np.array(z[::-1]), z_left, z_right)
    assert got == pytest.approx(anderson_darling_by_integral(u), rel=1e-9)


def test_conditional_anderson_darling_is_inf_for_a_value_outside_the_fitted_range():
    assert conditional_anderson_darling(np.array([-0.5, 0.3, 1.2]), -0.5, math.inf) == math.inf
    assert conditional_anderson_darling(np.array([-0.6, 0.3]), -0.5, math.inf) == math.inf


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
    ],
    ids=["skips-date", "by-name", "by-number", "no-header", "missing-cells", "bom-semicolon"],
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
