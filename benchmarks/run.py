"""Run the benchmark suite: every group in its own process, tables of ratios against the peers.

Usage: ``python benchmarks/run.py [--quick]`` with ferrule, SciPy and spotpy installed
(``scripts/bench.sh`` sets that up; the cluster run of group 5 also needs xarray and
dask[distributed], which the development requirements bring). ``--quick`` is a smoke run:
tiny sizes, one repeat.
"""

import argparse
import os
import platform
import subprocess
import sys
import time
from importlib import metadata
from pathlib import Path

HERE = Path(__file__).resolve().parent
GROUPS = {
    "1. single fits": "_single_fits.py",
    "2. grid fits": "_grid_fits.py",
    "3. maps of a long series": "_transform_map.py",
    "4. C++ likelihood": "_likelihood_cost.py",
    "5. grid scaling": "grid_scaling.py",
    "6. standardised index": "standardized_index.py",
    "7. continuous series": "_continuous_fits.py",
    "8. reaching the optimum": "_optimum_hits.py",
    "9. monthly grid": "_monthly_grid.py",
}


def cpu_model():
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown"


def version(package):
    try:
        return metadata.version(package)
    except metadata.PackageNotFoundError:
        return "not installed"


def print_machine():
    usable = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count()
    load = ", ".join(f"{x:.2f}" for x in os.getloadavg())
    print(f"machine: {cpu_model()}, {os.cpu_count()} cores ({usable} usable), load average {load}")
    print(f"python {platform.python_version()} ({sys.executable}), {platform.platform()}")
    packages = ["ferrule", "numpy", "scipy", "spotpy", "xarray", "dask", "distributed", "xclim",
                "climate-indices"]  # fmt: skip
    print("versions: " + ", ".join(f"{p} {version(p)}" for p in packages))
    blas = {k: v for k, v in os.environ.items() if k.startswith(("OPENBLAS_", "OMP_"))}
    if blas:
        print("environment: " + ", ".join(f"{k}={v}" for k, v in sorted(blas.items())))
    sys.stdout.flush()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="smoke run: tiny sizes, one repeat")
    args = parser.parse_args()
    print_machine()
    failed = []
    started = time.perf_counter()
    for name, script in GROUPS.items():
        print(f"\n#### {name}", flush=True)
        group_start = time.perf_counter()
        command = [sys.executable, str(HERE / script), *(["--quick"] if args.quick else [])]
        if subprocess.run(command, check=False).returncode != 0:
            failed.append(name)
        print(f"({name}: {time.perf_counter() - group_start:.1f} s)", flush=True)
    load = ", ".join(f"{x:.2f}" for x in os.getloadavg())
    print(f"\ntotal {time.perf_counter() - started:.1f} s, load average now {load}")
    if failed:
        print("failed groups: " + ", ".join(failed))
        sys.exit(1)


if __name__ == "__main__":
    main()
