// The browser player in the system's headless Chromium: the report mode must
// give, picture for picture, what rvxdec --frames writes; the playing page
// must show pictures, its words in the browser's language, and say clearly
// what is wrong with a file it cannot play.
'use strict';

const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { after, before, describe, test } = require('node:test');
const { decodePng } = require('./png');
const { makeMovie, expectedReport } = require('./movies');
const { serve } = require('./server');
const { launchChromium, readReport } = require('./browser');

const site = path.resolve(__dirname, '..', '..', process.env.RVX_WEB_BUILD_DIR || 'build-web');
const small = { width: 90, height: 60, frames: 12 };
const movies = [
  { name: 'yuv411-b-sound', run: small, sound: true, args: ['--picture-format', 'YUV411', '--b-frames', '2'] },
  { name: 'yuv422-int-idct', run: small, args: ['--picture-format', 'YUV422', '--transform', 'DCT-NoDEF'] },
  { name: 'yuv444-diff2d', run: small, args: ['--picture-format', 'YUV444', '--transform', 'Diff2D', '--b-frames', '0'] },
  { name: 'rgb888', run: small, sound: true, args: ['--picture-format', 'RGB888'] },
  { name: 'argb8888', run: { ...small, alpha: true }, args: ['--picture-format', 'ARGB8888'] },
  { name: 'ayuv4422-b', run: { ...small, alpha: true }, sound: true, args: ['--picture-format', 'AYUV4422', '--b-frames', '3'] },
  { name: 'ayuv4411', run: { ...small, alpha: true }, args: ['--picture-format', 'AYUV4411', '--p-frames', '2'] },
  // Three seconds, long enough to watch it play.
  { name: 'ayuv4444-long', run: { width: 160, height: 120, frames: 90, alpha: true }, sound: true,
    args: ['--picture-format', 'AYUV4444'] },
];

let dir, server, browser;

before(async () => {
  dir = fs.mkdtempSync(path.join(os.tmpdir(), 'rvx-web-'));
  for (const movie of movies) makeMovie(dir, movie);
  fs.writeFileSync(path.join(dir, 'not-a-movie.rvx'), Buffer.from('RIFF this is a wave file, not a movie'));
  const whole = fs.readFileSync(path.join(dir, 'yuv411-b-sound.rvx'));
  fs.writeFileSync(path.join(dir, 'cut.rvx'), whole.subarray(0, Math.floor(whole.length * 0.7)));
  server = await serve({ '/': site, '/movies/': dir });
  browser = await launchChromium();
});

after(async () => {
  if (browser) await browser.close();
  if (server) server.close();
  if (dir) fs.rmSync(dir, { recursive: true, force: true });
});

const pageUrl = (query) => `${server.origin}/index.html?${query}`;

describe('report mode', () => {
  for (const movie of movies) {
    test(`${movie.name}: every picture as rvxdec decodes it`, async () => {
      const expected = expectedReport(path.join(dir, `${movie.name}.rvx`));
      const context = await browser.newContext();
      const lines = await readReport(context, pageUrl(`src=/movies/${movie.name}.rvx&report=1`));
      await context.close();
      assert.equal(lines.length, movie.run.frames + 1);
      assert.deepEqual(lines, expected);
    });
  }

  test('the module without SIMD decodes the same pictures', async () => {
    const movie = 'ayuv4422-b';
    const context = await browser.newContext();
    const lines = await readReport(context, pageUrl(`src=/movies/${movie}.rvx&report=1&simd=0`));
    await context.close();
    assert.deepEqual(lines, expectedReport(path.join(dir, `${movie}.rvx`)));
  });

  test('a movie cut short reports the pictures that are intact', async () => {
    const context = await browser.newContext();
    const lines = await readReport(context, pageUrl('src=/movies/cut.rvx&report=1'));
    await context.close();
    const done = lines.at(-1).match(/^done (\d+)$/);
    assert.ok(done, lines.at(-1));
    const count = Number(done[1]);
    assert.ok(count >= 1 && count < small.frames, lines.at(-1));
    // What is intact decodes as it does in the whole movie, under the same
    // display numbers (a picture whose data is lost is left out).
    const whole = new Set(expectedReport(path.join(dir, 'yuv411-b-sound.rvx')));
    assert.equal(lines.length, count + 1);
    for (const line of lines.slice(0, count)) assert.ok(whole.has(line), line);
  });

  const failures = [
    ['a file that is not a movie', 'not-a-movie.rvx', /^error: .+/],
    ['a movie that is not there', 'absent.rvx', /^error: .*404/],
  ];
  for (const [what, file, pattern] of failures) {
    test(`${what} gives one error line`, async () => {
      const context = await browser.newContext();
      const lines = await readReport(context, pageUrl(`src=/movies/${file}&report=1`));
      await context.close();
      assert.equal(lines.length, 1);
      assert.match(lines[0], pattern);
    });
  }
});

describe('playing page', () => {
  // Pixels of the screenshot that differ from its first one; a blank canvas
  // (or a checkerboard alone) has almost none of the movie's colours.
  function colourCount(png) {
    const { rgba } = decodePng(png);
    const colours = new Set();
    for (let i = 0; i < rgba.length; i += 4) colours.add(rgba.readUInt32BE(i));
    return colours.size;
  }

  test('plays the movie: pictures advance and the canvas is not blank', async () => {
    const context = await browser.newContext({ viewport: { width: 800, height: 600 } });
    const page = await context.newPage();
    await page.goto(pageUrl('src=/movies/ayuv4444-long.rvx'));
    await page.waitForFunction(() => Number(document.body.dataset.picturesShown || 0) >= 4, null, { timeout: 20000 });
    const shot = await page.locator('#picture').screenshot();
    const details = await page.textContent('#details');
    const button = await page.textContent('#play');
    await context.close();
    assert.ok(colourCount(shot) > 50, 'the canvas shows a picture');
    assert.match(details, /160 × 120/);
    assert.match(details, /alpha/);
    assert.equal(button, 'Pause');
  });

  test('space pauses and the seek bar, dragged along, ends on the picture it stops at', async () => {
    const context = await browser.newContext();
    const page = await context.newPage();
    await page.goto(pageUrl('src=/movies/ayuv4444-long.rvx'));
    await page.waitForFunction(() => Number(document.body.dataset.picturesShown || 0) >= 2, null, { timeout: 20000 });
    await page.keyboard.press('Space');
    assert.equal(await page.textContent('#play'), 'Play');
    for (const frame of [10, 25, 40, 61, 75]) await page.locator('#seek').fill(String(frame));
    await page.waitForFunction(() => document.body.dataset.frame === '75', null, { timeout: 10000 });
    await page.waitForTimeout(300);
    assert.equal(await page.evaluate(() => document.body.dataset.frame), '75');
    assert.equal(await page.textContent('#time'), '0:02 / 0:03');
    await context.close();
  });

  test('a movie chosen with the open button plays from the file', async () => {
    const context = await browser.newContext();
    const page = await context.newPage();
    await page.goto(pageUrl(''));
    await page.setInputFiles('#file', path.join(dir, 'ayuv4444-long.rvx'));
    await page.waitForFunction(() => document.body.dataset.picturesShown === '1', null, { timeout: 20000 });
    await page.click('#play');
    await page.waitForFunction(() => Number(document.body.dataset.frame) >= 5, null, { timeout: 20000 });
    assert.match(await page.textContent('#details'), /90 pictures/);
    await context.close();
  });

  const messages = [
    ['en-US', 'not-a-movie.rvx', 'This file is not a .rvx movie.', 'Play'],
    ['ja-JP', 'not-a-movie.rvx', 'このファイルは .rvx 動画ではありません。', '再生'],
    ['en-US', 'absent.rvx', 'The movie could not be loaded (HTTP 404).', 'Play'],
  ];
  for (const [locale, file, text, play] of messages) {
    test(`${file} in ${locale}: "${text}"`, async () => {
      const context = await browser.newContext({ locale });
      const page = await context.newPage();
      await page.goto(pageUrl(`src=/movies/${file}`));
      await page.waitForSelector('#message.error', { timeout: 20000 });
      assert.equal(await page.textContent('#message'), text);
      assert.equal(await page.textContent('#play'), play);
      await context.close();
    });
  }

  test('a movie cut short plays and says it is damaged', async () => {
    const context = await browser.newContext();
    const page = await context.newPage();
    await page.goto(pageUrl('src=/movies/cut.rvx'));
    await page.waitForSelector('#message.warning', { timeout: 20000 });
    assert.match(await page.textContent('#message'), /damaged; what is intact plays/);
    await page.waitForFunction(() => Number(document.body.dataset.picturesShown || 0) >= 1, null, { timeout: 20000 });
    await context.close();
  });

  test('opened from a file, the page plays or says why it cannot', async () => {
    const context = await browser.newContext();
    const page = await context.newPage();
    await page.goto(`file://${path.join(site, 'index.html')}?src=${encodeURIComponent(path.join(dir, 'rgb888.rvx'))}`);
    await page.waitForFunction(() => !document.getElementById('message').hidden
      && !/…$/.test(document.getElementById('message').textContent) || document.body.dataset.picturesShown,
    null, { timeout: 20000 });
    const shown = await page.evaluate(() => document.body.dataset.picturesShown);
    if (!shown) assert.match(await page.textContent('#message'), /Serve the folder over HTTP/);
    await context.close();
  });
});
