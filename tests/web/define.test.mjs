// The definition step and the run sheet in a headless browser, checked
// against `tavrin new`, `evaluate`, `sheet` and `enter` on the same input.
import assert from 'node:assert/strict';
import { copyFileSync, writeFileSync } from 'node:fs';
import { spawnSync } from 'node:child_process';
import { join } from 'node:path';
import { after, afterEach, before, describe, test } from 'node:test';
import { launch, openPage, shoot } from './chromium.mjs';
import { scratchDir, startServer, tavrin } from './server.mjs';

// Factors whose ranges are not exact in binary.
const factors = [['A', '0.1', '0.7'], ['B', '1.5', '3.5'], ['C', '0.35', '0.95']];
const factorArgs = factors.flatMap(([name, low, high]) => ['--factor', `${name}=${low}:${high}`]);

// `tavrin ARGS` in the scratch folder: {status, json, message}, message the text after "tavrin: ".
let workDir;
function cli(...args) {
  const run = spawnSync(tavrin, args, { encoding: 'utf8', cwd: workDir });
  const json = run.status === 0 && args.includes('--json') ? JSON.parse(run.stdout) : null;
  return { status: run.status, json, message: run.stderr.trim().replace(/^tavrin: /, '') };
}

// Sets a field's text (or a select's value) as a person would, firing input and change.
async function setField(page, selector, value) {
  await page.$eval(selector, (input, v) => {
    if (input.type === 'checkbox') input.checked = v === 'true';
    else input.value = v;
    input.dispatchEvent(new Event('input', { bubbles: true }));
    input.dispatchEvent(new Event('change', { bubbles: true }));
  }, value);
}

// The form: a design, its options ({alpha: 'face', blocks: '3', ...}), the factors above and one response.
async function define(page, design, options, seed = '') {
  await page.$eval('#design', (select, d) => { select.value = d; select.dispatchEvent(new Event('change', { bubbles: true })); }, design);
  for (const option of await page.$$eval('#design-options .option:not([hidden]) [id^=option-]', (l) => l.map((i) => i.id)))
    await setField(page, `#${option}`, option === 'option-inscribed' ? 'false' : '');
  while ((await page.$$('#factor-table tbody tr.item')).length < factors.length) await page.click('#add-factor');
  for (const [k, values] of factors.entries())
    for (const [j, name] of ['name', 'low', 'high'].entries())
      await setField(page, `#factor-table tbody tr:nth-child(${2 * k + 1}) input[name=${name}]`, values[j]);
  await setField(page, '#response-table tbody tr:nth-child(1) input[name=name]', 'Y');
  for (const [name, value] of Object.entries(options)) {
    if (name === 'alpha-value') await setField(page, '#option-alpha', 'value');
    await setField(page, `#option-${name}`, value);
  }
  await setField(page, '#seed', seed);
}

// The faults shown: {field: message} of every non-empty message cell of the options and the design.
const shownFaults = (page) => page.$$eval('#define .field-error[data-field]', (cells) =>
  Object.fromEntries(cells.filter((c) => c.textContent).map((c) => [c.dataset.field, c.textContent])));

describe('the definition step offers every design, evaluated before it is made', () => {
  let scratch;
  let server;
  let chrome;
  let page;

  before(async () => {
    scratch = scratchDir();
    workDir = scratch.dir;
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

  test('a refused option shows the message of `tavrin new` at its own field', async () => {
    const cases = [
      // [design, options on the page, the same on the command line, the field]
      ['ccd', { blocks: '4' }, ['--blocks', '4'], 'blocks'],
      ['ccd', { fraction: '1' }, ['--fraction', '1'], 'fraction'],
      ['ccd', { 'alpha-value': '-0.4' }, ['--alpha=-0.4'], 'alpha'],
      ['optimal', { runs: '5' }, ['--runs', '5'], 'runs'],
      ['optimal', { runs: '12', constraint: 'A + Pressure <= 1' }, ['--runs', '12', '--constraint', 'A + Pressure <= 1'], 'constraint'],
      ['box-behnken', {}, ['--seed=18446744073709551616'], 'seed', '18446744073709551616'],
    ];
    for (const [design, options, args, field, seed = ''] of cases) {
      const refused = cli('new', join(scratch.dir, 'refused.json'), '--design', design, ...args, ...factorArgs, '--response', 'Y');
      assert.notEqual(refused.status, 0, `${design} ${args}`);
      await define(page, design, options, seed);
      await page.waitForSelector('#define[aria-busy="false"]');
      // The command line may name its option first ("--seed: ...").
      const shown = await shownFaults(page);
      assert.deepEqual(Object.keys(shown), [field], `${design} ${args}`);
      assert.equal(refused.message.replace(/^--[a-z-]+: /, ''), shown[field]);
      assert.equal(await page.$eval('#create', (b) => b.disabled), true);
      assert.equal(await page.$eval('#evaluation', (d) => d.hidden), true);
    }
  });

  test('the evaluation shown is that of `tavrin evaluate --json`; the runs table shows blocks and origins', async () => {
    // A seed past 2^53, which a JavaScript number would round.
    const seed = '18446744073709551557';
    const designs = [
      // [design, options on the page, the same on the command line, evaluation model]
      ['ccd', { alpha: 'orthogonal', blocks: '3', 'center-runs': '4' }, ['--alpha', 'orthogonal', '--blocks', '3', '--center-runs', '4'], ''],
      ['optimal', { runs: '12', model: 'A B C A:B A^2 C^2', criterion: 'i', constraint: 'A + 0.3*B <= 1.45' },
        ['--runs', '12', '--model', 'A B C A:B A^2 C^2', '--criterion', 'i', '--constraint', 'A + 0.3*B <= 1.45'], 'A B C'],
    ];
    for (const [design, options, args, model] of designs) {
      await define(page, design, options, seed);
      await setField(page, '#evaluation-model', model);
      const file = join(scratch.dir, `${design}.json`);
      assert.equal(cli('new', file, '--force', '--design', design, ...args, ...factorArgs, '--response', 'Y', '--seed', seed).status, 0);
      const expected = cli('evaluate', file, '--json', ...(model ? ['--model', model] : [])).json;
      await page.waitForSelector('#define[aria-busy="false"]');
      assert.match(await page.$eval('#evaluation-summary', (p) => p.textContent), new RegExp(`^Model ${expected.model.replace(/[\^]/g, '\\$&')}:`));
      for (const key of ['dEfficiency', 'aEfficiency', 'gEfficiency', 'iCriterion', 'conditionNumber'])
        assert.equal(await page.$eval(`#evaluation-stats td[data-stat="${key}"]`, (td) => Number(td.dataset.value)), expected[key], key);
      const terms = await page.$$eval('#evaluation-terms tbody tr', (rows) => rows.map((row) => ({
        term: row.dataset.term,
        vif: row.querySelector('[data-col=vif]').dataset.value === undefined ? null : Number(row.querySelector('[data-col=vif]').dataset.value),
        power: Number(row.querySelector('[data-col=power]').dataset.value),
      })));
      assert.deepEqual(terms, expected.coefficients.map(({ term, vif, power }) => ({ term, vif, power })));
    }

    // The blocked ccd made by the page is the command line's, run for run.
    await define(page, ...designs[0].slice(0, 2), seed);
    await setField(page, '#evaluation-model', '');
    await page.waitForSelector('#define[aria-busy="false"]');
    await shoot(page, 'workbench-define.png', '#define');
    await page.click('#create');
    await page.waitForSelector('#run-table tbody tr');
    const shown = await page.$$eval('#run-table tbody tr', (rows) => rows.map((row) => ({
      run: Number(row.dataset.run), block: Number(row.querySelector('[data-block]').dataset.block),
      origin: row.querySelector('[data-origin]').dataset.origin,
    })));
    const sheet = cli('sheet', join(scratch.dir, 'ccd.json'), '--json').json;
    assert.deepEqual(shown, sheet.runs.map(({ run, block, origin }) => ({ run, block, origin })));
    // The seed kept to its last digit, in the form as in the run order above.
    assert.equal(await page.$eval('#seed', (input) => input.value), seed);
    // Orthogonal blocking puts every axial run in the last block, apart from the cube's.
    const axialBlocks = new Set(shown.filter((r) => r.origin === 'axial').map((r) => r.block));
    assert.deepEqual([...axialBlocks], [3]);
  });

  test('uploaded settings are checked, or recorded as actual settings when the switch is on', async () => {
    // The study the page made, saved, and a copy the command line reads.
    await page.click('#save');
    await page.waitForFunction(() => document.querySelector('#file-state').textContent === 'saved');
    const copy = join(scratch.dir, 'copy.json');
    copyFileSync(join(scratch.dir, 'study.json'), copy);
    const runs = cli('sheet', copy, '--json').json.runs;
    // Every run as planned but two, made at other settings of A and C.
    const moved = new Map([[runs[1].run, { A: 0.4123 }], [runs[4].run, { C: 0.6071 }]]);
    const lines = ['run_id,A,B,C,Y', ...runs.map((r, k) => {
      const at = { ...r.settings, ...moved.get(r.run) };
      return `${r.run},${at.A},${at.B},${at.C},${(0.37 + 0.11 * k).toFixed(3)}`;
    })];
    const csv = join(scratch.dir, 'made.csv');
    writeFileSync(csv, lines.join('\n') + '\n');

    // Named as the page names it, so that both messages name the same file.
    const refused = cli('enter', copy, 'made.csv');
    assert.notEqual(refused.status, 0);
    assert.equal(await page.$eval('#record-actual', (box) => box.checked), false);
    await (await page.$('#upload-results')).uploadFile(csv);
    await page.waitForFunction(() => document.querySelector('#runs-error').textContent !== '');
    assert.equal(await page.$eval('#runs-error', (p) => p.textContent), refused.message);
    assert.equal((await page.$$('#run-table td.deviates')).length, 0);

    const recorded = cli('enter', copy, csv, '--actual', '--json').json.actualSettings;
    await page.click('#record-actual');
    await (await page.$('#upload-results')).uploadFile(csv);
    await page.waitForFunction(() => /All \d+ results entered/.test(document.querySelector('#missing-count').textContent));
    const marked = await page.$$eval('#run-table td.deviates', (cells) => cells.map((td) => ({
      run: Number(td.closest('tr').dataset.run), factor: td.dataset.factor,
      planned: Number(td.dataset.planned), value: Number(td.dataset.actual),
    })));
    const byRun = (a, b) => a.run - b.run;
    assert.deepEqual(marked.sort(byRun), recorded.map(({ run, factor, planned, value }) => ({ run, factor, planned, value })).sort(byRun));
    assert.deepEqual(marked.map((m) => m.value).sort(), [0.4123, 0.6071]);
    await shoot(page, 'workbench-runs.png', '#runs');
  });
});
