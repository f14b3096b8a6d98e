// The clinical workflow around the ECG: cable state, patient data and its
// refusals, the patient in force in every browser, plain names for the two
// kinds of recording and the recorder's states, translated recorder texts,
// service mode, and accessibility (axe-core, keyboard).
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, writeFileSync, rmSync, readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { join, dirname } from 'node:path';
import { fileURLToPath } from 'node:url';
import {
  launchBrowser, simControl, postCommand, getFile, forCommands, BASE_URL, ARTIFACTS, ACCESS_TOKEN, POLL_MS,
} from './lib.mjs';

const here = dirname(fileURLToPath(import.meta.url));
const axePath = createRequire(import.meta.url).resolve('axe-core/axe.min.js');
const axeSource = readFileSync(axePath, 'utf8');
let browser;
let page;
const pageErrors = [];
const axeVisits = [];

before(async () => {
  mkdirSync(ARTIFACTS, { recursive: true });
  browser = await launchBrowser();
  page = await openPage();
});

after(async () => {
  await browser?.close();
});

async function openPage() {
  const p = await browser.context.newPage();
  p.on('pageerror', (e) => pageErrors.push(String(e)));
  if (ACCESS_TOKEN) p.on('dialog', (dialog) => dialog.accept(ACCESS_TOKEN));
  await p.goto(BASE_URL);
  await p.waitForSelector('#dev-state[data-state=connected]', { timeout: 20000 });
  await p.waitForSelector('#stream-state[data-state=open]', { timeout: 10000 });
  return p;
}

const view = (name) => page.click(`[role=tab][data-view=${name}]`);
const textOf = (selector, p = page) => p.textContent(selector);

// axe-core in the page as it is now: WCAG 2.0/2.1 A and AA, no violation.
async function noAxeViolations(where, p = page) {
  // Evaluated by the test driver, not added as a script element: the page's
  // Content-Security-Policy allows no script from anywhere but the service.
  if (!await p.evaluate(() => typeof window.axe === 'object')) await p.evaluate(axeSource);
  const violations = await p.evaluate(async () => {
    const result = await window.axe.run(document, { runOnly: { type: 'tag', values: ['wcag2a', 'wcag2aa', 'wcag21a', 'wcag21aa'] } });
    return result.violations.map((v) => ({ id: v.id, help: v.help, nodes: v.nodes.slice(0, 3).map((n) => n.target.join(' ')) }));
  });
  axeVisits.push(where);
  assert.deepEqual(violations, [], `axe-core on ${where}: ${JSON.stringify(violations, null, 1)}`);
}

async function fillPatient(fields) {
  await view('workflows');
  for (const name of ['PatientId', 'Surname', 'Name', 'Patronymic', 'FileName']) await page.fill(`#exam-form [name=${name}]`, '');
  await page.fill('#exam-form [name=BirthdayDate]', '');
  await page.selectOption('#exam-form [name=Sex]', '');
  for (const [name, value] of Object.entries(fields)) {
    if (name === 'Sex' || name === 'LeadType') await page.selectOption(`#exam-form [name=${name}]`, value);
    else await page.fill(`#exam-form [name=${name}]`, value);
  }
}

const examDone = () => page.waitForSelector('#exam-result[data-status]:not([data-status=pending])', { timeout: forCommands(12) });

test('the page passes axe-core on first sight, on every view', async () => {
  await noAxeViolations('the live view');
  await view('console');
  await page.waitForFunction(() => document.querySelectorAll('#cmd-select option').length > 0, null, { timeout: 10000, polling: POLL_MS });
  await noAxeViolations('the command console');
  await view('workflows');
  await noAxeViolations('the workflows');
  await view('live');
});

test('the patient cable state follows the cable at once, both ways', async () => {
  for (const [control, st, words] of [['cable on', 'connected', 'attached'], ['cable off', 'disconnected', 'not attached'],
    ['cable on', 'connected', 'attached']]) {
    assert.equal((await simControl(control)).ok, true);
    await page.waitForSelector(`#cable-state[data-state=${st}]`, { timeout: 10000 });
    assert.equal(await textOf('#cable-state'), `patient cable: ${words}`);
  }
  assert.equal((await simControl('cable off')).ok, true);
  await page.waitForSelector('#cable-state[data-state=disconnected]', { timeout: 10000 });
});

test('without a cable, cable reads say "No patient cable attached"', async () => {
  await view('workflows');
  await page.click('button[data-cmd=ReadCableInfo]');
  await page.waitForSelector('#cal-result:not([data-status=pending])', { timeout: forCommands(1) });
  assert.match(await textOf('#cal-result'), /No patient cable attached/);
  assert.doesNotMatch(await textOf('#cal-result'), /WRONG_FRAME_FORMAT/);
  await page.click('button[data-cmd=ReadCableExist]');
  await page.waitForFunction(() => /No patient cable attached/.test(document.getElementById('cal-result').textContent), null, { timeout: forCommands(1), polling: POLL_MS });
});

test('each refusal of the patient form names its field and the reason', async () => {
  const cases = [
    [{ Surname: 'Müller', PatientId: 'P-1' }, 'Surname', /^Surname: ü cannot be stored by the recorder/],
    [{ Name: 'Zoë', PatientId: 'P-1' }, 'Name', /^Name: ë cannot be stored by the recorder/],
    [{ Patronymic: 'x'.repeat(65), PatientId: 'P-1' }, 'Patronymic', /^Patronymic: 65 characters, the recorder keeps at most 64/],
    [{ PatientId: 'P-1', FileName: 'ü.ecg' }, 'FileName', /^FileName: ü cannot be stored/],
  ];
  for (const [fields, field, text] of cases) {
    await fillPatient(fields);
    await page.click('#exam-send');
    await examDone();
    assert.equal(await page.$eval('#exam-result', (e) => e.dataset.status), 'error');
    assert.match(await textOf('#exam-result'), text);
    assert.equal(await page.$eval(`#exam-form [name=${field}]`, (e) => e.getAttribute('aria-invalid')), 'true', field);
  }
  await noAxeViolations('a refused patient form');
});

test('the form asks for an ID or a name, and confirms an empty record', async () => {
  const before = await postCommand('GetExaminationInfo');
  // A birth date alone is not a patient: refused in the page, nothing sent.
  await fillPatient({ BirthdayDate: '1985-07-21' });
  await page.click('#exam-send');
  assert.match(await textOf('#exam-result'), /Patient ID or name needed/);
  assert.equal(await page.$eval('#exam-form [name=PatientId]', (e) => e.getAttribute('aria-invalid')), 'true');
  // Nothing at all: the page asks first; Cancel writes nothing.
  await fillPatient({});
  await page.click('#exam-send');
  await page.waitForSelector('#confirm-box:not([hidden])', { timeout: 5000 });
  assert.match(await textOf('#confirm-text'), /will not say whose they are/);
  await noAxeViolations('the empty-record question');
  await page.keyboard.press('Escape');
  await page.waitForSelector('#confirm-box[hidden]', { state: 'attached', timeout: 5000 });
  assert.match(await textOf('#exam-result'), /Not written/);
  assert.deepEqual((await postCommand('GetExaminationInfo')).data, before.data);
  // Confirmed: written, and the banner says no patient is named.
  await page.click('#exam-send');
  await page.waitForSelector('#confirm-box:not([hidden])', { timeout: 5000 });
  await page.click('#confirm-yes');
  await examDone();
  assert.equal(await textOf('#exam-result'), 'written');
  await page.waitForSelector('#patient-banner[data-known=false]', { timeout: 10000 });
  assert.match(await textOf('#patient-banner'), /no name · no ID/);
});

test('the patient in force shows in the header and live view, after a reload and in a second browser', async () => {
  await fillPatient({ PatientId: 'P-17', Surname: 'Иванов', Name: 'Пётр', Patronymic: 'Сергеевич', BirthdayDate: '1985-07-21', Sex: 'm', LeadType: '1' });
  await page.click('#exam-send');
  await examDone();
  assert.equal(await textOf('#exam-result'), 'written');
  const expected = /Иванов Пётр Сергеевич · ID P-17 · born 1985-07-21 · male · leads: standard 12 leads/;
  await page.waitForFunction(() => document.getElementById('patient-banner').dataset.known === 'true', null, { timeout: 10000, polling: POLL_MS });
  assert.match(await textOf('#patient-banner'), expected);
  await view('live');
  assert.match(await textOf('#live-patient'), expected);
  assert.match(await page.$eval('#plots', (e) => e.getAttribute('aria-label')), /Иванов Пётр Сергеевич, leads I, II, V1, V2, V3, V4, V5, V6/);
  await page.screenshot({ path: join(ARTIFACTS, 'header.png'), clip: await page.$eval('header', (h) => { const r = h.getBoundingClientRect(); return { x: 0, y: 0, width: r.width, height: r.height }; }) });
  await page.screenshot({ path: join(ARTIFACTS, 'patient-banner.png'), clip: await page.$eval('#live-patient', (e) => { const r = e.getBoundingClientRect(); return { x: 0, y: 0, width: document.documentElement.clientWidth, height: r.bottom + 160 }; }) });

  // Another browser, which never saw the form, shows the same patient ...
  const second = await launchBrowser();
  try {
    const other = await second.context.newPage();
    if (ACCESS_TOKEN) other.on('dialog', (d) => d.accept(ACCESS_TOKEN));
    await other.goto(BASE_URL);
    await other.waitForFunction(() => document.getElementById('patient-banner').dataset.known === 'true', null, { timeout: 20000, polling: POLL_MS });
    assert.match(await textOf('#patient-banner', other), expected);
    // ... and follows a change made here without a reload.
    await fillPatient({ PatientId: 'P-18', Surname: 'Petrova', LeadType: '1' });
    await page.click('#exam-send');
    await examDone();
    await other.waitForFunction(() => /Petrova · ID P-18/.test(document.getElementById('patient-banner').textContent), null, { timeout: 10000, polling: POLL_MS });
  } finally {
    await second.close();
  }
  // A reload asks the service, not the form.
  await page.reload();
  await page.waitForFunction(() => /Petrova · ID P-18/.test(document.getElementById('patient-banner').textContent), null, { timeout: 20000, polling: POLL_MS });
  assert.equal(await page.inputValue('#exam-form [name=Surname]'), '');
});

test('a saved recording names its patient in its row; the BDF header transliterates, the annotation keeps the name', async (t) => {
  await fillPatient({ PatientId: 'P-19', Surname: 'Щукина', Name: 'Юлия', LeadType: '1' });
  await page.click('#exam-send');
  await examDone();
  assert.equal(await textOf('#exam-result'), 'written');
  await view('live');
  assert.match(await textOf('#rec-toggle'), /Save to this computer \(BDF\)/);
  await page.click('#rec-toggle');
  await page.waitForSelector('#rec-toggle.recording', { timeout: forCommands(2) });
  await page.waitForFunction(() => /recording-.*\.bdf\s+\d+:\d\d:\d\d\s+[1-9]/.test(document.getElementById('rec-status').textContent), null, { timeout: forCommands(2), polling: POLL_MS });
  await page.click('#rec-toggle');
  await page.waitForFunction(() => /^saved recording-.*\.bdf/.test(document.getElementById('rec-status').textContent), null, { timeout: forCommands(1), polling: POLL_MS });
  const saved = (await textOf('#rec-status')).split(' ')[1];
  await view('workflows');
  const row = `#recordings-list tr:has(a[download="${saved}"])`;
  await page.waitForSelector(row, { timeout: 10000 });
  assert.match(await textOf(row), /Shchukina Iuliia · ID P-19/);
  assert.match(await textOf(row), /\d+(\.\d)? (B|KiB|MiB)/);
  await noAxeViolations('the files list');

  const dir = mkdtempSync(join(tmpdir(), 'dastel-bdf-'));
  try {
    const file = join(dir, saved);
    writeFileSync(file, await getFile(`recordings/${saved}`));
    const python = spawnSync('/usr/bin/python3', [join(here, '..', 'devicewebapi', 'read_bdf_with_mne.py'), file, 'none'], { encoding: 'utf8', timeout: 120000 });
    if (python.status === 77) { t.skip('python3-mne is not installed'); return; }
    assert.equal(python.status, 0, python.stderr);
    const read = JSON.parse(python.stdout);
    assert.equal(read.subject.name, 'Shchukina_Iuliia');
    assert.equal(read.subject.code, 'P-19');
    const atStart = read.annotations.filter((a) => a.onset === 0).map((a) => a.description).join('');
    assert.ok(atStart.startsWith('Patient: Щукина Юлия'), atStart);
  } finally {
    rmSync(dir, { recursive: true, force: true });
  }
});

test('the two kinds of recording and the recorder states have plain names', async () => {
  await view('workflows');
  const labels = await page.$$eval('.card button[data-cmd]', (b) => b.map((e) => e.textContent));
  assert.ok(labels.includes('Recorder memory: start') && labels.includes('Recorder memory: stop'), labels.join(' | '));
  await page.click('button[data-cmd=GetWritingState]');
  await page.waitForSelector('#rec-result:not([data-status=pending])', { timeout: forCommands(1) });
  assert.match(await textOf('#rec-result'), /Recorder memory: Not recording/);
  assert.equal(await page.$eval('#rec-result span', (e) => e.title), "Recorder's text: Dialog");
  await page.waitForFunction(() => document.getElementById('dev-writing').textContent === 'Not recording', null, { timeout: 10000, polling: POLL_MS });
  assert.equal(await page.$eval('#dev-writing', (e) => e.title), "Recorder's text: Dialog");
});

test('recorder texts are translated with the original on hover; calibration is a table; one size unit', async () => {
  await view('workflows');
  await page.click('button[data-cmd=GetFlashMemoryInfo]');
  await page.waitForSelector('#rec-result:not([data-status=pending]) table', { timeout: forCommands(4) });
  const memory = await textOf('#rec-result');
  assert.match(memory, /MemorySize\s*1\.0 MiB/);
  assert.doesNotMatch(memory, /Прочитана/);
  assert.match(memory, /read out/);
  assert.match(await page.$eval('#rec-result table span[title]', (e) => e.title), /Recorder's text: (Не )?[Пп]рочитана/);
  await page.click('button[data-cmd=GetWrittenFlashDataCount]');
  await page.waitForSelector('#rec-result:not([data-status=pending]) table', { timeout: forCommands(1) });
  assert.doesNotMatch(await textOf('#rec-result'), /\d{4,} bytes/);

  await page.click('button[data-cmd=ReadInnerChannelsCalibration]');
  await page.waitForSelector('#cal-result:not([data-status=pending])', { timeout: forCommands(20) });
  assert.equal(await page.$eval('#cal-result', (e) => e.dataset.status), 'ok', await textOf('#cal-result'));
  const cells = await page.$$eval('#cal-result table td', (c) => c.length);
  assert.ok(cells > 4, `calibration cells: ${cells}`);
  assert.equal(await page.$$eval('#cal-result pre', (p) => p.length), 0, 'no JSON text');
  await noAxeViolations('calibration and memory tables');

  await view('live');
  await page.click('summary');
  assert.doesNotMatch(await textOf('#devinfo'), /"State": "Ожидание"/);
  await page.click('summary');
});

test('service mode hides the risky commands and confirms what each changes', async () => {
  await view('console');
  const everyday = await page.$$eval('#cmd-select option', (o) => o.map((e) => e.value));
  for (const risky of ['Restart', 'WriteCableInfo', 'CustomByteCommand']) assert.ok(!everyday.includes(risky), risky);
  assert.ok(everyday.includes('GetTime'));
  assert.equal(await page.isVisible('#raw-bytes'), false);

  await page.check('#service-mode');
  await page.waitForFunction(() => [...document.querySelectorAll('#cmd-select option')].some((o) => o.value === 'Restart'), null, { timeout: 5000, polling: POLL_MS });
  const listed = await postCommand('GetCmdList');
  assert.deepEqual(await page.$$eval('#cmd-select option', (o) => o.map((e) => e.value)), listed.data.map((d) => d.cmd).sort());
  await page.screenshot({ path: join(ARTIFACTS, 'service-mode.png') });
  await noAxeViolations('service mode');

  const restartsBefore = (await simControl('state')).model.restarts;
  await page.selectOption('#cmd-select', 'Restart');
  assert.match(await textOf('#cmd-effect'), /restarts the recorder/);
  await page.click('#cmd-send');
  await page.waitForSelector('#confirm-box:not([hidden])', { timeout: 5000 });
  assert.match(await textOf('#confirm-text'), /restarts the recorder: the live signals stop/);
  assert.equal(await textOf('#confirm-yes'), 'Run Restart');
  await page.screenshot({ path: join(ARTIFACTS, 'service-mode-confirm.png') });
  await noAxeViolations('the service-mode confirmation');
  await page.click('#confirm-no');
  assert.equal(await textOf('#cmd-data-error'), 'not sent');
  assert.equal((await simControl('state')).model.restarts, restartsBefore, 'a cancelled restart reached the recorder');

  // Raw bytes too, and a confirmed command does run.
  await page.fill('#raw-bytes', '7E 00 00 05 FF FF BD');
  await page.click('#raw-send');
  await page.waitForSelector('#confirm-box:not([hidden])', { timeout: 5000 });
  assert.match(await textOf('#confirm-text'), /sends your bytes to the recorder as they are/);
  await page.click('#confirm-yes');
  await page.waitForSelector('#cmd-answer:not([data-status=pending])', { timeout: forCommands(1) });
  assert.equal(JSON.parse(await textOf('#cmd-answer')).status, 'ok');

  await page.uncheck('#service-mode');
  assert.ok(!(await page.$$eval('#cmd-select option', (o) => o.map((e) => e.value))).includes('Restart'));
  assert.equal(await page.isVisible('#raw-bytes'), false);
});

test('the page is usable by keyboard alone', async () => {
  await page.reload();
  await page.waitForSelector('#stream-state[data-state=open]', { timeout: 20000 });
  // The tabs: focus one, arrows move, the selected tab is exposed.
  await page.focus('#tab-live');
  await page.keyboard.press('ArrowRight');
  assert.equal(await page.evaluate(() => document.activeElement.id), 'tab-console');
  assert.equal(await page.getAttribute('#tab-console', 'aria-selected'), 'true');
  assert.equal(await page.isVisible('#view-console'), true);
  await page.keyboard.press('End');
  assert.equal(await page.getAttribute('#tab-workflows', 'aria-selected'), 'true');
  await page.keyboard.press('Home');
  assert.equal(await page.getAttribute('#tab-live', 'aria-selected'), 'true');
  // Freeze and unfreeze the trace with a key.
  await page.waitForSelector('.plot-wrap canvas', { timeout: 15000 });
  await page.keyboard.press('f');
  assert.equal(await textOf('#pause'), 'Resume');
  await page.keyboard.press('f');
  assert.equal(await textOf('#pause'), 'Pause');
  // The patient form by Tab and Enter alone.
  await page.keyboard.press('ArrowRight');
  await page.keyboard.press('ArrowRight');
  await page.focus('#exam-form [name=PatientId]');
  await page.keyboard.type('K-1');
  await page.focus('#exam-send');
  await page.keyboard.press('Enter');
  await examDone();
  assert.equal(await textOf('#exam-result'), 'written');
  await page.waitForFunction(() => /ID K-1/.test(document.getElementById('patient-banner').textContent), null, { timeout: 10000, polling: POLL_MS });
  await noAxeViolations('after keyboard use');
});

test('the log terminal page passes axe-core too', async () => {
  const term = await browser.context.newPage();
  try {
    await term.goto(`${BASE_URL}terminal`);
    await term.waitForSelector('#state[data-state=open]', { timeout: 10000 });
    await postCommand('GetTime');
    await term.waitForFunction(() => document.querySelectorAll('#log div').length > 0, null, { timeout: forCommands(1), polling: POLL_MS });
    await noAxeViolations('the log terminal', term);
  } finally {
    await term.close();
  }
});

test('axe-core ran on every state visited, and no script errors', () => {
  assert.ok(axeVisits.length >= 8, axeVisits.join(', '));
  assert.deepEqual(pageErrors, []);
});
