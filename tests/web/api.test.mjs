// The workbench's API refuses what it must: each bad request gets its 4xx
// answer with a message naming the problem, and the study is unchanged.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { readdirSync, readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { after, before, describe, test } from 'node:test';
import { noiseSource, resultsCsv, trueImpurity, trueYield } from './process.mjs';
import { scratchDir, request, startServer, tavrin } from './server.mjs';

const definition = {
  design: 'box-behnken',
  factors: [
    { name: 'Temperature', low: 150, high: 210, unit: '°C' },
    { name: 'Time', low: 10, high: 50, unit: 'min' },
  ],
  responses: [{ name: 'Yield', unit: '%' }, { name: 'Impurity', unit: '%' }],
  seed: 7,
};

describe('workbench API', () => {
  let server;
  let scratch;
  const studyText = async () => (await request(server.port, 'GET', '/api/study.json')).text;

  before(async () => {
    scratch = scratchDir();
    server = await startServer(['study.json'], scratch.dir);
    const created = await request(server.port, 'POST', '/api/new', { body: definition });
    assert.equal(created.status, 200, created.text);
    const noise = noiseSource();
    const csv = resultsCsv(created.json.study.runs, ({ Temperature: t, Time: m }) =>
      [trueYield(t, m) + 0.3 * noise(), trueImpurity(t, m) + 0.02 * noise()]);
    const entered = await request(server.port, 'POST', '/api/results.csv', { body: csv });
    assert.equal(entered.status, 200, entered.text);
    assert.deepEqual(entered.json.study.missing, []);
  });
  after(async () => {
    await server?.stop();
    scratch?.remove();
  });

  const oversized = 'x'.repeat((1 << 20) + 1);
  const refusals = [
    // [what, method, path, options, status, error type, message pattern]
    ['malformed JSON', 'POST', '/api/results', { body: '{"results": [' }, 400, 'BadRequest', /not valid JSON/],
    ['a number as text', 'POST', '/api/results', { body: { results: [{ run: 3, response: 'Yield', value: '8O.1' }] } }, 400, 'BadRequest', /value must be a number/],
    ['oversized body', 'POST', '/api/open', { body: oversized }, 413, 'PayloadTooLarge', /larger than the limit of 1048576 bytes/],
    ['a body of no declared length', 'POST', '/api/open', { body: oversized, chunked: true }, 411, 'LengthRequired', /Content-Length/],
    ['unknown response', 'POST', '/api/results', { body: { results: [{ run: 3, response: 'Yield', value: 80.5 }, { run: 1, response: 'Purity', value: 0.3 }] } }, 422, 'UnknownName', /no response is named "Purity".*"Yield", "Impurity"/],
    ['a bad results CSV', 'POST', '/api/results.csv', { body: 'run_id,Yield\n1,80.5\n2,8O.1\n' }, 422, 'ParseError', /uploaded results:3:\d+: "8O\.1" for response "Yield"/],
    ['a bad CSV named by the page', 'POST', '/api/results.csv?name=results.csv', { body: 'run_id,Yield\n1,80.5\n1,80.6\n' }, 422, 'ParseError', /^results\.csv:3:/],
    ['a surface of one step', 'POST', '/api/surface', { body: { response: 'Yield', x: 'Temperature', y: 'Time', steps: 1 } }, 400, 'BadRequest', /steps must be a whole number in 2\.\./],
    ['an infinite result', 'POST', '/api/results', { body: '{"results": [{"run": 3, "response": "Yield", "value": 1e400}]}' }, 400, 'BadRequest', /not valid JSON/],
    ['foreign Origin', 'POST', '/api/results', { body: { results: [{ run: 3, response: 'Yield', value: 80.5 }] }, headers: { Origin: 'http://evil.example' } }, 403, 'Forbidden', /evil\.example/],
    ['null Origin', 'POST', '/api/results', { body: { results: [{ run: 3, response: 'Yield', value: 80.5 }] }, headers: { Origin: 'null' } }, 403, 'Forbidden', /refused/],
    ['foreign Host', 'POST', '/api/results', { body: { results: [{ run: 3, response: 'Yield', value: 80.5 }] }, host: 'evil.example' }, 403, 'Forbidden', /Host "evil\.example:\d+"/],
    ['another port', 'GET', '/api/state', { host: '127.0.0.1', port: 1 }, 403, 'Forbidden', /not this server's/],
    ['a path outside the page', 'GET', '/../web/package.json', {}, 404, 'NotFound', /nothing is at/],
    ['an unknown API', 'GET', '/api/files?path=/etc/passwd', {}, 404, 'NotFound', /no API/],
    ['a count option as text', 'POST', '/api/new', { body: { ...definition, design: 'factorial', options: { blocks: '2' } } }, 400, 'BadRequest', /blocks must be a whole number/],
  ];

  for (const [what, method, path, options, status, type, message] of refusals) {
    test(`${what}: ${status} and the study unchanged`, async () => {
      const before = await studyText();
      const headers = { ...options.headers };
      if (options.host) headers.Host = `${options.host}:${options.port ?? server.port}`;
      const answer = await request(server.port, method, path, { body: options.body, headers, chunked: options.chunked });
      assert.equal(answer.status, status, answer.text);
      assert.equal(answer.json?.error?.type, type, answer.text);
      assert.match(answer.json.error.message, message);
      assert.equal(await studyText(), before);
    });
  }

  test('the page, its own Origin and the loopback names are served', async () => {
    const page = await request(server.port, 'GET', '/');
    assert.equal(page.status, 200);
    assert.match(page.text, /<title>Tavrin workbench<\/title>/);
    assert.match(page.headers['content-security-policy'], /default-src 'self'/);
    const plotly = await request(server.port, 'GET', '/vendor/plotly.min.js');
    assert.equal(plotly.status, 200);
    assert.ok(plotly.text.length > 1_000_000);
    for (const host of ['127.0.0.1', 'localhost', 'LOCALHOST', '[::1]']) {
      const answer = await request(server.port, 'GET', '/api/state', { headers: { Host: `${host}:${server.port}` } });
      assert.equal(answer.status, 200, host);
    }
    const own = await request(server.port, 'POST', '/api/results', {
      body: { results: [{ run: 3, response: 'Yield', value: 80.5 }] },
      headers: { Origin: `http://127.0.0.1:${server.port}` },
    });
    assert.equal(own.status, 200, own.text);
    const run3 = own.json.study.runs.find((r) => r.run === 3);
    assert.equal(run3.results.Yield, 80.5);
    assert.equal(typeof run3.results.Impurity, 'number');
  });

  test('a second server on the same port is refused', () => {
    const second = spawnSync(tavrin, ['serve', '--port', String(server.port)], { encoding: 'utf8', timeout: 10000 });
    assert.equal(second.status, 1);
    assert.match(second.stderr, new RegExp(`cannot listen on 127\\.0\\.0\\.1:${server.port}`));
  });

  test('the surface grid runs from each factor\'s low to its high end', async () => {
    const answer = await request(server.port, 'POST', '/api/surface', { body: { response: 'Yield', x: 'Temperature', y: 'Time', steps: 3 } });
    assert.equal(answer.status, 200, answer.text);
    assert.deepEqual(answer.json.x.values, [150, 180, 210]);
    assert.deepEqual(answer.json.y.values, [10, 30, 50]);
    assert.deepEqual(answer.json.z.map((row) => row.length), [3, 3, 3]);
  });

  test('live validation names the path of each input at fault', async () => {
    const ends = await request(server.port, 'POST', '/api/validate', {
      body: {
        design: 'box-behnken',
        factors: [definition.factors[0], { name: 'Time', low: 0.7, high: 0.1, unit: '' }],
        responses: [{ name: 'Yield', unit: 'a//b' }],
      },
    });
    assert.equal(ends.status, 200);
    assert.equal(ends.json.ok, false);
    assert.deepEqual(Object.keys(ends.json.fields).sort(), ['factors[1].high', 'responses[0].unit']);
    assert.match(ends.json.fields['factors[1].high'], /^factor 2 "Time": low 0.7 is not below high 0.1/);
  });
});

describe('workbench without a study file', () => {
  test('a fit with missing results and a save are refused with the reason; a surface holds a third factor at its centre', async () => {
    const scratch = scratchDir();
    const server = await startServer([], scratch.dir);
    try {
      const three = { ...definition, factors: [...definition.factors, { name: 'Catalyst', low: 0.1, high: 0.7, unit: '' }] };
      const created = await request(server.port, 'POST', '/api/new', { body: three });
      assert.equal(created.status, 200, created.text);
      const fit = await request(server.port, 'GET', '/api/fit');
      assert.equal(fit.status, 409);
      assert.match(fit.json.error.message, /missing results: "Yield" has no result for runs 1, 2/);
      const answer = await request(server.port, 'POST', '/api/save');
      assert.equal(answer.status, 409);
      assert.match(answer.json.error.message, /download the study/);
      const csv = resultsCsv(created.json.study.runs, (x) => [trueYield(x.Temperature, x.Time) + x.Catalyst, x.Catalyst + 0.01 * x.Time]);
      assert.equal((await request(server.port, 'POST', '/api/results.csv', { body: csv })).status, 200);
      const surface = await request(server.port, 'POST', '/api/surface', { body: { response: 'Yield', x: 'Temperature', y: 'Time' } });
      assert.ok(Math.abs(surface.json.at.Catalyst - 0.4) < 1e-12, surface.text);
      assert.deepEqual(readdirSync(scratch.dir), []);
    } finally {
      await server.stop();
      scratch.remove();
    }
  });
});

describe('a study file another program writes', () => {
  test('a save over a file another program changed is refused; reload or save as instead', async () => {
    const scratch = scratchDir();
    const file = join(scratch.dir, 'study.json');
    const server = await startServer(['study.json'], scratch.dir);
    const post = (path, body) => request(server.port, 'POST', path, body === undefined ? {} : { body });
    try {
      assert.equal((await post('/api/new', definition)).status, 200);
      const isSaved = async () => (await request(server.port, 'GET', '/api/state')).json.saved;
      assert.equal(await isSaved(), false);
      assert.equal((await post('/api/save')).status, 200);
      assert.equal(await isSaved(), true);
      // Another program enters a result in the file.
      const theirs = JSON.parse(readFileSync(file, 'utf8'));
      theirs.results[0][0] = 81.25;
      writeFileSync(file, JSON.stringify(theirs));
      const theirText = readFileSync(file, 'utf8');
      assert.equal((await post('/api/results', { results: [{ run: 2, response: 'Yield', value: 79.5 }] })).status, 200);

      const refused = await post('/api/save');
      assert.equal(refused.status, 409);
      assert.equal(refused.json.error.type, 'FileChanged');
      assert.match(refused.json.error.message, /changed on disk/);
      assert.equal(readFileSync(file, 'utf8'), theirText);

      for (const name of ['../mine.json', '.hidden.json', 'mine.txt', 'study.json']) {
        const answer = await post('/api/save-as', { name });
        assert.equal(answer.status, 422, name);
      }
      const saved = await post('/api/save-as', { name: 'mine.json' });
      assert.equal(saved.status, 200, saved.text);
      assert.equal(JSON.parse(readFileSync(join(scratch.dir, 'mine.json'), 'utf8')).results[1][0], 79.5);
      assert.equal(readFileSync(file, 'utf8'), theirText);
      const state = (await request(server.port, 'GET', '/api/state')).json;
      assert.deepEqual([state.file, state.saved], ['mine.json', true]);

      // The other choice: read the file again, dropping what was changed here.
      const mine = JSON.parse(readFileSync(join(scratch.dir, 'mine.json'), 'utf8'));
      mine.results[2][1] = 0.75;
      writeFileSync(join(scratch.dir, 'mine.json'), JSON.stringify(mine));
      assert.equal((await post('/api/results', { results: [{ run: 4, response: 'Yield', value: 1.5 }] })).status, 200);
      const reloaded = await post('/api/reload');
      assert.equal(reloaded.status, 200, reloaded.text);
      const run = (id) => reloaded.json.study.runs.find((r) => r.run === id).results;
      assert.deepEqual([run(3).Impurity, run(4).Yield], [0.75, null]);
      assert.equal(await isSaved(), true);
      assert.equal((await post('/api/save')).status, 200);
    } finally {
      await server.stop();
      scratch.remove();
    }
  });
});
