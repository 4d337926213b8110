// oct-levels: the oct library as a WebAssembly module.

/** A failure of the library: `message` is its reason, `code` one of its
 * failure codes (oct.h's OCT_E… values: 4 not a known format, 5 no codec,
 * 6 damaged, 7 too large, 8 out of memory, 11 levels a level file cannot
 * hold, 13 an argument it cannot take, ...). */
export class OctError extends Error {
  readonly name: "OctError";
  readonly code: number;
  constructor(message: string, code: number);
}

export interface FromPixelsOptions {
  /** true keeps the alpha (8 alpha levels), false drops it; left out, the
   * picture has alpha when some pixel is not opaque. */
  alpha?: boolean;
}

/** The loaded module. */
export class OctLevels {
  /** The bytes of the module's memory (it grows as pictures need it). */
  readonly memoryBytes: number;
  /** Converts width × height RGBA pixels, the top row first (ImageData's
   * layout). The pixels are copied; the array stays as it was. */
  fromPixels(
    rgba: Uint8Array | Uint8ClampedArray | ArrayBuffer | ArrayBufferView,
    width: number,
    height: number,
    options?: FromPixelsOptions,
  ): OctImage;
  /** Reads a level file, a BMP file or an icon from its bytes. */
  fromBytes(bytes: Uint8Array | Uint8ClampedArray | ArrayBuffer | ArrayBufferView): OctImage;
}

/** A converted picture. close() gives its memory back to the module. */
export class OctImage {
  readonly width: number;
  readonly height: number;
  /** Whether the picture has alpha levels. */
  readonly alpha: boolean;
  /** The gray level (0..7) of every pixel, width × height, the top row first. */
  readonly levels: Uint8Array;
  /** The alpha level (0..7) of every pixel, or null without alpha. */
  readonly alphaLevels: Uint8Array | null;
  /** The picture rebuilt from the levels: RGBA, the top row first. */
  toPixels(): Uint8ClampedArray;
  /** The level file's bytes, as octtool writes it. */
  toLevelFile(): Uint8Array;
  /** The rebuilt picture as a BMP file (24 bits, or 32 with alpha). */
  toBmp(): Uint8Array;
  /** Gives the image's memory back; later uses throw. */
  close(): void;
}

/** Loads the module once; every call gives the same one. */
export function load(): Promise<OctLevels>;
