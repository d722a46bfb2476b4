"""What the four single-location classes have in common, as a table the tests run over."""

from collections.abc import Callable
from dataclasses import dataclass

import pytest
import reference as ref

import ferrule.kestrel as kestrel


@dataclass(frozen=True)
class Family:
    cls: type
    # Constructor arguments in positional order with their defaults.
    params: tuple[tuple[str, float], ...]
    text: str  # str() of an instance
    explicit: tuple[str, ...]  # transform_one's optional parameters
    forward: Callable[..., float]  # forward(x, *transformation_params)
    inverse: Callable[..., float]
    decode: Callable[[list[float]], list[float]]
    search_vector: tuple[float, ...]  # an interior point of the family's search box

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


FAMILIES = [
    Family(
        kestrel.PyYJT,
        (("trans_lambda", 1.0), ("scale", 1.0), ("shift", 0.0)),
        "PyYJT",
        ("trans_lambda",),
        ref.yj_forward,
        ref.yj_inverse,
        ref.yj_decode,
        (0.7, 0.2, -0.3),
    ),
    Family(
        kestrel.PyLogSinh,
        (("trans_lambda", 1.0), ("trans_epsilon", 0.0), ("scale", 1.0)),
        "PyLogSinh",
        ("trans_lambda", "trans_epsilon"),
        ref.ls_forward,
        ref.ls_inverse,
        ref.ls_decode,
        (-0.2, -1.5, 0.4, 0.1),
    ),
    Family(
        kestrel.PySinhAsinh,
        (("trans_delta", 1.0), ("trans_epsilon", 0.0), ("scale", 1.0), ("shift", 0.0)),
        "PySinhASinh",
        ("trans_delta", "trans_epsilon"),
        ref.sa_forward,
        ref.sa_inverse,
        ref.sa_decode,
        (0.6, 0.2, -0.3, 0.4),
    ),
    Family(
        kestrel.PyJPT,
        (("trans_delta", 1.0), ("trans_epsilon", 0.0), ("scale", 1.0), ("shift", 0.0)),
        "PyJPT",
        ("trans_delta", "trans_epsilon"),
        ref.sa_forward,
        ref.sa_inverse,
        ref.sa_decode,
        (0.6, 0.2, -0.3, 0.4),
    ),
]

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
