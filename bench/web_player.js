#!/usr/bin/env node
// Measures the browser player in the system's headless Chromium:
//   node bench/web_player.js [--runs N] [--portable] [--screenshot docs/web-player.png]
// codes a 640x480 and a 1280x720 clip (scripts/make-sample, rvxenc), then
// prints the module's size (raw and gzipped), pictures per second of the
// report mode without hashing (decode and colour conversion only), and the
// time from opening the page to its first picture, each the median of N
// runs; --portable takes the module without SIMD. Needs build-web/ (scripts/build-web), build/cli/rvxenc and the test's
// npm package (tests/web: npm ci).
'use strict';

const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const zlib = require('node:zlib');
const { execFileSync } = require('node:child_process');

const root = path.resolve(__dirname, '..');
const { serve } = require(path.join(root, 'tests', 'web', 'server'));
const { launchChromium, readReport } = require(path.join(root, 'tests', 'web', 'browser'));
const site = path.resolve(root, process.env.RVX_WEB_BUILD_DIR || 'build-web');

function option(name, fallback) {
  const at = process.argv.indexOf(name);
  return at > 0 ? process.argv[at + 1] : fallback;
}

function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.floor(sorted.length / 2)];
}

function makeClip(dir, size, frames) {
  const run = path.join(dir, size);
  execFileSync(path.join(root, 'scripts', 'make-sample'), ['--out', run, '--size', size, '--frames', String(frames)]);
  const movie = path.join(dir, `${size}.rvx`);
  execFileSync(path.join(root, 'build', 'cli', 'rvxenc'),
    [path.join(run, 'frame0001.png'), '--wav', path.join(run, 'sound.wav'), '-o', movie, '--quiet', '--overwrite']);
  return path.basename(movie);
}

async function decodeSpeed(browser, origin, movie) {
  const context = await browser.newContext();
  const query = process.argv.includes('--portable') ? '&simd=0' : '';
  const lines = await readReport(context, `${origin}/index.html?src=/movies/${movie}&report=time${query}`, 300000);
  await context.close();
  const value = (key) => Number(lines.find((l) => l.startsWith(key + ' ')).split(' ')[1]);
  return value('pictures') / (value('ms') / 1000);
}

// From the start of the page's loading to its first picture on the canvas.
async function firstPicture(browser, origin, movie, screenshot) {
  const context = await browser.newContext({ viewport: { width: 960, height: 640 } });
  const page = await context.newPage();
  await page.goto(`${origin}/index.html?src=/movies/${movie}`);
  await page.waitForFunction(() => document.body.dataset.firstPictureMs !== undefined, null, { timeout: 60000 });
  const ms = Number(await page.evaluate(() => document.body.dataset.firstPictureMs));
  if (screenshot) {
    await page.waitForTimeout(1500);
    await page.screenshot({ path: screenshot });
  }
  await context.close();
  return ms;
}

async function main() {
  const runs = Number(option('--runs', '3'));
  const screenshot = option('--screenshot', '');
  const wasm = fs.readFileSync(path.join(site, 'rvx_player.wasm'));
  console.log(`module: ${wasm.length} bytes, ${zlib.gzipSync(wasm, { level: 9 }).length} gzipped`);
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'rvx-web-bench-'));
  const clips = [['640x480', 150], ['1280x720', 90]].map(([size, frames]) => makeClip(dir, size, frames));
  const server = await serve({ '/': site, '/movies/': dir });
  const browser = await launchChromium();
  try {
    for (const clip of clips) {
      const speeds = [], firsts = [];
      for (let i = 0; i < runs; ++i) {
        speeds.push(await decodeSpeed(browser, server.origin, clip));
        firsts.push(await firstPicture(browser, server.origin, clip, i === 0 && clip === clips[0] ? screenshot : ''));
      }
      console.log(`${clip}: ${median(speeds).toFixed(1)} pictures/s, first picture after ${median(firsts).toFixed(0)} ms`);
    }
  } finally {
    await browser.close();
    server.close();
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
