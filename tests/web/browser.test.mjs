// The workbench in a headless Chromium, driven as a person would, against
// the command line on the saved file. Screenshots go to TAVRIN_SCREENSHOT_DIR.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { after, afterEach, before, describe, test } from 'node:test';
import { noiseSource, resultsCsv, trueImpurity, trueYield } from './process.mjs';
import { launch, openPage, shoot } from './chromium.mjs';
import { scratchDir, startServer, tavrin } from './server.mjs';

const cli = (...args) => JSON.parse(execFileSync(tavrin, args, { encoding: 'utf8' }));

// Replaces the text of an input as typing would, firing input and change.
async function typeInto(page, selector, text) {
  await page.$eval(selector, (input) => { input.focus(); input.select(); });
  await page.keyboard.press('Backspace');
  if (text !== '') await page.type(selector, text);
  await page.$eval(selector, (input) => input.dispatchEvent(new Event('change', { bubbles: true })));
}

// Row k (from 1) of a definition table; each row is followed by its message row.
const rowInput = (table, row, name) => `${table} tbody tr:nth-child(${2 * row - 1}) input[name=${name}]`;

async function defineStudy(page, factors, responses) {
  await page.select('#design', 'box-behnken');
  await typeInto(page, '#seed', '7');
  while ((await page.$$('#factor-table tbody tr.item')).length < factors.length) await page.click('#add-factor');
  while ((await page.$$('#response-table tbody tr.item')).length < responses.length) await page.click('#add-response');
  for (const [k, f] of factors.entries())
    for (const key of ['name', 'low', 'high', 'unit']) await typeInto(page, rowInput('#factor-table', k + 1, key), String(f[key]));
  for (const [k, r] of responses.entries())
    for (const key of ['name', 'unit']) await typeInto(page, rowInput('#response-table', k + 1, key), r[key]);
  await page.waitForFunction(() => document.querySelector('#define-status').textContent.includes('valid'));
}

// Clicks "Create the plan" once the definition's evaluation is shown: the
// evaluation appears above the button, so a click before it could land where
// the button was.
async function createPlan(page) {
  await page.waitForSelector('#define[aria-busy="false"]');
  await page.click('#create');
}

// The runs as the page's table shows them: [{order, run, settings}], the planned settings.
function readRunTable(page) {
  return page.$$eval('#run-table tbody tr', (rows) => rows.map((row) => ({
    order: Number(row.children[0].textContent),
    run: Number(row.dataset.run),
    settings: Object.fromEntries([...row.querySelectorAll('td[data-factor]')].map((td) => [td.dataset.factor, Number(td.dataset.planned)])),
  })));
}

async function uploadResults(page, scratch, name, csv) {
  const file = join(scratch, name);
  writeFileSync(file, csv);
  const input = await page.$('#upload-results');
  await input.uploadFile(file);
}

const dataValue = (page, selector) => page.$eval(selector, (cell) => Number(cell.dataset.value));

describe('workbench in a browser', () => {
  let scratch;
  let server;
  let chrome;
  let page;

  before(async () => {
    scratch = scratchDir();
    server = await startServer(['study.json'], scratch.dir);
    chrome = await launch();
    page = await openPage(chrome, server.url);
  });
  // An uncaught error in the page fails the test during which it happened.
  afterEach(() => assert.deepEqual(page.uncaught.splice(0), []));
  after(async () => {
    await chrome?.close();
    await server?.stop();
    scratch?.remove();
  });

  test('the example study, from its definition to its saved file', async () => {
    // 1. Define, with a fault first: the layer's message appears next to the field.
    const factors = [{ name: 'Temperature', low: 150, high: 210, unit: '°C' }, { name: 'Time', low: 10, high: 50, unit: 'min' }];
    const responses = [{ name: 'Yield', unit: '%' }, { name: 'Impurity', unit: '%' }];
    await defineStudy(page, factors, responses);
    await typeInto(page, rowInput('#factor-table', 2, 'high'), '5');
    await page.waitForFunction(() => /factor 2 "Time": low 10 is not below high 5/.test(
      document.querySelector('#factor-table tbody tr:nth-child(3)').nextElementSibling.textContent));
    assert.equal(await page.$eval('#create', (b) => b.disabled), true);
    // The layer names the input at fault as data: only "high" is marked.
    assert.deepEqual(await page.$$eval('#factor-table input.invalid', (list) => list.map((i) => i.name)), ['high']);
    await typeInto(page, rowInput('#factor-table', 2, 'high'), '50');
    await page.waitForFunction(() => !document.querySelector('#create').disabled);
    await createPlan(page);
    await page.waitForSelector('#run-table tbody tr');

    // 2-3. The run sheet in execution order; results from a CSV, two typed by hand.
    const runs = await readRunTable(page);
    assert.deepEqual(runs.map((r) => r.order), runs.map((_, k) => k + 1));
    const noise = noiseSource();
    // Measured as a person would write them down: 2 and 3 decimals.
    const measured = new Map(runs.map((r) => [r.run, [
      Number((trueYield(r.settings.Temperature, r.settings.Time) + 0.3 * noise()).toFixed(2)),
      Number((trueImpurity(r.settings.Temperature, r.settings.Time) + 0.02 * noise()).toFixed(3))]]));
    const typed = runs.slice(-2);
    await uploadResults(page, scratch.dir, 'bad.csv', `run_id,Yield\n${runs[0].run},80.5\n${runs[1].run},8O.1\n`);
    await page.waitForFunction(() => /^bad\.csv:3:\d+: "8O\.1"/.test(document.querySelector('#runs-error').textContent));
    assert.match(await page.$eval('#missing-count', (p) => p.textContent), /^18 of 18 results missing/);
    await uploadResults(page, scratch.dir, 'results.csv', resultsCsv(runs.slice(0, -2), (s) => measured.get(runs.find((r) => r.settings === s).run)));
    await page.waitForFunction(() => /4 of \d+ results missing/.test(document.querySelector('#missing-count').textContent));
    assert.equal((await page.$$('#run-table input.missing')).length, 4);
    await page.waitForFunction(() => /missing results/.test(document.querySelector('#fit-error').textContent));
    for (const r of typed) {
      for (const [k, name] of ['Yield', 'Impurity'].entries()) {
        const selector = `#run-table input[data-run="${r.run}"][data-response="${name}"]`;
        await typeInto(page, selector, String(measured.get(r.run)[k]));
        await page.waitForFunction((s) => !document.querySelector(s)?.classList.contains('missing'), {}, selector);
      }
    }
    await page.waitForFunction(() => /All \d+ results entered/.test(document.querySelector('#missing-count').textContent));

    // 4. The fit report and its plots.
    await page.waitForSelector('#fit-body:not([hidden]) #fit-stats td[data-stat="R²"]');
    await page.waitForFunction(() => Number(document.querySelector('#contour').dataset.revision) >= 1);
    const shownR2 = {};
    const shownVerdicts = {};
    for (const name of ['Impurity', 'Yield']) {
      await page.$$eval('#fit-tabs button', (buttons, n) => buttons.find((b) => b.textContent === n).click(), name);
      await page.waitForFunction((n) => document.querySelector('#fit-tabs button.active')?.textContent === n, {}, name);
      shownR2[name] = await dataValue(page, '#fit-stats td[data-stat="R²"]');
      shownVerdicts[name] = await page.$$eval('#fit-verdict li', (items) => items.map((li) => li.textContent));
    }
    // The picture waits for the status to fade, however long that takes on a busy machine.
    await page.waitForFunction(() => getComputedStyle(document.querySelector('#status')).opacity === '0', { timeout: 0 });
    await shoot(page, 'workbench-fit.png', '#fit');

    // 5. Goals, optima and robustness.
    await page.select('#goal-table tr[data-response="Yield"] select[name=kind]', 'maximize');
    await typeInto(page, '#goal-table tr[data-response="Impurity"] input[name=atMost]', '1.5');
    // A limit the wrong way round: the layer names its field, the page marks that input.
    await typeInto(page, '#goal-table tr[data-response="Impurity"] input[name=atLeast]', '1.9');
    await page.click('#find-optimum');
    await page.waitForFunction(() => document.querySelector('#goal-table input.invalid'));
    assert.deepEqual(await page.$$eval('#goal-table .invalid', (list) => list.map((i) => `${i.closest('tr').dataset.response}.${i.name}`)),
      ['Impurity.atMost']);
    await typeInto(page, '#goal-table tr[data-response="Impurity"] input[name=atLeast]', '');
    await page.click('#robust');
    // A smaller search than the default keeps the sanitizer build's run short.
    await typeInto(page, '#search-points', '8192');
    await typeInto(page, '#replicates', '200');
    await page.click('#find-optimum');
    await page.waitForSelector('#optimum-body:not([hidden]) #optima tr[data-rank="1"]', { timeout: 300000 });
    await page.waitForSelector('#robustness-body:not([hidden]) #cloud .main-svg', { timeout: 300000 });
    const best = {};
    for (const [kind, name] of [['factor', 'Temperature'], ['factor', 'Time'], ['response', 'Yield'], ['response', 'Impurity']])
      best[name] = await dataValue(page, `#optima tr[data-rank="1"] td[data-${kind}="${name}"]`);
    const probability = await dataValue(page, '#constraint-probability td[data-constraint="Impurity"]');
    await shoot(page, 'workbench-optimum.png', '#optimum');

    // 6. Save: the file the server was started with.
    await page.click('#save');
    await page.waitForFunction(() => document.querySelector('#file-state').textContent === 'saved');
    const file = join(scratch.dir, 'study.json');

    // The downloads are the study's run sheet and study file.
    const downloads = await page.evaluate(async () => Promise.all(['/api/sheet.csv', '/api/study.json'].map((u) => fetch(u).then((r) => r.text()))));
    assert.equal(downloads[0], execFileSync(tavrin, ['sheet', file, '-o', '-'], { encoding: 'utf8' }));
    assert.equal(downloads[1], readFileSync(file, 'utf8'));

    // The command line on the saved file shows the same numbers.
    const fit = cli('fit', file, '--json');
    for (const report of fit.responses) {
      assert.equal(shownR2[report.response], report.rSquared, report.response);
      assert.deepEqual(shownVerdicts[report.response], report.verdict.findings, report.response);
    }
    const optimum = cli('optimize', file, '--maximize', 'Yield', '--within', 'Impurity<=1.5', '--points', '8192',
      '--robust', '--replicates', '200', '--json');
    const top = optimum.optimum.candidates[0];
    assert.deepEqual(best, { ...top.settings, Yield: top.predictions.Yield.value, Impurity: top.predictions.Impurity.value });
    assert.ok(best.Impurity <= 1.5);
    assert.equal(probability, optimum.robustness.constraints[0].probability);

    // 7. A term list tried (the library's verdict on it shown), a bad one refused, then saved as Yield's model.
    const terms = 'Temperature Time Temperature^2';
    await typeInto(page, '#model-terms', terms);
    await page.click('#model-try');
    await page.waitForSelector('#model-result table');
    assert.match(await page.$eval('#model-result', (d) => d.textContent), /Model: Temperature Time Temperature\^2/);
    assert.match(await page.$eval('#model-outliers', (p) => p.textContent), /^Outliers: /);
    const built = cli('fit', file, '--response', 'Yield', '--model', terms, '--json');
    assert.deepEqual(await page.$$eval('#model-verdict li', (items) => items.map((li) => li.textContent)),
      built.responses[0].verdict.findings);
    await typeInto(page, '#model-terms', 'Temperature Pressure');
    await page.click('#model-try');
    await page.waitForFunction(() => /Pressure/.test(document.querySelector('#model-error').textContent));
    await typeInto(page, '#model-terms', terms);
    await page.click('#model-save');
    await page.waitForFunction(() => /9 \/ 4 \/ 5/.test(document.querySelector('#fit-stats').textContent));
    await page.click('#save');
    await page.waitForFunction(() => document.querySelector('#file-state').textContent === 'saved');
    assert.equal(JSON.parse(readFileSync(file, 'utf8')).models.Yield.terms, terms);
  });

  test('a study file made by the command line opens in the page with its model choice', async () => {
    const other = join(scratch.dir, 'other.json');
    execFileSync(tavrin, ['new', other, '--factor', 'Pressure=1.5:3.5[bar]', '--factor', 'Flow=0.1:0.7[l/min]',
      '--response', 'Conversion[%]', '--response', 'Purity', '--seed', '11', '--center-runs', '3']);
    const noise = noiseSource(77);
    const runs = cli('sheet', other, '--json').runs;
    writeFileSync(join(scratch.dir, 'other.csv'), ['run_id,Conversion,Purity', ...runs.map(({ run, settings: s }) =>
      `${run},${60 + 8 * s.Pressure - 1.5 * s.Pressure ** 2 + 9 * s.Flow + 0.3 * noise()},${90 - s.Pressure + noise()}`)].join('\n'));
    execFileSync(tavrin, ['enter', other, join(scratch.dir, 'other.csv')]);
    execFileSync(tavrin, ['fit', other, '--response', 'Conversion', '--model', 'Pressure Flow Pressure^2 Pressure:Flow',
      '--reduce', '--alpha', '0.15', '--force', 'Flow', '--transform', 'log', '--save']);
    const saved = JSON.parse(readFileSync(other, 'utf8')).models.Conversion;
    await (await page.$('#open-study')).uploadFile(other);
    await page.waitForFunction(() => document.querySelector('#run-table thead')?.textContent.includes('Pressure (bar)'));
    assert.equal(await page.$eval(rowInput('#factor-table', 2, 'name'), (i) => i.value), 'Flow');
    assert.equal(await page.$eval('#file-state', (s) => s.textContent), 'unsaved changes');

    // The model form shows each response's saved choice, or the full quadratic without one.
    const form = () => page.evaluate(() => Object.fromEntries(['terms', 'transform', 'p-remove', 'force-in', 'force-out']
      .map((id) => [id, document.querySelector(`#model-${id}`).value])
      .concat(['reduce', 'aicc'].map((id) => [id, document.querySelector(`#model-${id}`).checked]))));
    // The previous study's tabs stay until the opened one has been fitted: wait for this one's.
    const select = async (name) => {
      await page.waitForFunction((n) => [...document.querySelectorAll('#fit-body:not([hidden]) #fit-tabs button')]
        .some((b) => b.textContent === n), {}, name);
      await page.$$eval('#fit-tabs button', (buttons, n) => buttons.find((b) => b.textContent === n).click(), name);
      await page.waitForFunction((n) => document.querySelector('#model-response').textContent === n &&
        document.querySelector('#model-choice').dataset.filledFor, {}, name);
    };
    await select('Conversion');
    assert.deepEqual(await form(), { terms: saved.model, transform: 'log', 'p-remove': '0.15', 'force-in': 'Flow',
      'force-out': '', reduce: true, aicc: false });
    await select('Purity');
    assert.deepEqual(await form(), { terms: '', transform: 'none', 'p-remove': '', 'force-in': '', 'force-out': '',
      reduce: false, aicc: false });
  });

  test('a save over a file another program changed offers reload or save as', async () => {
    const file = join(scratch.dir, 'study.json');
    execFileSync(tavrin, ['new', file, '--force', '--factor', 'Speed=0.1:0.7', '--factor', 'Load=1.5:3.5',
      '--response', 'Wear', '--seed', '3']);
    const theirs = readFileSync(file, 'utf8');
    await page.click('#save');
    await page.waitForSelector('#file-conflict:not([hidden])');
    assert.match(await page.$eval('#file-conflict-message', (p) => p.textContent), /changed on disk/);
    assert.equal(readFileSync(file, 'utf8'), theirs);
    await page.click('#conflict-reload');
    await page.waitForFunction(() => document.querySelector('#run-table thead')?.textContent.includes('Speed'));
    assert.equal(await page.$eval('#file-conflict', (d) => d.hidden), true);
    assert.equal(await page.$eval('#file-state', (s) => s.textContent), 'saved');
  });

  test('the contour redraws when a slider moves', async () => {
    // A third factor gives the surface of two a slider.
    const factors = [{ name: 'Temperature', low: 150, high: 210, unit: '°C' }, { name: 'Time', low: 10, high: 50, unit: 'min' },
      { name: 'Catalyst', low: 0.1, high: 0.7, unit: '%' }];
    await defineStudy(page, factors, [{ name: 'Yield', unit: '%' }, { name: 'Impurity', unit: '%' }]);
    await createPlan(page);
    await page.waitForFunction(() => document.querySelectorAll('#run-table thead th[data-factor]').length === 3);
    const runs = await readRunTable(page);
    const noise = noiseSource(99);
    await uploadResults(page, scratch.dir, 'three.csv', resultsCsv(runs, ({ Temperature: t, Time: m, Catalyst: c }) => [
      trueYield(t, m) + 9 * (c - 0.4) - 30 * (c - 0.4) ** 2 + 0.3 * noise(), trueImpurity(t, m) + 0.8 * c + 0.02 * noise()]));
    await page.waitForSelector('#contour-sliders input[data-factor="Catalyst"]');
    await page.waitForFunction(() => Number(document.querySelector('#contour').dataset.revision) >= 1);
    const before = await page.$eval('#contour', (div) => ({ revision: Number(div.dataset.revision), z: div.data[0].z }));
    // The slider moves in 200 steps of the range (0.649 is one) and the surface is drawn at the value it took.
    const moved = await page.$eval('#contour-sliders input[data-factor="Catalyst"]', (input) => {
      input.value = '0.649';
      input.dispatchEvent(new Event('input', { bubbles: true }));
      return Number(input.value);
    });
    assert.ok(Math.abs(moved - 0.649) < 1e-9, String(moved));
    await page.waitForFunction((r, value) => {
      const div = document.querySelector('#contour');
      return Number(div.dataset.revision) > r && JSON.parse(div.dataset.at).Catalyst === value;
    }, {}, before.revision, moved);
    const afterMove = await page.$eval('#contour', (div) => ({ z: div.data[0].z, title: div.layout.title.text }));
    assert.match(afterMove.title, /Catalyst = 0\.6\d*/);
    assert.notDeepEqual(afterMove.z, before.z);
    await shoot(page, 'workbench-contour.png', '#contour-controls', '#observed');
  });
});

