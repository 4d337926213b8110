// fromPixels of the npm package in Node, for bench/wasm/run: writes the
// benchmark's pixels to PIXELS (so that the native run converts the same
// ones) and prints the median milliseconds of REPS calls of fromPixels (each
// with its close), after one warm-up.
// Usage: node bench/wasm/convert.mjs PIXELS WIDTH HEIGHT ALPHA(0|1) REPS
import fs from "node:fs";
import { performance } from "node:perf_hooks";

import { load } from "../../web/index.js";

const [file, w, h, a, r] = process.argv.slice(2);
const width = Number(w);
const height = Number(h);
const alpha = a === "1";
const reps = Number(r);

// A gradient with noise (xorshift), every alpha value where alpha is asked.
const rgba = new Uint8Array(width * height * 4);
let state = 2463534242;
for (let i = 0; i < rgba.length; i += 4) {
  state ^= state << 13;
  state ^= state >>> 17;
  state ^= state << 5;
  const x = (i >> 2) % width;
  const y = Math.floor((i >> 2) / width);
  rgba[i] = (x * 255) / (width - 1);
  rgba[i + 1] = (y * 255) / (height - 1);
  rgba[i + 2] = state & 255;
  rgba[i + 3] = alpha ? (state >>> 8) & 255 : 255;
}
fs.writeFileSync(file, rgba);

const lib = await load();
const times = [];
for (let i = -1; i < reps; ++i) {
  const start = performance.now();
  const image = lib.fromPixels(rgba, width, height, { alpha });
  image.close();
  if (i >= 0) times.push(performance.now() - start);
}
times.sort((x, y) => x - y);
console.log(times[Math.floor(reps / 2)].toFixed(3));
