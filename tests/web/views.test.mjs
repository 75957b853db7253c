// The views of the workbench in a headless Chromium against `tavrin plot
// --json` on the same study. Screenshots go to TAVRIN_SCREENSHOT_DIR.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { after, before, describe, test } from 'node:test';
import { launch, openPage, shoot } from './chromium.mjs';
import { scratchDir, startServer, tavrin } from './server.mjs';

const cli = (...args) => JSON.parse(execFileSync(tavrin, ['plot', ...args, '--json'], { encoding: 'utf8' }));

// A three-factor study whose results are smooth, noisy and not exact in binary.
function makeStudy(dir, name, { factors, missing = [] }) {
  const file = join(dir, name);
  const run = (...args) => execFileSync(tavrin, args, { encoding: 'utf8' });
  run('new', file, ...factors.flatMap((f) => ['--factor', f]), '--response', 'Yield[%]', '--response', 'Impurity[%]', '--seed', '7');
  const sheet = JSON.parse(run('sheet', file, '--json'));
  const rows = sheet.runs.filter((r) => !missing.includes(r.run)).map((r, k) => {
    const [a, b = 0] = sheet.factors.map((f) => (2 * r.settings[f.name] - f.low - f.high) / (f.high - f.low));
    return `${r.run},${80.3 + 4.1 * a + 2.7 * b - 3.9 * a * a - 2.2 * b * b + 1.3 * a * b + 0.37 * Math.sin(1.7 * k)},` +
      `${1.1 + 0.4 * a - 0.2 * b + 0.15 * a * a + 0.05 * Math.cos(2.1 * k)}`;
  });
  writeFileSync(join(dir, `${name}.csv`), ['run_id,Yield,Impurity', ...rows].join('\n') + '\n');
  run('enter', file, join(dir, `${name}.csv`));
  return file;
}

// Opens the workbench on `file`, once its view is drawn; `errors` are the page's and the console's.
async function open(chrome, file, dir, width = 1280, height = 800) {
  const server = await startServer([file], dir);
  const page = await openPage(chrome, server.url, { width, height });
  await page.waitForFunction(() => Number(document.querySelector('#view-plot').dataset.revision) > 0);
  const errors = () => [...page.uncaught, ...page.consoleErrors];
  return { page, errors, stop: async () => { await page.close(); await server.stop(); } };
}

const revision = (page) => page.$eval('#view-plot', (d) => Number(d.dataset.revision));

// Runs `act` and waits until the views have drawn every request it caused.
async function redraw(page, act) {
  const before = await revision(page);
  await act();
  // Drawn since, and no redraw queued by a change made while a request was pending.
  await page.waitForFunction((b) => {
    const d = document.querySelector('#view-plot');
    return Number(d.dataset.revision) > b && d.dataset.drawing === 'false';
  }, {}, before);
}

const figure = (page) => page.$eval('#view-plot', (d) => ({
  kind: d.dataset.kind, request: JSON.parse(d.dataset.request), data: d.data?.map((t) => ({ name: t.name, x: t.x, y: t.y, z: t.z })),
  shapes: d.layout?.shapes?.map((s) => ({ name: s.name, x0: s.x0 })),
}));
const atArgument = (at = {}) => Object.entries(at).map(([k, v]) => `${k}=${v}`).join(',');

describe('workbench views', () => {
  let scratch;
  let chrome;
  let file;

  before(async () => {
    scratch = scratchDir();
    file = makeStudy(scratch.dir, 'study.json',
      { factors: ['T=150.3:210.7[°C]', 't=10.1:50.9[min]', 'c=0.1:0.7[g]'] });
    chrome = await launch();
  });
  after(async () => {
    await chrome?.close();
    scratch?.remove();
  });

  test('every view draws the numbers of tavrin plot --json, with no console error', async () => {
    const { page, errors, stop } = await open(chrome, file, scratch.dir);
    try {
      // A limit typed in step 4 reaches the overlay.
      await page.$eval('#goal-table tr[data-response="Impurity"] input[name=atMost]', (i) => { i.value = '1.2'; });
      await page.select('#goal-table tr[data-response="Yield"] select[name=kind]', 'maximize');
      const goals = ['--maximize', 'Yield', '--within', 'Impurity<=1.2'];
      // Per view: [drawn, as `tavrin plot --json` gives it] for the figure's own request.
      const expected = {
        profiler: (f, r, at) => {
          const d = cli(file, '--kind', 'profiler', '--at', at, ...goals);
          const line = (name) => f.data.find((l) => l.name === name).y;
          return [[f.data.filter((t) => t.name.includes(' along ')).length, d.traces.length + d.desirability.length],
            ...d.traces.flatMap((t) => [[line(`${t.response} along ${t.factor}`), t.value],
              [line(`${t.response} band high, ${t.factor}`), t.upper], [line(`${t.response} band low, ${t.factor}`), t.lower]]),
            ...d.desirability.map((x) => [line(`desirability along ${x.factor}`), x.overall])];
        },
        overlay: (f, r, at) => {
          const d = cli(file, '--kind', 'overlay', '--x', r.x, '--y', r.y, '--at', at, '--steps', '81', ...goals);
          return [[f.data[0].z, d.feasible], [f.data[1].z, d.limits[0].z], [new Set(d.feasible.flat()).size, 2]];
        },
        surface: (f, r, at) => {
          const d = cli(file, '--kind', 'surface', '--response', r.response, '--x', r.x, '--y', r.y, '--at', at);
          return [[f.data[0].z, d.z], [f.data[1].z, d.runs.map((x) => x.observed)]];
        },
        interaction: () => [],
        residuals: (f, r) => {
          const plain = cli(file, '--kind', 'residuals', '--response', r.response).runs.filter((x) => !x.outlier);
          return [[[f.data[0].x, f.data[0].y], [plain.map((x) => x.normalScore), plain.map((x) => x.residual)]]];
        },
        boxcox: (f, r) => {
          const d = cli(file, '--kind', 'boxcox', '--response', r.response);
          return [[[f.data[0].x, f.data[0].y, f.data[2].x, f.data[2].y], [d.lambda, d.logLikelihood, [d.best], [d.bestLogLikelihood]]],
            [f.shapes, [{ name: 'recommended', x0: d.recommended }]]];
        },
        fds: (f) => {
          const d = cli(file, '--kind', 'fds');
          return [[[f.data[0].y, f.data[2].z], [d.spv, d.correlations.slice(1).map((row) => row.slice(1))]]];
        },
        robustness: (f, r) => {
          const d = cli(file, '--kind', 'robustness', '--x', r.x, '--y', r.y, ...goals, '--replicates', String(r.replicates));
          return [[f.data.find((t) => t.name === 'relocated optima').x, d.cloud.x]];
        },
      };
      for (const [kind, pairs] of Object.entries(expected)) {
        await redraw(page, () => page.click(`#view-tab-${kind}`));
        const f = await figure(page);
        assert.equal(f.kind, kind, await page.$eval('#view-error', (p) => p.textContent));
        for (const [drawn, wanted] of pairs(f, f.request, atArgument(f.request.at))) assert.deepEqual(drawn, wanted, kind);
        await shoot(page, `views-${kind}.png`, '#views');
      }
      assert.deepEqual(errors(), []);
    } finally {
      await stop();
    }
  });

  test('the keyboard moves the setting and redraws every panel', async () => {
    const { page, errors, stop } = await open(chrome, file, scratch.dir);
    try {
      const before = await figure(page);
      const slider = '#view-settings input[data-factor="T"]';
      await page.focus(slider);
      await redraw(page, async () => { for (let k = 0; k < 5; k += 1) await page.keyboard.press('ArrowRight'); });
      const moved = await figure(page);
      assert.ok(moved.request.at.T > before.request.at.T);
      const lines = (f) => f.data.filter((t) => t.name.includes(' along '));
      for (const [k, line] of lines(moved).entries()) {
        // Panels along T keep their values; every other panel holds T at the new setting.
        if (line.name.endsWith('along T')) assert.deepEqual(line.y, lines(before)[k].y);
        else assert.notDeepEqual(line.y, lines(before)[k].y, line.name);
      }
      for (const s of moved.shapes.filter((x) => x.name === 'T')) assert.equal(s.x0, moved.request.at.T);

      assert.deepEqual(errors(), []);
    } finally {
      await stop();
    }
  });

  test('a study with missing results or one factor says why a view cannot be drawn', async () => {
    const missing = makeStudy(scratch.dir, 'missing.json',
      { factors: ['T=150.3:210.7[°C]', 't=10.1:50.9[min]', 'c=0.1:0.7[g]'], missing: [3] });
    let { page, errors, stop } = await open(chrome, missing, scratch.dir);
    try {
      assert.match(await page.$eval('#view-error', (p) => p.textContent), /cannot be drawn: .*no result for run 3/);
      assert.equal(await page.$eval('#view-plot', (d) => d.hidden), true);
      // The browser logs the refused requests (4xx); nothing else may be logged.
      assert.deepEqual(errors().filter((e) => !/status of 4\d\d/.test(e)), []);
    } finally {
      await stop();
    }
    const one = makeStudy(scratch.dir, 'one.json', { factors: ['T=150.3:210.7[°C]'] });
    ({ page, errors, stop } = await open(chrome, one, scratch.dir, 420, 800));
    try {
      assert.equal(await page.$eval('#view-plot', (d) => d.dataset.kind), 'profiler');
      await redraw(page, () => page.click('#view-tab-surface'));
      assert.match(await page.$eval('#view-error', (p) => p.textContent), /needs two factors/);
      // A narrow window: nothing on the page is wider than it, or sticks out of it, but in a box that
      // scrolls sideways of its own (the run sheet's columns).
      assert.deepEqual(await page.evaluate(() => {
        const clipped = (e) => {
          for (let p = e.parentElement; p; p = p.parentElement) if (getComputedStyle(p).overflowX !== 'visible') return true;
          return false;
        };
        const out = [...document.querySelectorAll('body *')].filter((e) => {
          const r = e.getBoundingClientRect();
          return r.width > 0 && r.right > window.innerWidth + 1 && !clipped(e);
        }).map((e) => e.id || `${e.parentElement.id || e.parentElement.tagName} > ${e.tagName}`);
        return document.documentElement.scrollWidth > window.innerWidth ? [...out, 'page scrolls sideways'] : out;
      }), []);
      assert.deepEqual(errors().filter((e) => !/status of 4\d\d/.test(e)), []);
    } finally {
      await stop();
    }
  });
});
