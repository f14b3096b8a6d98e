// A page of another origin, open in the same browser as the UI, cannot
// drive the recorder: its requests run nothing and its streams never open.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { join } from 'node:path';
import { launchBrowser, serveForeignPage, postCommand, HTTP_PORT, ARTIFACTS, POLL_MS } from './lib.mjs';

let browser;
let foreign;
let foreignUrl;

// What a hostile page would try: a "simple" cross-origin POST that needs no
// preflight, and the live signal stream.
const attackPage = `<!doctype html><title>elsewhere</title><script>
window.outcome = { ws: 'pending', post: 'pending' };
fetch('http://127.0.0.1:${HTTP_PORT}/cmd', { method: 'POST', mode: 'no-cors',
  headers: { 'Content-Type': 'text/plain' },
  body: JSON.stringify({ cmd: 'SetTime', uid: 66,
    data: { Year: 2037, Month: 7, Day: 7, Hours: 7, Minutes: 7, Seconds: 7 } }) })
  .then(() => { window.outcome.post = 'sent'; }, () => { window.outcome.post = 'failed'; });
const ws = new WebSocket('ws://127.0.0.1:${HTTP_PORT + 1}/');
ws.onopen = () => { window.outcome.ws = 'open'; };
ws.onerror = () => { if (window.outcome.ws === 'pending') window.outcome.ws = 'refused'; };
ws.onclose = () => { if (window.outcome.ws === 'pending') window.outcome.ws = 'refused'; };
</script>`;

before(async () => {
  ({ server: foreign, url: foreignUrl } = await serveForeignPage(attackPage));
  browser = await launchBrowser();
});

after(async () => {
  await browser?.close();
  await new Promise((resolve) => foreign?.close(resolve));
});

test('a page of another origin cannot drive the recorder nor open its streams', async () => {
  const page = await browser.context.newPage();
  await page.goto(foreignUrl);
  await page.waitForFunction(() => window.outcome.ws !== 'pending' && window.outcome.post !== 'pending',
    null, { timeout: 10000, polling: POLL_MS });
  const outcome = await page.evaluate(() => window.outcome);
  assert.equal(outcome.ws, 'refused', JSON.stringify(outcome));
  await page.screenshot({ path: join(ARTIFACTS, 'foreign-origin.png') });
  await page.close();
  // Whatever the browser did with the POST, the recorder's clock is not the
  // attacker's.
  const clock = await postCommand('GetTime');
  assert.equal(clock.status, 'ok', JSON.stringify(clock));
  assert.notEqual(clock.data.Year, 2037);
});
