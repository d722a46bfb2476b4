"""The public layer explains itself: signatures, numpydoc docstrings with examples, types."""

import inspect
import math
import pydoc
import re
import subprocess
import sys
from pathlib import Path

import pytest
from api_support import run_examples

import ferrule

PUBLIC = [getattr(ferrule, name) for name in ferrule.__all__]
FIT_METHODS = ["to_normal", "from_normal", "cdf", "sf", "logsf", "logpdf", "pdf", "ppf",
               "sample", "to_dict", "from_dict", "summary", "plot", "with_alternatives",
               "n_uncensored", "goodness_of_fit"]  # fmt: skip


@pytest.mark.parametrize(
    "obj",
    [*PUBLIC, *(getattr(ferrule.Fit, m) for m in FIT_METHODS)],
    ids=lambda o: (o.fget if isinstance(o, property) else o).__qualname__,
)
def test_everything_public_has_a_docstring_with_examples(obj):
    doc = inspect.getdoc(obj)
    assert doc and "Examples\n--------" in doc and ">>> " in doc


@pytest.mark.parametrize(
    "func",
    [ferrule.fit, ferrule.fit_problems, ferrule.auto_scale, ferrule.ArgumentError.worded,
     *(getattr(ferrule.Fit, m) for m in FIT_METHODS
       if not isinstance(getattr(ferrule.Fit, m), property))],
    ids=lambda f: f.__qualname__,
)  # fmt: skip
def test_every_parameter_is_documented(func):
    wanted = set(inspect.signature(func).parameters) - {"self", "cls"}
    doc = inspect.getdoc(func)
    section = doc.partition("Parameters\n----------\n")[2]
    documented = set()
    for header in re.findall(r"^([\w, ]+) :", section, flags=re.M):
        documented.update(header.split(", "))
    assert wanted <= documented


def test_fit_signature_takes_options_by_keyword_with_their_defaults():
    signature = inspect.signature(ferrule.fit)
    params = signature.parameters
    assert list(params)[:2] == ["data", "family"]
    assert all(
        p.kind is p.KEYWORD_ONLY for name, p in params.items() if name not in {"data", "family"}
    )
    defaults = {name: p.default for name, p in params.items()}
    assert defaults["family"] == "yeo_johnson" and defaults["method"] is None
    assert defaults["left"] == -math.inf and defaults["right"] == math.inf
    assert defaults["scale"] == "auto" and defaults["nan_policy"] == "raise"
    assert signature.return_annotation in (ferrule.Fit, "Fit")


def test_help_describes_every_option():
    # What help() shows (the builtin itself is absent when Python runs without site).
    text = pydoc.render_doc(ferrule.fit, renderer=pydoc.plaintext)
    documented = set()
    for header in re.findall(r"^ {4}([\w, ]+) :", text, flags=re.M):
        documented.update(header.split(", "))
    assert set(inspect.signature(ferrule.fit).parameters) <= documented


def test_importing_the_package_leaves_the_fitting_layer_unloaded():
    code = "import sys, ferrule.kestrel; print(sorted(m for m in sys.modules if 'ferrule._' in m))"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.strip() == "[]"
    assert set(dir(ferrule)) >= set(ferrule.__all__)


def test_the_package_is_marked_as_typed():
    assert (Path(ferrule.__file__).parent / "py.typed").is_file()


@pytest.mark.parametrize(
    "module", ["ferrule", "ferrule._fitting", "ferrule._result", "ferrule._warnings",
               "ferrule._validity_api", "ferrule._validity", "ferrule._goodness",
               "ferrule._errors", "ferrule._names", "ferrule._input",
               # the command line's modules
               "ferrule.cli", "ferrule.cli.checks", "ferrule.cli.csv_text", "ferrule.cli.errors",
               "ferrule.cli.families", "ferrule.cli.fitting", "ferrule.cli.missing",
               "ferrule.cli.parser", "ferrule.cli.readers", "ferrule.cli.index"],
)  # fmt: skip
def test_docstring_examples_run(module, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    result = run_examples(module)
    assert result.attempted > 0 and result.failed == 0
