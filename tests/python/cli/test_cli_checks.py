"""What is refused or warned about before fitting, and the figure of a degenerate series."""

import math
from dataclasses import replace

import numpy as np
import pytest

from ferrule.cli.checks import check_enough_values, floor_warning
from ferrule.cli.errors import CliError
from ferrule.cli.families import families
from ferrule.cli.fitting import FitSettings, fit_family
from ferrule.cli.readers import Series
from ferrule.cli.table import Report

INF = math.inf
NEEDED = "a fit needs at least 5 distinct uncensored values"


@pytest.mark.parametrize(
    "values, left, right, detail",
    [
        ([4.2], -INF, INF, "it holds only 1 value"),
        ([1.0, 2.0], -INF, INF, "it holds only 2 values"),
        ([3.0] * 6, -INF, INF, "all 6 values equal 3"),
        ([0.0] * 4, 0.0, INF, "all 4 values are censored (4 at or below the left threshold 0, "),
        ([0.0, 0.0, 9.0, 9.5], 0.0, 9.0, "(2 at or below the left threshold 0, 2 at or above"),
        (
            [0.0] * 20 + [1.0, 2.0, 3.0],
            0.0,
            INF,
            "of its 23 values, 3 are uncensored (20 censored)",
        ),
        ([1.0, 1.0, 2.0, 2.0, 3.0, 3.0, 4.0], -INF, INF, "7 are uncensored and only 4 of those"),
    ],
    ids=["one", "two", "constant", "all-censored", "both-sides", "few-wet", "few-distinct"],
)
def test_series_too_poor_to_fit_is_refused_with_its_counts(values, left, right, detail):
    with pytest.raises(CliError) as raised:
        check_enough_values(np.array(values), left, right, "x.csv")
    assert raised.value.status == 2
    assert detail in str(raised.value) and NEEDED in str(raised.value)


@pytest.mark.parametrize(
    "values, left, right",
    [
        ([1.0, 2.0, 3.0, 4.0, 5.0], -INF, INF),
        ([0.0] * 50 + [1.0, 2.0, 3.0, 4.0, 5.0], 0.0, INF),
        ([0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0], 0.0, 6.0),
    ],
)
def test_five_distinct_uncensored_values_are_enough(values, left, right):
    check_enough_values(np.array(values), left, right, "x.csv")


@pytest.mark.parametrize(
    "values, left, warned",
    [
        ([0.0] * 3 + list(range(1, 28)), -INF, "3 of 30 values (10 %) equal the minimum 0;"),
        ([0.25] * 5 + [1.0, 2.0], -INF, "pass --left 0.25 to count them as left-censored"),
        ([0.1] * 4 + [0.5, 0.7], -INF, "pass --left 0.1 "),  # the exact double, shortest form
        ([0.0] * 2 + [1.0, 2.0, 3.0], -INF, None),  # fewer than 3
        ([0.0] * 3 + list(range(1, 29)), -INF, None),  # 3 of 31: under 10 %
        ([0.0] * 10 + [1.0, 2.0], 0.0, None),  # already censored there
        ([0.0] * 10 + [1.0, 2.0], -1.0, "equal the minimum 0"),  # a threshold below the floor
    ],
    ids=["ten-percent", "floor-value", "decimal", "two", "under-share", "censored", "below"],
)
def test_floor_warning_suggests_censoring_at_the_tied_minimum(values, left, warned):
    found = floor_warning(np.array(values), left)
    if warned is None:
        assert found is None
    else:
        assert warned in found


@pytest.fixture(scope="module")
def matplotlib():
    return pytest.importorskip("matplotlib")


def report_for(values, left, keys=("yjt", "sinhasinh", "jpt")):
    settings = FitSettings(
        optimiser="auto", left=left, right=INF, rescale=True, scale=1.0, shift=0.0, prior=False,
        seed=1,
    )  # fmt: skip
    data = np.array(values, dtype=np.float64)
    outcomes = [fit_family(families()[key], data, settings) for key in keys]
    return Report(Series(data, "x.csv", None, 0, False), settings, outcomes, [], list(keys))


DATA_ALONE = ["no valid fit to draw: the figure shows the data alone"]


@pytest.mark.parametrize(
    "values, left, notes",
    [
        # Too few distinct values for a valid fit: the figure shows the data, its panel widened
        # around the one point.
        ([5.0], -INF, DATA_ALONE),
        ([3.0] * 6, -INF, DATA_ALONE),
        ([0.0] * 3, 0.0, DATA_ALONE),
    ],
    ids=["one-value", "constant", "all-censored"],
)
def test_figure_of_a_degenerate_series_is_drawn_or_says_why(
    tmp_path, matplotlib, values, left, notes
):
    from ferrule.cli.plot import write_plot

    path = tmp_path / "fig.png"
    assert write_plot(report_for(values, left), str(path)) == notes
    assert path.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_figure_names_the_fits_it_leaves_out(tmp_path, matplotlib):
    from ferrule.cli.plot import write_plot

    report = report_for([1.0, 2.0, 4.0, 8.0, 16.0], -INF, keys=("yjt",))
    valid = report.outcomes[0]
    assert valid.fit.valid
    invalid_fit = replace(valid.fit, valid=False, problems=("sigma = -1 is not positive",))
    broken = replace(valid, family=families()["jpt"], fit=invalid_fit)
    mixed = Report(report.series, report.settings, [valid, broken], [], ["yjt", "jpt"])
    notes = write_plot(mixed, str(tmp_path / "fig.png"))
    assert notes == ["the figure leaves out jpt: not a valid fit"]
