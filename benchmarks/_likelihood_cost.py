"""Group 4: C++ microbenchmarks of the core, built with meson on request and run here.

* the cost of one evaluation of the censored likelihood on a 2000-value rain series against a
  bound of (distinct values x 1.3 x the scalar floor of one uncensored term + n additions);
* the objective evaluations of one Nelder-Mead fit against the distinct points it evaluates.
"""

import argparse
import os
import shutil
import subprocess
import sys
from pathlib import Path

from _ferrule_calls import fit_nelder_mead
from _rain import LEFT, RIGHT, rain_series
from _report import print_table, ratio_text, target_cells

ROOT = Path(__file__).resolve().parents[1]
BUILD = ROOT / "build" / "bench"
SIZE = 2000
DISTINCT_FACTOR = 1.3
BOUND_TARGET = ("<=", 1.0)


def build_tool_environment():
    """PATH with the interpreter's own bin directory first, where meson and ninja live."""
    return dict(os.environ, PATH=f"{Path(sys.executable).parent}{os.pathsep}{os.environ['PATH']}")


def run_quietly(command, env):
    """Run a build command; on failure return its last output lines, else None."""
    completed = subprocess.run(command, env=env, capture_output=True, text=True, check=False)
    if completed.returncode == 0:
        return None
    return "\n".join((completed.stdout + completed.stderr).splitlines()[-15:])


def configure():
    """Set up the benchmark build directory once; None on success, else the error text."""
    env = build_tool_environment()
    if (BUILD / "build.ninja").exists():
        return None
    shutil.rmtree(BUILD, ignore_errors=True)
    return run_quietly(
        ["meson", "setup", str(BUILD), str(ROOT), "--buildtype=release", "-Dbenchmarks=enabled",
         "-Dnative_tests=disabled"],
        env,
    )  # fmt: skip


def build(target):
    """Build one microbenchmark; its path, or None and the error text."""
    error = run_quietly(["meson", "compile", "-C", str(BUILD), target], build_tool_environment())
    return (None, error) if error else (BUILD / "benchmarks" / "cpp" / target, None)


def run_benchmark(executable, *arguments):
    """Run one microbenchmark and collect its ``bench KEY VALUE`` lines."""
    completed = subprocess.run(
        [str(executable), *map(str, arguments)], capture_output=True, text=True, check=True
    )
    results = {}
    for line in completed.stdout.splitlines():
        parts = line.split()
        if len(parts) == 3 and parts[0] == "bench":
            results[parts[1]] = float(parts[2])
    return results


def likelihood_table(executable, series_file, q, min_seconds):
    r = run_benchmark(executable, series_file, *(repr(float(v)) for v in q), min_seconds)
    n, distinct = r["values"], r["distinct_values"]
    bound = distinct * DISTINCT_FACTOR * r["floor_ns_per_value"] + n * r["addition_ns_per_value"]

    def row(label, nanoseconds):
        ratio = nanoseconds / bound
        cells = [f"{nanoseconds:.0f}", f"{nanoseconds / n:.2f}", f"{bound:.0f}", ratio_text(ratio)]
        return [label, *cells, *target_cells(ratio, BOUND_TARGET)]

    print_table(
        f"C++ likelihood: one evaluation on {int(n)} rain values, {int(distinct)} distinct",
        ["evaluation", "ns", "ns/value", "bound ns", "ns/bound", "target", "mark"],
        [
            row("fit objective (series prepared once)", r["fit_objective_ns"]),
            row("Transformation::negLogLik", r["evaluation_ns"]),
        ],
        [
            f"at the ferrule Nelder-Mead optimum q = ({q[0]:.6g}, {q[1]:.6g}, {q[2]:.6g}); "
            f"{int(r['wet_values'])} uncensored values; -logL {r['negloglik']:.6f}",
            f"floor {r['floor_ns_per_value']:.2f} ns per value: two pow and one log per "
            f"uncensored value in a plain loop; add {r['addition_ns_per_value']:.2f} ns per "
            "value: a plain running sum",
            f"bound = distinct x {DISTINCT_FACTOR} x floor + n x add; ns/bound <= 1 meets it",
            "negLogLik takes the raw series, so it prepares the series (sorts out the distinct "
            "values) on every call; a fit does that once",
        ],
    )


def evaluations_table(executable, series_file):
    r = run_benchmark(executable, series_file)
    ratio = r["evaluations"] / r["distinct_points"]
    matches = "yes" if r["matches_library_fit"] == 1.0 else "NO (the counts are of another run)"
    counts = [r["iterations"], r["evaluations"], r["reported_evaluations"], r["distinct_points"]]
    print_table(
        f"C++ Nelder-Mead: objective evaluations of one fit of {int(r['values'])} rain values",
        ["iterations", "evaluations", "its own count", "distinct points", "evaluations/distinct"],
        [[*map(int, counts), ratio_text(ratio)]],
        [
            "the library's fit rebuilt from its optimiser with a counting objective; "
            f"same result as the library's fit: {matches}",
            "no target: evaluations above the distinct points are repeated work",
        ],
    )


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--quick", action="store_true")
    quick = parser.parse_args().quick
    error = configure()
    likelihood_exe, error = build("bench_likelihood") if error is None else (None, error)
    if likelihood_exe is None:
        print(f"C++ likelihood benchmark not built:\n{error}")
        sys.exit(1)

    x = rain_series(SIZE, seed=SIZE)
    series_file = BUILD / f"rain{SIZE}.txt"
    series_file.write_text("\n".join(repr(float(v)) for v in x) + "\n")
    q = fit_nelder_mead(x, LEFT, RIGHT)
    likelihood_table(likelihood_exe, series_file, q, min_seconds=0.05 if quick else 2.0)

    counting_exe, error = build("bench_nelder_mead_calls")
    if counting_exe is None:
        # It uses the optimiser's own interface, which may change; the group goes on without it.
        print(f"Nelder-Mead evaluation count skipped: its benchmark does not build:\n{error}")
        return
    evaluations_table(counting_exe, series_file)


if __name__ == "__main__":
    main()
