// The page in a real browser: Debian's Chromium, headless, driven by
// playwright-core, the page served as static files with no special headers
// and every other address refused. It converts a BMP, a level file and a
// PNG; the saved level file, BMP and PNG and the level canvas are compared
// with octtool's; a damaged file shows its reason and the page goes on
// working. A screenshot after a conversion is kept in build/web-test/.
// Skips, saying why, where Chromium cannot start.
import assert from "node:assert/strict";
import fs from "node:fs";
import http from "node:http";
import path from "node:path";
import { after, before, test } from "node:test";

import { bmp24, bmpPixels, firstDifference, madePixels, octtoolConvert, root, testData } from "../test/support.mjs";

const web = path.join(root, "web");
const artifacts = path.join(root, "build", "web-test");
const chromium = process.env.OCT_CHROMIUM || "/usr/bin/chromium";
const types = { ".html": "text/html", ".js": "text/javascript", ".css": "text/css", ".json": "application/json" };

// The static server: files of web/, nothing else, no COOP/COEP headers.
function serve() {
  const server = http.createServer((request, response) => {
    const wanted = decodeURIComponent(new URL(request.url, "http://localhost").pathname);
    const file = path.join(web, wanted === "/" ? "index.html" : wanted);
    if (!file.startsWith(web + path.sep) || !fs.existsSync(file) || fs.statSync(file).isDirectory()) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { "content-type": types[path.extname(file)] || "application/octet-stream" });
    fs.createReadStream(file).pipe(response);
  });
  return new Promise((resolve) => server.listen(0, "127.0.0.1", () => resolve(server)));
}

let browser = null;
let server = null;
let page = null;
let origin = "";
let why = "";

before(async () => {
  if (!fs.existsSync(chromium)) {
    why = `no Chromium at ${chromium}`;
    return;
  }
  let playwright;
  try {
    playwright = await import("playwright-core");
  } catch {
    why = "no playwright-core: npm ci in web/";
    return;
  }
  try {
    browser = await playwright.chromium.launch({
      executablePath: chromium,
      headless: true,
      args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
        "--disable-component-update", "--disable-sync"],
    });
  } catch (error) {
    why = `Chromium cannot start: ${String(error.message || error).split("\n")[0]}`;
    return;
  }
  server = await serve();
  origin = `http://127.0.0.1:${server.address().port}`;
  const context = await browser.newContext({ viewport: { width: 1280, height: 900 }, acceptDownloads: true });
  // Nothing but the page's own files: the page needs no network.
  await context.route("**/*", (route) => (route.request().url().startsWith(origin) || route.request().url().startsWith("blob:") ? route.continue() : route.abort()));
  page = await context.newPage();
  page.on("pageerror", (error) => console.error(`page error: ${error.message}`));
  await page.goto(`${origin}/index.html`);
  await page.waitForFunction(() => document.body.dataset.state !== "loading", null, { timeout: 30000 });
  // Once loaded, the page works with no network at all.
  await context.setOffline(true);
});

after(async () => {
  if (browser) await browser.close();
  if (server) server.close();
});

function skipIfNoBrowser(t) {
  if (!page) {
    t.skip(why);
    return true;
  }
  return false;
}

// Gives the page a file and waits until it is done or has failed.
async function give(file) {
  await page.evaluate(() => {
    document.body.dataset.state = "given";
  });
  await page.setInputFiles("#picture", file);
  await page.waitForFunction(() => ["done", "failed"].includes(document.body.dataset.state), null, { timeout: 60000 });
  return page.evaluate(() => ({ state: document.body.dataset.state, message: document.getElementById("message").textContent }));
}

// The bytes behind a link's blob URL.
async function linked(id) {
  const encoded = await page.evaluate(async (id) => {
    const href = document.getElementById(id).getAttribute("href");
    if (!href) return null;
    const bytes = new Uint8Array(await (await fetch(href)).arrayBuffer());
    let text = "";
    for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
    return btoa(text);
  }, id);
  assert.ok(encoded !== null, `#${id} has no href`);
  return new Uint8Array(Buffer.from(encoded, "base64"));
}

// The pixels of the level canvas, or of a PNG the browser decodes.
async function pixelsOf(source) {
  const encoded = await page.evaluate(async (source) => {
    let data;
    if (source === "canvas") {
      const canvas = document.getElementById("levels");
      data = canvas.getContext("2d").getImageData(0, 0, canvas.width, canvas.height).data;
    } else {
      const blob = await (await fetch(document.getElementById("save-png").href)).blob();
      const bitmap = await createImageBitmap(blob, { premultiplyAlpha: "none", colorSpaceConversion: "none" });
      const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
      const context = canvas.getContext("2d");
      context.drawImage(bitmap, 0, 0);
      data = context.getImageData(0, 0, bitmap.width, bitmap.height).data;
    }
    let text = "";
    for (let i = 0; i < data.length; i += 0x8000) text += String.fromCharCode(...data.subarray(i, i + 0x8000));
    return btoa(text);
  }, source);
  return new Uint8Array(Buffer.from(encoded, "base64"));
}

function assertSame(actual, expected, what) {
  const at = firstDifference(actual, expected);
  assert.equal(at, -1, `${what}: ${actual.length} bytes against octtool's ${expected.length}, first difference at ${at}`);
}

// Everything the page offers after converting `file`, against octtool.
async function checkConversion(file) {
  const shown = await give(file);
  assert.deepEqual(shown, { state: "done", message: "" });
  const levels = octtoolConvert(file, ".oct");
  const bmp = octtoolConvert(file, ".bmp");
  assert.ok(levels.ok && bmp.ok);
  assertSame(await linked("save-oct"), levels.bytes, "saved level file");
  assertSame(await linked("save-bmp"), bmp.bytes, "saved BMP");
  const expected = bmpPixels(bmp.bytes);
  const size = await page.evaluate(() => [document.getElementById("levels").width, document.getElementById("levels").height]);
  assert.deepEqual(size, [expected.width, expected.height], "the level canvas has the picture's size");
  assertSame(await pixelsOf("canvas"), expected.rgba, "level canvas");
  assertSame(await pixelsOf("png"), expected.rgba, "saved PNG");
}

test("a BMP: octtool's level file, BMP, PNG pixels and canvas, and a screenshot", async (t) => {
  if (skipIfNoBrowser(t)) return;
  await checkConversion(path.join(testData, "photo", "harvesters.bmp"));
  fs.mkdirSync(artifacts, { recursive: true });
  await page.screenshot({ path: path.join(artifacts, "page.png"), fullPage: true });
  const facts = await page.evaluate(() => document.getElementById("sizes").textContent);
  assert.match(facts, /1165 pixels.*859 pixels/s);
});

test("a level file: read by the module and saved again unchanged", async (t) => {
  if (skipIfNoBrowser(t)) return;
  const made = octtoolConvert(bmp24(madePixels(333, 222, 6), 333, 222), ".oct");
  fs.mkdirSync(artifacts, { recursive: true });
  const file = path.join(artifacts, "made.oct");
  fs.writeFileSync(file, made.bytes);
  await checkConversion(file);
  assertSame(await linked("save-oct"), made.bytes, "the level file saved again");
});

test("a PNG, decoded by the browser: the level file of the same pixels", async (t) => {
  if (skipIfNoBrowser(t)) return;
  await checkConversion(path.join(testData, "png", "pngsuite", "basn2c08.png"));
});

test("a damaged file shows the library's reason, and the page goes on working", async (t) => {
  if (skipIfNoBrowser(t)) return;
  const damaged = path.join(testData, "bmp", "b", "badwidth.bmp");
  const expected = octtoolConvert(damaged, ".oct");
  assert.equal(expected.ok, false);
  const shown = await give(damaged);
  assert.equal(shown.state, "failed");
  assert.equal(shown.message, `badwidth.bmp: ${expected.reason}`);
  for (const id of ["save-oct", "save-png", "save-bmp"]) {
    assert.equal(await page.evaluate((id) => document.getElementById(id).getAttribute("href"), id), null, `#${id} after a failure`);
  }
  const notPicture = path.join(artifacts, "notes.txt");
  fs.mkdirSync(artifacts, { recursive: true });
  fs.writeFileSync(notPicture, "not a picture at all\n");
  assert.deepEqual(await give(notPicture), { state: "failed", message: "notes.txt: not a picture or level file this library knows" });
  await checkConversion(path.join(testData, "bmp", "g", "rgb24.bmp"));
});
