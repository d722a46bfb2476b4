"""Sphinx configuration of the ferrule documentation site (built by scripts/docs.sh)."""

import doctest
import sys
import warnings
from importlib import metadata
from pathlib import Path

import matplotlib

matplotlib.use("Agg")

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))  # the build-time helper below

from _cli_help import write_cli_help  # noqa: E402

project = "ferrule"
author = "the ferrule developers"
copyright = "the ferrule developers, MIT licence"
release = metadata.version("ferrule")
version = release

extensions = [
    "sphinx.ext.autodoc",
    "sphinx.ext.autosummary",
    "sphinx.ext.doctest",
    "numpydoc",
    "sphinx_gallery.gen_gallery",
]

exclude_patterns = ["_build", "requirements.txt", "examples/README.rst", "screenshots"]
templates_path = ["_templates"]
html_static_path = ["_static"]
html_css_files = ["ferrule.css"]
html_theme = "furo"
html_title = f"ferrule {release}"
html_show_sourcelink = False
suppress_warnings = ["config.cache"]

# The API reference: one page per public name, drawn from the numpydoc docstrings.
autosummary_generate = True
autosummary_imported_members = True
numpydoc_show_class_members = False
numpydoc_class_members_toctree = False
numpydoc_xref_param_type = False
numpydoc_validation_checks = set()

# The docstring examples run in the doctest builder (scripts/docs.sh), with the flags the
# test suite's doctests use.
doctest_default_flags = doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE
doctest_global_setup = "import numpy as np"
doctest_test_doctest_blocks = "default"

# The gallery: every example runs at build time and its figures are saved on the page.
sphinx_gallery_conf = {
    "examples_dirs": "examples",
    "gallery_dirs": "auto_examples",
    "filename_pattern": r"/plot_",
    "download_all_examples": False,
    "remove_config_comments": True,
    "within_subsection_order": "FileNameSortKey",
    "image_scrapers": ("matplotlib",),
    "matplotlib_animations": False,
    "reference_url": {},
    "show_memory": False,
    "min_reported_time": 10**6,
    "abort_on_example_error": True,
    # Every build runs every example, so that a change of the library cannot leave a
    # figure drawn by an older version.
    "run_stale_examples": True,
}

# The package's own warnings are shown once in an example, never turned into build errors;
# anything else a library warns about stays visible.
warnings.filterwarnings("ignore", message="Matplotlib is currently using agg")


def setup(app):
    write_cli_help(HERE / "_generated")
