// The web UI against the running service and its simulated recorder.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { mkdirSync } from 'node:fs';
import { readFile } from 'node:fs/promises';
import { join } from 'node:path';
import {
  launchBrowser, simControl, postCommand, getFile, forCommands, BASE_URL, HTTP_PORT, ARTIFACTS, ACCESS_TOKEN, POLL_MS,
} from './lib.mjs';

let browser;
let page;
const pageErrors = [];
// Signal messages that reached the page, counted from the browser's side of
// the WebSocket: what the page was given, whatever it did with them.
let signalMessages = 0;
// Every HTTP address the page asked for (WebSocket handshakes are not among them).
const pageRequests = [];

before(async () => {
  mkdirSync(ARTIFACTS, { recursive: true });
  browser = await launchBrowser();
  page = await browser.context.newPage();
  page.on('pageerror', (e) => pageErrors.push(String(e)));
  page.on('request', (r) => pageRequests.push(r.url()));
  // In front of a service that asks for a token, the page asks for it once.
  if (ACCESS_TOKEN) page.on('dialog', (dialog) => dialog.accept(ACCESS_TOKEN));
  page.on('websocket', (ws) => {
    if (new URL(ws.url()).port === String(HTTP_PORT + 1)) ws.on('framereceived', () => { signalMessages++; });
  });
  await page.goto(BASE_URL);
});

after(async () => {
  await browser?.close();
});

const pointsOf = () => page.$eval('.plot-wrap', (e) => Number(e.dataset.points || 0));
const pointsAbove = (v, timeout) => page.waitForFunction((n) => {
  const e = document.querySelector('.plot-wrap');
  return e && Number(e.dataset.points) > n;
}, v, { timeout, polling: POLL_MS });
// Clicks a download link of the page and resolves with the bytes the browser
// saved; `name`, when given, is the name it must be saved under.
async function downloadFromThePage(selector, name) {
  const [download] = await Promise.all([page.waitForEvent('download', { timeout: 15000 }), page.click(selector)]);
  if (name) assert.equal(download.suggestedFilename(), name);
  assert.equal(await download.failure(), null);
  return readFile(await download.path());
}

const firstPlotImage = () => page.$eval('.plot-wrap canvas', (c) => c.toDataURL());

// Resolves once `count` more signal messages have reached the page.
async function moreSignalMessages(count, timeoutMs) {
  const target = signalMessages + count;
  const until = Date.now() + timeoutMs;
  while (signalMessages < target) {
    if (Date.now() > until) throw new Error(`only ${count - (target - signalMessages)} of ${count} signal messages in ${timeoutMs} ms`);
    await new Promise((r) => setTimeout(r, 20));
  }
}

test('the recorder shows as connected with its clock and the streams open', async () => {
  await page.waitForSelector('#dev-state[data-state=connected]', { timeout: 20000 });
  await page.waitForSelector('#stream-state[data-state=open]', { timeout: 10000 });
  await page.waitForFunction(() => /^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d$/.test(document.getElementById('dev-clock').textContent), null, { timeout: 10000, polling: POLL_MS });
  // Commands this service lacks are reported as such, not as a broken page.
  await page.waitForFunction(() => !['—', ''].includes(document.getElementById('dev-name').textContent), null, { timeout: 15000, polling: POLL_MS });
  const listed = await postCommand('GetCmdList');
  const name = await page.textContent('#dev-name');
  if (listed.data.some((d) => d.cmd === 'GetDevInfo')) {
    const info = await postCommand('GetDevInfo');
    assert.equal(info.status, 'ok', JSON.stringify(info));
    assert.ok(name.includes(`#${info.data.Number} (type ${info.data.Type}`), `device cell "${name}" vs ${JSON.stringify(info.data)}`);
  } else {
    assert.equal(name, 'not offered by this service');
  }
});

test('the ECG trace plots every signal and keeps moving', async () => {
  await page.waitForSelector('.plot-wrap canvas', { timeout: 15000 });
  const plots = await page.$$eval('.plot-wrap', (els) => els.map((e) => `${e.dataset.channel}/${e.dataset.signal}`));
  assert.ok(plots.length >= 1, 'at least one plot');
  await pointsAbove(await pointsOf(), 10000);
  // A drawn trace leaves non-background pixels in the plot area.
  const inked = await page.$eval('.plot-wrap canvas', (c) => {
    const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
    let n = 0;
    for (let i = 0; i < d.length; i += 4) if (d[i + 2] > 150 && d[i] < 80) n++;
    return n;
  });
  assert.ok(inked > 100, `trace pixels: ${inked}`);
  await page.screenshot({ path: join(ARTIFACTS, 'live-ecg.png') });
});

test('pause freezes the trace and resume continues it', async () => {
  await page.click('#pause');
  let frozen;
  try {
    assert.equal(await page.textContent('#pause'), 'Resume');
    frozen = await pointsOf();
    const image = await firstPlotImage();
    // The stream goes on while paused: neither the count nor the picture may follow it.
    await moreSignalMessages(10, 10000);
    assert.equal(await pointsOf(), frozen, 'points counted after Pause');
    assert.ok(await firstPlotImage() === image, 'the plot was redrawn after Pause');
  } finally {
    // Resume even after a failure, so the tests after this one see a live trace.
    if (await page.textContent('#pause') === 'Resume') await page.click('#pause');
  }
  assert.equal(await page.textContent('#pause'), 'Pause');
  await pointsAbove(frozen, 10000);
});

test('a button push is counted and marked', async () => {
  const answer = await simControl('button');
  assert.equal(answer.ok, true);
  await page.waitForFunction(() => /button pushes: [1-9]/.test(document.getElementById('buttons').textContent), null, { timeout: 15000, polling: POLL_MS });
});

test('the console lists the described commands and runs one', async () => {
  await page.click('nav button[data-view=console]');
  await page.waitForFunction(() => document.querySelectorAll('#cmd-select option').length > 0, null, { timeout: 10000, polling: POLL_MS });
  // Every command in service mode (the everyday ones alone without it).
  await page.check('#service-mode');
  const names = await page.$$eval('#cmd-select option', (o) => o.map((e) => e.value));
  const listed = await postCommand('GetCmdList');
  assert.deepEqual(names, listed.data.map((d) => d.cmd).sort());
  await page.selectOption('#cmd-select', 'GetTime');
  await page.click('#cmd-send');
  await page.waitForSelector('#cmd-answer:not([data-status=pending])', { timeout: 15000 });
  const answer = JSON.parse(await page.textContent('#cmd-answer'));
  assert.equal(answer.status, 'ok');
  assert.ok(answer.data.Year >= 2000, JSON.stringify(answer));
  await page.screenshot({ path: join(ARTIFACTS, 'console.png') });
});

test('bad console input is refused in the page and raw bytes reach the recorder', async () => {
  await page.fill('#cmd-data', '{not json');
  await page.click('#cmd-send');
  assert.match(await page.textContent('#cmd-data-error'), /not JSON/);
  await page.fill('#raw-bytes', 'zz');
  await page.click('#raw-send');
  assert.match(await page.textContent('#raw-error'), /hex/);
  // Read the clock (code 0x05) as a raw frame: the answer carries its payload bytes.
  await page.fill('#raw-bytes', '7E 00 00 05 FF FF BD');
  await page.click('#raw-send');
  // Raw bytes are sent after the service-mode confirmation.
  await page.waitForSelector('#confirm-box:not([hidden])', { timeout: 5000 });
  await page.click('#confirm-yes');
  await page.waitForSelector('#cmd-answer:not([data-status=pending])', { timeout: 15000 });
  const answer = JSON.parse(await page.textContent('#cmd-answer'));
  assert.equal(answer.status, 'ok', JSON.stringify(answer));
  // Six BCD bytes: seconds, minutes, hours, day, month, year - 2000.
  assert.equal(answer.data.length, 6, JSON.stringify(answer));
  assert.ok(answer.data.every((b) => /^0x[0-9]{2}$/.test(b)), JSON.stringify(answer));
  await page.uncheck('#service-mode');
});

test('the clock is set from the browser', async (t) => {
  const list = await postCommand('GetCmdList');
  if (!list.data.some((d) => d.cmd === 'SetTime')) {
    t.skip('this service offers no SetTime command yet');
    return;
  }
  await page.click('nav button[data-view=workflows]');
  await page.fill('#clock-value', '2031-03-04T05:06:07');
  await page.click('#clock-set');
  await page.waitForSelector('#clock-result[data-status]:not([data-status=pending])', { timeout: forCommands(2) });
  assert.equal(await page.textContent('#clock-result'), 'clock set');
  const now = await postCommand('GetTime');
  assert.deepEqual([now.data.Year, now.data.Month, now.data.Day, now.data.Hours], [2031, 3, 4, 5]);
  await page.screenshot({ path: join(ARTIFACTS, 'workflows.png') });
});

test('examination data and recording run from the workflow page', async (t) => {
  const list = await postCommand('GetCmdList');
  const has = (n) => list.data.some((d) => d.cmd === n);
  if (!has('SetExaminationInfo') || !has('BeginWriting') || !has('StopWriting')) {
    t.skip('this service offers no examination or recording commands yet');
    return;
  }
  await page.click('nav button[data-view=workflows]');
  await page.fill('#exam-form [name=PatientId]', 'P-17');
  await page.fill('#exam-form [name=Surname]', 'Ivanova');
  await page.fill('#exam-form [name=FileName]', 'p17');
  await page.click('#exam-send');
  // Nine recorder writes, some of them several frames long.
  await page.waitForSelector('#exam-result[data-status]:not([data-status=pending])', { timeout: forCommands(12) });
  assert.equal(await page.textContent('#exam-result'), 'written');
  for (const cmd of ['BeginWriting', 'StopWriting']) {
    await page.click(`button[data-cmd=${cmd}]`);
    await page.waitForSelector('#rec-result:not([data-status=pending])', { timeout: forCommands(1) });
    const status = await page.$eval('#rec-result', (e) => e.dataset.status);
    assert.equal(status, 'ok', await page.textContent('#rec-result'));
  }
});

test('the live signals are recorded from the live view and downloaded from the list', async (t) => {
  const list = await postCommand('GetCmdList');
  if (!list.data.some((d) => d.cmd === 'StartSignalRecording')) {
    t.skip('this service offers no signal recording');
    return;
  }
  await page.click('nav button[data-view=live]');
  // The examination written before chose the standard 12-lead set: the
  // paper shows the 12 standard leads.
  await page.waitForFunction(() => document.getElementById('ecg-lead-names')?.textContent.startsWith('I II III aVR'), null, { timeout: 10000, polling: POLL_MS });
  await page.fill('#rec-label', 'browser run');
  await page.click('#rec-toggle');
  await page.waitForSelector('#rec-toggle.recording', { timeout: forCommands(2) });
  // Elapsed time and size grow while it runs.
  await page.waitForFunction(() => /recording-.*\.bdf\s+\d+:\d\d:\d\d\s+[1-9]/.test(document.getElementById('rec-status').textContent)
    && !/\s0:00:00\s/.test(document.getElementById('rec-status').textContent), null, { timeout: forCommands(2), polling: POLL_MS });
  await page.screenshot({ path: join(ARTIFACTS, 'recording.png') });
  await page.click('#rec-toggle');
  await page.waitForFunction(() => /^saved recording-.*\.bdf/.test(document.getElementById('rec-status').textContent), null, { timeout: forCommands(1), polling: POLL_MS });
  const saved = (await page.textContent('#rec-status')).split(' ')[1];

  await page.click('nav button[data-view=workflows]');
  const link = `#recordings-list a[download="${saved}"]`;
  await page.waitForSelector(link, { timeout: 10000 });
  // Downloaded as a user does it, by clicking the link: in front of a
  // service with a token the page fetches it with the token.
  const bytes = await downloadFromThePage(link, saved);
  assert.equal(bytes[0], 0xff);
  assert.equal(bytes.subarray(1, 8).toString('latin1'), 'BIOSEMI');
  assert.equal(bytes.subarray(192, 197).toString('latin1'), 'BDF+C', 'a continuous BDF+ file');
  assert.ok(bytes.equals(await getFile(`recordings/${saved}`)), 'the bytes the service serves');
  await page.screenshot({ path: join(ARTIFACTS, 'files.png') });
});

test('a memory read-out is downloaded from the page', async (t) => {
  const list = await postCommand('GetCmdList');
  if (!list.data.some((d) => d.cmd === 'StartReceiveFlashData')) {
    t.skip('this service offers no memory read-out');
    return;
  }
  await page.click('nav button[data-view=workflows]');
  const before = await page.$$eval('#readouts-list a[download]', (l) => l.length);
  await page.click('button[data-cmd=StartReceiveFlashData]');
  // The finished read-out is announced: offered at once and listed.
  await page.waitForSelector('#readout-link:not([hidden])', { timeout: 30000 });
  await page.waitForFunction((n) => document.querySelectorAll('#readouts-list a[download]').length > n, before, { timeout: 10000, polling: POLL_MS });
  const name = await page.$eval('#readouts-list a[download]', (a) => a.getAttribute('download'));
  assert.match(name, /^readout-.*\.bin$/);
  const served = await getFile(`flash/${name}`);
  assert.ok(served.length > 0);
  assert.ok((await downloadFromThePage(`#readouts-list a[download="${name}"]`, name)).equals(served));
  // The link of the announcement too.
  assert.ok((await downloadFromThePage('#readout-link')).equals(served));
  assert.equal(await page.textContent('#files-status'), '', 'no download failed');
});

test('no address the page asked for carries the access token', () => {
  if (!ACCESS_TOKEN) return;
  const leaking = pageRequests.filter((u) => u.includes(ACCESS_TOKEN));
  assert.deepEqual(leaking, []);
  assert.ok(pageRequests.some((u) => /\/recordings\/recording-/.test(u)), 'the downloads went through the page');
});

test('unplugging and plugging the recorder is shown live', async () => {
  await page.click('nav button[data-view=workflows]');
  await page.screenshot({ path: join(ARTIFACTS, 'workflows.png') });
  await page.click('nav button[data-view=live]');
  assert.equal(await page.textContent('#pause'), 'Pause', 'the trace must be live to show it resume');
  assert.equal((await simControl('unplug')).ok, true);
  await page.waitForSelector('#dev-state[data-state=disconnected]', { timeout: 10000 });
  await page.screenshot({ path: join(ARTIFACTS, 'disconnected.png') });
  assert.equal((await simControl('plug')).ok, true);
  await page.waitForSelector('#dev-state[data-state=connected]', { timeout: 20000 });
  // The new recorder starts a new trace (none may be shown yet); once its
  // stream is flowing the trace has to follow it.
  const before = await page.$eval('.plot-wrap', (e) => Number(e.dataset.points || 0)).catch(() => 0);
  await moreSignalMessages(1, 20000);
  await pointsAbove(before, 10000);
  await page.screenshot({ path: join(ARTIFACTS, 'replugged.png') });
});

test('the terminal page shows the live log in colour', async () => {
  const term = await browser.context.newPage();
  await term.goto(`${BASE_URL}terminal`);
  await term.waitForSelector('#state[data-state=open]', { timeout: 10000 });
  // Every command the service runs is logged; make some lines.
  await postCommand('GetTime');
  await postCommand('NoSuchCommand');
  await term.waitForFunction(() => document.querySelectorAll('#log div').length >= 3, null, { timeout: forCommands(2), polling: POLL_MS });
  const classes = await term.$$eval('#log div', (d) => d.map((e) => e.className));
  assert.ok(classes.every((c) => /^c[0-7]$/.test(c)), classes.join(' '));
  await term.screenshot({ path: join(ARTIFACTS, 'terminal.png') });
  await term.close();
});

test('the unknown command raised an error shown on the page', async () => {
  await page.waitForSelector('#errors:not([hidden]) li', { timeout: 15000 });
  assert.match(await page.textContent('#error-list'), /NoSuchCommand/);
  await page.click('#clear-errors');
  assert.equal(await page.$$eval('#error-list li', (l) => l.length), 0);
});

test('no script errors on the page', () => {
  assert.deepEqual(pageErrors, []);
});
