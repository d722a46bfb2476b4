"""Exhausted memory while the single-location classes copy their arguments or results.

Every allocation of a method must be guarded, so that running out of memory anywhere
raises MemoryError and leaves the process alive; a vector copied outside a guard would
abort it instead.
"""

import json
import os
import subprocess
import sys
import textwrap

import failing_new
from conftest import FAMILIES

SCRIPT = """
    import ctypes, json
    import numpy as np
    import ferrule.kestrel as k

    arm = ctypes.CDLL({lib!r}).arm_failure
    arm.argtypes = [ctypes.c_size_t, ctypes.c_long]
    # Only the copies of these have 301 or 50 doubles: each attempt makes the next such
    # allocation fail, until a call needs fewer than that and succeeds.
    v = np.random.default_rng(0).gamma(2.0, 1.5, 301)
    params = np.linspace(0.1, 0.3, 50)

    calls = {{}}
    for name in {families!r}:
        cls = getattr(k, name)
        for m in ["transform_many", "inv_transform_many", "rescale_many", "inv_rescale_many"]:
            calls[name + "." + m] = (301, lambda cls=cls, m=m: getattr(cls(), m)(v))
        for m in ["log_density", "log_jacobian"]:
            calls[name + "." + m] = (
                50, lambda cls=cls, m=m: getattr(cls(), m)(params, 1.0, 0.0, 10.0, False)
            )
    calls["PyYJT.optim_params"] = (301, lambda: k.PyYJT().optim_params(v, 0, 1e9, 0, 0))
    calls["PyYJT.optim_paramsDE"] = (301, lambda: k.PyYJT().optim_paramsDE(v, 0, 1e9, 0, 0))
    calls["PyYJT.optim_paramsSCE"] = (
        301, lambda: k.PyYJT().optim_paramsSCE(v, 0, 1e9, 0, 0, 5, 2000)
    )

    errors = {{}}
    for name, (n, call) in calls.items():
        seen = errors[name] = []
        while not seen or seen[-1] is not None and len(seen) < 100:
            arm(n * 8, len(seen) + 1)
            try:
                call()
                seen.append(None)
            except Exception as e:
                seen.append(type(e).__name__)
            finally:
                arm(0, 0)
    print("RESULT " + json.dumps(errors))
"""


@failing_new.needs_failing_new
def test_exhausted_memory_in_any_copy_becomes_memory_error(tmp_path):
    lib = failing_new.build(tmp_path)
    families = [f.name for f in FAMILIES]
    code = textwrap.dedent(SCRIPT.format(lib=str(lib), families=families))
    run = subprocess.run(
        [sys.executable, "-c", code],
        capture_output=True,
        text=True,
        cwd=tmp_path,
        env={**os.environ, "LD_PRELOAD": str(lib)},
    )
    # An allocation failure outside a guard terminates the child.
    assert run.returncode == 0, run.stderr[-2000:]
    (line,) = [x for x in run.stdout.splitlines() if x.startswith("RESULT ")]
    errors = json.loads(line[len("RESULT ") :])
    assert len(errors) == 6 * len(families) + 3
    for name, seen in errors.items():
        # At least the argument's own copy failed; then fewer and fewer, then success.
        assert len(seen) >= 2 and seen[-1] is None, (name, seen)
        assert set(seen[:-1]) == {"MemoryError"}, (name, seen)
