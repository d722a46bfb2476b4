"""The benchmark scripts still run (their timings are read by people, never asserted)."""

import subprocess
import sys
from pathlib import Path

BENCHMARKS = Path(__file__).resolve().parents[2] / "benchmarks"


def test_fit_benchmark_runs_and_reports_every_family_and_optimiser(tmp_path):
    result = subprocess.run(
        [sys.executable, str(BENCHMARKS / "bench_fits.py"), "--quick"],
        cwd=tmp_path,
        capture_output=True,
        text=True,
        timeout=600,
    )
    assert result.returncode == 0, result.stderr
    rows = [line.split() for line in result.stdout.splitlines()]
    fitted = {(row[0], row[1]) for row in rows if len(row) == 4 and row[0].startswith("Py")}
    families = {"PyYJT", "PyLogSinh", "PySinhAsinh", "PyJPT"}
    optimisers = {"optim_params", "optim_paramsSCE", "optim_paramsDE"}
    assert fitted == {(f, o) for f in families for o in optimisers}
    assert "iterations:" not in result.stdout  # the fits' own lines are kept out of the table
    assert any(line.startswith("grid ") for line in result.stdout.splitlines())
