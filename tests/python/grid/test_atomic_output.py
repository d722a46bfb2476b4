"""Output files are written whole or not at all: a failed write keeps the old file."""

import errno
import os
import resource
import subprocess
import sys
import textwrap

import numpy as np
import pytest
from cli_support import run_ferrule

import ferrule
from ferrule._atomic import atomic_path


def _leftovers(folder):
    return sorted(name for name in os.listdir(folder) if name.endswith(".part"))


@pytest.mark.parametrize(
    "failure", [OSError(errno.ENOSPC, "No space left on device"), KeyboardInterrupt()]
)
def test_a_failed_write_keeps_the_old_file_and_leaves_nothing(tmp_path, failure):
    target = tmp_path / "out.bin"
    target.write_bytes(b"old")
    with pytest.raises(type(failure)):
        with atomic_path(target) as path:
            with open(path, "wb") as file:
                file.write(b"half")
            raise failure
    assert target.read_bytes() == b"old"
    assert _leftovers(tmp_path) == []


def test_a_finished_write_replaces_the_file_keeping_its_permissions(tmp_path):
    target = tmp_path / "out.bin"
    target.write_bytes(b"old")
    os.chmod(target, 0o640)
    with atomic_path(target) as path:
        with open(path, "wb") as file:
            file.write(b"new")
    assert target.read_bytes() == b"new"
    assert os.stat(target).st_mode & 0o777 == 0o640
    assert _leftovers(tmp_path) == []


def _limited(size):
    # A file-size limit as `ulimit -f` sets it: writes beyond it fail with EFBIG.
    return lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))


@pytest.fixture(scope="module")
def grid_files(tmp_path_factory):
    pytest.importorskip("xarray")
    folder = tmp_path_factory.mktemp("grid")
    rng = np.random.default_rng(3)
    grid = ferrule.fit_grid(rng.gamma(2.0, size=(6, 120)), family="yjt", seed=1)
    for name in ("old.nc", "old.npz"):
        grid.save(folder / name)
    return folder, grid


@pytest.mark.parametrize("suffix", [".nc", ".npz"])
def test_save_over_a_file_size_limit_fails_cleanly_and_keeps_the_old_file(grid_files, suffix):
    folder, grid = grid_files
    target = folder / f"old{suffix}"
    before = target.read_bytes()
    script = textwrap.dedent(f"""
        import numpy as np, ferrule
        grid = ferrule.fit_grid(np.random.default_rng(4).gamma(2.0, size=(60, 120)), seed=2)
        try:
            grid.save({str(target)!r})
        except OSError as err:
            print("refused", err.errno)
    """)
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                          preexec_fn=_limited(2048), timeout=300)  # fmt: skip
    assert done.returncode == 0, done.stderr
    assert done.stdout.split() == ["refused", str(errno.EFBIG)]
    assert target.read_bytes() == before
    assert _leftovers(folder) == []


@pytest.fixture(params=["size limit", "small filesystem"])
def full_disk(request, tmp_path):
    """A folder whose writes fail past a few kilobytes, and how to start a process there."""
    if request.param == "size limit":
        yield tmp_path, _limited(4096)
        return
    folder = tmp_path / "disk"
    folder.mkdir()
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", str(folder)],
                             capture_output=True)  # fmt: skip
    if mounted.returncode != 0:
        pytest.skip("cannot mount a small filesystem here")
    try:
        yield folder, None
    finally:
        subprocess.run(["umount", str(folder)], check=True)


def test_fit_grid_onto_a_full_disk_exits_1_and_keeps_the_old_output(full_disk, tmp_path):
    xr = pytest.importorskip("xarray")
    folder, preexec = full_disk
    data = tmp_path / "rain.nc"
    values = np.random.default_rng(5).gamma(2.0, size=(80, 400))
    xr.Dataset({"pr": (("time", "x"), values)}).to_netcdf(data)
    out = folder / "params.nc"
    out.write_bytes(b"an earlier result")
    done = subprocess.run(
        [sys.executable, "-m", "ferrule", "fit-grid", str(data), "--out", str(out)],
        capture_output=True, text=True, preexec_fn=preexec, timeout=600,
    )  # fmt: skip
    assert done.returncode == 1, done.stderr
    assert f"ferrule: error: cannot write '{out}'" in done.stderr
    assert "internal error" not in done.stderr
    assert out.read_bytes() == b"an earlier result"
    assert _leftovers(folder) == []


def test_a_figure_is_not_written_over_its_input(tmp_path):
    pytest.importorskip("matplotlib")
    data = tmp_path / "rain"
    data.write_text("mm\n" + "\n".join(f"{v:.3f}" for v in np.linspace(0.1, 9, 60)) + "\n")
    before = data.read_bytes()
    done = run_ferrule("fit", data, "--family", "yjt", "--plot", data)
    assert done.returncode == 2
    assert "is the input file" in done.stderr
    assert data.read_bytes() == before
