// The system's Chromium, headless, for the browser test and the player's
// measurements: no browser is downloaded, nothing reaches the network.
'use strict';

const { chromium } = require('playwright-core');

const kChromium = process.env.RVX_CHROMIUM || '/usr/bin/chromium';

// The browser, started with a new, empty profile of its own (removed when it
// closes); each test makes its own context (language, viewport) in it.
function launchChromium() {
  return chromium.launch({
    executablePath: kChromium,
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--autoplay-policy=no-user-gesture-required'],
  });
}

// Opens url and waits until <pre id="report"> holds its last line ("done N"
// or "error: ..."); the report's lines back.
async function readReport(context, url, timeout = 60000) {
  const page = await context.newPage();
  try {
    await page.goto(url);
    await page.waitForFunction(() => /(^|\n)(done \d+|error: .*)\n$/.test(document.getElementById('report').textContent),
      null, { timeout });
    return (await page.textContent('#report')).trim().split('\n');
  } finally {
    await page.close();
  }
}

module.exports = { launchChromium, readReport };
