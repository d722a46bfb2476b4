"""Which array arguments are accepted, how they are read, and how array results are built."""

import array
import os
import sys

import numpy as np
import pytest

import ferrule.kestrel as kestrel

ARRAY_METHODS = ["transform_many", "inv_transform_many", "rescale_many", "inv_rescale_many"]


def read_only(a):
    a.flags.writeable = False
    return a


@pytest.mark.parametrize("method", ARRAY_METHODS)
@pytest.mark.parametrize(
    ("arg", "error", "message"),
    [
        (
            np.zeros(3, dtype=np.float32),
            ValueError,
            "Buffer dtype mismatch, expected 'double' but got 'float'",
        ),
        (np.zeros(3, dtype=np.int64), ValueError, "Buffer dtype mismatch, expected 'double'"),
        (np.zeros(3, dtype=np.complex128), ValueError, "Buffer dtype mismatch"),
        (
            np.zeros((2, 3)),
            ValueError,
            "Buffer has wrong number of dimensions (expected 1, got 2)",
        ),
        (
            np.array(1.0),
            ValueError,
            "Buffer has wrong number of dimensions (expected 1, got 0)",
        ),
        (read_only(np.zeros(3)), ValueError, None),
        ([0.0, 1.0, 2.0], TypeError, None),
        (bytearray(24), ValueError, "Buffer dtype mismatch"),
        (1.0, TypeError, None),
    ],
    ids=["float32", "int64", "complex", "2-D", "0-D", "read-only", "list", "bytes", "float"],
)
def test_refused_arrays(method, arg, error, message):
    with pytest.raises(error) as e:
        getattr(kestrel.PyYJT(), method)(arg)
    if message is not None:
        assert str(e.value).startswith(message)


@pytest.mark.skipif(sys.byteorder != "little", reason="little-endian hosts only")
def test_big_endian_array_is_refused():
    with pytest.raises(ValueError) as e:
        kestrel.PyYJT().transform_many(np.zeros(3, dtype=">f8"))
    assert str(e.value) == "Big-endian buffer not supported on little-endian compiler"


def test_params_go_through_the_same_checks(family):
    obj = family.cls()
    with pytest.raises(ValueError, match="Buffer dtype mismatch"):
        obj.log_density(np.zeros(4, dtype=np.float32), 1.0, 0.0, 2.0, False)
    with pytest.raises(ValueError):
        obj.log_jacobian(read_only(np.full(4, 0.5)), 1.0, 0.0, 2.0, False)
    with pytest.raises(TypeError):
        obj.log_jacobian([0.5] * 4, 1.0, 0.0, 2.0, False)


@pytest.mark.parametrize(
    ("view", "expected"),
    [
        (lambda a: a[::3], [0.0, 3.0, 6.0, 9.0]),
        (lambda a: a[::-4], [9.0, 5.0, 1.0]),
        (lambda a: a.reshape(2, 5)[:, 2], [2.0, 7.0]),
        (lambda a: a[4:4], []),
    ],
    ids=["every-third", "reversed", "column", "empty-slice"],
)
def test_strided_views_are_read_with_their_strides(view, expected):
    base = np.arange(10.0)
    result = kestrel.PyYJT().transform_many(view(base))
    assert result.tolist() == expected


def test_any_writable_double_buffer_is_accepted():
    # Not a NumPy array: the standard library's array of C doubles.
    values = array.array("d", [0.5, 1.5, -2.0])
    result = kestrel.PyYJT(scale=2.0, shift=1.0).rescale_many(values)
    assert result.tolist() == [3.0, 5.0, -2.0]


@pytest.mark.parametrize("method", ARRAY_METHODS)
def test_none_and_empty_arrays_give_empty_results(family, method):
    for arg in (None, np.empty(0)):
        result = getattr(family.cls(), method)(arg)
        assert type(result) is np.ndarray
        assert result.dtype == np.float64
        assert result.shape == (0,)


@pytest.mark.parametrize("method", ARRAY_METHODS)
def test_results_are_new_arrays_and_inputs_stay_unchanged(family, method):
    values = np.array([0.5, 1.0, 2.5])
    before = values.copy()
    result = getattr(family.cls(), method)(values)
    np.testing.assert_array_equal(values, before)
    assert type(result) is np.ndarray
    assert result.dtype == np.float64
    assert result.ndim == 1
    assert result.shape == values.shape
    assert result.flags.owndata or result.base is not values
    assert not np.shares_memory(result, values)


def test_results_are_built_through_the_module_np(monkeypatch):
    calls = []

    class FakeNumpy:
        @staticmethod
        def fromiter(items, dtype):
            calls.append((items, dtype))
            return "built"

    monkeypatch.setattr(kestrel, "np", FakeNumpy)
    obj = kestrel.PyYJT(scale=2.0)
    assert obj.rescale_many(np.array([1.0, 2.0])) == "built"
    ((items, dtype),) = calls
    assert type(items) is list
    assert items == [2.0, 4.0]
    assert all(type(v) is float for v in items)
    assert dtype is float


@pytest.mark.skipif(
    os.environ.get("FERRULE_SANITIZED") == "1",
    reason="AddressSanitizer aborts on a failed allocation instead of throwing",
)
def test_exhausted_memory_while_copying_becomes_memory_error():
    # 2**59 doubles seen through a zero stride: the copy cannot be allocated.
    huge = np.lib.stride_tricks.as_strided(np.zeros(1), shape=(2**59,), strides=(0,))
    assert huge.flags.writeable
    with pytest.raises(MemoryError):
        kestrel.PyYJT().transform_many(huge)
