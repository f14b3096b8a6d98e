// The live ECG view as a clinician reads it: lead names, paper at true
// size, derived leads, filters, heart rate, lost signal, the time base of
// slow channels and the printed 12-lead. Sizes are measured in the page's
// pixels and in the printed PDF, not read from the page's variables.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { launchBrowser, simControl, postCommand, BASE_URL, ARTIFACTS, ACCESS_TOKEN, POLL_MS, forCommands } from './lib.mjs';

let browser;
let page;
const pageErrors = [];
// A PTB record the simulator plays (set by run.sh when it can), else empty.
const ECG_RECORD = process.env.DASTEL_ECG_RECORD || '';

before(async () => {
  mkdirSync(ARTIFACTS, { recursive: true });
  browser = await launchBrowser();
  page = await browser.context.newPage();
  page.on('pageerror', (e) => pageErrors.push(String(e)));
  if (ACCESS_TOKEN) page.on('dialog', (dialog) => dialog.accept(ACCESS_TOKEN));
  // The print dialog is the browser's; the test prints to PDF itself.
  await page.addInitScript(() => { window.print = () => { window.printAsked = (window.printAsked || 0) + 1; }; });
  await page.goto(BASE_URL);
  await page.waitForSelector('#dev-state[data-state=connected]', { timeout: 20000 });
});

after(async () => {
  await browser?.close();
});

const offered = async (name) => (await postCommand('GetCmdList')).data.some((d) => d.cmd === name);
const text = (sel) => page.textContent(sel);
const pointsAbove = (n, timeout = 15000) => page.waitForFunction((v) => Number(document.getElementById('ecg-wrap').dataset.points || 0) > v,
  n, { timeout, polling: POLL_MS });
const points = () => page.$eval('#ecg-wrap', (e) => Number(e.dataset.points || 0));

async function reloadLive() {
  await page.reload();
  await page.waitForSelector('#dev-state[data-state=connected]', { timeout: 20000 });
  await pointsAbove(0);
}

async function setLeadType(leadType) {
  const a = await postCommand('SetExaminationInfo', {
    PatientId: 'VIEW-1', Surname: 'Ivanova', Name: 'Olga', Sex: 'f', BirthdayDate: '1961-03-02',
    StartTime: '2026-12-10 10:00:00', LeadType: leadType,
  });
  assert.equal(a.status, 'ok', JSON.stringify(a));
}

// What the paper canvas shows, read from its pixels in the page (the
// pixels themselves are too many to hand over): which pixels along the row
// y are 5 mm grid lines, the centre of the topmost run of ink in each of the
// first x1 columns, and the count of ink pixels right of x1.
async function paperFacts(y, x1) {
  return page.$eval('#ecg-paper', (c, [yy, xx]) => {
    const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
    const at = (x, y2) => { const i = (y2 * c.width + x) * 4; return [d[i], d[i + 1], d[i + 2]]; };
    const ink = ([r, , b]) => b > 150 && r < 80;
    const major = ([r, g, b]) => Math.abs(r - 224) < 14 && Math.abs(g - 138) < 20 && Math.abs(b - 138) < 20;
    const row = Array.from({ length: c.width }, (_, x) => major(at(x, yy)));
    const tops = [];
    for (let x = 0; x < xx; x++) {
      let y2 = 0;
      while (y2 < c.height && !ink(at(x, y2))) y2++;
      const start = y2;
      while (y2 < c.height && ink(at(x, y2))) y2++;
      tops.push(start < c.height ? (start + y2 - 1) / 2 : null);
    }
    let inkRight = 0;
    for (let y2 = 0; y2 < c.height; y2++) for (let x = xx; x < c.width; x++) if (ink(at(x, y2))) inkRight++;
    return { dpr: window.devicePixelRatio || 1, row, tops, inkRight };
  }, [y, x1]);
}
const isMajor = ([r, g, b]) => Math.abs(r - 224) < 14 && Math.abs(g - 138) < 20 && Math.abs(b - 138) < 20;

// Centres of runs of matching positions along a line.
function runCentres(flags) {
  const out = [];
  let start = -1;
  flags.forEach((f, i) => {
    if (f && start < 0) start = i;
    if (!f && start >= 0) { out.push((start + i - 1) / 2); start = -1; }
  });
  return out;
}
// The mean step of lines about `want` apart, over the whole span from the
// first to the last (a stray crossing inside the span does not count).
function meanStep(c, want) {
  const span = c[c.length - 1] - c[0];
  return span / Math.max(1, Math.round(span / want));
}
test('with no lead set the eight ECG channels are shown as the assumed standard 12 leads', async (t) => {
  const info = (await offered('GetExaminationInfo')) ? await postCommand('GetExaminationInfo') : null;
  if (info?.data?.Known) { t.skip('an examination is already known to this service'); return; }
  await page.waitForFunction(() => document.getElementById('ecg-lead-names').textContent !== '', null, { timeout: 15000, polling: POLL_MS });
  assert.equal(await text('#ecg-lead-names'), 'I II III aVR aVL aVF V1 V2 V3 V4 V5 V6');
  assert.match(await text('#ecg-leadset'), /assumed: I, II, V1–V6/);
});

test('the standard set shows the 12 leads, a Holter set its own names', async (t) => {
  await setLeadType(1);
  await reloadLive();
  await page.waitForFunction(() => /standard 12 leads/.test(document.getElementById('ecg-leadset').textContent), null, { timeout: forCommands(3), polling: POLL_MS });
  assert.equal(await text('#ecg-lead-names'), 'I II III aVR aVL aVF V1 V2 V3 V4 V5 V6');
  assert.doesNotMatch(await text('#ecg-leadset'), /assumed/);
  assert.match(await page.$eval('#ecg-paper', (c) => c.getAttribute('aria-label')), /aVR/);

  if (!(await offered('GetExaminationInfo'))) { t.diagnostic('the service does not name its lead set (GetExaminationInfo): Holter names not checked'); return; }
  await setLeadType(3); // V4, Y, V6
  const info = (await postCommand('GetExaminationInfo')).data;
  assert.equal(info.LeadType, 3, JSON.stringify(info));
  // The set's own leads: as the service lists the channels, or the set's
  // three where it lists none (eight channels, three named).
  const want = info.Leads.length ? info.Leads.map((n) => String(n).replace(/^ECG\s+/i, '')).join(' ') : 'V4 Y V6';
  await reloadLive();
  await page.waitForFunction((w) => document.getElementById('ecg-lead-names').textContent === w,
    want, { timeout: forCommands(3), polling: POLL_MS });
  assert.doesNotMatch(await text('#ecg-lead-names'), /aVR|III/, 'nothing derived');
  await setLeadType(1);
  await reloadLive();
});

test('grid squares and the calibration pulse have their true size at the px/mm in force, kept over a reload', async () => {
  await page.click('#ecg-calibrate');
  await page.fill('#ecg-pxmm', '5');
  await page.dispatchEvent('#ecg-pxmm', 'input');
  await reloadLive();
  assert.equal(await page.inputValue('#ecg-pxmm'), '5.00', 'the screen scale is remembered');
  for (const [gain, mm] of [['5', 5], ['10', 10], ['20', 20]]) {
    await page.selectOption('#ecg-gain', gain);
    await pointsAbove(await points());
    const dpr = await page.evaluate(() => window.devicePixelRatio || 1);
    const pxPerMm = 5 * dpr;
    const calPx = Math.floor(((0.2 * 25) + 4) * pxPerMm) - 1;
    // A line 2.4 mm below the top crosses only the vertical grid lines.
    const f = await paperFacts(Math.round(2.4 * pxPerMm), calPx);
    const majors = runCentres(f.row);
    assert.ok(majors.length > 10, `${majors.length} 5 mm lines found`);
    const step = meanStep(majors, 5 * pxPerMm);
    assert.ok(Math.abs(step - 5 * pxPerMm) < 0.3, `5 mm grid step ${step} px at ${pxPerMm} px/mm`);
    // The first row's pulse in the calibration strip (traces start after
    // it): from the baseline (lowest topmost ink) to its top (highest).
    const tops = f.tops.filter((t) => t !== null);
    const height = Math.max(...tops) - Math.min(...tops);
    assert.ok(Math.abs(height - mm * pxPerMm) <= 1.5, `1 mV pulse ${height} px, want ${mm * pxPerMm} at ${gain} mm/mV`);
  }
  await page.selectOption('#ecg-gain', '10');
  await page.click('#ecg-calibrate');
  await page.click('#ecg-pxmm-reset');
  await page.click('#ecg-calibrate');
  assert.equal(await page.inputValue('#ecg-pxmm'), (96 / 25.4).toFixed(2));
});

// Parses the CSV of the samples shown while frozen.
function parseCsv(textIn) {
  const [head, ...rows] = textIn.trim().split('\n');
  const names = head.split(',');
  return { names, rows: rows.map((r) => r.split(',').map(Number)) };
}

function readPtb(base) {
  const hea = readFileSync(`${base}.hea`, 'latin1').split('\n');
  const [, nSig, fs] = hea[0].split(/\s+/).map((v, i) => (i ? Number(v) : v));
  const sigs = hea.slice(1, 1 + nSig).map((l) => { const f = l.split(/\s+/); return { gain: Number(f[2]), base: Number(f[4]), name: f[8] }; });
  const buf = readFileSync(`${base}.dat`);
  const n = buf.length / (2 * nSig);
  const lead = (name) => {
    const i = sigs.findIndex((s) => s.name.toLowerCase() === name.toLowerCase());
    const out = new Float64Array(n);
    for (let k = 0; k < n; k++) out[k] = ((buf.readInt16LE((k * nSig + i) * 2) - sigs[i].base) / sigs[i].gain) * 1000; // µV
    return out;
  };
  return { fs, n, lead };
}

test('derived leads equal their formulas on the samples shown (and the PTB record\'s own leads)', async (t) => {
  // Several seconds on screen (the page was reloaded just before).
  await pointsAbove(8 * 500, 30000);
  await page.click('#pause');
  let csv;
  try {
    const [download] = await Promise.all([page.waitForEvent('download', { timeout: 15000 }), page.click('#ecg-csv')]);
    csv = parseCsv(readFileSync(await download.path(), 'utf8'));
  } finally {
    await page.click('#pause');
  }
  const col = (n) => csv.names.indexOf(n);
  for (const n of ['I', 'II', 'III', 'aVR', 'aVL', 'aVF']) assert.ok(col(n) >= 0, `column ${n}`);
  assert.ok(csv.rows.length > 500, `${csv.rows.length} samples shown`);
  const formulas = {
    III: (I, II) => II - I, aVR: (I, II) => -(I + II) / 2, aVL: (I, II) => I - II / 2, aVF: (I, II) => II - I / 2,
  };
  for (const [name, f] of Object.entries(formulas)) {
    const worst = Math.max(...csv.rows.map((r) => Math.abs(r[col(name)] - f(r[col('I')], r[col('II')]))));
    assert.ok(worst < 0.01, `${name}: worst difference ${worst} µV`);
  }
  const spread = Math.max(...csv.rows.map((r) => r[col('II')])) - Math.min(...csv.rows.map((r) => r[col('II')]));
  assert.ok(spread > 300, `lead II carries an ECG (${spread} µV peak to peak)`);
  if (!ECG_RECORD) return;

  // Against the record itself, second by second: find where each second
  // sits in the record by lead I (a loaded virtual USB link may drop
  // recorder frames between seconds, so each is placed on its own), then
  // III, aVR, aVL and aVF must be the record's own. The simulator spreads a
  // lead's end-to-start step over each pass of the record as a straight
  // ramp, so a straight line is taken out of each difference first.
  const rec = readPtb(ECG_RECORD);
  const rate = Math.round(1 / (csv.rows[1][1] - csv.rows[0][1]));
  const step = rec.fs / rate;
  const recI = rec.lead('i');
  const leads = [['I', 'i'], ['II', 'ii'], ['III', 'iii'], ['aVR', 'avr'], ['aVL', 'avl'], ['aVF', 'avf']]
    .map(([name, recName]) => [name, rec.lead(recName)]);
  const detrendedWorst = (d) => {
    const n = d.length; const mx = (n - 1) / 2;
    const my = d.reduce((x, y) => x + y, 0) / n;
    let sxy = 0; let sxx = 0;
    d.forEach((y, x) => { sxy += (x - mx) * (y - my); sxx += (x - mx) ** 2; });
    const slope = sxy / sxx;
    return Math.max(...d.map((y, x) => Math.abs(y - (my + slope * (x - mx)))));
  };
  const worst = {};
  const seen = [];
  let placed = 0;
  for (let c0 = 0; c0 + rate <= csv.rows.length; c0 += rate) {
    const chunk = csv.rows.slice(c0, c0 + rate);
    const probe = chunk.slice(0, 200).map((r) => r[col('I')]);
    let best = -1; let bestErr = Infinity;
    for (let off = 0; off < rec.n; off++) {
      let err = 0;
      for (let j = 0; j < probe.length && err < bestErr; j++) err += Math.abs(recI[Math.round(off + j * step) % rec.n] - probe[j]);
      if (err < bestErr) { bestErr = err; best = off; }
    }
    const idx = chunk.map((_, j) => Math.round(best + j * step) % rec.n);
    // A second that runs over the record's end is left out (the ramp restarts there).
    if (idx.some((v, j) => j && v < idx[j - 1])) continue;
    const diffs = Object.fromEntries(leads.map(([name, r]) => [name, detrendedWorst(chunk.map((row, j) => row[col(name)] - r[idx[j]]))]));
    seen.push(`${best}:${diffs.I.toFixed(1)}/${diffs.II.toFixed(1)}`);
    if (diffs.I > 10 || diffs.II > 10) continue; // frames dropped inside this second
    placed++;
    for (const [name, w] of Object.entries(diffs)) worst[name] = Math.max(worst[name] ?? 0, w);
  }
  assert.ok(placed >= 3, `${placed} seconds of the shown samples found in the record (offset:I/II µV ${seen.join(' ')})`);
  t.diagnostic(`${placed} s placed in the record; worst µV ${JSON.stringify(Object.fromEntries(Object.entries(worst).map(([k, v]) => [k, +v.toFixed(2)])))}`);
  for (const name of ['III', 'aVR', 'aVL', 'aVF']) {
    assert.ok(worst[name] <= 10, `${name} vs the record's own: worst ${worst[name].toFixed(1)} µV over ${placed} s`);
  }
});

test('display filters switch on and off, are shown, and change only the drawing', async () => {
  await page.click('#pause');
  try {
    const plain = await page.$eval('#ecg-paper', (c) => c.toDataURL());
    for (const [sel, value, shown] of [['#ecg-hp', '0.5', 'HP 0.5 Hz'], ['#ecg-notch', '50', 'notch 50 Hz'], ['#ecg-lp', '40', 'LP 40 Hz']]) {
      await page.selectOption(sel, value);
      assert.equal(await page.isVisible('#ecg-filters-on'), true);
      assert.match(await text('#ecg-filters-on'), new RegExp(shown));
      assert.notEqual(await page.$eval('#ecg-paper', (c) => c.toDataURL()), plain, `${shown} changes the trace`);
      await page.selectOption(sel, '0');
      assert.equal(await page.isVisible('#ecg-filters-on'), false);
      // Off again: the very same samples as before.
      assert.equal(await page.$eval('#ecg-paper', (c) => c.toDataURL()), plain, `${shown} off draws the unfiltered trace`);
    }
  } finally {
    await page.click('#pause');
  }
});

// The PDF's page size and one grid square, rendered at 10 px/mm.
function pdfFacts(file) {
  const info = execFileSync('pdfinfo', [file], { encoding: 'utf8' });
  const [, w, h] = info.match(/Page size:\s+([\d.]+) x ([\d.]+) pts/);
  const pages = Number(info.match(/Pages:\s+(\d+)/)[1]);
  const out = join(ARTIFACTS, 'report-page');
  execFileSync('pdftoppm', ['-r', '254', '-f', '1', '-l', '1', '-singlefile', file, out]);
  const ppm = readFileSync(`${out}.ppm`);
  // P6 header: magic, width, height, max value, each followed by white space.
  const head = ppm.subarray(0, 40).toString('latin1').split(/\s+/);
  const [W, H] = [Number(head[1]), Number(head[2])];
  const offset = ppm.length - W * H * 3;
  const at = (x, y) => { const i = offset + (y * W + x) * 3; return [ppm[i], ppm[i + 1], ppm[i + 2]]; };
  // The grid's 5 mm lines: long runs of the line colour down a column.
  const col = new Array(W).fill(0);
  const row = new Array(H).fill(0);
  for (let y = 0; y < H; y += 2) for (let x = 0; x < W; x += 1) if (isMajor(at(x, y))) { col[x]++; row[y]++; }
  for (let x = 0; x < W; x += 2) for (let y = 1; y < H; y += 2) if (isMajor(at(x, y))) row[y]++;
  const vx = runCentres(col.map((n) => n > H * 0.15));
  const hy = runCentres(row.map((n) => n > W * 0.15));
  return { w: Number(w), h: Number(h), pages, vx, hy };
}

test('the printed 12-lead has its grid at true scale on A4 and Letter landscape', async () => {
  // A full screen of signal, for the pictures too.
  await pointsAbove(12 * 500, 30000);
  await page.selectOption('#ecg-layout', '3x4');
  await page.screenshot({ path: join(ARTIFACTS, 'ecg-3x4.png') });
  for (const [paper, wPt, hPt] of [['A4', 841.89, 595.28], ['Letter', 792, 612]]) {
    await page.selectOption('#ecg-paper-size', paper);
    const asked = await page.evaluate(() => window.printAsked || 0);
    await page.click('#ecg-print');
    assert.equal(await page.evaluate(() => window.printAsked), asked + 1, 'the browser\'s print was asked for');
    // The patient in force, where the service tells it.
    if (await offered('GetExaminationInfo')) assert.match(await text('#ecg-report'), /VIEW-1/);
    assert.match(await text('#ecg-report'), /25 mm\/s · 10 mm\/mV/);
    const file = join(ARTIFACTS, `report-${paper}.pdf`);
    writeFileSync(file, await page.pdf({ preferCSSPageSize: true, printBackground: true }));
    const f = pdfFacts(file);
    assert.equal(f.pages, 1, `${paper}: one page`);
    assert.ok(Math.abs(f.w - wPt) < 1.5 && Math.abs(f.h - hPt) < 1.5, `${paper}: page ${f.w} × ${f.h} pt`);
    // At 254 dpi a millimetre is 10 pixels: a 5 mm square is 50.
    assert.ok(f.vx.length > 40 && f.hy.length > 20, `${f.vx.length} vertical and ${f.hy.length} horizontal 5 mm lines`);
    const [sx, sy] = [meanStep(f.vx, 50), meanStep(f.hy, 50)];
    assert.ok(Math.abs(sx - 50) < 0.5, `${paper}: 5 mm square is ${sx / 10} mm wide`);
    assert.ok(Math.abs(sy - 50) < 0.5, `${paper}: 5 mm square is ${sy / 10} mm tall`);
  }
  execFileSync('pdftoppm', ['-r', '60', '-png', '-singlefile', join(ARTIFACTS, 'report-A4.pdf'), join(ARTIFACTS, 'ecg-print')]);
});

test('a flat channel is marked "no signal" on its leads', async () => {
  await pointsAbove(await points());
  assert.equal(await page.$$eval('.lead-mark', (m) => m.length), 0, 'no mark on a live ECG');
  // Mode 1 carries one channel; the others are flat.
  assert.equal((await simControl('set ecgMode 1')).ok, true);
  try {
    await page.waitForSelector('.lead-mark[data-lead="V3"][data-state="no signal"]', { timeout: 15000 });
  } finally {
    assert.equal((await simControl('set ecgMode 4')).ok, true);
  }
  await page.waitForFunction(() => document.querySelectorAll('.lead-mark').length === 0, null, { timeout: 15000, polling: POLL_MS });
});

test('the heart rate appears with the beats and is "—" after they stop', async (t) => {
  if (!(await offered('GetHeartRate'))) {
    assert.equal(await text('#ecg-hr'), '—', 'no beats from this service: no rate');
    t.skip('the service detects no beats (GetHeartRate)');
    return;
  }
  await page.waitForFunction(() => /^\d+$/.test(document.getElementById('ecg-hr').textContent), null, { timeout: 20000, polling: POLL_MS });
  const hr = Number(await text('#ecg-hr'));
  assert.ok(hr >= 30 && hr <= 200, `heart rate ${hr}`);
  // Beat ticks on the rhythm strip: black marks above its trace.
  assert.equal((await simControl('set adc off')).ok, true);
  try {
    await page.waitForFunction(() => document.getElementById('ecg-hr').textContent === '—', null, { timeout: 15000, polling: POLL_MS });
  } finally {
    assert.equal((await simControl('set adc on')).ok, true);
  }
  await pointsAbove(await points(), 20000);
});

test('slow channels span their own time: the 26 Hz accelerometer fills its window', async (t) => {
  assert.equal((await simControl('cable on')).ok, true);
  // Ten seconds of window, then a bit.
  await page.waitForFunction(() => [...document.querySelectorAll('.aux-wrap')].some((w) => Number(w.dataset.rate) > 15 && Number(w.dataset.rate) < 40
    && Number(w.dataset.points) > 26 * 11), null, { timeout: 30000, polling: POLL_MS }).catch(() => null);
  const found = await page.$$eval('.aux-wrap', (ws) => ws.map((w) => ({ ch: w.dataset.channel, rate: Number(w.dataset.rate) })));
  const slow = found.find((f) => f.rate > 15 && f.rate < 40);
  if (!slow) { t.skip(`no 26 Hz channel streamed (${JSON.stringify(found)})`); return; }
  assert.ok(Math.abs(slow.rate - 26) < 2, `measured ${slow.rate}/s`);
  // Drawn: which columns of the plot area carry a trace.
  const share = await page.$eval(`.aux-wrap[data-channel="${slow.ch}"]`, (w) => {
    const colours = [...w.querySelectorAll('.u-legend .u-marker')].map((m) => getComputedStyle(m).borderColor.match(/\d+/g).map(Number));
    const c = w.querySelector('canvas');
    const over = w.querySelector('.u-over').getBoundingClientRect();
    const cr = c.getBoundingClientRect();
    const k = c.width / cr.width;
    const x0 = Math.round((over.left - cr.left) * k); const x1 = Math.round((over.right - cr.left) * k);
    const y0 = Math.round((over.top - cr.top) * k); const y1 = Math.round((over.bottom - cr.top) * k);
    const d = c.getContext('2d').getImageData(x0, y0, x1 - x0, y1 - y0).data;
    const cols = new Array(x1 - x0).fill(false);
    for (let y = 0; y < y1 - y0; y++) for (let x = 0; x < x1 - x0; x++) {
      const i = (y * (x1 - x0) + x) * 4;
      // Any of the series' colours (they may cover each other).
      if (colours.some(([r, g, b]) => Math.abs(d[i] - r) < 30 && Math.abs(d[i + 1] - g) < 30 && Math.abs(d[i + 2] - b) < 30)) cols[x] = true;
    }
    return cols.filter((v) => v).length / cols.length;
  });
  assert.ok(share > 0.8, `the 26 Hz trace covers ${(share * 100).toFixed(0)} % of its 10 s window`);
});

test('a lost signal blanks the traces, says so and zeroes the rate; re-plugging brings it back', async () => {
  assert.equal((await simControl('unplug')).ok, true);
  try {
    await page.waitForSelector('#ecg-lost:not([hidden])', { timeout: 10000 });
    await page.waitForFunction(() => /^0 points\/s/.test(document.getElementById('rate').textContent), null, { timeout: 5000, polling: POLL_MS });
    const dpr = await page.evaluate(() => window.devicePixelRatio || 1);
    const ink = (await paperFacts(0, Math.floor(9 * (96 / 25.4) * dpr))).inkRight;
    assert.equal(ink, 0, 'no trace drawn while the signal is lost');
    assert.equal(await text('#ecg-hr'), '—');
    await page.screenshot({ path: join(ARTIFACTS, 'ecg-signal-lost.png') });
  } finally {
    assert.equal((await simControl('plug')).ok, true);
  }
  await page.waitForSelector('#ecg-lost', { state: 'hidden', timeout: 30000 });
  await pointsAbove(await points(), 20000);
});

test('freeze keeps the screen and the caliper gives interval and rate', async () => {
  await page.selectOption('#ecg-speed', '25');
  await page.click('#pause');
  try {
    assert.equal(await page.isVisible('#ecg-frozen'), true);
    const box = await page.$eval('#ecg-overlay', (c) => { const r = c.getBoundingClientRect(); return { x: r.left, y: r.top }; });
    const pxmm = Number(await page.inputValue('#ecg-pxmm'));
    // 20 mm apart at 25 mm/s: 800 ms, 75 /min.
    await page.mouse.click(box.x + 30 * pxmm, box.y + 20);
    await page.mouse.click(box.x + 50 * pxmm, box.y + 20);
    assert.match(await text('#ecg-caliper'), /^caliper: (79\d|80\d) ms, 7[4-6] \/min$/);
  } finally {
    await page.click('#pause');
  }
});

test('no script errors on the ECG page', () => {
  assert.deepEqual(pageErrors, []);
});
