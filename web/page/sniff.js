// What a file is, told by its first bytes as the library tells it: its own
// formats (level files, BMPs, icons and cursors), which the module reads, and
// the pictures the browser decodes, by name for the messages.

function startsWith(bytes, prefix, at = 0) {
  if (bytes.length < at + prefix.length) return false;
  for (let i = 0; i < prefix.length; ++i) if (bytes[at + i] !== prefix[i]) return false;
  return true;
}

const ascii = (text) => Array.from(text, (c) => c.charCodeAt(0));

// The ISO base media brands of HEIF and AVIF files.
const avifBrands = ["avif", "avis"];
const heifBrands = ["heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1"];

/** { own, name }: `own` when the library's own readers take the bytes;
 * `name` the format's name, or null when it is not known. */
export function sniff(bytes) {
  if (startsWith(bytes, ascii("OCTL"))) return { own: true, name: "level file" };
  if (startsWith(bytes, ascii("BM"))) return { own: true, name: "BMP" };
  if (startsWith(bytes, [0, 0, 1, 0]) || startsWith(bytes, [0, 0, 2, 0])) return { own: true, name: "icon" };
  if (startsWith(bytes, [0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a])) return { own: false, name: "PNG" };
  if (startsWith(bytes, [0xff, 0xd8, 0xff])) return { own: false, name: "JPEG" };
  if (startsWith(bytes, ascii("GIF8"))) return { own: false, name: "GIF" };
  if (startsWith(bytes, ascii("RIFF")) && startsWith(bytes, ascii("WEBP"), 8)) return { own: false, name: "WebP" };
  if (startsWith(bytes, [0xff, 0x0a]) || startsWith(bytes, [0, 0, 0, 12, 0x4a, 0x58, 0x4c, 0x20]))
    return { own: false, name: "JPEG XL" };
  if (startsWith(bytes, ascii("II*\0")) || startsWith(bytes, ascii("MM\0*"))) return { own: false, name: "TIFF" };
  if (startsWith(bytes, ascii("ftyp"), 4)) {
    const brand = String.fromCharCode(...bytes.subarray(8, 12));
    if (avifBrands.includes(brand)) return { own: false, name: "AVIF" };
    if (heifBrands.includes(brand)) return { own: false, name: "HEIF" };
  }
  return { own: false, name: null };
}
