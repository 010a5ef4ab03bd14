"""A gallery image scraper: each protocol file an example saves, drawn as
`vesk plot` draws it, so that the gallery shows the protocol beside its code."""

from pathlib import Path

import vesk
from sphinx_gallery.scrapers import figure_rst


def setup(app):
    return {"parallel_read_safe": True, "parallel_write_safe": True}


_seen = {}  # path -> modification time when last drawn


def scraper(block, block_vars, gallery_conf):
    folder = Path(block_vars["src_file"]).parent
    pictures = []
    for path in sorted(folder.glob("*.vesk")):
        stamp = path.stat().st_mtime_ns
        if _seen.get(path) == stamp:
            continue
        _seen[path] = stamp
        picture = Path(next(block_vars["image_path_iterator"])).with_suffix(".svg")
        picture.write_text(vesk.load(path)._repr_svg_())
        pictures.append(str(picture))
    return figure_rst(pictures, gallery_conf["src_dir"])
