// No page of another site can frame the UI (a framed UI's requests would
// carry the UI's own origin), and the UI's own pages run whole under the
// service's content security policy.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { join } from 'node:path';
import { launchBrowser, serveForeignPage, BASE_URL, ARTIFACTS, ACCESS_TOKEN, POLL_MS } from './lib.mjs';

let browser;
let foreign;
let foreignUrl;

// Frames the UI's two pages and notes when each frame has finished loading,
// whatever it loaded.
const framingPage = `<!doctype html><title>elsewhere</title>
<iframe id="ui" src="${BASE_URL}" width="800" height="400"></iframe>
<iframe id="terminal" src="${BASE_URL}terminal" width="800" height="200"></iframe>
<script>
window.loaded = 0;
for (const f of document.querySelectorAll('iframe')) f.addEventListener('load', () => { window.loaded++; });
</script>`;

before(async () => {
  ({ server: foreign, url: foreignUrl } = await serveForeignPage(framingPage));
  browser = await launchBrowser();
});

after(async () => {
  await browser?.close();
  await new Promise((resolve) => foreign?.close(resolve));
});

test('a page of another origin that frames the UI gets no UI in its frames', async () => {
  const page = await browser.context.newPage();
  const refusals = [];
  page.on('console', (m) => { if (/frame-ancestors|X-Frame-Options/.test(m.text())) refusals.push(m.text()); });
  await page.goto(foreignUrl);
  await page.waitForFunction(() => window.loaded === 2, null, { timeout: 15000, polling: POLL_MS });
  const children = page.frames().filter((f) => f !== page.mainFrame());
  assert.equal(children.length, 2);
  for (const frame of children) {
    // A refused frame shows the browser's own error page, never the service's.
    assert.ok(!frame.url().startsWith(BASE_URL), `framed: ${frame.url()}`);
  }
  assert.ok(refusals.length >= 1, 'the browser names the refusal');
  await page.screenshot({ path: join(ARTIFACTS, 'framed-refused.png') });
  await page.close();
});

test('the UI and the terminal page run without a single policy violation', async () => {
  for (const [path, ready] of [['', '#dev-state:not([data-state=unknown])'], ['terminal', '#state[data-state=open]']]) {
    const page = await browser.context.newPage();
    const violations = [];
    const errors = [];
    page.on('console', (m) => { if (/Content Security Policy/i.test(m.text())) violations.push(m.text()); });
    page.on('pageerror', (e) => errors.push(String(e)));
    if (ACCESS_TOKEN) page.on('dialog', (dialog) => dialog.accept(ACCESS_TOKEN));
    const response = await page.goto(`${BASE_URL}${path}`);
    const headers = response.headers();
    assert.match(headers['content-security-policy'] || '', /frame-ancestors 'self'/);
    assert.equal(headers['x-frame-options'], 'SAMEORIGIN');
    await page.waitForSelector(ready, { timeout: 15000 });
    // The page's scripts all ran: the inline-free pages load them as files.
    assert.deepEqual(violations, [], path);
    assert.deepEqual(errors, [], path);
    await page.close();
  }
});
