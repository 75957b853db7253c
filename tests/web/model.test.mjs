// The fit step's model choice in a headless browser: the form starts from
// a response's saved choice (made here by the command line), a term list
// is tried (ANOVA and outlier line shown), saved as the response's model,
// and the fit report and the saved study file then carry it.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { after, before, describe, test } from 'node:test';
import { noiseSource, resultsCsv, trueImpurity, trueYield } from './process.mjs';
import { launch, openPage } from './chromium.mjs';
import { scratchDir, startServer, tavrin } from './server.mjs';


describe('the fit step chooses a model', () => {
  let scratch;
  let server;
  let chrome;
  let page;

  before(async () => {
    scratch = scratchDir();
    const file = join(scratch.dir, 'study.json');
    execFileSync(tavrin, ['new', file, '--factor', 'Temperature=150:210[°C]', '--factor', 'Time=10:50[min]',
      '--response', 'Yield[%]', '--response', 'Impurity[%]', '--seed', '7', '--center-runs', '3']);
    const sheet = JSON.parse(execFileSync(tavrin, ['sheet', file, '--json'], { encoding: 'utf8' }));
    const noise = noiseSource(77);
    writeFileSync(join(scratch.dir, 'results.csv'), resultsCsv(sheet.runs, (s) => [
      trueYield(s.Temperature, s.Time) + 0.3 * noise(), trueImpurity(s.Temperature, s.Time) * (1 + 0.02 * noise())]));
    execFileSync(tavrin, ['enter', file, join(scratch.dir, 'results.csv')]);
    execFileSync(tavrin, ['fit', file, '--response', 'Impurity', '--model', 'Temperature Time Temperature^2 Temperature:Time',
      '--reduce', '--alpha', '0.15', '--force', 'Time', '--transform', 'log', '--save']);
    server = await startServer(['study.json'], scratch.dir);
    chrome = await launch();
    page = await openPage(chrome, server.url, { ready: '#fit-body:not([hidden]) #fit-stats' });
  });
  after(async () => {
    await chrome?.close();
    await server?.stop();
    scratch?.remove();
  });

  test('the form shows each response\'s saved choice, or the full quadratic without one', async () => {
    const saved = JSON.parse(readFileSync(join(scratch.dir, 'study.json'), 'utf8')).models.Impurity;
    const form = () => page.evaluate(() => ({
      model: document.querySelector('#model-terms').value, transform: document.querySelector('#model-transform').value,
      reduce: document.querySelector('#model-reduce').checked, aicc: document.querySelector('#model-aicc').checked,
      pToRemove: document.querySelector('#model-p-remove').value, forceIn: document.querySelector('#model-force-in').value,
      forceOut: document.querySelector('#model-force-out').value,
    }));
    const select = async (name) => {
      await page.$$eval('#fit-tabs button', (buttons, n) => buttons.find((b) => b.textContent === n).click(), name);
      await page.waitForFunction((n) => document.querySelector('#model-response').textContent === n &&
        document.querySelector('#model-choice').dataset.filledFor, {}, name);
    };
    await select('Impurity');
    assert.deepEqual(await form(), {
      model: saved.model, transform: 'log', reduce: true, aicc: false, pToRemove: String(saved.reduction.pToRemove),
      forceIn: 'Time', forceOut: '',
    });
    assert.equal(saved.reduction.pToRemove, 0.15);
    await select('Yield');
    assert.deepEqual(await form(), { model: '', transform: 'none', reduce: false, aicc: false, pToRemove: '', forceIn: '', forceOut: '' });
  });

  test('try, then save a term list as the model of Yield', async () => {
    await page.$eval('#model-terms', (input) => { input.value = 'Temperature Time Temperature^2'; });
    await page.click('#model-try');
    await page.waitForSelector('#model-result table');
    assert.match(await page.$eval('#model-result', (d) => d.textContent), /Model: Temperature Time Temperature\^2/);
    assert.match(await page.$eval('#model-outliers', (p) => p.textContent), /^Outliers: /);
    // The library's verdict on the build, as `tavrin fit --json` words it.
    const fit = JSON.parse(execFileSync(tavrin, ['fit', join(scratch.dir, 'study.json'), '--response', 'Yield', '--model',
      'Temperature Time Temperature^2', '--json'], { encoding: 'utf8' }));
    assert.deepEqual(await page.$$eval('#model-verdict li', (items) => items.map((li) => li.textContent)),
      fit.responses[0].verdict.findings);

    await page.$eval('#model-terms', (input) => { input.value = 'Temperature Pressure'; });
    await page.click('#model-try');
    await page.waitForFunction(() => /Pressure/.test(document.querySelector('#model-error').textContent));

    await page.$eval('#model-terms', (input) => { input.value = 'Temperature Time Temperature^2'; });
    await page.click('#model-save');
    await page.waitForFunction(() => /12 \/ 4 \/ 8/.test(document.querySelector('#fit-stats').textContent));
    await page.click('#save');
    await page.waitForFunction(() => document.querySelector('#file-state').textContent === 'saved');
    const saved = JSON.parse(readFileSync(join(scratch.dir, 'study.json'), 'utf8'));
    assert.equal(saved.models.Yield.terms, 'Temperature Time Temperature^2');
    assert.equal(saved.models.Impurity.transform, 'log');
  });
});
