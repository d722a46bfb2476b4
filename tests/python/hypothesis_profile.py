"""Hypothesis settings of the property tests, loaded when the strategies are imported.

Examples are derived from each test's name rather than drawn at random, so every run (the
plain one and the sanitized one) checks the same inputs, and nothing is written into the
checkout. FERRULE_HYPOTHESIS_PROFILE=ferrule-thorough runs many more examples.
"""

import os
import tempfile
from pathlib import Path

from hypothesis import HealthCheck, settings
from hypothesis.configuration import set_hypothesis_home_dir

# Hypothesis keeps a cache of constants found in the sources even without an example
# database; it goes to the temporary directory, not into the checkout.
set_hypothesis_home_dir(Path(tempfile.gettempdir()) / "ferrule-hypothesis")

_COMMON = dict(
    derandomize=True,
    database=None,
    deadline=None,
    print_blob=True,
    # Fits are slow examples by design.
    suppress_health_check=[HealthCheck.too_slow],
)

settings.register_profile("ferrule", max_examples=60, **_COMMON)
settings.register_profile("ferrule-thorough", max_examples=2000, **_COMMON)
settings.load_profile(os.environ.get("FERRULE_HYPOTHESIS_PROFILE", "ferrule"))


def examples(n):
    """A test's own example count, scaled along with the profile's default."""
    return max(1, n * settings.default.max_examples // 60)
