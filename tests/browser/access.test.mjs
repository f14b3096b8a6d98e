// The web UI in front of a service that asks for an access token: the page
// asks for it once, keeps it, and then commands and streams work with it.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { mkdirSync } from 'node:fs';
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

test('no script errors on the page', () => {
  assert.deepEqual(pageErrors, []);
});
