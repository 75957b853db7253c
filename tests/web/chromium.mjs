// Headless Chromium for the browser tests: puppeteer-core (the workbench's
// test dependency, in web/node_modules) driving Debian's chromium, each
// session in its own throw-away profile with no background traffic.
import { mkdirSync, mkdtempSync, rmSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

const require = createRequire(new URL('../../web/package.json', import.meta.url));
const puppeteer = require('puppeteer-core');

const chromium = process.env.TAVRIN_CHROMIUM ?? '/usr/bin/chromium';

// Where the tests leave their screenshots (docs/ when refreshing them).
export const screenshots = process.env.TAVRIN_SCREENSHOT_DIR ?? mkdtempSync(join(tmpdir(), 'tavrin-shots-'));
mkdirSync(screenshots, { recursive: true });

export async function launch() {
  const profile = mkdtempSync(join(tmpdir(), 'tavrin-chromium-'));
  const browser = await puppeteer.launch({
    executablePath: chromium,
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync', `--user-data-dir=${profile}`],
  });
  return { browser, close: async () => { await browser.close(); rmSync(profile, { recursive: true, force: true }); } };
}

// A page of the workbench at `url`, ready once `ready` matches: dialogs are
// accepted, each uncaught error in the page is kept, with its stack, in
// `page.uncaught` and each console error in `page.consoleErrors`.
export async function openPage(chrome, url, { ready = 'body[data-ready="true"]', width = 1280, height = 900 } = {}) {
  const page = await chrome.browser.newPage();
  await page.setViewport({ width, height });
  page.on('dialog', (dialog) => dialog.accept());
  page.uncaught = [];
  page.on('pageerror', (error) => page.uncaught.push(error.stack ?? String(error)));
  page.consoleErrors = [];
  page.on('console', (message) => { if (message.type() === 'error') page.consoleErrors.push(message.text()); });
  await page.goto(url);
  await page.waitForSelector(ready);
  return page;
}

// Saves `name` in the screenshot folder: the page, full width, from the top of
// `first` to the bottom of `last`, scrolled to the top (the bar stays there).
export async function shoot(page, name, first, last = first) {
  const clip = await page.evaluate((a, b) => {
    window.scrollTo(0, 0);
    const top = document.querySelector(a).getBoundingClientRect();
    const bottom = document.querySelector(b).getBoundingClientRect();
    return { x: 0, y: top.top - 8, width: document.documentElement.clientWidth, height: bottom.bottom - top.top + 16 };
  }, first, last);
  await page.screenshot({ path: join(screenshots, name), clip, captureBeyondViewport: true });
}
