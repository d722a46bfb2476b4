"""One standardised-index run in its own process, so that its peak memory is its own:
``python _index_peers.py PEER CASE.nc SCORES.npy`` reads the case (the data and its
settings in the attributes), runs PEER on it, saves the scores (cells x time) and, after
the clock, the chance of a dry value its scores take for each value (SCORES_dry.npy), and
prints one JSON line: the seconds taken and the peak resident memory the run added."""

import json
import sys
import time
import warnings
from pathlib import Path

import numpy as np
import xarray as xr
from _index_data import group_of
from scipy import special


def _status(field):
    for line in Path("/proc/self/status").read_text().splitlines():
        if line.startswith(field + ":"):
            return int(line.split()[1]) * 1024
    return 0


def _reset_peak():
    """Sets the peak resident size to the present one (Linux: 5 to clear_refs)."""
    try:
        Path("/proc/self/clear_refs").write_text("5")
    except OSError:
        pass


def ferrule_run(da, case, family="auto", adequate=None):
    """Scores, and a function giving each value's model p0 (the score of a zero by the
    same fits, "upper")."""
    import ferrule.xarray as fx

    groupby = "dayofyear" if case["groups"] == "dayofyear" else "month"
    params = fx.standardized_index_params(
        da, family, groupby=groupby, window=case["window"] or None,
        calibration=(case["start"], case["end"]), adequate=adequate, seed=1,
    )  # fmt: skip
    scores = fx.standardized_index(da, params=params, zeros="center").values

    def dry():
        zeros = fx.standardized_index(xr.zeros_like(da), params=params, zeros="upper", clip=None)
        return special.ndtr(zeros.values)

    return scores, dry


def empirical_dry(da, case):
    """The peers' p0 of each value: the share of zeros among the calibration values of its
    group (xclim's number_of_zeros / number_of_notnull, climate-indices' zero fraction)."""
    groups = group_of(da, case)
    calibrated = np.zeros(groups.size, dtype=bool)
    calibrated[da.indexes["time"].slice_indexer(case["start"], case["end"])] = True
    x = da.values
    out = np.full(x.shape, np.nan)
    for g in np.unique(groups):
        at = calibrated & (groups == g)
        seen = (~np.isnan(x[..., at])).sum(axis=-1)
        with np.errstate(invalid="ignore", divide="ignore"):
            share = (x[..., at] <= 0.0).sum(axis=-1) / seen
        out[..., groups == g] = np.where(seen > 0, share, np.nan)[..., None]
    return out


def xclim_run(da, case, method="ML"):
    """Gamma with the location fixed at 0, zeros by their empirical share ("upper"); daily
    data are fitted per day of year without pooling (xclim has no window of days)."""
    from xclim.indices import standardized_precipitation_index

    daily = case["groups"] == "dayofyear"
    da = da.assign_attrs(units="mm/d" if daily else "mm/month")
    scores = standardized_precipitation_index(
        da, freq="D" if daily else None, window=1, dist="gamma", method=method,
        fitkwargs={"floc": 0}, cal_start=f"{case['start']}-01-01", cal_end=f"{case['end']}-12-31",
    ).transpose(*da.dims).values  # fmt: skip
    return scores, lambda: empirical_dry(da, case)


def climate_indices_run(da, case):
    from climate_indices import compute, indices

    if case["groups"] == "dayofyear":
        raise SystemExit("climate-indices: its daily SPI needs 366-day years; not run")
    values = da.values.reshape(-1, da.sizes["time"])
    out = np.full(values.shape, np.nan)
    first = int(str(da["time"].values[0])[:4])
    for i, row in enumerate(values):
        if np.isnan(row).all():
            continue
        out[i] = indices.spi(
            row, 1, indices.Distribution.gamma, first, int(case["start"][:4]),
            int(case["end"][:4]), compute.Periodicity.monthly,
        )  # fmt: skip
    return out.reshape(da.shape), lambda: empirical_dry(da, case)


PEERS = {
    "ferrule auto": ferrule_run,
    "ferrule auto 0.25": lambda da, case: ferrule_run(da, case, adequate=0.25),
    "ferrule yjt": lambda da, case: ferrule_run(da, case, "yeo_johnson"),
    "xclim ML": xclim_run,
    "xclim APP": lambda da, case: xclim_run(da, case, "APP"),
    "climate-indices": climate_indices_run,
}


def main():
    peer, case_path, out_path = sys.argv[1:4]
    with xr.open_dataset(case_path) as dataset:
        da = dataset["pr"].load()
        case = dict(dataset.attrs)
    run = PEERS[peer]
    _reset_peak()
    before = _status("VmRSS")
    started = time.perf_counter()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        scores, dry = run(da, case)
    seconds = time.perf_counter() - started
    peak = max(_status("VmHWM") - before, 0)
    np.save(out_path, np.asarray(scores, dtype=np.float64))
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        np.save(out_path.removesuffix(".npy") + "_dry.npy", np.asarray(dry(), dtype=np.float64))
    print(json.dumps({"seconds": seconds, "peak_bytes": peak}))


if __name__ == "__main__":
    main()
