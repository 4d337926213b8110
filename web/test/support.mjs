// What the package's tests share: the repository's test pictures, octtool
// (the reference every result is compared with), and small writers and
// readers of BMP and PNG files, so that the same pixels reach octtool as a
// file and the module as an array without any decoder in between.
import { execFileSync, spawnSync } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";
import zlib from "node:zlib";

export const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "..", "..");
export const testData = path.join(root, "tests", "data");

// octtool: OCT_TOOL, else the native build's. The tests need it; without one
// they say how to make it.
export const octtool = process.env.OCT_TOOL || path.join(root, "build", "native", "octtool");
if (!fs.existsSync(octtool)) {
  throw new Error(
    `no octtool at ${octtool}: build it (cmake --preset native && cmake --build build/native --target octtool) ` +
      "or name one in OCT_TOOL",
  );
}

// The module under test: OCT_WASM_MODULE (a sanitized build, say) or the package's.
export async function loadLibrary() {
  const named = process.env.OCT_WASM_MODULE;
  if (!named) return (await import("../index.js")).load();
  const { OctLevels } = await import("../index.js");
  const createOctModule = (await import(path.resolve(named))).default;
  return new OctLevels(await createOctModule());
}

const scratch = fs.mkdtempSync(path.join(os.tmpdir(), "oct-levels-test-"));
process.on("exit", () => fs.rmSync(scratch, { recursive: true, force: true }));
let serial = 0;

/** octtool convert of a file (or of bytes, written to a file first) to the
 * format of `suffix`: { ok: true, bytes } or { ok: false, reason }, the
 * reason as octtool prints it after the name of the file it could not read or write. */
export function octtoolConvert(input, suffix) {
  let source = input;
  if (typeof input !== "string") {
    source = path.join(scratch, `in-${++serial}`);
    fs.writeFileSync(source, input);
  }
  const target = path.join(scratch, `out-${++serial}${suffix}`);
  const run = spawnSync(octtool, ["convert", source, target], { encoding: "utf8" });
  if (run.status === 0) {
    const bytes = fs.readFileSync(target);
    fs.rmSync(target);
    return { ok: true, bytes: new Uint8Array(bytes) };
  }
  if (run.status !== 1) throw new Error(`octtool convert ${source} exited with ${run.status}: ${run.stderr}`);
  const reason = run.stderr.trim().replace(/^octtool convert: cannot (read|write) '.*?': /s, "");
  return { ok: false, reason };
}

/** octtool convert -o DIR over many files at once (one process), each
 * result as octtoolConvert gives it; `suffix` .oct or .bmp. */
export function octtoolConvertAll(files, suffix) {
  const work = fs.mkdtempSync(path.join(scratch, "many-"));
  const inputs = path.join(work, "in");
  const outputs = path.join(work, "out");
  fs.mkdirSync(inputs);
  fs.mkdirSync(outputs);
  // Names of their own, so that no two inputs share a stem.
  const names = files.map((file, i) => {
    const name = path.join(inputs, `f${i}`);
    fs.symlinkSync(path.resolve(file), name);
    return name;
  });
  const args = ["convert", ...(suffix === ".bmp" ? ["--bmp"] : []), "-o", outputs, "--", ...names];
  const run = spawnSync(octtool, args, { encoding: "utf8", maxBuffer: 64 << 20 });
  if (run.status !== 0 && run.status !== 1) throw new Error(`octtool convert -o exited with ${run.status}: ${run.stderr}`);
  const reasons = new Map();
  for (const line of run.stderr.split("\n")) {
    const found = /^octtool convert: cannot (?:read|write) '(.*?)': (.*)$/.exec(line);
    if (found) reasons.set(path.basename(found[1], suffix), found[2]);
  }
  const results = names.map((name) => {
    const stem = path.basename(name);
    const out = path.join(outputs, stem + suffix);
    if (fs.existsSync(out)) return { ok: true, bytes: new Uint8Array(fs.readFileSync(out)) };
    if (!reasons.has(stem)) throw new Error(`octtool convert -o made no ${stem}${suffix} and gave no reason: ${run.stderr}`);
    return { ok: false, reason: reasons.get(stem) };
  });
  fs.rmSync(work, { recursive: true, force: true });
  return results;
}

export function octtoolVersion() {
  return execFileSync(octtool, ["--version"], { encoding: "utf8" }).trim();
}

/** Every file below a folder of tests/data, with `suffix`, sorted. */
export function filesOf(folder, suffix) {
  const found = [];
  const walk = (dir) => {
    for (const entry of fs.readdirSync(dir, { withFileTypes: true })) {
      const full = path.join(dir, entry.name);
      if (entry.isDirectory()) walk(full);
      else if (entry.name.toLowerCase().endsWith(suffix)) found.push(full);
    }
  };
  walk(path.join(testData, folder));
  return found.sort();
}

/** Made-up RGBA pixels, the same for the same arguments: a gradient with
 * noise, and with `alpha` every alpha value. */
export function madePixels(width, height, seed, alpha = false) {
  const rgba = new Uint8ClampedArray(width * height * 4);
  let state = seed >>> 0 || 1;
  const next = () => {
    state ^= state << 13;
    state ^= state >>> 17;
    state ^= state << 5;
    return (state >>> 0) & 255;
  };
  for (let y = 0, i = 0; y < height; ++y) {
    for (let x = 0; x < width; ++x, i += 4) {
      rgba[i] = (x * 255) / Math.max(1, width - 1) + (next() & 31);
      rgba[i + 1] = (y * 255) / Math.max(1, height - 1) - (next() & 31);
      rgba[i + 2] = next();
      rgba[i + 3] = alpha ? next() : 255;
    }
  }
  return rgba;
}

/** A 24-bit BMP file of RGBA pixels (alpha dropped), bottom-up, rows padded
 * to 4 bytes. */
export function bmp24(rgba, width, height) {
  const stride = (width * 3 + 3) & ~3;
  const file = Buffer.alloc(54 + stride * height);
  file.write("BM", 0, "latin1");
  file.writeUInt32LE(file.length, 2);
  file.writeUInt32LE(54, 10);
  file.writeUInt32LE(40, 14);
  file.writeInt32LE(width, 18);
  file.writeInt32LE(height, 22);
  file.writeUInt16LE(1, 26);
  file.writeUInt16LE(24, 28);
  file.writeUInt32LE(stride * height, 34);
  for (let y = 0; y < height; ++y) {
    let at = 54 + (height - 1 - y) * stride;
    for (let x = 0; x < width; ++x, at += 3) {
      const i = (y * width + x) * 4;
      file[at] = rgba[i + 2];
      file[at + 1] = rgba[i + 1];
      file[at + 2] = rgba[i];
    }
  }
  return new Uint8Array(file);
}

const crcTable = Array.from({ length: 256 }, (_, n) => {
  let c = n;
  for (let k = 0; k < 8; ++k) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});
function crc32(bytes) {
  let c = 0xffffffff;
  for (const b of bytes) c = crcTable[(c ^ b) & 255] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}
function chunk(type, data) {
  const out = Buffer.alloc(12 + data.length);
  out.writeUInt32BE(data.length, 0);
  out.write(type, 4, "latin1");
  Buffer.from(data).copy(out, 8);
  out.writeUInt32BE(crc32(out.subarray(4, 8 + data.length)), 8 + data.length);
  return out;
}

/** An RGBA PNG file of the pixels (8 bits a sample, no colour chunks, so
 * every decoder gives the same pixels back). */
export function pngRgba(rgba, width, height) {
  const header = Buffer.alloc(13);
  header.writeUInt32BE(width, 0);
  header.writeUInt32BE(height, 4);
  header[8] = 8;
  header[9] = 6;
  const raw = Buffer.alloc((width * 4 + 1) * height);
  for (let y = 0; y < height; ++y) Buffer.from(rgba.buffer, rgba.byteOffset + y * width * 4, width * 4).copy(raw, y * (width * 4 + 1) + 1);
  const signature = Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]);
  return new Uint8Array(
    Buffer.concat([signature, chunk("IHDR", header), chunk("IDAT", zlib.deflateSync(raw)), chunk("IEND", Buffer.alloc(0))]),
  );
}

/** The pixels of an uncompressed 24- or 32-bit BMP (as octtool writes
 * them) as RGBA, the top row first; opaque for 24 bits. */
export function bmpPixels(bytes) {
  const file = Buffer.from(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const offset = file.readUInt32LE(10);
  const width = file.readInt32LE(18);
  const signedHeight = file.readInt32LE(22);
  const height = Math.abs(signedHeight);
  const depth = file.readUInt16LE(28) / 8;
  const stride = (width * depth + 3) & ~3;
  const rgba = new Uint8ClampedArray(width * height * 4);
  for (let y = 0; y < height; ++y) {
    let at = offset + (signedHeight > 0 ? height - 1 - y : y) * stride;
    for (let x = 0; x < width; ++x, at += depth) {
      const i = (y * width + x) * 4;
      rgba[i] = file[at + 2];
      rgba[i + 1] = file[at + 1];
      rgba[i + 2] = file[at];
      rgba[i + 3] = depth === 4 ? file[at + 3] : 255;
    }
  }
  return { width, height, rgba };
}

/** The first index at which two byte arrays differ, or -1. */
export function firstDifference(a, b) {
  const n = Math.min(a.length, b.length);
  for (let i = 0; i < n; ++i) if (a[i] !== b[i]) return i;
  return a.length === b.length ? -1 : n;
}
