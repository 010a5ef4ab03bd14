"""The documentation site: the Markdown pages of this folder as they stand,
an API reference written from the installed modules' type stubs, and a
gallery made by running examples/. Built by scripts/build-docs.sh."""

import importlib.metadata
import importlib.util
import shutil
import sys
from pathlib import Path

# This file is read through a link in build/docs/source (scripts/build-docs.sh).
ROOT = Path(__file__).resolve().parents[1]
BUILD = ROOT / "build" / "docs"
sys.path.insert(0, str(ROOT / "docs" / "_ext"))

project = "revevu"
release = version = importlib.metadata.version("revevu")
author = "the revevu developers"
copyright = "2026, the revevu developers"

extensions = [
    "myst_parser",
    "autoapi.extension",
    "sphinx_gallery.gen_gallery",
    "protocol_pictures",
]
source_suffix = {".rst": "restructuredtext", ".md": "markdown"}
exclude_patterns = ["docs/_ext", "README.md", "examples"]
root_doc = "docs/index"
nitpicky = True
# The build is offline (no intersphinx), so the stubs' NumPy, matplotlib, os
# and typing types have no page to link to; _Float and _Bool are the stubs'
# private aliases of what a number or flag argument accepts.
nitpick_ignore_regex = [
    ("py:class", r"numpy(\.typing)?\.\w+"),
    ("py:class", r"matplotlib\.axes\.Axes"),
    ("py:class", r"os\.PathLike"),
    ("py:class", r"(typing_extensions\.)?Buffer"),
    ("py:class", r"_Float|_Bool"),
]

myst_heading_anchors = 3
myst_enable_extensions = ["colon_fence"]


# The stubs of the modules as installed: the reference says what the code
# declares, and nothing is written into the checkout.
def installed_stubs():
    stubs = BUILD / "stubs"
    shutil.rmtree(stubs, ignore_errors=True)
    stubs.mkdir(parents=True)
    for module in ("revevu", "vesk"):
        origin = Path(importlib.util.find_spec(module).origin)
        shutil.copy(origin.parent / f"{module}.pyi", stubs / f"{module}.pyi")
    return stubs


autoapi_dirs = [str(installed_stubs())]
autoapi_file_patterns = ["*.pyi"]
autoapi_root = "docs/reference"
autoapi_add_toctree_entry = False
autoapi_options = ["members", "undoc-members", "show-inheritance"]
autoapi_keep_files = False
autoapi_python_class_content = "both"
autoapi_member_order = "bysource"

# The examples run from a copy, so that the files they save land in the
# build folder.
GALLERY_SOURCE = BUILD / "gallery-source"
shutil.rmtree(GALLERY_SOURCE, ignore_errors=True)
shutil.copytree(ROOT / "examples", GALLERY_SOURCE, ignore=shutil.ignore_patterns("__pycache__"))
sphinx_gallery_conf = {
    "examples_dirs": str(GALLERY_SOURCE),
    "gallery_dirs": "docs/gallery",
    "filename_pattern": r"\.py$",
    "image_scrapers": ("matplotlib", "protocol_pictures.scraper"),
    "download_all_examples": False,
    "remove_config_comments": True,
    "plot_gallery": True,
    "abort_on_example_error": True,
    "within_subsection_order": "FileNameSortKey",
}

html_theme = "pydata_sphinx_theme"
html_title = f"revevu {release}"
html_theme_options = {
    "navigation_with_keys": False,
    "show_toc_level": 2,
    # An example's code takes the whole width.
    "secondary_sidebar_items": {"docs/gallery/*": []},
}
html_static_path = []
# The site opens at the landing page.
html_additional_pages = {"index": "redirect.html"}
templates_path = [str(ROOT / "docs" / "_ext" / "templates")]
