"""What a grid fit raises beyond the library's usual warnings: its interruption, and the
cells it had to leave out."""

from __future__ import annotations

from typing import TYPE_CHECKING

from ferrule._warnings import FerruleWarning

if TYPE_CHECKING:
    import xarray

    from ferrule._grid.result import GridFit

__all__ = ["GridFitInterrupted", "MaskedCellsWarning"]


class GridFitInterrupted(KeyboardInterrupt):
    """Ctrl-C stopped a grid fit; ``partial`` holds the cells finished before it.

    A ``KeyboardInterrupt``, so that a script still stops; in a notebook, catch it to keep
    the work done. The cells not reached have ``fitted`` False and NaN parameters.

    Parameters
    ----------
    partial : GridFit or xarray.Dataset
        The grid result with the finished cells (of ``ferrule.xarray.fit``: its Dataset).
    cells : int, optional
        The cells of the whole fit, when `partial` holds fewer (a grouped
        ``ferrule.xarray.fit`` keeps only the groups it reached); None: as many as `partial`.

    Attributes
    ----------
    partial : GridFit or xarray.Dataset
        The grid result with the finished cells.

    Examples
    --------
    >>> import numpy as np
    >>> import ferrule
    >>> values = np.random.default_rng(0).gamma(2.0, size=(3, 100))
    >>> try:
    ...     grid = ferrule.fit_grid(values, seed=1)
    ... except ferrule.GridFitInterrupted as stopped:  # Ctrl-C pressed
    ...     grid = stopped.partial
    >>> int(grid.fitted.sum())
    3
    """

    def __init__(self, partial: GridFit | xarray.Dataset, *, cells: int | None = None) -> None:
        done = int(partial.fitted.sum())
        total = int(partial.fitted.size) if cells is None else cells
        super().__init__(
            f"grid fit interrupted after {done} of {total} cells; "
            "the finished cells are in .partial"
        )
        self.partial = partial


class MaskedCellsWarning(FerruleWarning):
    """Cells of a grid were left out: all values missing (sea), too few values, or
    values no fit accepts. ``GridFit.reason`` says why for each cell.

    Examples
    --------
    >>> import warnings
    >>> import numpy as np
    >>> import ferrule
    >>> values = np.random.default_rng(0).gamma(2.0, size=(3, 100))
    >>> values[1] = np.nan  # a sea cell
    >>> with warnings.catch_warnings(record=True) as caught:
    ...     warnings.simplefilter("always")
    ...     grid = ferrule.fit_grid(values, seed=1)
    >>> caught[0].category.__name__, grid.reason[1]
    ('MaskedCellsWarning', 'all values are missing')
    """
