"""Running `ferrule fit-grid` and `ferrule transform`: NetCDF files through xarray."""

import argparse
import os
import sys
import warnings
from pathlib import Path
from typing import Any

import ferrule
from ferrule.cli.errors import FAILED, USAGE, CliError, in_option_words, warn
from ferrule.cli.fitting import AUTO
from ferrule.cli.outputs import refuse_inputs

__all__ = ["fit_grid_command", "transform_command"]


def _xarray() -> Any:
    try:
        import xarray
    except ImportError:
        raise CliError(
            "fit-grid and transform need xarray and h5netcdf: pip install 'ferrule[xarray]'",
            USAGE,
        ) from None
    return xarray


def _open(path: str) -> Any:
    _xarray()
    import ferrule.xarray as fx

    if not os.path.isfile(path):
        raise CliError(f"no such file: '{path}'", USAGE)
    try:
        return fx.open_netcdf(path)
    except Exception as err:  # the backends raise many kinds for a file they cannot read
        raise CliError(f"cannot read '{path}' as NetCDF: {err}", USAGE) from None


def _variable(dataset: Any, name: str | None, path: str) -> Any:
    names = [str(v) for v in dataset.data_vars]
    if name is None:
        if len(names) != 1:
            raise CliError(f"'{path}' holds {len(names)} variables ({', '.join(names)}): "
                           "name one with --var", USAGE)  # fmt: skip
        name = names[0]
    if name not in dataset.data_vars:
        raise CliError(f"'{path}' has no variable '{name}' (it has: {', '.join(names)})", USAGE)
    return dataset[name]


def _check_dim(da: Any, dim: str, path: str) -> None:
    if dim not in da.dims:
        raise CliError(
            f"variable '{da.name}' of '{path}' has no dimension '{dim}' (it has: "
            f"{', '.join(map(str, da.dims))}); name it with --dim",
            USAGE,
        )


def _check_out(path: str, *inputs: str) -> None:
    """Fails before any work when the result could not be written where asked, or would
    replace a file the command reads (the data would be lost, the parameters kept)."""
    target = Path(path)
    if target.is_dir():
        raise CliError(f"--out {path}: that is a directory; name the file to write", USAGE)
    folder = target.parent
    if not folder.is_dir():
        raise CliError(f"--out {path}: the folder '{folder}' does not exist", USAGE)
    if not os.access(folder, os.W_OK):
        raise CliError(f"--out {path}: the folder '{folder}' cannot be written to", USAGE)
    refuse_inputs("--out", path, *inputs)


def _write(dataset: Any, path: str) -> None:
    import ferrule.xarray as fx

    try:
        fx.write_netcdf(dataset, path)
    except OSError as err:
        # The input was fine; the disk was not (full, or over a size limit).
        raise CliError(f"cannot write '{path}': {err.strerror or err}", FAILED) from None


def _quietly(call: Any) -> Any:
    """Runs `call`, then says each warning it raised in one line on standard error."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        result = call()
    for warning in caught:
        warn(str(warning.message))
    return result


def fit_grid_command(args: argparse.Namespace) -> int:
    _xarray()
    import ferrule.xarray as fx

    with _open(args.input) as dataset:
        _check_out(args.out, args.input)
        da = _variable(dataset, args.var, args.input)
        _check_dim(da, args.dim, args.input)
        try:
            params = _quietly(lambda: fx.fit(
                da, dim=args.dim, family=args.family,
                method=None if args.optimiser == AUTO else args.optimiser, groupby=args.groupby,
                left=args.left, right=args.right,
                scale="auto" if args.scale is None else args.scale, shift=args.shift,
                prior=args.prior, seed=args.seed, n_jobs=args.jobs, progress=args.progress,
                max_converge=args.max_converge, max_eval=args.max_eval, fast=args.fast,
            ))  # fmt: skip
        except (ValueError, TypeError) as err:
            raise CliError(in_option_words(err), USAGE) from None
    _write(params, args.out)
    cells, fitted, valid = (int(params["fitted"].size), int(params["fitted"].sum()),
                            int(params["valid"].sum()))  # fmt: skip
    print(f"{fitted} of {cells} cells fitted, {valid} valid; parameters written to {args.out}",
          file=sys.stderr)  # fmt: skip
    return 0 if valid else FAILED


def transform_command(args: argparse.Namespace) -> int:
    _xarray()
    import ferrule.xarray as fx

    with _open(args.params) as params, _open(args.input) as dataset:
        _check_out(args.out, args.params, args.input)
        try:
            settings = fx.fit_settings(params)
        except ferrule.ArgumentError:
            raise CliError(f"'{args.params}' was not written by ferrule fit-grid", USAGE) from None
        da = _variable(dataset, args.var, args.input)
        dim = args.dim or str(settings.get("dim", "time"))
        _check_dim(da, dim, args.input)
        try:
            z = fx.transform(params.load(), da, dim=dim)
        except (ValueError, TypeError) as err:
            raise CliError(in_option_words(err), USAGE) from None
        _write(z.to_dataset(name=str(da.name)), args.out)
    print(f"standard normal scores of '{da.name}' written to {args.out}", file=sys.stderr)
    return 0
