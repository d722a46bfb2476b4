"""The 32-bit seed a fit runs with, from what users pass as `seed`."""

import numbers

import numpy as np

__all__ = ["resolve_seed"]

SeedLike = int | np.integer | np.random.Generator | None


def resolve_seed(seed: SeedLike) -> int:
    """None: fresh entropy; a Generator: one uint32 drawn from it; an integer below 2**32:
    itself, so that ``seed=fit.seed`` repeats a fit; a larger one: reduced to 32 bits
    through SeedSequence."""
    if seed is None:
        return int(np.random.SeedSequence().generate_state(1)[0])
    if isinstance(seed, np.random.Generator):
        return int(seed.integers(0, 2**32, dtype=np.uint64))
    if isinstance(seed, numbers.Integral) and not isinstance(seed, bool):
        if int(seed) < 0:
            raise ValueError(f"seed must be a non-negative integer, got {seed}")
        if int(seed) < 2**32:
            return int(seed)
        return int(np.random.SeedSequence(int(seed)).generate_state(1)[0])
    raise TypeError(
        f"seed must be None, a non-negative integer or a numpy.random.Generator, "
        f"got {type(seed).__name__}"
    )
