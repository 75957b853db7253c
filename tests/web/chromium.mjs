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
// accepted, and each uncaught error in the page is kept, with its stack, in
// `page.uncaught` for the test to check.
export async function openPage(chrome, url, { ready = 'body[data-ready="true"]', width = 1280, height = 900 } = {}) {
  const page = await chrome.browser.newPage();
  await page.setViewport({ width, height });
  page.on('dialog', (dialog) => dialog.accept());
  page.uncaught = [];
  page.on('pageerror', (error) => page.uncaught.push(error.stack ?? String(error)));
  await page.goto(url);
  await page.waitForSelector(ready);
  return page;
}
