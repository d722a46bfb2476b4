"""Saved models are checked before use: the same refusals, naming the field, for a fit read
from a dictionary, a grid read from a file and the parameter Dataset a transform reads."""

import re

import numpy as np
import pytest

import ferrule

RAIN = np.random.default_rng(11).gamma(2.0, size=120)
FIT = ferrule.fit(RAIN, family="sinh_asinh", seed=1)

# A change to a saved model, and the words of its refusal.
BROKEN = [
    ({"sigma": -1.0}, "sigma is -1.0; it must be a finite number above 0"),
    ({"sigma": float("nan")}, "sigma is nan; it must be a finite number above 0"),
    ({"scale": 0.0}, "scale is 0.0; it must be a finite number above 0"),
    ({"mu": float("inf")}, "mu is inf; it must be a finite number"),
    ({"delta": -1.0}, "delta is -1.0; it must be a finite number above 0"),
    ({"left": 5.0, "right": 1.0}, "left is 5.0; it must be below right (1.0)"),
    ({"family": "yeo_johnson"}, "a Yeo-Johnson model has the parameter(s) lambda, not delta"),
    ({"family": "gamma"}, "unknown family 'gamma'"),
]
IDS = ["sigma", "sigma-nan", "scale", "mu", "delta", "thresholds", "family-fields", "family"]


def _changed_fit(change):
    data = FIT.to_dict()
    for name, value in change.items():
        if name in data["params"]:
            data["params"] = {**data["params"], name: value}
        else:
            data[name] = value
    return data


@pytest.mark.parametrize("change, words", BROKEN, ids=IDS)
def test_from_dict_refuses_a_model_outside_its_domain(change, words):
    with pytest.raises(ValueError, match="^saved fit: " + re.escape(words)):
        ferrule.Fit.from_dict(_changed_fit(change))


def test_a_fit_that_is_not_valid_keeps_its_numbers():
    data = _changed_fit({"sigma": float("nan"), "valid": False})
    assert ferrule.Fit.from_dict(data).valid is False


GRID = ferrule.fit_grid(np.random.default_rng(12).gamma(2.0, size=(3, 120)),
                        family="sinh_asinh", seed=2)  # fmt: skip


def _saved_with(path, change):
    """GRID saved at `path`, then `change` made to its second cell in the file."""
    GRID.save(path)
    if path.suffix == ".npz":
        with np.load(path) as stored:
            entries = {key: stored[key].copy() for key in stored}
        for name, value in change.items():
            entries[f"param_{name}" if f"param_{name}" in entries else name][1] = value
        np.savez(path, **entries)
        return
    xr = pytest.importorskip("xarray")
    with xr.open_dataset(path) as stored:
        dataset = stored.load()
    for name, value in change.items():
        dataset[name][1] = value
    dataset.to_netcdf(path)


def _cell_words(words):
    name, rest = words.split(";", 1)
    return re.escape(f"{name} at cell (1,);{rest}")


@pytest.mark.parametrize("change, words", BROKEN[:6], ids=IDS[:6])
@pytest.mark.parametrize("suffix", [".npz", ".nc"])
def test_load_grid_refuses_a_model_outside_its_domain(tmp_path, suffix, change, words):
    _saved_with(tmp_path / f"grid{suffix}", change)
    with pytest.raises(ValueError, match="^saved grid: " + _cell_words(words)):
        ferrule.load_grid(tmp_path / f"grid{suffix}")


@pytest.mark.parametrize("change, words", BROKEN[:6], ids=IDS[:6])
def test_transform_refuses_parameters_outside_their_domain(change, words):
    xr = pytest.importorskip("xarray")
    import ferrule.xarray as fx

    data = xr.DataArray(np.random.default_rng(13).gamma(2.0, size=(3, 60)), dims=("x", "time"))
    params = fx.fit(data, family="sinh_asinh", seed=2).copy(deep=True)
    for name, value in change.items():
        params[name][1] = value
    with pytest.raises(ValueError, match="^parameter Dataset: " + _cell_words(words)):
        fx.transform(params, data)


@pytest.mark.parametrize("suffix", [".npz", ".nc"])
def test_a_partial_grid_file_names_what_it_lacks(tmp_path, suffix):
    path = tmp_path / f"grid{suffix}"
    GRID.save(path)
    if suffix == ".npz":
        with np.load(path) as stored:
            np.savez(path, **{key: stored[key] for key in stored if key != "sigma"})
    else:
        xr = pytest.importorskip("xarray")
        with xr.open_dataset(path) as stored:
            dataset = stored.load()
        dataset.drop_vars("sigma").to_netcdf(path)
    with pytest.raises(ValueError, match="^saved grid lacks the field.s. sigma$"):
        ferrule.load_grid(path)


def test_transform_refuses_a_format_version_load_grid_refuses():
    xr = pytest.importorskip("xarray")
    import ferrule.xarray as fx

    data = xr.DataArray(np.random.default_rng(13).gamma(2.0, size=(2, 60)), dims=("x", "time"))
    params = fx.fit(data, seed=2)
    params.attrs["ferrule_version"] = 99
    with pytest.raises(ValueError, match="has format version 99; this ferrule reads version 1"):
        fx.transform(params, data)
