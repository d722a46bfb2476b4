"""The four transformation families as the command line names, builds and reads them."""

from dataclasses import dataclass

import numpy as np


@dataclass(frozen=True)
class Family:
    key: str  # name on the command line
    title: str
    class_name: str  # class of ferrule.kestrel
    param_names: tuple[str, ...]  # transformation parameters, in get_transformation_params order
    has_shift: bool  # whether the class takes a shift argument
    models_raw_value: bool  # Jones-Pewsey: the raw value itself follows the fitted distribution
    # The optimiser the command line uses unless told otherwise. Yeo-Johnson's parameters are
    # unconstrained and its start point is the identity, where the simplex does well; a box
    # search can reach its saturating region (lambda << 0, T(x) = T(inf) in doubles). The
    # others are bounded by their box, which only the global searches respect.
    default_optimiser: str

    def build(self, scale: float, shift: float):
        from ferrule import kestrel

        cls = getattr(kestrel, self.class_name)
        if self.has_shift:
            return cls(scale=scale, shift=shift)
        return cls(scale=scale)

    def prepare(self, values: np.ndarray, shift: float) -> np.ndarray:
        """The series as handed to the fit: a class without its own shift gets it added here.

        (x + shift) * scale is then computed as ((x + shift) + 0) * scale, the same number."""
        if self.has_shift or shift == 0.0:
            return values
        return values + shift

    def standardise(self, model, values: np.ndarray) -> np.ndarray:
        """Maps fitted-scale values to the scale on which the fit assumes a standard normal.

        Normal-transform families: z = (T(x) - mu) / sigma.
        Jones-Pewsey: z = T((x - mu) / sigma), the sinh-arcsinh map of the standardised value."""
        *_, mu, sigma = model.get_distribution_params()
        values = np.ascontiguousarray(values, dtype=np.float64)
        if self.models_raw_value:
            return np.asarray(model.transform_many((values - mu) / sigma))
        return (np.asarray(model.transform_many(values)) - mu) / sigma


FAMILIES: dict[str, Family] = {
    family.key: family
    for family in (
        Family("yjt", "Yeo-Johnson", "PyYJT", ("lambda",), True, False, "simplex"),
        Family("logsinh", "log-sinh", "PyLogSinh", ("lambda", "epsilon"), False, False, "sce"),
        Family(
            "sinhasinh", "sinh-arcsinh", "PySinhAsinh", ("delta", "epsilon"), True, False, "sce"
        ),
        Family("jpt", "Jones-Pewsey", "PyJPT", ("delta", "epsilon"), True, True, "sce"),
    )
}
