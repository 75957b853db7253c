// The study report opened from file:// in a headless Chromium with every
// network request blocked, against the command line's --json output.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';
import { after, before, describe, test } from 'node:test';
import { noiseSource, resultsCsv, trueImpurity, trueYield } from './process.mjs';
import { launch } from './chromium.mjs';
import { scratchDir, startServer, tavrin } from './server.mjs';

const goals = ['--maximize', 'Yield', '--within', 'Impurity<=1.5'];

describe('report', () => {
  const scratch = scratchDir();
  const run = (...args) => execFileSync(tavrin, args, { cwd: scratch.dir, encoding: 'utf8' });
  const cli = (...args) => JSON.parse(run(...args, '--json'));
  let chrome, page, figures, data;
  const blocked = [];
  const problems = [];

  before(async () => {
    run('new', 'study.json', '--factor', 'Temperature=150:210[°C]', '--factor', 'Time=10:50[min]',
      '--response', 'Yield[%]', '--response', 'Impurity[%]', '--seed', '7', '--center-runs', '3');
    const noise = noiseSource(99);
    writeFileSync(join(scratch.dir, 'results.csv'), resultsCsv(cli('sheet', 'study.json').runs,
      ({ Temperature: t, Time: m }) => [trueYield(t, m) + 0.2 * noise(), trueImpurity(t, m) + 0.02 * noise()]));
    run('enter', 'study.json', 'results.csv');
    run('report', 'study.json', '-o', 'study.html', ...goals);

    chrome = await launch();
    page = await chrome.browser.newPage();
    await page.setViewport({ width: 1280, height: 800 });
    const url = pathToFileURL(join(scratch.dir, 'study.html')).href;
    await page.setRequestInterception(true);
    page.on('request', (request) => {
      // The page itself and data: URLs (Plotly probes its image formats with one) are not network requests.
      if (request.url() === url || request.url().startsWith('data:')) return request.continue();
      blocked.push(request.url());
      return request.abort();
    });
    page.on('console', (message) => { if (message.type() === 'error') problems.push(message.text()); });
    page.on('pageerror', (error) => problems.push(String(error)));
    await page.goto(url, { waitUntil: 'load' });
    await page.waitForFunction(() => [...document.querySelectorAll('.plot')].every((p) => p._fullLayout));
    data = await page.$eval('#tavrin-data', (s) => JSON.parse(s.textContent));
    figures = await page.$$eval('.plot', (plots) => plots.map((p) => ({ id: p.id, data: p.data, traces: p._fullData.length })));
  });

  after(async () => {
    await chrome?.close();
    scratch.remove();
  });

  test('draws every figure offline with no request and no console error', () => {
    assert.deepEqual(blocked, []);
    assert.deepEqual(problems, []);
    // The design's variance curve and term correlations, seven per response, then the optimum's profiler, sweet
    // spot and robustness cloud.
    const perResponse = ['surface', 'surface3d', 'interaction', 'normal', 'fitted', 'order', 'boxcox'];
    assert.deepEqual(figures.map((f) => f.id), ['fds', 'correlations', ...perResponse.map((id) => `${id}-1`),
      ...perResponse.map((id) => `${id}-2`), 'profiler', 'overlay', 'robustness']);
    for (const f of figures) assert.ok(f.traces > 0, f.id);
  });

  test('carries the analysis and the optimum of the command line', () => {
    assert.deepEqual(data.analysis, cli('fit', 'study.json'));
    assert.deepEqual(data.optimum, cli('optimize', 'study.json', ...goals, '--robust'));
  });

  test('draws the numbers of the command line', () => {
    const fit = cli('fit', 'study.json');
    for (const [k, report] of fit.responses.entries()) {
      // Residuals come from the model builder, in execution order, labelled with their run.
      const fitted = figures.find((f) => f.id === `fitted-${k + 1}`).data[0];
      const byRun = new Map(report.diagnostics.map((d) => [`run ${d.run}`, d]));
      const scale = Math.max(...report.diagnostics.map((d) => Math.abs(d.fitted)));
      assert.equal(fitted.text.length, byRun.size);
      fitted.text.forEach((label, n) => {
        const d = byRun.get(label.replace(' (outlier)', ''));
        assert.ok(Math.abs(fitted.x[n] - d.fitted) <= 1e-12 * scale && Math.abs(fitted.y[n] - d.residual) <= 1e-12 * scale,
          `${label}: ${fitted.x[n]} ${fitted.y[n]} against ${d.fitted} ${d.residual}`);
      });
      // A corner of the contour grid against tavrin predict at that point.
      const contour = figures.find((f) => f.id === `surface-${k + 1}`).data[0];
      const [i, j] = [7, 31];
      const at = `Temperature=${contour.x[i]},Time=${contour.y[j]}`;
      const predicted = cli('predict', 'study.json', '--at', at).points[0].predictions[report.response].value;
      assert.ok(Math.abs(contour.z[j][i] - predicted) <= 1e-12 * Math.abs(predicted), `${contour.z[j][i]} ${predicted}`);
    }
    const cloud = figures.find((f) => f.id === 'robustness').data[0];
    assert.deepEqual(cloud.x, data.optimum.robustness.optima.Temperature);
  });

  test('draws the plot data of tavrin plot --json', () => {
    const plot = (...args) => cli('plot', 'study.json', ...args);
    const drawn = (id) => figures.find((f) => f.id === id).data;
    const fds = plot('--kind', 'fds');
    const [heatmap] = drawn('correlations');
    assert.deepEqual(heatmap.x, fds.terms.slice(1));
    assert.deepEqual(heatmap.z, fds.correlations.slice(1).map((row) => row.slice(1)));
    for (const [k, response] of ['Yield', 'Impurity'].entries()) {
      const n = k + 1;
      const surface = plot('--kind', 'surface', '--response', response);
      const [sheet, runs] = drawn(`surface3d-${n}`);
      assert.deepEqual([sheet.x, sheet.y, sheet.z], [surface.x.values, surface.y.values, surface.z]);
      assert.deepEqual(runs.z, surface.runs.map((r) => r.observed));
      const interaction = plot('--kind', 'interaction', '--response', response);
      const [low, high] = drawn(`interaction-${n}`);
      assert.deepEqual([low.x, low.y, high.y], [interaction.x, interaction.atLow, interaction.atHigh]);
      const boxcox = plot('--kind', 'boxcox', '--response', response);
      const [profile, interval, best] = drawn(`boxcox-${n}`);
      assert.deepEqual([profile.x, profile.y], [boxcox.lambda, boxcox.logLikelihood]);
      assert.deepEqual([interval.x, interval.y], [[boxcox.lower, boxcox.upper], [boxcox.cut, boxcox.cut]]);
      assert.deepEqual([best.x, best.y], [[boxcox.best], [boxcox.bestLogLikelihood]]);
    }
  });

  test('shows each verdict and statistic as the command line words them', async () => {
    const fit = cli('fit', 'study.json');
    const verdicts = await page.$$eval('.response .verdict', (boxes) =>
      boxes.map((b) => [...b.querySelectorAll('li')].map((li) => li.textContent)));
    assert.deepEqual(verdicts, fit.responses.map((r) => r.verdict.findings));
    const rows = await page.$$eval('#response-1 table:first-of-type tbody tr', (trs) =>
      trs.map((tr) => [...tr.children].map((c) => c.textContent)));
    assert.deepEqual(rows[0], ['R²', Number(fit.responses[0].rSquared.toPrecision(6)).toString(), fit.meanings.rSquared.text]);
  });

  test('the workbench serves the same report', async () => {
    const server = await startServer(['study.json'], scratch.dir);
    try {
      const request = { goals: { goals: [{ response: 'Yield', kind: 'maximize' }], constraints: [{ response: 'Impurity', high: 1.5 }] } };
      const response = await fetch(`${server.url}api/report`, {
        method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(request),
      });
      assert.equal(response.status, 200);
      assert.equal(await response.text(), readFileSync(join(scratch.dir, 'study.html'), 'utf8'));
    } finally {
      await server.stop();
    }
  });

  test('prints to PDF through Chromium', () => {
    run('report', 'study.json', '-o', 'study.pdf', '--pdf', ...goals);
    assert.equal(readFileSync(join(scratch.dir, 'study.pdf')).subarray(0, 5).toString(), '%PDF-');
  });
});
