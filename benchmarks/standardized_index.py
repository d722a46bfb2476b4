"""Standardised indices: ferrule against xclim and climate-indices on the same data.

Cases: a monthly grid (daily rain summed by month, sea cells, a dry season), the bundled
Seattle series by calendar month, and a daily grid by day of year with a pooling window.
Each peer runs in its own process (``_index_peers.py``): cell-months per second, the peak
memory its run added, and the quality of its scores over the calibration period: the share
of cells whose wet scores fail Anderson-Darling at 5 % (their probabilities above the dry
share, tested as uniform), the mean over cells of |mean score|, and the mean gap between
the dry probability a zero's score stands for and the share of zeros (per cell and group).
ferrule: family "auto", zeros "center" (a zero stands for p0 = 2 Phi(z)); the peers: gamma
by maximum likelihood with the location at 0 and the empirical dry share, zeros "upper"
(p0 = Phi(z)). Runs alone: ``python benchmarks/standardized_index.py [--quick]``.
"""

import argparse
import json
import subprocess
import sys
import tempfile
from pathlib import Path

import numpy as np
from _index_data import daily_grid, monthly, seattle
from _report import print_table
from scipy import special

HERE = Path(__file__).resolve().parent
PEERS = ("ferrule", "xclim ML", "xclim APP", "climate-indices")
# Anderson-Darling's 5 % point for a fully specified distribution (Stephens 1974).
AD_CRITICAL = 2.492
# The dry probability each peer's zero score stands for, from the score.
ZERO_MEANING = {"ferrule": lambda z: 2.0 * special.ndtr(z), "xclim ML": special.ndtr,
                "xclim APP": special.ndtr, "climate-indices": special.ndtr}  # fmt: skip


def cases(quick):
    side, years, doy_side, doy_years = (6, 12, 3, 6) if quick else (40, 30, 8, 30)
    end = str(1990 + years)
    daily = daily_grid(side, years, seed=2020)
    yield "monthly", monthly(daily), {"groups": "month", "window": 0, "start": "1991",
                                      "end": end}  # fmt: skip
    del daily
    yield "Seattle daily", seattle(), {"groups": "month", "window": 0, "start": "2012",
                                       "end": "2015"}  # fmt: skip
    window = 15
    yield (f"daily doy ±{window}", daily_grid(doy_side, doy_years, seed=7, sea=False),
           {"groups": "dayofyear", "window": window, "start": "1991",
            "end": str(1990 + doy_years)})  # fmt: skip


def group_of(da, case):
    field = "dayofyear" if case["groups"] == "dayofyear" else "month"
    return da[f"time.{field}"].values


def quality(peer, x, z, groups, calibrated):
    """(AD failure share, mean |mean score|, mean dry-probability gap) over land cells."""
    land = ~np.isnan(x).all(axis=-1)
    x, z = x[land][:, calibrated], z[land][:, calibrated]
    groups = groups[calibrated]
    fails, means, gaps = [], [], []
    for xc, zc in zip(x, z, strict=True):
        u_all, dry_gaps = [], []
        for g in np.unique(groups):
            at = (groups == g) & ~np.isnan(xc)
            share = float(np.mean(xc[at] <= 0.0))
            wet = at & (xc > 0.0)
            u_all.append((special.ndtr(zc[wet]) - share) / (1.0 - share))
            dry = at & (xc <= 0.0)
            if dry.any():
                meaning = ZERO_MEANING[peer](np.nanmean(zc[dry]))
                dry_gaps.append(abs(meaning - share))
        fails.append(anderson_darling(np.concatenate(u_all)) > AD_CRITICAL)
        means.append(abs(np.nanmean(zc)))
        gaps.extend(dry_gaps)
    return np.mean(fails), np.mean(means), (np.mean(gaps) if gaps else 0.0)


def anderson_darling(u):
    """A^2 of probabilities `u` against the uniform; NaN scores count as misfits."""
    u = np.sort(np.clip(np.where(np.isnan(u), 0.0, u), 1e-12, 1.0 - 1e-12))
    n = u.size
    i = np.arange(1, n + 1)
    return -n - np.mean((2 * i - 1) * (np.log(u) + np.log1p(-u[::-1])))


def run_peer(peer, case_file, folder):
    out = folder / f"{peer}.npy"
    result = subprocess.run([sys.executable, str(HERE / "_index_peers.py"), peer,
                             str(case_file), str(out)], capture_output=True, text=True,
                            check=False)  # fmt: skip
    if result.returncode != 0:
        why = (result.stderr.strip().splitlines() or ["failed"])[-1]
        return None, why
    return {**json.loads(result.stdout.strip().splitlines()[-1]), "scores": np.load(out)}, ""


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="smoke run: tiny sizes")
    args = parser.parse_args()
    rows, notes = [], []
    with tempfile.TemporaryDirectory() as tmp:
        folder = Path(tmp)
        for name, da, case in cases(args.quick):
            case_file = folder / "case.nc"
            da.to_dataset().assign_attrs(case).to_netcdf(case_file)
            x = da.values
            calibrated = da.indexes["time"].slice_indexer(case["start"], case["end"])
            calibrated = np.arange(da.sizes["time"])[calibrated]
            land = int((~np.isnan(x).all(axis=-1)).sum())
            cell_months = land * da.sizes["time"] * (12 / 365.25 if "daily" in name else 1)
            runs = {}
            for peer in PEERS:
                runs[peer], why = run_peer(peer, case_file, folder)
                if runs[peer] is None:
                    notes.append(f"{name}: {peer} did not run ({why})")
                    continue
                run = runs[peer]
                ad, mean, gap = quality(peer, x, run["scores"], group_of(da, case), calibrated)
                rows.append([name, peer, f"{cell_months / run['seconds']:.4g}",
                             f"{run['peak_bytes'] / 2**20:.0f}", f"{ad:.1%}", f"{mean:.3f}",
                             f"{gap:.3f}"])  # fmt: skip
            if runs.get("ferrule") and runs.get("xclim ML"):
                speed = runs["xclim ML"]["seconds"] / runs["ferrule"]["seconds"]
                memory = runs["ferrule"]["peak_bytes"] / max(runs["xclim ML"]["peak_bytes"], 1)
                notes.append(f"{name}: throughput ferrule / xclim ML {speed:.2f}x (target >=1x, "
                             f"{'PASS' if speed >= 1 else 'MISS'}); memory ferrule / xclim ML "
                             f"{memory:.2f} (target <=0.5, "
                             f"{'PASS' if memory <= 0.5 else 'MISS'})")  # fmt: skip
    print_table(
        "standardised index: scores of every value, calibration " + ("quick" if args.quick
                                                                      else "1991-2020"),
        ["case", "method", "cell-months/s", "peak MiB", "AD fail 5%", "|mean z|", "zero gap"],
        rows, notes,
    )  # fmt: skip


if __name__ == "__main__":
    main()
