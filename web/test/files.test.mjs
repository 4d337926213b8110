// fromBytes against octtool on the same files: BMPs, icons, level files and
// the fuzzing corpus of the loader. Where octtool converts, the module gives
// its level file and BMP byte for byte; where octtool refuses, the module
// throws with the same reason. Pictures that need a codec (PNG, JPEG, ...)
// the module refuses as having none: the browser decodes those.
import assert from "node:assert/strict";
import fs from "node:fs";
import path from "node:path";
import { test } from "node:test";

import { bmp24, filesOf, firstDifference, loadLibrary, madePixels, octtoolConvert, octtoolConvertAll, root } from "./support.mjs";

const lib = await loadLibrary();
// A picture file of a codec's format, or an icon whose images are PNGs.
const noCodec = /^(an? (PNG|JPEG|GIF|TIFF|BigTIFF|WebP|HEIF|AVIF|JPEG XL) picture, which this system|PNG images, which this module) has no codec for$/;

function outcome(bytes) {
  try {
    const image = lib.fromBytes(bytes);
    try {
      return { ok: true, levels: image.toLevelFile(), bmp: image.toBmp() };
    } catch (e) {
      return { ok: false, stage: "save", error: e };
    } finally {
      image.close();
    }
  } catch (e) {
    return { ok: false, stage: "read", error: e };
  }
}

// Compares the module with octtool on one file; a short text of what
// differs, or null.
function difference(bytes, levels, bmp) {
  const got = outcome(bytes);
  if (!got.ok && !(got.error && got.error.name === "OctError")) return `threw ${got.error}`;
  if (!got.ok && got.error.code === 5) return noCodec.test(got.error.message) ? null : `no codec: "${got.error.message}"`;
  if (levels.ok && bmp.ok) {
    if (!got.ok) return `octtool converts it; the module: "${got.error.message}"`;
    if (firstDifference(got.levels, levels.bytes) !== -1) return "the level file differs";
    if (firstDifference(got.bmp, bmp.bytes) !== -1) return "the BMP differs";
    return null;
  }
  const reason = levels.ok ? bmp.reason : levels.reason;
  if (got.ok) return `octtool: "${reason}"; the module converts it`;
  return got.error.message === reason ? null : `octtool: "${reason}"; the module: "${got.error.message}"`;
}

function checkAll(files) {
  assert.ok(files.length > 0, "no files found");
  const levels = octtoolConvertAll(files, ".oct");
  const bmps = octtoolConvertAll(files, ".bmp");
  const wrong = [];
  files.forEach((file, i) => {
    const what = difference(new Uint8Array(fs.readFileSync(file)), levels[i], bmps[i]);
    if (what) wrong.push(`${path.relative(root, file)}: ${what}`);
  });
  assert.deepEqual(wrong, [], `${wrong.length} of ${files.length} files differ from octtool`);
}

test("BMP files: octtool's level files and BMPs, or octtool's reasons", () => {
  checkAll([...filesOf("bmp", ".bmp"), ...filesOf("photo", ".bmp")]);
});

test("icons: octtool's reasons", () => {
  checkAll([...filesOf("ico", ".ico"), ...filesOf("ico", ".cur")]);
});

test("level files: read and written again unchanged, and damaged ones refused with octtool's reason", () => {
  const rgba = madePixels(300, 200, 11);
  const made = octtoolConvert(bmp24(rgba, 300, 200), ".oct");
  assert.ok(made.ok);
  const image = lib.fromBytes(made.bytes);
  assert.deepEqual(image.toLevelFile(), made.bytes);
  image.close();

  const scratch = fs.mkdtempSync(path.join(fs.realpathSync(process.env.TMPDIR || "/tmp"), "oct-levels-files-"));
  try {
    const damaged = [];
    // Cut short at every kind of place, and single bytes changed.
    for (const cut of [1, 4, 8, 12, 16, 24, 32, 64, made.bytes.length >> 1, made.bytes.length - 1]) {
      damaged.push(made.bytes.slice(0, cut));
    }
    for (const at of [0, 3, 5, 8, 9, 12, 16, 20, 40, made.bytes.length - 2]) {
      const changed = made.bytes.slice();
      changed[at] ^= 0x5a;
      damaged.push(changed);
    }
    const files = damaged.map((bytes, i) => {
      const file = path.join(scratch, `damaged-${i}.oct`);
      fs.writeFileSync(file, bytes);
      return file;
    });
    checkAll(files);
  } finally {
    fs.rmSync(scratch, { recursive: true, force: true });
  }
});

test("the loader's fuzzing corpus: octtool's results, and the module stays usable", () => {
  checkAll(fs.readdirSync(path.join(root, "fuzz", "corpus", "catch_fuzz")).map((n) => path.join(root, "fuzz", "corpus", "catch_fuzz", n)));
  const image = lib.fromPixels(madePixels(64, 64, 2), 64, 64);
  assert.ok(image.toLevelFile().length > 0);
  image.close();
});

test("bytes that are no file at all are refused with the library's reason", () => {
  for (const bytes of [new Uint8Array([0]), new Uint8Array(100), new TextEncoder().encode("not a picture")]) {
    assert.throws(
      () => lib.fromBytes(bytes),
      (e) => e.name === "OctError" && e.code === 4 && e.message === "not a picture or level file this library knows",
    );
  }
  assert.throws(() => lib.fromBytes(new Uint8Array(0)), (e) => e.name === "OctError" && e.message === "an empty file");
});

// The corpora of the BMP, JPEG, PNG, TIFF and WebP targets hold BMPs of
// hundreds of millions of pixels made from a few KB, which the library
// accepts and which take seconds each (natively as well); they are left out
// here to keep the run short. Their regressions stay in.
const slowCorpora = new Set(["bmp_fuzz", "jpeg_fuzz", "png_fuzz", "tiff_fuzz", "webp_fuzz"]);

test("the files of the fuzzing corpora and every regression: read or refused with a reason, and the module goes on", () => {
  const files = [];
  for (const kind of ["corpus", "regressions"]) {
    const folder = path.join(root, "fuzz", kind);
    for (const target of fs.readdirSync(folder, { withFileTypes: true })) {
      if (!target.isDirectory() || (kind === "corpus" && slowCorpora.has(target.name))) continue;
      for (const name of fs.readdirSync(path.join(folder, target.name))) files.push(path.join(folder, target.name, name));
    }
  }
  assert.ok(files.length > 1000, `only ${files.length} files`);
  const wrong = [];
  for (const file of files) {
    try {
      lib.fromBytes(new Uint8Array(fs.readFileSync(file))).close();
    } catch (e) {
      if (!(e.name === "OctError" && e.message.length > 0)) wrong.push(`${path.relative(root, file)}: ${e}`);
    }
  }
  assert.deepEqual(wrong, []);
  const image = lib.fromPixels(madePixels(64, 64, 3), 64, 64);
  assert.equal(image.levels.length, 64 * 64);
  image.close();
});
