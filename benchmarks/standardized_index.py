"""Standardised indices: ferrule against xclim and climate-indices on the same data.

Cases: a monthly grid (daily rain summed by month, sea cells, a dry season) by calendar
month, and daily values by day of year (ferrule pools a window of days; xclim fits each day
of year alone; climate-indices' daily index needs 366-day years and is not run): the bundled
Seattle series and a daily grid.
Each peer runs in its own process (``_index_peers.py``): cell-months per second, the peak
memory its run added, and the quality of its scores over the calibration period: the share
of cells whose wet scores fail Anderson-Darling at 5 % (their probabilities above the p0
the peer's own scores take, tested as uniform: a wet score's place in the peer's wet
distribution), the share of values left without a score, the mean over cells of |mean
score|, and the mean gap between the dry probability a zero's score stands for and the true
one (per cell and group): the generator's for the synthetic grids (an estimate pooled over
more values comes closer to it); for Seattle the seasonal cycle of a logistic regression on
three harmonics of the day of year (a day of year's own four values give its share of
zeros a standard error near 0.25, which a peer fitting each day alone repeats exactly).
ferrule: family "auto" (the index's default: every family, the valid fit of lowest AIC; and
with adequate=0.25: the families in turn, stopping at the first fit that passes the normality
test at that level) or Yeo-Johnson, each fit the library's
thorough default, zeros "center" (a zero stands for p0 = 2 Phi(z)); the peers: gamma by maximum
likelihood with the location at 0 and the empirical dry share, zeros "upper" (p0 = Phi(z)).
Runs alone: ``python benchmarks/standardized_index.py [--quick]``.
"""

import argparse
import json
import subprocess
import sys
import tempfile
from pathlib import Path

import numpy as np
from _index_data import daily_grid, group_of, monthly, seasonal_dry_chance, seattle, true_dry_chance
from _report import print_table, ratio_text, target_cells
from scipy import special

HERE = Path(__file__).resolve().parent
PEERS = ("ferrule auto", "ferrule auto 0.25", "ferrule yjt", "xclim ML", "xclim APP",
         "climate-indices")  # fmt: skip
# Anderson-Darling's 5 % point for a fully specified distribution (Stephens 1974).
AD_CRITICAL = 2.492


# The dry probability each peer's zero score stands for, from the score.
def _centre(z):
    return 2.0 * special.ndtr(z)


ZERO_MEANING = {"ferrule auto": _centre, "ferrule auto 0.25": _centre, "ferrule yjt": _centre,
                "xclim ML": special.ndtr, "xclim APP": special.ndtr,
                "climate-indices": special.ndtr}  # fmt: skip


CASES = ("monthly", "seattle", "daily")


def cases(quick, side, doy_side, doy_years, only=CASES):
    """The monthly grid and, unless `quick`, the day-of-year cases (those in `only`)."""
    years = 6 if quick else 30
    window = 15
    if "monthly" in only:
        daily = daily_grid(side, years, seed=2020)
        totals = monthly(daily)
        del daily
        yield "monthly", totals, true_dry_chance(totals, 2020), {
            "groups": "month", "window": 0, "start": "1991", "end": str(1990 + years)}  # fmt: skip
    if quick:
        return
    if "seattle" in only:
        rain = seattle()
        yield (f"Seattle doy ±{window}", rain, seasonal_dry_chance(rain),
               {"groups": "dayofyear", "window": window, "start": "2012",
                "end": "2015"})  # fmt: skip
    if "daily" not in only:
        return
    doy = daily_grid(doy_side, doy_years, seed=7, sea=False)
    yield (f"daily doy ±{window}", doy, true_dry_chance(doy, 7),
           {"groups": "dayofyear", "window": window, "start": "1991",
            "end": str(1990 + doy_years)})  # fmt: skip


def quality(peer, x, z, dry, groups, calibrated, dry_chance):
    """(AD failure share, unscored share, mean |mean score|, mean dry-probability gap) over
    land cells; a cell without scores fails the test. `dry`: the chance of a dry value the
    peer's scores take for each value (its p0, which places the wet values above it);
    `dry_chance`: the true one."""
    land = ~np.isnan(x).all(axis=-1)
    x, z = x[land][:, calibrated], z[land][:, calibrated]
    dry, truth = dry[land][:, calibrated], dry_chance[land][:, calibrated]
    groups = groups[calibrated]
    fails, means, gaps = [], [], []
    for xc, zc, pc, tc in zip(x, z, dry, truth, strict=True):
        wet = (xc > 0.0) & ~np.isnan(zc)
        u = (special.ndtr(zc[wet]) - pc[wet]) / (1.0 - pc[wet])
        for g in np.unique(groups):
            at = (groups == g) & ~np.isnan(xc)
            zero = at & (xc <= 0.0) & ~np.isnan(zc)
            if zero.any():
                gaps.append(abs(ZERO_MEANING[peer](np.mean(zc[zero])) - float(np.mean(tc[at]))))
        fails.append(u.size == 0 or anderson_darling(u) > AD_CRITICAL)
        means.append(abs(np.nanmean(zc)) if u.size else np.nan)
    unscored = np.mean(np.isnan(z)[~np.isnan(x)])
    return np.mean(fails), unscored, np.nanmean(means), (np.mean(gaps) if gaps else np.nan)


def anderson_darling(u):
    """A^2 of probabilities `u` against the uniform (those beyond (0, 1), below the dry
    share, at its ends)."""
    u = np.sort(np.clip(u, 1e-12, 1.0 - 1e-12))
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
    return {**json.loads(result.stdout.strip().splitlines()[-1]), "scores": np.load(out),
            "dry": np.load(folder / f"{peer}_dry.npy")}, ""  # fmt: skip


def against_xclim(name, ours, run, xclim):
    """Ratio rows, xclim ML / ours: time (target >= 1x) and peak memory (target >= 2x)."""
    rows = []
    for what, key, target in (("time", "seconds", 1), ("peak memory", "peak_bytes", 2)):
        ratio = xclim[key] / max(run[key], 1e-9)
        rows.append([name, f"xclim ML / {ours}", what, ratio_text(ratio),
                     *target_cells(ratio, (">=", target))])  # fmt: skip
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="smoke run: a tiny monthly grid")
    parser.add_argument(
        "--side", type=int, help="cells along each side of the monthly grid (default 40; quick 3)"
    )
    # 3 x 3: a day-of-year fit pools ~930 values (30 years, ±15 days) and each of the
    # 366 x cells fits takes "auto" about 0.1 s on 2 cores (sinh-arcsinh most of it):
    # 8 x 8 would take "auto" near an hour, 3 x 3 five minutes.
    parser.add_argument("--doy-side", type=int, default=3, help="the same of the daily grid")
    parser.add_argument("--doy-years", type=int, default=30, help="years of the daily grid")
    parser.add_argument("--only", nargs="+", choices=CASES, default=CASES,
                        help="the cases to run (default: all)")  # fmt: skip
    args = parser.parse_args()
    side = args.side or (3 if args.quick else 40)
    rows, ratios, notes = [], [], []
    with tempfile.TemporaryDirectory() as tmp:
        folder = Path(tmp)
        for name, da, dry_chance, case in cases(args.quick, side, args.doy_side,
                                                args.doy_years, args.only):  # fmt: skip
            case_file = folder / "case.nc"
            da.to_dataset().assign_attrs(case).to_netcdf(case_file)
            x = da.values
            calibrated = da.indexes["time"].slice_indexer(case["start"], case["end"])
            calibrated = np.arange(da.sizes["time"])[calibrated]
            land = int((~np.isnan(x).all(axis=-1)).sum())
            daily = case["groups"] == "dayofyear"
            cell_months = land * da.sizes["time"] * (12 / 365.25 if daily else 1)
            runs = {}
            for peer in PEERS:
                runs[peer], why = run_peer(peer, case_file, folder)
                if runs[peer] is None:
                    notes.append(f"{name}: {peer} did not run ({why})")
                    continue
                run = runs[peer]
                ad, unscored, mean, gap = quality(peer, x, run["scores"], run["dry"],
                                                  group_of(da, case), calibrated,
                                                  dry_chance)  # fmt: skip
                rows.append([name, peer, f"{cell_months / run['seconds']:.4g}",
                             f"{run['peak_bytes'] / 2**20:.0f}", f"{ad:.1%}", f"{unscored:.1%}",
                             f"{mean:.3f}", f"{gap:.3f}"])  # fmt: skip
            for ours in ("ferrule auto", "ferrule auto 0.25", "ferrule yjt"):
                if runs.get(ours) and runs.get("xclim ML"):
                    ratios.extend(against_xclim(name, ours, runs[ours], runs["xclim ML"]))
    print_table(
        f"standardised index: scores of every value; monthly grid {side} x {side}"
        + ("" if args.quick else f", daily grid {args.doy_side} x {args.doy_side}"),
        ["case", "method", "cell-months/s", "peak MiB", "AD fail 5%", "no score", "|mean z|",
         "zero gap"],
        rows, notes,
    )  # fmt: skip
    print_table("standardised index: xclim ML / ferrule (above 1: ferrule is faster, leaner)",
                ["case", "ratio", "of", "ratio", "target", "mark"], ratios)  # fmt: skip


if __name__ == "__main__":
    main()
