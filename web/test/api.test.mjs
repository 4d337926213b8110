// The package's interface: loading, the checks of its arguments, closed
// images, memory given back, the version.
import assert from "node:assert/strict";
import fs from "node:fs";
import path from "node:path";
import { test } from "node:test";

import * as oct from "../index.js";
import { bmp24, loadLibrary, madePixels, octtoolVersion, root } from "./support.mjs";

const lib = await loadLibrary();

test("load gives one module, however often it is called", async () => {
  const [a, b] = await Promise.all([oct.load(), oct.load()]);
  assert.equal(a, b);
  assert.ok(a instanceof oct.OctLevels);
});

test("arguments the module cannot take throw before anything is converted", () => {
  const rgba = madePixels(4, 4, 1);
  const cases = [
    [() => lib.fromPixels(rgba, 4, 3), RangeError, /48 bytes|64 bytes/],
    [() => lib.fromPixels(rgba, 0, 4), RangeError, /width/],
    [() => lib.fromPixels(rgba, 4, 4.5), RangeError, /height/],
    [() => lib.fromPixels(rgba, 4, -4), RangeError, /height/],
    [() => lib.fromPixels([1, 2, 3, 4], 1, 1), TypeError, /Uint8Array/],
    [() => lib.fromPixels("pixels", 1, 1), TypeError, /Uint8Array/],
    [() => lib.fromPixels(rgba, 4, 4, { alpha: "yes" }), TypeError, /alpha/],
    [() => lib.fromBytes(null), TypeError, /Uint8Array/],
    [() => lib.fromPixels(new Uint8Array(4), 1 << 16, 1 << 16), RangeError, /bytes/],
  ];
  for (const [call, type, text] of cases) assert.throws(call, (e) => e instanceof type && text.test(e.message), String(call));
});

test("a closed image refuses every use, and closing again does nothing", () => {
  const image = lib.fromPixels(madePixels(30, 20, 2), 30, 20);
  image.close();
  image.close();
  for (const use of [() => image.levels, () => image.toPixels(), () => image.toLevelFile(), () => image.toBmp()]) {
    assert.throws(use, (e) => e.name === "OctError" && e.message === "the image is closed");
  }
  assert.equal(image.width, 30);
});

test("failures are OctErrors, Errors with the library's code and reason", () => {
  try {
    lib.fromBytes(new Uint8Array([1, 2, 3]));
    assert.fail("no failure");
  } catch (e) {
    assert.ok(e instanceof Error && e instanceof oct.OctError);
    assert.equal(e.code, 4);
    assert.equal(e.message, "not a picture or level file this library knows");
  }
});

test("200 pictures converted and closed in turn leave the module's memory as it was", (t) => {
  // AddressSanitizer holds freed blocks back (its quarantine), so the
  // memory of a sanitized module grows by design.
  if (process.env.OCT_WASM_MODULE && /asan/.test(process.env.OCT_WASM_MODULE)) {
    t.skip("a sanitized module keeps freed memory in quarantine");
    return;
  }
  const width = 640;
  const height = 480;
  const rgba = madePixels(width, height, 8, true);
  const file = bmp24(rgba, width, height);
  const round = (i) => {
    const image = i % 2 ? lib.fromPixels(rgba, width, height) : lib.fromBytes(file);
    image.toLevelFile();
    image.toBmp();
    image.toPixels();
    void image.levels;
    image.close();
  };
  for (let i = 0; i < 10; ++i) round(i);
  const before = lib.memoryBytes;
  for (let i = 0; i < 200; ++i) round(i);
  assert.equal(lib.memoryBytes, before, "the memory grew");
});

test("the package's version is the library's", () => {
  const cmake = fs.readFileSync(path.join(root, "CMakeLists.txt"), "utf8");
  const version = /project\(\s*oct\s+VERSION\s+([0-9.]+)/.exec(cmake)[1];
  const pkg = JSON.parse(fs.readFileSync(path.join(root, "web", "package.json"), "utf8"));
  assert.equal(pkg.version, version);
  assert.match(octtoolVersion(), new RegExp(`^octtool ${version.replaceAll(".", "\\.")}\\b`));
});
