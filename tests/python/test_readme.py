"""The README's examples run as written: every ```python block, in a fresh interpreter."""

import re
import shlex
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

README = Path(__file__).resolve().parents[2] / "README.md"
BLOCKS = re.findall(r"```python\n(.*?)```", README.read_text(encoding="utf-8"), flags=re.S)


def test_readme_has_examples():
    assert len(BLOCKS) >= 2


@pytest.mark.parametrize("code", BLOCKS, ids=[f"block{i}" for i in range(len(BLOCKS))])
def test_readme_example_runs(code, tmp_path):
    result = subprocess.run(
        [sys.executable, "-c", code],
        cwd=tmp_path,
        capture_output=True,
        text=True,
        timeout=300,
    )
    assert result.returncode == 0, result.stderr
    # The low-level classes print their console lines; the public layer only on request.
    if "ferrule.kestrel" in code or "verbose=True" in code:
        assert "iterations: " in result.stdout


def test_readme_commands_exist():
    # The first two commands of the README are the set-up scripts of the checkout.
    root = README.parent
    for script in re.findall(r"^(scripts/\w+\.sh)", README.read_text(encoding="utf-8"), flags=re.M)[
        :2
    ]:
        assert (root / script).is_file(), script


def _cli_lines():
    text = README.read_text(encoding="utf-8")
    block = re.search(r"## The main job.*?```sh\n(.*?)```", text, flags=re.S).group(1)
    return [shlex.split(line, comments=True) for line in block.splitlines() if line.strip()]


def _write_inputs(folder, rain, flows):
    """The files the README's commands name, and the CSV text a piped command reads."""
    (folder / "rain.csv").write_text("day,mm\n" + "".join(f"{i},{x}\n" for i, x in enumerate(rain)))
    (folder / "regen.csv").write_text(
        "day;mm\n" + "".join(f"{i};{x:.2f}\n".replace(".", ",") for i, x in enumerate(rain))
    )
    np.save(folder / "flows.npy", flows)
    return "day,flow\n" + "".join(f"{i},{x}\n" for i, x in enumerate(flows))


@pytest.mark.parametrize("argv", _cli_lines(), ids=lambda argv: " ".join(argv[:3]))
def test_readme_command_line_examples_run(argv, tmp_path):
    rng = np.random.default_rng(3)
    rain = np.maximum(rng.gamma(0.7, 5.0, size=300) - 1.0, 0.0)
    piped = _write_inputs(tmp_path, rain, rng.lognormal(1.0, 0.8, size=300))
    # "producer | ferrule ...": the producer stands for any program writing CSV text.
    stdin = None
    if "|" in argv:
        argv, stdin = argv[argv.index("|") + 1 :], piped
    assert argv[0] == "ferrule"
    result = subprocess.run(
        [sys.executable, "-m", "ferrule", *argv[1:]],
        cwd=tmp_path,
        input=stdin,
        capture_output=True,
        text=True,
        timeout=600,
    )
    assert result.returncode == 0, result.stdout + result.stderr
    assert result.stdout.strip()
    for name in argv:
        if name.endswith(".png"):
            assert (tmp_path / name).stat().st_size > 0
