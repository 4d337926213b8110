// fromPixels against octtool on the same pixels: the level file, the BMP and
// the rebuilt pixels byte for byte, and the levels by their rule.
import assert from "node:assert/strict";
import { test } from "node:test";

import { bmp24, bmpPixels, firstDifference, loadLibrary, madePixels, octtoolConvert, pngRgba } from "./support.mjs";

const lib = await loadLibrary();

function assertSameBytes(actual, expected, what) {
  const at = firstDifference(actual, expected);
  assert.equal(at, -1, `${what}: ${actual.length} bytes against octtool's ${expected.length}, first difference at ${at}`);
}

// Sizes that cross the level codec's groups of 8 pixels and the BMP's row
// padding, one row, one column, a picture larger than the first memory.
const sizes = [
  [64, 48],
  [257, 131],
  [3, 1000],
  [1000, 3],
  [1, 900],
  [1920, 1080],
];

for (const [width, height] of sizes) {
  test(`${width} × ${height} without alpha: octtool's level file, BMP and pixels`, () => {
    const rgba = madePixels(width, height, width * 7919 + height);
    const file = bmp24(rgba, width, height);
    const expectedLevels = octtoolConvert(file, ".oct");
    const expectedBmp = octtoolConvert(file, ".bmp");
    assert.ok(expectedLevels.ok && expectedBmp.ok, "octtool converts the picture");

    const image = lib.fromPixels(rgba, width, height, { alpha: false });
    try {
      assert.equal(image.width, width);
      assert.equal(image.height, height);
      assert.equal(image.alpha, false);
      assert.equal(image.alphaLevels, null);
      assertSameBytes(image.toLevelFile(), expectedLevels.bytes, "level file");
      assertSameBytes(image.toBmp(), expectedBmp.bytes, "BMP");
      assertSameBytes(image.toPixels(), bmpPixels(expectedBmp.bytes).rgba, "rebuilt pixels");
      const levels = image.levels;
      assert.equal(levels.length, width * height);
      for (let i = 0; i < width * height; ++i) {
        const rule = Math.floor((rgba[4 * i] + rgba[4 * i + 1] + rgba[4 * i + 2]) / 96);
        if (levels[i] !== rule) assert.fail(`pixel ${i}: level ${levels[i]}, the rule gives ${rule}`);
      }
    } finally {
      image.close();
    }
  });
}

for (const [width, height] of [
  [64, 48],
  [257, 131],
  [1, 700],
]) {
  test(`${width} × ${height} with alpha: octtool's level file and BMP from the same pixels as a PNG`, () => {
    const rgba = madePixels(width, height, width + height * 31, true);
    const file = pngRgba(rgba, width, height);
    const expectedLevels = octtoolConvert(file, ".oct");
    const expectedBmp = octtoolConvert(file, ".bmp");
    assert.ok(expectedLevels.ok && expectedBmp.ok, "octtool converts the picture");

    const image = lib.fromPixels(rgba, width, height);
    try {
      assert.equal(image.alpha, true, "translucent pixels give alpha without being asked");
      assertSameBytes(image.toLevelFile(), expectedLevels.bytes, "level file");
      assertSameBytes(image.toBmp(), expectedBmp.bytes, "BMP");
      assertSameBytes(image.toPixels(), bmpPixels(expectedBmp.bytes).rgba, "rebuilt pixels");
      const { levels, alphaLevels } = image;
      for (let i = 0; i < width * height; ++i) {
        const gray = Math.floor((rgba[4 * i] + rgba[4 * i + 1] + rgba[4 * i + 2]) / 96);
        const alpha = rgba[4 * i + 3] >> 5;
        if (levels[i] !== gray || alphaLevels[i] !== alpha)
          assert.fail(`pixel ${i}: levels ${levels[i]}/${alphaLevels[i]}, the rule gives ${gray}/${alpha}`);
      }
    } finally {
      image.close();
    }
  });
}

test("alpha is kept only where asked or where some pixel is not opaque", () => {
  const opaque = madePixels(40, 30, 5);
  const translucent = madePixels(40, 30, 5);
  translucent[4 * 777 + 3] = 254;
  const cases = [
    [opaque, undefined, false],
    [opaque, true, true],
    [translucent, undefined, true],
    [translucent, false, false],
  ];
  for (const [rgba, alpha, expected] of cases) {
    const image = lib.fromPixels(rgba, 40, 30, alpha === undefined ? {} : { alpha });
    assert.equal(image.alpha, expected, `alpha ${alpha} on ${rgba === opaque ? "opaque" : "translucent"} pixels`);
    image.close();
  }
});

test("fromPixels leaves the caller's pixels as they were", () => {
  const rgba = madePixels(33, 17, 9);
  const copy = rgba.slice();
  lib.fromPixels(rgba, 33, 17, { alpha: false }).close();
  assert.deepEqual(rgba, copy);
});

test("a Uint8Array, a Node Buffer and an ArrayBuffer give the same level file", () => {
  const rgba = madePixels(50, 20, 3);
  const files = [rgba, new Uint8Array(rgba.buffer), Buffer.from(rgba.buffer), rgba.buffer].map((pixels) => {
    const image = lib.fromPixels(pixels, 50, 20);
    const file = image.toLevelFile();
    image.close();
    return file;
  });
  for (const file of files.slice(1)) assert.deepEqual(file, files[0]);
});

test("a picture too small for a level file converts, and saving it fails as octtool does", () => {
  const rgba = madePixels(2, 2, 1);
  const expected = octtoolConvert(bmp24(rgba, 2, 2), ".oct");
  const image = lib.fromPixels(rgba, 2, 2);
  try {
    assert.equal(image.levels.length, 4);
    if (expected.ok) assert.deepEqual(image.toLevelFile(), expected.bytes);
    else assert.throws(() => image.toLevelFile(), (e) => e.name === "OctError" && e.message === expected.reason);
  } finally {
    image.close();
  }
});
