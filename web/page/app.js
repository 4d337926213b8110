// The page: a picture or a level file in, its levels drawn beside it, and
// the level file, a PNG and a BMP of the levels to save. Level files, BMPs
// and icons go to the library's own readers, so they give octtool's result;
// every other picture is decoded by the browser and its pixels converted.
import { load } from "../index.js";
import { sniff } from "./sniff.js";

const $ = (id) => document.getElementById(id);
const input = $("picture");
const message = $("message");
const sourceCanvas = $("source");
const levelsCanvas = $("levels");
const saves = { oct: $("save-oct"), png: $("save-png"), bmp: $("save-bmp") };

let lib = null;
let urls = [];
let running = Promise.resolve();

function setState(state) {
  document.body.dataset.state = state;
}

function say(text) {
  message.textContent = text;
}

function forgetSaves() {
  for (const url of urls) URL.revokeObjectURL(url);
  urls = [];
  for (const a of Object.values(saves)) {
    a.removeAttribute("href");
    a.removeAttribute("download");
  }
}

function offer(a, blob, name) {
  const url = URL.createObjectURL(blob);
  urls.push(url);
  a.href = url;
  a.download = name;
}

function formatBytes(n) {
  if (n < 10 * 1024) return `${n} bytes`;
  if (n < 10 * 1024 * 1024) return `${(n / 1024).toFixed(1)} KB`;
  return `${(n / 1024 / 1024).toFixed(1)} MB`;
}

function fill(list, rows) {
  list.replaceChildren();
  for (const [term, value] of rows) {
    const dt = document.createElement("dt");
    dt.textContent = term;
    const dd = document.createElement("dd");
    dd.textContent = value;
    list.append(dt, dd);
  }
}

// Runs `fn`, adding its time in milliseconds to `times` under `name`.
async function timed(times, name, fn) {
  const start = performance.now();
  const result = await fn();
  times.push([name, `${(performance.now() - start).toFixed(1)} ms`]);
  return result;
}

function drawPixels(canvas, rgba, width, height) {
  canvas.width = width;
  canvas.height = height;
  canvas.getContext("2d").putImageData(new ImageData(rgba, width, height), 0, 0);
}

// The browser's decoding of a picture: its RGBA pixels as they are stored,
// without colour management or premultiplied alpha.
async function decode(file) {
  const bitmap = await createImageBitmap(file, { premultiplyAlpha: "none", colorSpaceConversion: "none" });
  try {
    const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
    const context = canvas.getContext("2d", { willReadFrequently: true });
    context.drawImage(bitmap, 0, 0);
    return context.getImageData(0, 0, bitmap.width, bitmap.height);
  } finally {
    bitmap.close();
  }
}

// A picture the browser could not decode: the library's reason where its
// own readers know the bytes, else what is known.
function undecodable(bytes, kind, error) {
  if (kind.name) return `the browser cannot decode this ${kind.name} picture (${error.message || error})`;
  try {
    lib.fromBytes(bytes).close();
  } catch (e) {
    return e.message;
  }
  return `the browser cannot decode this picture (${error.message || error})`;
}

async function convert(file) {
  setState("working");
  say("");
  forgetSaves();
  const times = [];
  const bytes = await timed(times, "read", async () => new Uint8Array(await file.arrayBuffer()));
  const kind = sniff(bytes);
  let image;
  let shown = false;
  if (kind.own) {
    image = await timed(times, "convert", () => lib.fromBytes(bytes));
    if (kind.name !== "level file") {
      // The browser's view of the same BMP or icon, where it has one.
      try {
        const pixels = await decode(file);
        drawPixels(sourceCanvas, pixels.data, pixels.width, pixels.height);
        shown = true;
      } catch {
        // Only the levels are shown.
      }
    }
  } else {
    let pixels;
    try {
      pixels = await timed(times, "decode", () => decode(file));
    } catch (error) {
      throw new Error(undecodable(bytes, kind, error));
    }
    drawPixels(sourceCanvas, pixels.data, pixels.width, pixels.height);
    shown = true;
    // fromPixels gives alpha exactly when some pixel is not opaque.
    image = await timed(times, "convert", () => lib.fromPixels(pixels.data, pixels.width, pixels.height));
  }
  try {
    if (!shown) {
      sourceCanvas.width = 0;
      sourceCanvas.height = 0;
    }
    $("source-caption").textContent = kind.name === "level file" ? "A level file: its picture is its levels" : "The picture";
    const stem = file.name.replace(/\.[^.]*$/, "") || "picture";
    const { width, height } = image;
    const levelFile = await timed(times, "level file", () => image.toLevelFile());
    await timed(times, "draw", () => drawPixels(levelsCanvas, image.toPixels(), width, height));
    const bmp = await timed(times, "BMP", () => image.toBmp());
    const png = await timed(
      times,
      "PNG",
      () => new Promise((resolve, reject) => levelsCanvas.toBlob((b) => (b ? resolve(b) : reject(new Error("the browser made no PNG"))), "image/png")),
    );
    offer(saves.oct, new Blob([levelFile], { type: "application/octet-stream" }), `${stem}.oct`);
    offer(saves.png, png, `${stem}.levels.png`);
    offer(saves.bmp, new Blob([bmp], { type: "image/bmp" }), `${stem}.levels.bmp`);
    fill($("sizes"), [
      ["width", `${width} pixels`],
      ["height", `${height} pixels`],
      ["alpha", image.alpha ? "8 alpha levels" : "none"],
      [kind.name === "level file" ? "level file read" : "picture", formatBytes(bytes.length)],
      ["level file", formatBytes(levelFile.length)],
      ["level file / picture", `${((100 * levelFile.length) / bytes.length).toFixed(1)} %`],
    ]);
    fill($("times"), times);
  } finally {
    image.close();
  }
  setState("done");
}

function take(file) {
  if (!file) return;
  if (!lib) {
    say("the library is not loaded; reload the page");
    return;
  }
  // One file at a time, in the order given.
  running = running.then(() =>
    convert(file).catch((error) => {
      forgetSaves();
      say(`${file.name}: ${error.message || error}`);
      setState("failed");
    }),
  );
}

input.addEventListener("change", () => take(input.files[0]));
for (const name of ["dragenter", "dragover"]) {
  document.addEventListener(name, (event) => {
    event.preventDefault();
    document.body.classList.add("dropping");
  });
}
document.addEventListener("dragleave", () => document.body.classList.remove("dropping"));
document.addEventListener("drop", (event) => {
  event.preventDefault();
  document.body.classList.remove("dropping");
  take(event.dataTransfer.files[0]);
});

try {
  lib = await load();
  setState("ready");
} catch (error) {
  say(`the library could not be loaded: ${error.message || error}`);
  setState("failed");
}
