"""Sphinx configuration of quilmo's documentation (built by tools/build_docs.sh)."""

import datetime
import doctest
import importlib.metadata
import os
import sys
from pathlib import Path

DOCS = Path(__file__).resolve().parent
sys.path.insert(0, str(DOCS / "_ext"))

import api_pages  # noqa: E402

# The API reference's namespace pages are written from the packages' __all__ at every
# build, so that a new module or name is documented without an edit here.
api_pages.write_pages(DOCS / "api")

project = "quilmo"
author = "quilmo developers"
copyright = f"{datetime.date.today().year}, {author}"
release = importlib.metadata.version("quilmo")
version = release

extensions = [
    "sphinx.ext.autodoc",
    "sphinx.ext.autosummary",
    "sphinx.ext.doctest",
    "numpydoc",
    "sphinx_gallery.gen_gallery",
    "matplotlib.sphinxext.plot_directive",
    "library_table",
    "object_links",
    "docstring_markup",
]

exclude_patterns = ["_build", "requirements.txt", "**/*.ipynb", "**/*.py.md5", "**/*.zip", "**/sg_execution_times.rst"]
templates_path = ["_templates"]
html_static_path = ["_static"]
html_css_files = ["quilmo.css"]

# `name` in docstrings and pages links to the object where it imports (and is then
# checked, as nitpicky checks every reference), and is emphasis where it does not
# (a peer's function, a keyword value).
default_role = "autolink"
nitpicky = True
# No inventories of other projects are fetched (the build runs offline): names of NumPy,
# SciPy and the optional packages stay unlinked.
nitpick_ignore_regex = [
    (r"py:.*", r"(numpy|np|scipy|xarray|dask|distributed|zarr|colour|matplotlib|yaml|collections|typing"
               r"|tmm|PyMoosh|elli|refnx)(\..*)?"),
    # quilmo's internal-error exception is not importable, so it has no page
    ("py:exc", "PanicException"),
]

autosummary_generate = True
autosummary_ignore_module_all = False
autodoc_typehints = "none"  # numpydoc's Parameters give the types
autodoc_default_options = {"members": True}
autodoc_member_order = "groupwise"
numpydoc_show_class_members = False
numpydoc_xref_param_type = False

# The examples in docstrings and pages run as written (``-b doctest``); they assume
# ``import numpy as np`` and ``import quilmo_lab as ql``, as the package says.
doctest_global_setup = """
import numpy as np
import quilmo_lab as ql
np.set_printoptions(legacy=False)  # colour-science sets NumPy 1.13's printing when imported
"""
doctest_default_flags = doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE | doctest.DONT_ACCEPT_TRUE_FOR_1

# Figures of the guide: made by the build from the code shown beside them.
plot_include_source = True
plot_html_show_source_link = False
plot_html_show_formats = False
plot_formats = [("png", 100)]
plot_pre_code = "import numpy as np\nimport matplotlib.pyplot as plt\nimport quilmo_lab as ql\n"
plot_rcparams = {"figure.figsize": (7.0, 3.6), "figure.autolayout": True}

# The gallery: every script of examples/, run by the build. QUILMO_EXAMPLES_QUICK makes the
# examples that take longest use their small sizes (the printed text says which).
os.environ.setdefault("QUILMO_EXAMPLES_QUICK", "1")
sphinx_gallery_conf = {
    "examples_dirs": str(DOCS.parent / "examples"),
    "gallery_dirs": "gallery",
    "filename_pattern": r".*\.py$",
    "ignore_pattern": r"__init__\.py",
    "within_subsection_order": "FileNameSortKey",
    "abort_on_example_error": True,
    "download_all_examples": True,
    "remove_config_comments": True,
    "min_reported_time": 0,
    "show_memory": False,
    "show_signature": False,
    "reset_modules": ("matplotlib",),
    "capture_repr": (),
    "matplotlib_animations": False,
    # the tables of computation times load scripts from a CDN; the build's log has the times
    "write_computation_times": False,
}

html_theme = "pydata_sphinx_theme"
html_title = f"quilmo {release}"
html_theme_options = {
    "navigation_with_keys": False,
    "show_toc_level": 2,
    "secondary_sidebar_items": ["page-toc"],
    "footer_start": ["copyright"],
    "footer_end": ["sphinx-version"],
    "icon_links": [],
}
html_sidebars = {"gallery/index": []}
# the theme's script needs a mode to start from (it logs an error on an empty one)
html_context = {"default_mode": "auto"}
html_favicon = "_static/favicon.svg"
html_show_sourcelink = False
html_copy_source = False
