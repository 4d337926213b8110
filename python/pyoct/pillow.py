"""Level files in Pillow: ``import pyoct.pillow`` registers the format "OCT"
(extension .oct). ``PIL.Image.open`` then reads a level file as the picture
the library rebuilds from it (RGB, or RGBA with alpha levels), and
``Image.save`` writes a level file for a name ending in .oct or for
``format="OCT"``, with the bytes :func:`pyoct.fromimage` gives.
"""

from __future__ import annotations

import struct
from typing import IO, Any

from PIL import Image, ImageFile

from ._image import frombytes, fromimage

FORMAT = "OCT"

# The level file's header: "OCTL", width and height (signed 32-bit), the
# alpha byte, a reserved byte and the level buffer's size, little-endian.
_HEADER = struct.Struct("<4siiBBq")
_MAGIC = b"OCTL"


def _accept(prefix: bytes) -> bool:
    return prefix[:4] == _MAGIC


def _set_mode(image: Image.Image, mode: str) -> None:
    # Newer Pillow keeps the mode behind a read-only property.
    if isinstance(getattr(type(image), "mode", None), property):
        image._mode = mode  # type: ignore[attr-defined]
    else:
        image.mode = mode  # type: ignore[misc]


class OctImageFile(ImageFile.ImageFile):
    format = FORMAT
    format_description = "oct level file (8 gray levels, 8 alpha levels)"

    def _open(self) -> None:
        header = self.fp.read(_HEADER.size)
        if len(header) < _HEADER.size:
            raise SyntaxError("not a level file: shorter than its header")
        magic, width, height, alpha, _reserved, _raw = _HEADER.unpack(header)
        if magic != _MAGIC or width < 1 or height < 1:
            raise SyntaxError("not a level file")
        _set_mode(self, "RGBA" if alpha else "RGB")
        self._size = (width, height)
        # The whole file goes to the library at once, read by the decoder.
        self.tile = [(FORMAT, (0, 0, width, height), 0, None)]


class OctDecoder(ImageFile.PyDecoder):
    _pulls_fd = True

    def decode(self, buffer: Any) -> "tuple[int, int]":
        assert self.fd is not None and self.im is not None
        with frombytes(self.fd.read()) as level_image:
            if level_image.size != self.im.size:
                raise ValueError("the level file's size differs from its header's")
            mode = "RGBA" if level_image.alpha else "RGB"
            if mode != self.mode:
                raise ValueError("the level file's alpha differs from its header's")
            self.set_as_raw(level_image.toarray().tobytes(), mode)
        return -1, 0


def _save(image: Image.Image, fp: IO[bytes], filename: Any) -> None:
    with fromimage(image) as level_image:
        fp.write(level_image.tobytes())


Image.register_open(FORMAT, OctImageFile, _accept)
Image.register_decoder(FORMAT, OctDecoder)
Image.register_save(FORMAT, _save)
Image.register_extension(FORMAT, ".oct")
Image.register_mime(FORMAT, "image/x-oct-levels")
