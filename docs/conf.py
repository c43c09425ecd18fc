"""Sphinx configuration of kiv's documentation site (built by scripts/docs.sh)."""

import os
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE / "_ext"))

import kiv  # noqa: E402 - the installed package, whose docstrings the reference shows

project = "kiv"
author = "The kiv developers"
copyright = "2026, the kiv developers"
release = kiv.__version__
version = release

extensions = [
    "sphinx.ext.autodoc",
    "sphinx.ext.mathjax",
    "numpydoc",
    "sphinx_gallery.gen_gallery",
    "kiv_core_stubs",
]

# ARCHITECTURE.md is for the people who change the code; the site is for the people who use it.
exclude_patterns = ["_build", "ARCHITECTURE.md", "README.md", "gallery/**/README.txt"]

# The reference follows the code: numpydoc sections, no class-member tables of its own (the autodoc
# directives list the members), no implicit cross-references of parameter types to other projects.
numpydoc_show_class_members = False
numpydoc_xref_param_type = False
autodoc_member_order = "bysource"
autodoc_typehints = "signature"
autodoc_typehints_format = "short"

html_theme = "pydata_sphinx_theme"
html_title = f"kiv {release}"
html_theme_options = {
    "navigation_with_keys": False,
    "show_toc_level": 2,
    "footer_start": ["copyright"],
    "footer_end": ["sphinx-version"],
}
html_static_path: list[str] = []
html_show_sourcelink = False

# The gallery: every plot_*.py under gallery/ runs while the site is built, and its figures are kept.
# Subfolders are the gallery's sections (discovery, arrays, algebra); an example joins a section by being
# put in its folder. The Pareto front of a search (the best formula per complexity) belongs in discovery/,
# beside the fit with its residuals, once the search reports one. KIV_DOCS_FAST=1 skips running them (a quick look at the text while writing).
sphinx_gallery_conf = {
    "examples_dirs": ["gallery"],
    "gallery_dirs": ["auto_examples"],
    "filename_pattern": r"/plot_",
    "plot_gallery": "False" if os.environ.get("KIV_DOCS_FAST") == "1" else "True",
    "download_all_examples": False,
    "remove_config_comments": True,
    "within_subsection_order": "FileNameSortKey",
    "matplotlib_animations": False,
    "image_scrapers": ("matplotlib",),
    "reference_url": {"kiv": None},
    "abort_on_example_error": True,
}
