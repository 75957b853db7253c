// Connections that trickle a request one byte a second (within the read
// timeout) hold the server's threads; a normal request must still be answered,
// or the test's own time limit ends it.
import assert from 'node:assert/strict';
import net from 'node:net';
import { after, before, describe, test } from 'node:test';
import { scratchDir, request, startServer } from './server.mjs';

const kTricklers = 24;

// A connection that has sent the start of a request and adds one header
// byte every second; resolves once connected and the first bytes are out.
function trickle(port) {
  return new Promise((resolve, reject) => {
    const socket = net.connect({ host: '127.0.0.1', port }, () => {
      socket.write(`GET /api/state HTTP/1.1\r\nHost: 127.0.0.1:${port}\r\nX-Slow: `, () => {
        const timer = setInterval(() => socket.write('x'), 1000);
        socket.once('close', () => clearInterval(timer));
        resolve({ close: () => { clearInterval(timer); socket.destroy(); } });
      });
    });
    socket.on('error', reject);
  });
}

describe('workbench under slow connections', () => {
  let server;
  let scratch;
  const tricklers = [];

  before(async () => {
    scratch = scratchDir();
    server = await startServer([], scratch.dir);
  });
  after(async () => {
    for (const t of tricklers) t.close();
    await server?.stop();
    scratch?.remove();
  });

  test(`${kTricklers} trickling connections leave the API answering`, { timeout: 120000 }, async () => {
    for (let k = 0; k < kTricklers; ++k) tricklers.push(await trickle(server.port));
    const answer = await request(server.port, 'GET', '/api/state');
    assert.equal(answer.status, 200, answer.text);
    const page = await request(server.port, 'GET', '/');
    assert.equal(page.status, 200);
  });
});
