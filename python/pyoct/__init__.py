"""pyoct: pictures reduced to 8 gray levels and 8 alpha levels by the oct
library, from numpy arrays, Pillow images and picture files, into level
files and rebuilt pictures::

    import pyoct
    with pyoct.open("photo.jpg") as image:
        print(image.size, image.levels.max())
        image.save("photo.oct")

The binding is ctypes over the library's exports (liboct.so.1), which it
loads from the package's folder, else from the file named by the variable
OCT_LIBRARY, else from the system's library path.
"""

from ._errors import (
    OctDamagedError,
    OctError,
    OctFileNotFoundError,
    OctFormatError,
    OctIsADirectoryError,
    OctNoCodecError,
    OctPermissionError,
)
from ._image import Image, frombytes, fromarray, fromimage, open
from ._lib import library as _library
from ._lib import library_path
from ._many import convert_many
from ._records import live_records
from ._version import __version__

#: The library's interface version (``octVersion``).
LIBRARY_VERSION: int = int(_library().octVersion())

__all__ = [
    "Image",
    "LIBRARY_VERSION",
    "OctDamagedError",
    "OctError",
    "OctFileNotFoundError",
    "OctFormatError",
    "OctIsADirectoryError",
    "OctNoCodecError",
    "OctPermissionError",
    "__version__",
    "convert_many",
    "frombytes",
    "fromarray",
    "fromimage",
    "library_path",
    "live_records",
    "open",
]
