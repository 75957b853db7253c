// Starts `tavrin serve` on 127.0.0.1 and an ephemeral port, and stops it.
// The executable comes from TAVRIN_EXE (set by ctest).
import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import http from 'node:http';

export const tavrin = process.env.TAVRIN_EXE;
if (!tavrin) throw new Error('TAVRIN_EXE must name the tavrin executable');

export function scratchDir() {
  const dir = mkdtempSync(join(tmpdir(), 'tavrin-web-'));
  return { dir, remove: () => rmSync(dir, { recursive: true, force: true }) };
}

// Resolves with {url, port, stop} once the server has printed its address.
export function startServer(args, cwd) {
  const child = spawn(tavrin, ['serve', ...args, '--port', '0'], { cwd, stdio: ['ignore', 'pipe', 'pipe'] });
  let output = '';
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => { child.kill('SIGKILL'); reject(new Error(`no address printed: ${output}`)); }, 15000);
    const read = (chunk) => {
      output += chunk;
      const match = output.match(/http:\/\/127\.0\.0\.1:(\d+)\//);
      if (!match) return;
      clearTimeout(timer);
      const stop = () => new Promise((done) => {
        if (child.exitCode !== null) return done(child.exitCode);
        child.once('exit', (code) => done(code));
        child.kill('SIGTERM');
      });
      resolve({ url: match[0], port: Number(match[1]), stop, output: () => output });
    };
    child.stdout.on('data', read);
    child.stderr.on('data', read);
    child.once('exit', (code) => { clearTimeout(timer); reject(new Error(`tavrin serve exited with ${code}: ${output}`)); });
  });
}

// One HTTP request with full control of the headers (fetch cannot set Host).
// The body's length is declared unless `chunked`.
export function request(port, method, path, { body, headers = {}, chunked = false } = {}) {
  const payload = body === undefined ? undefined
    : typeof body === 'string' || Buffer.isBuffer(body) ? body : JSON.stringify(body);
  const sent = { Host: `127.0.0.1:${port}`, ...headers };
  if (payload !== undefined && !chunked) sent['Content-Length'] = Buffer.byteLength(payload);
  return new Promise((resolve, reject) => {
    const req = http.request({ host: '127.0.0.1', port, method, path, headers: sent }, (res) => {
      let text = '';
      res.setEncoding('utf8');
      res.on('data', (chunk) => { text += chunk; });
      res.on('end', () => {
        let json = null;
        try { json = JSON.parse(text); } catch { /* not JSON */ }
        resolve({ status: res.statusCode, headers: res.headers, text, json });
      });
    });
    req.on('error', reject);
    if (payload !== undefined) req.write(payload);
    req.end();
  });
}
