"""Images: one conversion record of the library each."""

from __future__ import annotations

import ctypes
import errno
import io
import os
import tempfile
import threading
from typing import TYPE_CHECKING, Any, Optional, Tuple

import numpy as np
import numpy.typing as npt

from . import _codes, _errors
from ._errors import OctError
from ._lib import OctBitmap, PathLike, encode_name, library
from ._records import adopt

# Pixels and levels: arrays of bytes.
Bytes = npt.NDArray[np.uint8]

if TYPE_CHECKING:  # pragma: no cover
    import PIL.Image

# octCatch takes at most 2^31 - 1 bytes, and octBitmapWrap rows at most
# that far apart.
_MAX_BLOCK = (1 << 31) - 1

def _bitmap_pixels(handle: int) -> Bytes:
    """The pixels of one of the library's bitmaps as an array of height ×
    width × bytes per pixel, bottom row first (the bitmap's own order). The
    array borrows the library's memory: it must not outlive the bitmap."""
    info = OctBitmap()
    if not handle or not library().octBitmapInfo(handle, ctypes.byref(info)) or not info.bits:
        raise OctError(errno.EINVAL, "the library gave no readable bitmap")
    depth = info.bitsPerPixel // 8
    memory = (ctypes.c_uint8 * (info.widthBytes * info.height)).from_address(info.bits)
    # Built with explicit strides, so that it is certainly a view: rows are
    # widthBytes apart, padded to a multiple of 4 bytes.
    return np.ndarray(
        (info.height, info.width, depth), np.uint8, buffer=memory, strides=(info.widthBytes, depth, 1)
    )


def _name_of(path: PathLike) -> str:
    return os.fsdecode(os.fspath(path))


class Image:
    """A picture reduced to 8 gray levels (and 8 alpha levels for pictures
    with alpha): one conversion record of the library, holding the levels,
    the level file's header and the bitmap the library rebuilt from the
    levels.

    Make one with :func:`pyoct.open`, :func:`pyoct.frombytes`,
    :func:`pyoct.fromarray` or :func:`pyoct.fromimage`. The record is freed
    by :meth:`close` (or leaving a ``with`` block); after that every use
    raises ``ValueError``. An image that is never closed is freed when it is
    collected. One image may be used from several threads: its calls into
    the library take turns.
    """

    def __init__(self) -> None:
        raise TypeError("make a pyoct.Image with pyoct.open, frombytes, fromarray or fromimage")

    @classmethod
    def _adopt(cls, record: int) -> "Image":
        """An image that owns `record`, a live record the library just made."""
        self = cls.__new__(cls)
        self._setup(record)
        return self

    def _setup(self, record: int) -> None:
        self._lock = threading.Lock()
        self._record: Optional[int] = record
        self._release = adopt(self, record)
        lib = library()
        self._width = int(lib.octWidth(record))
        self._height = int(lib.octHeight(record))
        self._alpha = bool(lib.octAlpha(record))
        self._levels: Optional[Bytes] = None
        self._alpha_levels: Optional[Bytes] = None

    # -- life ---------------------------------------------------------------

    def close(self) -> None:
        """Frees the record (``octFree``). Closing twice does nothing."""
        with self._lock:
            self._record = None
            self._levels = self._alpha_levels = None
            self._release()

    @property
    def closed(self) -> bool:
        """True once :meth:`close` has run."""
        return self._record is None

    def __enter__(self) -> "Image":
        self._live()
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def __repr__(self) -> str:
        if self._record is None:
            return "<pyoct.Image closed>"
        kind = "gray and alpha levels" if self._alpha else "gray levels"
        return f"<pyoct.Image {self._width}x{self._height}, {kind}>"

    def __reduce__(self) -> Any:
        # A copy would be a second owner of the same record, freed twice.
        raise TypeError("a pyoct.Image owns a record of this process's library and cannot be copied or "
                        "pickled; pass tobytes() and frombytes() instead")

    def _live(self) -> int:
        record = self._record
        if record is None:
            raise _errors.closed_error()
        return record

    # -- what the header says -------------------------------------------------

    @property
    def width(self) -> int:
        """The picture's width in pixels (``octWidth``)."""
        self._live()
        return self._width

    @property
    def height(self) -> int:
        """The picture's height in pixels (``octHeight``)."""
        self._live()
        return self._height

    @property
    def size(self) -> Tuple[int, int]:
        """(width, height), as Pillow gives sizes."""
        self._live()
        return (self._width, self._height)

    @property
    def alpha(self) -> bool:
        """Whether each pixel has an alpha level besides its gray level (the
        level-file header's alpha byte, ``octAlpha``)."""
        self._live()
        return self._alpha

    # -- the levels and the rebuilt picture -----------------------------------

    def _rebuilt(self) -> Bytes:
        # The rebuilt picture's pixels, top row first. Called with the lock
        # held: the memory belongs to the record.
        return _bitmap_pixels(library().octHandle(self._live()))[::-1]

    def _unpacked(self, alpha_codes: bool) -> Bytes:
        # The codes come in the bitmap's row order, the bottom row first: the
        # levels are a view that turns them over. Only the copy of the codes
        # needs the lock; the unpacking works on that copy.
        with self._lock:
            buffer = _codes.read_codes(library(), self._live(), self._alpha)
        width, height = self._width, self._height
        stored = _codes.unpack(buffer, width * height, self._alpha, alpha_codes)
        buffer.flags.writeable = False
        levels = stored.reshape(height, width)[::-1]
        levels.flags.writeable = False
        return levels

    @property
    def levels(self) -> Bytes:
        """The gray level (0..7) of every pixel: a read-only ``uint8`` array of
        height × width, top row first. A pixel's level is the sum of its red,
        green and blue bytes divided by 96. Unpacked from the record's level
        codes (``octLevelCodes``) on first use, then kept. The array is a view
        whose rows run backwards in memory (the codes' order, the bottom row
        first): ``numpy.ascontiguousarray`` gives a contiguous copy."""
        self._live()
        levels = self._levels
        if levels is None:
            levels = self._levels = self._unpacked(False)
        return levels

    @property
    def alpha_levels(self) -> Optional[Bytes]:
        """The alpha level (0..7, the alpha byte divided by 32) of every pixel
        as a read-only ``uint8`` array of height × width, top row first, laid
        out as :attr:`levels` is; None for a picture without alpha."""
        self._live()
        if not self._alpha:
            return None
        levels = self._alpha_levels
        if levels is None:
            levels = self._alpha_levels = self._unpacked(True)
        return levels

    def toarray(self) -> Bytes:
        """The picture the library rebuilt from the levels (the record's bitmap,
        ``octHandle``): a new ``uint8`` array of height × width × 3 (RGB), or
        × 4 (RGBA) with alpha, top row first. Every colour byte holds the
        level's palette value: 0, 29, 59, 89, 119, 149, 179 or 255."""
        with self._lock:
            # The bitmap stores blue, green, red (and alpha); as the three
            # colour bytes are equal, its pixels read the same as RGB(A).
            return self._rebuilt().copy()

    def toimage(self) -> "PIL.Image.Image":
        """The rebuilt picture (:meth:`toarray`) as a Pillow image, mode RGB or
        RGBA."""
        from PIL import Image as PILImage

        return PILImage.fromarray(self.toarray(), "RGBA" if self.alpha else "RGB")

    # -- files ----------------------------------------------------------------

    def save(self, path: PathLike) -> None:
        """Writes a file chosen by the name's ending, letter case aside:

        * ``.bmp``: the rebuilt picture as a BMP of 24 bits, or 32 with alpha
          (``octSave`` with flag 1);
        * ``.png``: the rebuilt picture as a PNG, written by Pillow;
        * anything else: the level file (``octSave`` with flag 0).

        An existing file of that name is replaced only once the new one is
        complete. Raises :class:`OctError` when nothing was written, for
        instance for a level file of a picture of 28 pixels or fewer, which
        the library does not make.
        """
        name = _name_of(path)
        ending = name[-4:].lower()
        if ending == ".png":
            self._save_png(name)
        else:
            self._save(name, 1 if ending == ".bmp" else 0)

    def _save(self, name: str, flag: int) -> None:
        encoded = encode_name(name)
        with self._lock:
            saved = library().octSave(self._live(), encoded, flag)
            if saved != 1:
                raise _errors.last_failure(library(), name)

    def _save_png(self, name: str) -> None:
        try:
            picture = self.toimage()
        except ImportError as e:
            raise ImportError("writing PNG files needs Pillow (the library writes BMP and level files)") from e
        folder = os.path.dirname(os.path.abspath(name))
        # Written beside the target and renamed over it, as the library
        # replaces files: an old file stays whole until the new one is.
        fd, temp = tempfile.mkstemp(prefix=".pyoct-", suffix=".png", dir=folder)
        try:
            with os.fdopen(fd, "wb") as f:
                picture.save(f, "PNG")
            os.replace(temp, name)
        except BaseException:
            try:
                os.unlink(temp)
            except OSError:
                pass
            raise

    def tobytes(self) -> bytes:
        """The level file's bytes, as :meth:`save` writes them for a name that
        is neither .bmp nor .png. The library writes only to files, so they
        go through a file of the temporary folder, which is removed again."""
        fd, temp = tempfile.mkstemp(prefix="pyoct-", suffix=".oct")
        os.close(fd)
        try:
            encoded = encode_name(temp)
            with self._lock:
                saved = library().octSave(self._live(), encoded, 0)
                if saved != 1:
                    raise _errors.last_failure(library())
            with io.open(temp, "rb") as f:
                return f.read()
        finally:
            os.unlink(temp)


# -- making images ---------------------------------------------------------------


def open(path: PathLike) -> Image:  # noqa: A001 - the name mirrors PIL.Image.open
    """Reads a picture that the library reads (BMP, PNG, JPEG, GIF, TIFF,
    WebP, HEIF, AVIF, JPEG XL; not icons, which the conversion refuses) and
    converts it, or reads a level file (``octLoad``). The kind is told by the
    file's first bytes, not by its name. A GIF, an animated WebP or a picture
    sequence gives its first frame."""
    name = _name_of(path)
    lib = library()
    record = lib.octLoad(encode_name(name))
    if not record:
        raise _errors.last_failure(lib, name)
    return Image._adopt(record)


def frombytes(data: Any) -> Image:
    """The same as :func:`open` for a file's bytes in memory (``octCatch``):
    ``bytes``, ``bytearray``, ``memoryview`` or any other buffer."""
    if isinstance(data, str):
        raise TypeError("frombytes takes bytes, not str")
    try:
        block = np.frombuffer(data, np.uint8)
    except ValueError:
        # A buffer that is not one block of memory, such as a strided view.
        block = np.frombuffer(memoryview(data).tobytes(), np.uint8)
    if block.size == 0:
        raise OctError(errno.EINVAL, "no bytes to read")
    if block.size > _MAX_BLOCK:
        raise OctError(errno.EFBIG, f"{block.size} bytes: the library reads at most {_MAX_BLOCK}")
    lib = library()
    record = lib.octCatch(block.ctypes.data, block.size)
    if not record:
        raise _errors.last_failure(lib)
    return Image._adopt(record)


def _wrappable(a: Bytes) -> bool:
    """Whether the library can read the array's rows where they are: each row
    its pixels side by side, each pixel its bytes side by side, and rows
    apart by at least a row (any sign) and at most what octBitmapWrap takes.
    Strides of a side of 1 say nothing and are not looked at."""
    height, width, depth = a.shape
    rows, columns, channels = a.strides
    return (
        channels == 1
        and (width == 1 or columns == depth)
        and (height == 1 or width * depth <= abs(rows) <= _MAX_BLOCK)
    )


def fromarray(array: "npt.ArrayLike") -> Image:
    """Converts pixels in memory: a ``uint8`` array of height × width × 3 (RGB)
    or × 4 (RGBA), top row first, with any strides (views, slices, flipped
    or transposed arrays). Rows whose pixels lie side by side (C-contiguous
    arrays, row slices and crops of them, arrays flipped upside down) are
    converted where they are, through a bitmap over the array's memory
    (``octBitmapWrap``), which the library only reads; any other layout is
    first copied into a bitmap of the library's own (``octBitmapCreate``).
    Either bitmap is deleted again after ``octConvert``, which keeps nothing
    of the array."""
    a = np.asarray(array)
    if a.dtype != np.uint8:
        raise TypeError(f"fromarray takes uint8 pixels, not {a.dtype}")
    if a.ndim != 3 or a.shape[2] not in (3, 4):
        raise ValueError(f"fromarray takes an array of height x width x 3 or 4, not {a.shape}")
    height, width, depth = a.shape
    if height == 0 or width == 0:
        raise ValueError("fromarray takes at least one pixel")
    lib = library()
    # The library's bitmaps are bottom-up. Their byte order is blue, green,
    # red, but the gray level is the sum of the three, so the RGB bytes go in
    # as they are; swapping red and blue would cost more than the conversion.
    wrapped = _wrappable(a)
    if wrapped:
        # The bitmap starts at the array's last row and climbs against the
        # array's row stride.
        pitch = -a.strides[0] if height > 1 else width * depth
        handle = lib.octBitmapWrap(a.ctypes.data + (height - 1) * a.strides[0], width, height, pitch, depth * 8)
        if not handle:
            raise _errors.last_failure(lib)
    else:
        handle = lib.octBitmapCreate(width, height, depth * 8)
        if not handle:
            raise OctError(errno.ENOMEM,
                           f"the library could not make a bitmap of {width} x {height} x {depth * 8} bits")
    try:
        if not wrapped:
            _bitmap_pixels(handle)[::-1] = a
        # `a` holds the pixels until octConvert has returned; the record
        # keeps no reference to them.
        record = lib.octConvert(handle)
        failure = None if record else _errors.last_failure(lib)
    finally:
        lib.octBitmapDelete(handle)
    if failure is not None:
        raise failure
    return Image._adopt(record)


def fromimage(picture: "PIL.Image.Image") -> Image:
    """Converts a Pillow image through :func:`fromarray`: RGBA as it is, a
    picture with transparency (LA, PA, a palette's or an RGB picture's
    transparent colour) as RGBA, any other as RGB."""
    mode = picture.mode
    if mode != "RGBA":
        transparent = mode in ("LA", "La", "PA", "RGBa") or "transparency" in picture.info
        if transparent or mode != "RGB":
            picture = picture.convert("RGBA" if transparent else "RGB")
    return fromarray(np.asarray(picture))
