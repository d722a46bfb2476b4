"""Which cells of a CSV column, or entries of an array, count as missing observations."""

import math
from collections import Counter
from dataclasses import dataclass

import numpy as np

# Cell texts that mean "no observation" unless --na-values says otherwise; empty cells always do.
DEFAULT_NA_VALUES = ("NA", "NaN", "N/A", "null", "-999", "-9999", "-99.9")
EMPTY = "empty"  # how empty cells are counted in the report


@dataclass(frozen=True)
class MissingMarkers:
    """The texts that mark a missing value.

    A marker is matched whatever its case; a marker that is a number also matches the same
    number written otherwise (-999 matches -999.0), in a CSV cell or in an array.

    Examples
    --------
    >>> markers = MissingMarkers.parse("NA,-999")
    >>> markers.marker_of("na"), markers.marker_of("-999.0"), markers.marker_of("3")
    ('NA', '-999', None)
    """

    by_text: dict[str, str]  # lower-cased text -> the marker as listed
    by_number: dict[float, str]  # value of a numeric marker -> the marker as listed

    @classmethod
    def parse(cls, text: str | None) -> "MissingMarkers":
        """Markers from a comma-separated list; None gives the default list."""
        listed = DEFAULT_NA_VALUES if text is None else text.split(",")
        by_text, by_number = {}, {}
        for marker in (item.strip() for item in listed):
            if not marker:
                continue
            by_text.setdefault(marker.lower(), marker)
            number = _number(marker)
            if number is not None and math.isfinite(number):
                by_number.setdefault(number, marker)
        return cls(by_text, by_number)

    def marker_of(self, cell: str) -> str | None:
        """EMPTY for a blank cell, the marker a cell matches, or None for a value."""
        cell = cell.strip()
        if not cell:
            return EMPTY
        found = self.by_text.get(cell.lower())
        if found is None and self.by_number:
            number = _number(cell)
            found = self.by_number.get(number) if number is not None else None
        return found

    def drop_from_array(self, values: np.ndarray) -> tuple[np.ndarray, Counter]:
        """The entries that are not NaN nor a numeric marker, and what was dropped."""
        dropped = Counter()
        keep = ~np.isnan(values)
        if not keep.all():
            dropped["NaN"] = int(values.size - keep.sum())
        for number, marker in self.by_number.items():
            hit = values == number
            if hit.any():
                dropped[marker] += int(hit.sum())
                keep &= ~hit
        return values[keep], dropped


def _number(text: str) -> float | None:
    try:
        return float(text)
    except ValueError:
        return None
