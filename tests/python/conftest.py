"""What the four single-location classes have in common, as a table the tests run over."""

from collections.abc import Callable
from dataclasses import dataclass

import pytest
import reference as ref

import ferrule.kestrel as kestrel
from ferrule import _core


def constructor_names(info: _core.FamilyInfo) -> tuple[str, ...]:
    """The kestrel constructor's parameters for a registry entry, in positional order."""
    trans = tuple(f"trans_{name}" for name in info.transformation_names)
    return (*trans, "scale", *(("shift",) if info.has_shift else ()))


# The constructors' default values, by parameter name.
CONSTRUCTOR_DEFAULTS = {
    "trans_lambda": 1.0, "trans_delta": 1.0, "trans_epsilon": 0.0, "scale": 1.0, "shift": 0.0,
}  # fmt: skip


@dataclass(frozen=True)
class Family:
    # The registry's facts (class, parameter names, shift or not) come from the entry;
    # what the tests add is their own: reference maps, and sample points.
    info: _core.FamilyInfo
    text: str  # str() of an instance
    forward: Callable[..., float]  # forward(x, *transformation_params)
    inverse: Callable[..., float]
    decode: Callable[[list[float]], list[float]]
    search_vector: tuple[float, ...]  # an interior point of the family's search box

    @property
    def cls(self) -> type:
        return getattr(kestrel, self.info.kestrel_class)

    @property
    def params(self) -> tuple[tuple[str, float], ...]:
        """Constructor arguments in positional order with their defaults."""
        return tuple((name, CONSTRUCTOR_DEFAULTS[name]) for name in constructor_names(self.info))

    @property
    def explicit(self) -> tuple[str, ...]:
        """transform_one's optional parameters: the transformation parameters."""
        return constructor_names(self.info)[: len(self.info.transformation_names)]

    @property
    def name(self):
        return self.cls.__name__

    @property
    def ntrans(self):
        return len(self.explicit)

    @property
    def nparms(self):
        return self.ntrans + 2

    def split(self, args):
        """(transformation params, scale, shift) that constructor `args` should produce."""
        named = dict(zip([n for n, _ in self.params], args, strict=True))
        trans = [named[n] for n in self.explicit]
        return trans, named["scale"], named.get("shift", 0.0)


_TEST_DATA = {
    "yeo_johnson": ("PyYJT", ref.yj_forward, ref.yj_inverse, ref.yj_decode, (0.7, 0.2, -0.3)),
    "log_sinh": (
        "PyLogSinh", ref.ls_forward, ref.ls_inverse, ref.ls_decode, (-0.2, -1.5, 0.4, 0.1),
    ),
    "sinh_asinh": (
        "PySinhASinh", ref.sa_forward, ref.sa_inverse, ref.sa_decode, (0.6, 0.2, -0.3, 0.4),
    ),
    "jones_pewsey": (
        "PyJPT", ref.sa_forward, ref.sa_inverse, ref.sa_decode, (0.6, 0.2, -0.3, 0.4),
    ),
}  # fmt: skip
FAMILIES = [Family(info, *_TEST_DATA[info.key]) for info in _core.FAMILIES]

# Constructor arguments per family (in positional order) for which the forward map is
# defined on the test values 0.3 ... 4.0 used below, log-sinh needing lambda x + eps > 0.
CTOR_ARGS = {
    "PyYJT": (0.5, 2.0, 1.5),
    "PyLogSinh": (0.8, 0.3, 1.7),
    "PySinhAsinh": (1.6, -0.4, 0.5, 2.0),
    "PyJPT": (0.7, 0.25, 3.0, -1.0),
}


@pytest.fixture(params=FAMILIES, ids=lambda f: f.name)
def family(request):
    return request.param


@pytest.fixture
def module():
    return kestrel
