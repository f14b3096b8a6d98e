// The web UI in front of a service that asks for an access token: the page
// asks for it once, keeps it, and then commands and streams work with it.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { mkdirSync } from 'node:fs';
import { createServer } from 'node:net';
import { join } from 'node:path';
import { launchBrowser, postCommand, BASE_URL, ARTIFACTS, ACCESS_TOKEN, POLL_MS } from './lib.mjs';

let browser;
const pageErrors = [];

before(async () => {
  mkdirSync(ARTIFACTS, { recursive: true });
  assert.ok(ACCESS_TOKEN, 'run.sh sets the token of the service under test');
  browser = await launchBrowser();
});

after(async () => {
  await browser?.close();
});

const streaming = (page) => page.waitForFunction(() => {
  const e = document.querySelector('.plot-wrap');
  return e && Number(e.dataset.points) > 0;
}, null, { timeout: 20000, polling: POLL_MS });

test('without the token nothing runs', async () => {
  const res = await fetch(`${BASE_URL}cmd`, { method: 'POST', body: JSON.stringify({ cmd: 'GetTime', uid: 1 }) });
  assert.equal(res.status, 401);
  assert.equal((await postCommand('GetTime')).status, 'ok');
});

test('the page asks for the token, again after a wrong one, and then shows the recorder live', async () => {
  const page = await browser.context.newPage();
  page.on('pageerror', (e) => pageErrors.push(String(e)));
  const questions = [];
  page.on('dialog', async (dialog) => {
    questions.push(dialog.message());
    // The first answer is wrong; the page must ask again rather than give up.
    await dialog.accept(questions.length === 1 ? 'not-the-token' : ACCESS_TOKEN);
  });
  await page.goto(BASE_URL);
  await page.waitForSelector('#dev-state[data-state=connected]', { timeout: 20000 });
  await streaming(page);
  assert.ok(questions.length >= 2, JSON.stringify(questions));
  assert.match(questions[0], /access token/);
  await page.screenshot({ path: join(ARTIFACTS, 'access-token.png') });

  // Kept in the browser: a reload asks nothing.
  const asked = questions.length;
  await page.reload();
  await page.waitForSelector('#dev-state[data-state=connected]', { timeout: 20000 });
  await streaming(page);
  assert.equal(questions.length, asked);
  await page.close();
});

// A link may name stream ports, never another host: "x@host:port" would
// make the page open its streams, token attached, somewhere else.
test('a link cannot send the streams or the token to another host', async () => {
  const seen = [];
  const trap = createServer((socket) => socket.once('data', (bytes) => seen.push(String(bytes).split('\r\n')[0])));
  await new Promise((resolve) => trap.listen(0, '127.0.0.2', resolve));
  const elsewhere = `x@127.0.0.2:${trap.address().port}`;
  try {
    for (const path of [`?event=${elsewhere}`, `?adc=${elsewhere}`, `?event=${elsewhere}&adc=${elsewhere}`,
      `terminal?terminal=${elsewhere}`]) {
      const page = await browser.context.newPage();
      const opened = [];
      page.on('websocket', (ws) => opened.push(ws.url()));
      page.on('dialog', (dialog) => dialog.accept(ACCESS_TOKEN));
      await page.goto(BASE_URL + path);
      if (path.startsWith('terminal')) {
        await page.waitForSelector('#state[data-state=open]', { timeout: 20000 });
      } else {
        await page.waitForSelector('#dev-state[data-state=connected]', { timeout: 20000 });
        await streaming(page);
      }
      assert.ok(opened.length > 0, path);
      for (const url of opened) {
        assert.equal(new URL(url).host.replace(/:\d+$/, ''), '127.0.0.1', `${path} opened ${url}`);
      }
      await page.close();
    }
    assert.deepEqual(seen, [], 'the other host was contacted');
  } finally {
    trap.close();
  }
});

// A port number alone still moves a stream, on the page's own host.
test('a stream port given as a number is used', async () => {
  const other = createServer((socket) => socket.destroy());
  await new Promise((resolve) => other.listen(0, '127.0.0.1', resolve));
  const port = other.address().port;
  const page = await browser.context.newPage();
  page.on('dialog', (dialog) => dialog.accept(ACCESS_TOKEN));
  try {
    const opening = page.waitForEvent('websocket', { predicate: (ws) => new URL(ws.url()).port === String(port), timeout: 20000 });
    await page.goto(`${BASE_URL}?event=${port}`);
    assert.equal(new URL((await opening).url()).hostname, '127.0.0.1');
  } finally {
    await page.close();
    other.close();
  }
});

test('no script errors on the page', () => {
  assert.deepEqual(pageErrors, []);
});
