"""Smoke test of an installed wheel (scripts/wheel.sh runs it in a fresh environment without
a compiler): the version, a fit, `ferrule fit` on the bundled data, the kestrel classes and
the extras the metadata declares.

Usage: python scripts/wheel_smoke.py VERSION
"""

import subprocess
import sys
from importlib import metadata
from pathlib import Path

import numpy as np

import ferrule
from ferrule.kestrel import PyYJT

# Each extra installs what it names.
EXTRAS = {
    "plot": {"matplotlib"},
    "xarray": {"xarray", "h5netcdf", "h5py"},
    "dask": {"dask", "distributed"},
    "progress": {"tqdm"},
}


def check(condition: bool, what: str, detail: str = "") -> None:
    if not condition:
        sys.exit(f"wheel smoke test failed: {what}\n{detail}".rstrip())
    print(f"  ok: {what}")


def extra_packages(extra: str) -> set[str]:
    names = set()
    for requirement in metadata.requires("ferrule") or []:
        if f'extra == "{extra}"' in requirement:
            names.add(requirement.split(";")[0].split("[")[0].split(">")[0].split("=")[0].strip())
    return names


def main(version: str) -> None:
    venv = Path(sys.prefix).resolve()
    check(Path(ferrule.__file__).resolve().is_relative_to(venv), f"ferrule imported from {venv}")
    check(ferrule.__version__ == version, f"ferrule.__version__ is {version}")

    rain = np.maximum(np.random.default_rng(42).gamma(0.8, 4.0, size=500) - 1.0, 0.0)
    fit = ferrule.fit(rain, "yeo_johnson", left=0.0, seed=1)
    again = ferrule.fit(rain, "yeo_johnson", left=0.0, seed=1)
    check(fit.valid and again == fit, "a valid fit, repeated by its seed")
    check(abs(float(fit.cdf(0.0)) - float(np.mean(rain == 0.0))) < 0.05, "its dry-day mass")

    grid = ferrule.fit_grid(np.stack([rain, rain[::-1]]), left=0.0, seed=1, n_jobs=2)
    check(bool(grid.valid.all()), "a grid fit on two threads")

    model = PyYJT()
    model.optim_params(rain, 0.0, np.inf, False, False)
    back = model.inv_transform_many(model.transform_many(rain))
    check(np.allclose(back, rain) and len(model.get_distribution_params()) == 3, "kestrel PyYJT")

    run = subprocess.run(
        ["ferrule", "fit", "--seed", "1"], capture_output=True, text=True, check=False
    )
    check(run.returncode == 0, "`ferrule fit` on the bundled data exits 0", run.stderr)
    check("seattle_precipitation.csv" in run.stdout, "and reports the bundled series")
    shown = subprocess.run(["ferrule", "--version"], capture_output=True, text=True, check=True)
    check(shown.stdout.strip() == f"ferrule {version}", "`ferrule --version`")

    for extra, packages in EXTRAS.items():
        check(packages <= extra_packages(extra), f"extra {extra!r} installs {sorted(packages)}")


if __name__ == "__main__":
    main(sys.argv[1])
