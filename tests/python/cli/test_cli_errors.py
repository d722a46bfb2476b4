"""Every way `ferrule fit` can be refused or stopped: one message, an exit status, no traceback."""

import json
import signal
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest
from cli_support import run_ferrule as run

import ferrule.cli as cli
from ferrule.cli.errors import CliError


def make_inputs(folder: Path) -> None:
    files = {
        "empty.csv": b"",
        "header_only.csv": b"mm\n",
        "all_missing.csv": b"mm\nNA\n-999\n",
        "ragged.csv": b"a,b\n1,2\n3\n4,5\n",
        "words.csv": b"name,code\nfoo,bar\n",
        "latin.csv": "Zürich\n1\n2\n".encode("latin-1"),
        "binary.csv": b"\x00\x01\x02\x03",
        "infinite.csv": b"mm\n1\ninf\n",
        "one.csv": b"4.2\n",
        "two.csv": b"1\n2\n",
        "constant.csv": b"mm\n3\n3\n3\n3\n3\n3\n",
        "dry.csv": b"mm\n0\n0\n0\n0\n",
        "few.csv": b"mm\n0\n0\n0\n0\n1\n2\n2\n3\n",
        "five.csv": b"mm\n1\n2\n3\n4\n5\n",
        "comments.csv": b"# station 42\n# units: mm\nday,mm\n1,0.5\n2,1.5\n",
    }
    for name, data in files.items():
        (folder / name).write_bytes(data)
    np.save(folder / "matrix.npy", np.zeros((3, 2)))
    np.save(folder / "objects.npy", np.array([1, "a"], dtype=object), allow_pickle=True)
    np.save(folder / "strings.npy", np.array(["1", "2"]))
    np.save(folder / "booleans.npy", np.arange(8) % 2 == 0)
    np.save(folder / "infinite.npy", np.array([1.0, -np.inf]))
    np.save(folder / "subnormal.npy", np.arange(1.0, 9.0) * 1e-320)
    (folder / "folder").mkdir()


ERRORS = [
    # (arguments, message on standard error)
    (["missing.csv"], "no such file: 'missing.csv'"),
    (["folder"], "'folder' is a directory, not a data file"),
    (["empty.csv"], "no values to fit in 'empty.csv': the series is empty"),
    (["header_only.csv"], "no values to fit in 'header_only.csv': the series is empty"),
    (["all_missing.csv"], "all 2 entries are missing"),
    (["five.csv", "--column", "rain"], "no column 'rain' in 'five.csv' (columns: mm)"),
    (["ragged.csv", "--column", "5"], "no column '5' in 'ragged.csv': columns are numbered from 1"),
    (["ragged.csv", "--column", "0"], "no column '0' in 'ragged.csv'"),
    (["ragged.csv", "--column", "b"], "line 3 has no field 2 (column 'b'), only 1 field"),
    (["two.csv", "--column", "mm"], "it has no header line, so columns are chosen by number"),
    (["words.csv"], "'words.csv' has no numeric column: name holds 'foo' on line 2"),
    (["comments.csv", "--comment", ""], "'comments.csv' has no numeric column"),
    (["--column", "date"], "column 'date' of 'seattle_precipitation.csv (bundled)' is not numer"),
    (["latin.csv"], "'latin.csv' is not valid UTF-8 at byte 1 (line 1, byte 0xfc); pass --enc"),
    (["binary.csv"], "'binary.csv' is not a text file"),
    (["infinite.csv"], "column 'mm' of 'infinite.csv' holds an infinite value on line 3"),
    (["matrix.npy"], "'matrix.npy' holds an array of shape (3, 2); expected one dimension"),
    (["objects.npy"], "cannot read 'objects.npy' as a NumPy .npy array"),
    (["strings.npy"], "'strings.npy' holds non-numeric values"),
    (["booleans.npy"], "'booleans.npy' holds non-numeric values (dtype bool)"),
    (["infinite.npy"], "'infinite.npy' holds an infinite value at index 1"),
    (["matrix.npy", "--column", "1"], "--column applies to CSV input"),
    (["subnormal.npy"], "too small to be brought to 1 by a power of ten; pass --scale (or"),
    # Series that cannot be fitted.
    (["one.csv"], "cannot fit 'one.csv': it holds only 1 value; a fit needs at least 5"),
    (["two.csv", "--json"], "cannot fit 'two.csv': it holds only 2 values"),
    (["constant.csv"], "cannot fit 'constant.csv': all 6 values equal 3"),
    (["dry.csv", "--left", "0"], "all 4 values are censored (4 at or below the left threshold 0"),
    (["few.csv", "--left", "0"], "of its 8 values, 4 are uncensored (4 censored) and only 3"),
    (["five.csv", "--right", "5"], "only 4 of those are distinct"),
    # Options.
    (["--left", "5", "--right", "5"], "the left threshold (5) must be below the right one (5)"),
    (["--delimiter", ";;"], "argument --delimiter: a delimiter is one character"),
    (["--encoding", "klingon"], "argument --encoding: unknown text encoding 'klingon'"),
    (["--family", "boxcox"], "unknown family 'boxcox'"),
    (["--plot", "no/such/folder/fig.png"], "--plot no/such/folder/fig.png: the folder"),
    (["--plot", "folder"], "--plot folder: that is a directory"),
    (["--plot", "fig.xyz"], "--plot fig.xyz: cannot write a '.xyz' figure"),
]


@pytest.fixture(scope="module")
def inputs(tmp_path_factory):
    folder = tmp_path_factory.mktemp("inputs")
    make_inputs(folder)
    return folder


@pytest.mark.parametrize("args, message", ERRORS, ids=[" ".join(a) for a, _ in ERRORS])
def test_unusable_input_is_one_error_line_and_status_2(inputs, args, message):
    result = run("fit", *args, cwd=inputs)
    assert result.returncode == 2, result.stderr
    assert result.stdout == ""
    assert "Traceback" not in result.stderr
    last = result.stderr.splitlines()[-1]
    assert last.startswith("ferrule: error: ") and message in last


def test_a_command_line_without_a_command_is_a_usage_error():
    result = run()
    assert result.returncode == 2
    assert result.stderr.splitlines()[-1] == (
        "ferrule: error: the following arguments are required: COMMAND"
    )


def test_version_is_printed():
    from importlib.metadata import version

    for args in (["--version"], ["fit", "--version"]):
        result = run(*args)
        assert (result.returncode, result.stdout) == (0, f"ferrule {version('ferrule')}\n")


def test_an_unreadable_file_is_reported(tmp_path, monkeypatch, capsys):
    # Running as root, file modes do not stop reading: the refusal is simulated.
    path = tmp_path / "locked.csv"
    path.write_text("mm\n1\n")

    def refuse(self):
        raise PermissionError(13, "Permission denied")

    monkeypatch.setattr(Path, "read_bytes", refuse)
    assert cli.main(["fit", str(path)]) == 2
    assert capsys.readouterr().err == f"ferrule: error: cannot read '{path}': Permission denied\n"


@pytest.mark.parametrize("where", ["read_series", "check_enough_values", "render_table"])
def test_ctrl_c_anywhere_is_one_line_and_status_130(monkeypatch, capsys, where):
    def interrupted(*args, **kwargs):
        raise KeyboardInterrupt

    monkeypatch.setattr(cli, where, interrupted)
    assert cli.main(["fit", "--family", "yjt"]) == 130
    assert capsys.readouterr().err == "ferrule: interrupted\n"


def test_ctrl_c_while_plotting_is_one_line_and_status_130(tmp_path, monkeypatch, capsys):
    pytest.importorskip("matplotlib")
    import ferrule.cli.plot as plot

    def interrupted(*args, **kwargs):
        raise KeyboardInterrupt

    monkeypatch.setattr(plot, "write_plot", interrupted)
    assert cli.main(["fit", "--family", "yjt", "--plot", str(tmp_path / "f.png")]) == 130
    assert capsys.readouterr().err == "ferrule: interrupted\n"


def test_a_figure_that_cannot_be_drawn_is_a_warning_not_a_failure(tmp_path, monkeypatch, capsys):
    pytest.importorskip("matplotlib")
    import ferrule.cli.plot as plot

    def cannot(*args, **kwargs):
        raise plot.FigureNotDrawn("ValueError: nothing to draw")

    monkeypatch.setattr(plot, "write_plot", cannot)
    path = tmp_path / "f.png"
    assert cli.main(["fit", "--family", "yjt", "--plot", str(path)]) == 0
    captured = capsys.readouterr()
    assert captured.out.startswith("input:")
    assert (
        captured.err
        == f"ferrule: warning: no figure written to {path}: ValueError: nothing to draw\n"
    )


def test_a_fault_of_the_program_is_reported_in_one_line(monkeypatch, capsys):
    def broken(*args, **kwargs):
        raise ZeroDivisionError("float division by zero")

    monkeypatch.setattr(cli, "render_table", broken)
    assert cli.main(["fit", "--family", "yjt"]) == 1
    err = capsys.readouterr().err
    assert err.startswith("ferrule: error: internal error (ZeroDivisionError: float division")
    assert "Traceback" not in err and err.count("\n") == 1


def test_sigint_while_fitting_a_long_series_ends_with_status_130(tmp_path):
    # About 30 000 values: each family takes a few seconds. The signal goes when the first
    # family's console line shows that the second fit has begun.
    np.save(tmp_path / "long.npy", np.random.default_rng(1).lognormal(0.0, 1.0, 30000))
    with subprocess.Popen(
        [sys.executable, "-m", "ferrule", "fit", "long.npy", "--left", "0", "--verbose"],
        cwd=tmp_path,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        # A runner started with Ctrl-C ignored would pass that on; the child gets the default.
        preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL),
    ) as child:
        seen = []
        for line in child.stderr:
            seen.append(line)
            if line.startswith("[yjt] iterations: "):
                child.send_signal(signal.SIGINT)
                break
        out, err = child.communicate(timeout=600)
    assert seen and seen[-1].startswith("[yjt] iterations: ")
    assert child.returncode == 130
    assert err == "ferrule: interrupted\n"
    assert out == ""


def test_a_closed_output_pipe_ends_quietly(tmp_path):
    with subprocess.Popen(
        [sys.executable, "-m", "ferrule", "fit", "--family", "yjt"],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
    ) as child:
        child.stdout.close()
        err = child.stderr.read()
    assert child.returncode == 141
    assert err == b""


def test_cli_error_defaults_to_the_usage_status():
    assert CliError("x").status == 2


def test_missing_values_dropped_appear_in_the_report_header(tmp_path):
    (tmp_path / "gaps.csv").write_text(
        "day,mm\n"
        + "".join(f"{i},{v}\n" for i, v in enumerate([1.5, "", 2.5, -999, 4, "NA", 8]))
        + "7,16\n8,-999.0\n"
    )
    table = run("fit", "gaps.csv", "--column", "mm", "--family", "yjt", cwd=tmp_path)
    assert table.returncode == 0, table.stderr
    assert table.stdout.splitlines()[0] == (
        "input:      gaps.csv, column mm: 5 values (4 missing dropped: 1 empty, 2 '-999', 1 'NA'), "
        "min 1.5, max 16"
    )
    document = json.loads(
        run("fit", "gaps.csv", "--column", "mm", "--family", "yjt", "--json", cwd=tmp_path).stdout
    )
    assert document["input"]["missing_skipped"] == 4
    assert document["input"]["missing_by_marker"] == {"empty": 1, "-999": 2, "NA": 1}


def test_many_values_at_the_minimum_bring_a_warning_suggesting_left(tmp_path):
    rain = [0.0] * 12 + [0.2, 0.5, 1.1, 2.3, 3.0, 4.7, 6.1, 9.4]
    np.save(tmp_path / "rain.npy", np.array(rain))
    warned = run("fit", "rain.npy", "--family", "yjt", cwd=tmp_path)
    assert warned.stderr == (
        "ferrule: warning: 12 of 20 values (60 %) equal the minimum 0; if they stand for a floor "
        "(e.g. dry days), pass --left 0 to count them as left-censored\n"
    )
    assert warned.stdout.startswith("input:")
    censored = run("fit", "rain.npy", "--family", "yjt", "--left", "0", cwd=tmp_path)
    assert censored.returncode == 0 and censored.stderr == ""


@pytest.mark.parametrize("given", [["--scale", "2"], ["--shift", "0"]])
def test_rescaling_options_without_rescaling_bring_a_warning(monkeypatch, capsys, given):
    assert cli.main(["fit", "--family", "yjt", "--no-rescale", "--seed", "1", *given]) == 0
    err = capsys.readouterr().err
    assert err == "ferrule: warning: --scale and --shift have no effect with --no-rescale\n"


def test_an_installation_without_the_kernel_module_is_one_error_line(monkeypatch, capsys):
    import ferrule
    from ferrule.cli.families import families

    families.cache_clear()
    monkeypatch.delattr(ferrule, "_core", raising=False)
    monkeypatch.setitem(sys.modules, "ferrule._core", None)
    try:
        assert cli.main(["fit", "--family", "yjt"]) == 1
    finally:
        families.cache_clear()
    err = capsys.readouterr().err
    assert err.startswith("ferrule: error: the extension module ferrule._core cannot be loaded: ")
    assert err.count("\n") == 1
