"""A short run of every fuzz target (scripts/fuzz.sh runs them at length)."""

import pytest
from fuzz_targets import TARGETS, run
from hypothesis_profile import examples


@pytest.mark.parametrize("name", sorted(TARGETS))
def test_fuzz_target_finds_nothing(name):
    run(name, examples(30))
