"""Sphinx configuration of the vemla_chess documentation (built by tools/docs.sh)."""
import re
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

project = "vemla_chess"
author = "the vemla_chess developers"
copyright = "the vemla_chess developers, MIT licence"
# The version is written once, in pyproject.toml.
release = re.search(r'^version = "([^"]+)"', (ROOT / "pyproject.toml").read_text(), re.M).group(1)
version = release

extensions = ["myst_parser"]
source_suffix = {".md": "markdown"}
root_doc = "index"
exclude_patterns = ["_build"]
# Headings of levels 1 to 3 get anchors, so pages link to sections as #slug.
myst_heading_anchors = 3

html_theme = "furo"
html_title = f"vemla_chess {release}"
html_static_path = []
# No intersphinx: everything the build needs is on this machine.

# Every cross-reference must resolve, so a renamed method breaks the build;
# the built-in types named in signatures have no page of their own here.
nitpicky = True
BUILTINS = r"(None|str|int|float|bool|bytes|object|list|dict|tuple|set|Iterable|Iterator|Mapping|Callable|PathLike|" \
           r"os\.PathLike|array\.array|WriteableBuffer|BinaryIO|numpy\..*|np\..*|Literal|BaseException|Exception)"
nitpick_ignore_regex = [("py:class", BUILTINS), ("py:obj", BUILTINS), ("py:exc", BUILTINS)]
