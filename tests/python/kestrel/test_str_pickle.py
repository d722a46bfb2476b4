"""String form, and the refusal to pickle or copy instances."""

import copy
import pickle
import re

import pytest

REFUSAL = "no default __reduce__ due to non-trivial __cinit__"


def test_str_is_a_fixed_text(family):
    # The sinh-arcsinh text spells "PySinhASinh", unlike its class name.
    assert str(family.cls()) == family.text
    assert str(family.cls(*[2.0] * len(family.params))) == family.text
    assert re.fullmatch(
        rf"<ferrule\.kestrel\.{family.name} object at 0x[0-9a-f]+>", repr(family.cls())
    )


@pytest.mark.parametrize(
    "action",
    [
        *[lambda o, p=p: pickle.dumps(o, protocol=p) for p in range(pickle.HIGHEST_PROTOCOL + 1)],
        copy.copy,
        copy.deepcopy,
        lambda o: o.__reduce__(),
        lambda o: o.__reduce_ex__(2),
        lambda o: o.__setstate__(None),
        lambda o: o.__setstate__({"anything": 1}),
    ],
    ids=[f"pickle-{p}" for p in range(pickle.HIGHEST_PROTOCOL + 1)]
    + ["copy", "deepcopy", "reduce", "reduce_ex", "setstate-none", "setstate-dict"],
)
def test_pickling_and_copying_are_refused(family, action):
    obj = family.cls()
    with pytest.raises(TypeError) as e:
        action(obj)
    assert str(e.value) == REFUSAL


def test_subclass_instances_are_refused_too(family):
    class Sub(family.cls):
        pass

    with pytest.raises(TypeError) as e:
        pickle.dumps(Sub())
    assert str(e.value) == REFUSAL


def test_pickling_hooks_are_installed_under_their_standard_names(family):
    assert "__reduce__" in vars(family.cls)
    assert "__setstate__" in vars(family.cls)
    assert "__reduce_cython__" not in vars(family.cls)
