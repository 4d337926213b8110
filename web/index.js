// oct-levels: the oct library as a WebAssembly module, for browsers and Node.
//
//   import * as oct from "oct-levels";
//   const lib = await oct.load();
//   const image = lib.fromPixels(imageData.data, imageData.width, imageData.height);
//   const file = image.toLevelFile();   // the same bytes as `octtool convert`
//   image.close();
//
// Pixels come in and go out as the web holds them (RGBA, the top row first,
// as in ImageData); the module turns them into the library's bottom-up
// bitmaps and back. Every failure throws an OctError whose message is the
// library's own reason.
import createOctModule from "./dist/oct-module.js";

/** A failure of the library: `message` is its reason, `code` one of the
 * library's failure codes (the OCT_E… values of oct.h). */
export class OctError extends Error {
  constructor(message, code) {
    super(message);
    this.name = "OctError";
    this.code = code;
  }
}

// The library's failure code for "out of memory" (OCT_ENOMEM).
const NO_MEMORY = 8;
// Room for a reason: the library's texts are at most 191 bytes.
const REASON_BYTES = 256;
// The largest block the module takes at once (its memory ends at 2 GB).
const MOST_BYTES = 0x7fffffff;
// Where a save goes before its bytes are read back; the module's file
// system is in memory and the module's own.
const SAVE_FOLDER = "/tmp";

let loading = null;

/** Loads the module once; every later call gives the same one. */
export function load() {
  if (!loading) {
    loading = createOctModule().then((module) => new OctLevels(module));
    // A failed load may be tried again.
    loading.catch(() => {
      loading = null;
    });
  }
  return loading;
}

function isBytes(value) {
  return value instanceof Uint8Array || value instanceof Uint8ClampedArray;
}

function bytesOf(data, what) {
  if (isBytes(data)) return data;
  if (data instanceof ArrayBuffer) return new Uint8Array(data);
  if (ArrayBuffer.isView(data)) return new Uint8Array(data.buffer, data.byteOffset, data.byteLength);
  throw new TypeError(`${what} takes a Uint8Array, Uint8ClampedArray or ArrayBuffer, not ${typeof data}`);
}

function checkSide(value, name) {
  if (!Number.isInteger(value) || value < 1) throw new RangeError(`${name} must be a whole number of at least 1, not ${value}`);
}

/** The loaded module: makes images from pixels or from a file's bytes. */
export class OctLevels {
  constructor(module) {
    this._m = module;
    this._reason = module._malloc(REASON_BYTES);
    let serial = 0;
    this._saveName = (suffix) => `${SAVE_FOLDER}/oct-levels-${++serial}${suffix}`;
  }

  /** The bytes of the module's memory: it grows as pictures need it and
   * does not shrink, but a closed image's memory is used again. */
  get memoryBytes() {
    return this._m.HEAPU8.byteLength;
  }

  // The calling thread's last failure as an OctError.
  _failure(fallback) {
    const m = this._m;
    const code = m._octWebLastError(this._reason, REASON_BYTES);
    const text = m.UTF8ToString(this._reason);
    return new OctError(text || fallback, code);
  }

  // A block of `size` bytes of the module's memory, or an OctError.
  _alloc(size, what) {
    if (size > MOST_BYTES) throw new OctError(`${what}: ${size} bytes; the module takes at most 2 GB at once`, NO_MEMORY);
    const at = this._m._malloc(size);
    if (!at) throw new OctError(`${what}: out of memory for ${size} bytes`, NO_MEMORY);
    return at;
  }

  /** Converts RGBA pixels (width × height × 4 bytes, the top row first, as
   * ImageData holds them). `alpha`: true keeps the alpha (8 alpha levels),
   * false drops it; left out, the picture has alpha when some pixel is not
   * opaque. */
  fromPixels(rgba, width, height, { alpha } = {}) {
    const pixels = bytesOf(rgba, "fromPixels");
    checkSide(width, "width");
    checkSide(height, "height");
    const size = width * height * 4;
    if (pixels.length !== size)
      throw new RangeError(`fromPixels: ${pixels.length} bytes for ${width} × ${height} RGBA pixels, which take ${size}`);
    if (alpha !== undefined && typeof alpha !== "boolean") throw new TypeError("fromPixels: alpha must be true or false");
    const m = this._m;
    const at = this._alloc(size, "fromPixels");
    let record;
    try {
      m.HEAPU8.set(pixels, at);
      record = m._octWebFromRgba(at, width, height, alpha === undefined ? -1 : alpha ? 1 : 0);
    } finally {
      m._free(at);
    }
    if (!record) throw this._failure("the pixels could not be converted");
    return new OctImage(this, record);
  }

  /** Reads a level file, a BMP file or an icon from its bytes. Other
   * pictures are decoded by the browser and given to fromPixels. */
  fromBytes(bytes) {
    const data = bytesOf(bytes, "fromBytes");
    if (data.length === 0) throw new OctError("an empty file", 13);
    const m = this._m;
    const at = this._alloc(data.length, "fromBytes");
    let record;
    try {
      m.HEAPU8.set(data, at);
      record = m._octWebFromBytes(at, data.length);
    } finally {
      m._free(at);
    }
    if (!record) throw this._failure("the bytes could not be read");
    return new OctImage(this, record);
  }
}

/** A converted picture: its levels, the picture rebuilt from them, and the
 * level file. Its memory in the module is given back by close(). */
export class OctImage {
  constructor(lib, record) {
    const m = lib._m;
    this._lib = lib;
    this._record = record;
    this.width = m._octWebWidth(record);
    this.height = m._octWebHeight(record);
    this.alpha = m._octWebAlpha(record) !== 0;
    this._levels = null;
    this._alphaLevels = null;
  }

  _live() {
    if (!this._record) throw new OctError("the image is closed", 13);
    return this._record;
  }

  _unpackLevels() {
    const record = this._live();
    const lib = this._lib;
    const m = lib._m;
    const count = this.width * this.height;
    const at = lib._alloc(this.alpha ? 2 * count : count, "levels");
    try {
      if (!m._octWebLevels(record, at, this.alpha ? at + count : 0)) throw new OctError("levels: out of memory", NO_MEMORY);
      this._levels = m.HEAPU8.slice(at, at + count);
      this._alphaLevels = this.alpha ? m.HEAPU8.slice(at + count, at + 2 * count) : null;
    } finally {
      m._free(at);
    }
  }

  /** The gray level (0..7) of every pixel, width × height bytes, the top row
   * first: (red + green + blue) div 96. */
  get levels() {
    if (!this._levels) this._unpackLevels();
    return this._levels;
  }

  /** The alpha level (0..7, alpha div 32) of every pixel, laid out as
   * `levels`; null for a picture without alpha. */
  get alphaLevels() {
    if (!this.alpha) return null;
    if (!this._alphaLevels) this._unpackLevels();
    return this._alphaLevels;
  }

  /** The picture rebuilt from the levels as RGBA, the top row first (for
   * `new ImageData(pixels, width, height)`); opaque without alpha. */
  toPixels() {
    const record = this._live();
    const lib = this._lib;
    const m = lib._m;
    const size = this.width * this.height * 4;
    const at = lib._alloc(size, "toPixels");
    try {
      if (!m._octWebPixels(record, at)) throw new OctError("toPixels: the image has no rebuilt picture", 14);
      return new Uint8ClampedArray(m.HEAPU8.slice(at, at + size).buffer);
    } finally {
      m._free(at);
    }
  }

  // Saves through a file of the module's file system and reads it back.
  _saved(flag, suffix) {
    const record = this._live();
    const lib = this._lib;
    const m = lib._m;
    const path = lib._saveName(suffix);
    const nameBytes = 2 * (path.length + 1);
    const name = lib._alloc(nameBytes, "save");
    try {
      m.stringToUTF16(path, name, nameBytes);
      if (!m._octWebSave(record, name, flag)) throw lib._failure("the image could not be saved");
      const bytes = m.FS.readFile(path);
      m.FS.unlink(path);
      return bytes;
    } finally {
      m._free(name);
    }
  }

  /** The level file's bytes, as `octtool convert picture file.oct` writes it. */
  toLevelFile() {
    return this._saved(0, ".oct");
  }

  /** The rebuilt picture as a BMP file (24 bits, or 32 with alpha). */
  toBmp() {
    return this._saved(1, ".bmp");
  }

  /** Gives the image's memory back to the module. Closing twice does nothing. */
  close() {
    if (this._record) {
      this._lib._m._octWebFree(this._record);
      this._record = 0;
      this._levels = null;
      this._alphaLevels = null;
    }
  }
}
