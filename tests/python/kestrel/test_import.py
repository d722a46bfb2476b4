"""Module import, the registry of classes and the properties every class shares."""

import _interpreters
import ast
import gc
import importlib
import subprocess
import sys
import textwrap
import weakref
from pathlib import Path

import numpy
import pytest
from conftest import constructor_names

import ferrule
import ferrule.kestrel as kestrel
from ferrule import _core

SINGLE_LOCATION = [info.kestrel_class for info in _core.FAMILIES]
GRID = [info.grid_class for info in _core.FAMILIES if info.grid_class is not None]


def test_second_import_returns_the_first_module_object():
    saved = sys.modules.pop("ferrule.kestrel")
    try:
        again = importlib.import_module("ferrule.kestrel")
        assert again is saved
        # Still initialised: the classes are the same objects.
        assert again.PyYJT is kestrel.PyYJT
    finally:
        sys.modules["ferrule.kestrel"] = saved
        ferrule.kestrel = saved


def _import_in_subinterpreter(config):
    interp = _interpreters.create(config)
    try:
        # The same search path as here, so that the same build of the module is found.
        return _interpreters.run_string(
            interp, f"import sys; sys.path[:] = {sys.path!r}\nimport ferrule.kestrel"
        )
    finally:
        _interpreters.destroy(interp)


def test_second_interpreter_is_refused():
    # A legacy sub-interpreter gets as far as the module's own creation step.
    failure = _import_in_subinterpreter("legacy")
    assert failure is not None
    assert failure.type.__name__ == "ImportError"
    assert failure.msg == (
        "Interpreter change detected - this module can only be loaded into one interpreter "
        "per process."
    )


def test_isolated_interpreter_is_refused():
    # An isolated interpreter refuses the module before it runs (no per-interpreter state).
    failure = _import_in_subinterpreter("isolated")
    assert failure is not None
    assert failure.type.__name__ == "ImportError"


def test_module_attributes():
    public = {name for name in vars(kestrel) if not name.startswith("__")}
    assert public == set(SINGLE_LOCATION) | set(GRID) | {"np"}
    assert kestrel.np is numpy
    assert kestrel.__doc__ is None


def test_unusable_numpy_c_interface_fails_the_import(tmp_path):
    # Both locations of NumPy's C interface made unimportable after NumPy itself loaded.
    code = textwrap.dedent(
        """
        import sys
        import numpy
        sys.modules["numpy._core._multiarray_umath"] = None
        sys.modules["numpy.core._multiarray_umath"] = None
        try:
            import ferrule.kestrel
        except ImportError as e:
            print(e)
        """
    )
    out = subprocess.run(
        [sys.executable, "-c", code], capture_output=True, text=True, check=True, cwd=tmp_path
    )
    assert out.stdout.strip() == (
        "numpy.core.multiarray failed to import (auto-generated because you didn't call "
        "'numpy.import_array()' after cimporting numpy; use '<void>numpy._import_array' to "
        "disable if you are certain you don't need it)."
    )


@pytest.mark.parametrize("name", SINGLE_LOCATION)
def test_class_identity_and_docs(name):
    cls = getattr(kestrel, name)
    assert cls.__module__ == "ferrule.kestrel"
    assert cls.__qualname__ == name
    assert cls.__doc__ is None
    methods = [v for k, v in vars(cls).items() if callable(v) and not k.startswith("__")]
    assert methods
    assert all(m.__doc__ is None for m in methods)


def test_instances_have_no_dict_no_weakrefs_and_are_untracked(family):
    obj = family.cls()
    with pytest.raises(AttributeError):
        obj.__dict__  # noqa: B018
    with pytest.raises(AttributeError):
        obj.anything = 1
    with pytest.raises(TypeError):
        weakref.ref(obj)
    assert not gc.is_tracked(obj)


def test_classes_can_be_subclassed(family):
    class Sub(family.cls):
        def twice(self, x):
            return 2 * self.transform_one(x)

    args = [1.5, 0.5, 2.0, 0.0][: len(family.params)]
    sub = Sub(*args)
    assert isinstance(sub, family.cls)
    assert sub.get_transformation_params() == family.cls(*args).get_transformation_params()
    assert sub.twice(0.5) == 2 * family.cls(*args).transform_one(0.5)


def _stub_methods():
    """Public methods per public class of the installed type stub, inherited ones included."""
    tree = ast.parse((Path(kestrel.__file__).parent / "kestrel.pyi").read_text(encoding="utf-8"))
    classes = {node.name: node for node in tree.body if isinstance(node, ast.ClassDef)}

    def methods(name):
        node = classes[name]
        own = {f.name for f in node.body if isinstance(f, ast.FunctionDef)}
        for base in node.bases:
            own |= methods(base.id)
        return own

    return {
        name: {m for m in methods(name) if not m.startswith("_")}
        for name in classes
        if not name.startswith("_")
    }


def test_type_stub_lists_every_class_and_method_of_the_module():
    module_classes = {name for name in dir(kestrel) if name.startswith("Py")}
    stub = _stub_methods()
    assert set(stub) == module_classes
    for name, methods in stub.items():
        public = {m for m in vars(getattr(kestrel, name)) if not m.startswith("_")}
        assert methods == public, name


def _stub_constructors():
    """Constructor parameter names per public class of the type stub, inherited ones included."""
    tree = ast.parse((Path(kestrel.__file__).parent / "kestrel.pyi").read_text(encoding="utf-8"))
    classes = {node.name: node for node in tree.body if isinstance(node, ast.ClassDef)}

    def parameters(name):
        node = classes[name]
        for item in node.body:
            if isinstance(item, ast.FunctionDef) and item.name == "__init__":
                return tuple(arg.arg for arg in item.args.args[1:])
        return next(parameters(base.id) for base in node.bases if base.id in classes)

    return {name: parameters(name) for name in classes if not name.startswith("_")}


@pytest.mark.parametrize("info", _core.FAMILIES, ids=lambda info: info.key)
def test_stub_and_module_agree_with_the_registry(info):
    names = constructor_names(info)
    classes = [info.kestrel_class] + ([info.grid_class] if info.grid_class else [])
    stub = _stub_constructors()
    for name in classes:
        assert stub[name] == names, name
    # The module: every argument, passed by its name, lands where that name says.
    values = {name: 0.5 + 0.25 * i for i, name in enumerate(names)}
    ntrans = len(info.transformation_names)
    trans = [values[name] for name in names[:ntrans]]
    scale_shift = [values["scale"], values.get("shift", 0.0)]
    single = getattr(kestrel, info.kestrel_class)(**values)
    assert single.get_transformation_params() == trans
    assert single.get_scale_shift() == scale_shift
    if info.grid_class:
        grid = getattr(kestrel, info.grid_class)(
            **{name: numpy.full((1, 2), value) for name, value in values.items()}
        )
        assert grid.get_transformation_params().tolist() == [[trans, trans]]
        assert grid.get_scale_shift().tolist() == [[scale_shift, scale_shift]]
    with pytest.raises(TypeError, match="unexpected keyword argument 'offset'"):
        getattr(kestrel, info.kestrel_class)(**values, offset=1.0)
