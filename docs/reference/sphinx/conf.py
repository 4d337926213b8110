# The Python API and the file formats. scripts/docs copies this folder and
# docs/formats into one source tree, puts the package on sys.path and names
# the library (OCT_LIBRARY), then builds with every warning an error.
import os
import sys

sys.path.insert(0, os.environ["OCT_DOCS_PYTHON"])

project = "oct"
author = "the oct authors"
copyright = "the oct authors"
release = version = os.environ["OCT_DOCS_VERSION"]

extensions = ["sphinx.ext.autodoc", "sphinx.ext.napoleon", "myst_parser"]
source_suffix = {".rst": "restructuredtext", ".md": "markdown"}
exclude_patterns = ["_build"]

autodoc_member_order = "bysource"
# The docstrings say what each takes; the hints, spelt out, are numpy's long
# unions.
autodoc_typehints = "none"
# Type hints name numpy and Pillow types; without the network there is no
# inventory to resolve them against, so they stay plain text.
nitpicky = False

# The formats' pages link each other by file name, and the headings.
myst_heading_anchors = 3

html_theme = "alabaster"
html_title = f"oct {release}"
html_show_sourcelink = False
