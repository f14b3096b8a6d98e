// The live ECG as a clinician reads it: the standard leads on ECG paper at
// true size, swept left to right as a monitor draws them, with the heart
// rate, display filters, freeze with a caliper and a printable 12-lead.
// Only the samples that came in since the last animation frame are drawn,
// so 12 leads at 2000 samples/s cost a few hundred line segments a frame.
// The other channels (reo, accelerometers …) have plots of their own, each
// on its own time base.

import { leadPlan, layoutRows, ecgNamesFromLabels, ecgNamesFromExamination } from './leads.js';
import { LeadFilter, filterText } from './filters.js';
import { paperGeometry, drawPaperCanvas, INK, CSS_PX_PER_MM } from './ecgpaper.js';
import { AuxPlots } from './auxplots.js';
import { buildReport } from './report.js';

const CAP = 65536; // samples kept per lead: 32 s at 2000/s
const MASK = CAP - 1;
const PXMM_KEY = 'dastel.pxPerMm';
const FULL_SCALE = 8388607; // a 24-bit sample at either end of the range
const NO_BEAT_MS = 5000;
const LOST_MS = 2000;
const ERASE_MM = 4; // the gap ahead of the sweeping trace
const MARK_COLOR = '#d33';

export class EcgView {
  constructor(container, { onStats, onExamination } = {}) {
    this.container = container;
    this.onStats = onStats;
    this.onExamination = onExamination; // the examination in force changed
    container.ecgView = this; // for the drawing benchmark
    this.paused = false;
    this.rate = 0; // measured arrival rate of frames
    this.rateSamples = [];
    this.lsbUv = 1; // µV per count as the service reports it
    this.nominalRate = null; // frames/s as the recorder reports them
    this.ecgNames = []; // the recorder's ECG channel names, [] when not known
    this.leadSetText = '';
    this.exam = null;
    this.settings = {
      speed: 25, gain: 10, layout: '3x4', filters: { hp: 0, notch: 0, lp: 0 },
      pxPerMm: Number(localStorage.getItem(PXMM_KEY)) || CSS_PX_PER_MM,
    };
    this.autoGain = 10;
    this.marks = []; // sample indices of button pushes
    this.beats = []; // sample indices of beats
    this.lastBeatAt = 0;
    this.heartRate = null;
    this.caliper = [];
    this.drawTimes = new Float32Array(4096);
    this.drawCount = 0;
    this.handleMs = 0; // time spent taking in signal messages
    this.lost = false;
    this.lastMessageAt = 0;
    this.resetData();

    this.wrap = container.querySelector('#ecg-wrap');
    this.canvas = container.querySelector('#ecg-paper');
    this.overlay = container.querySelector('#ecg-overlay');
    this.ctx = this.canvas.getContext('2d');
    this.bg = document.createElement('canvas');
    this.aux = new AuxPlots(document.getElementById('aux-plots'));
    this.overlay.addEventListener('click', (e) => this.caliperClick(e));
    requestAnimationFrame(() => this.frame());
    window.addEventListener('resize', () => this.resize());
    this.updateTexts();
  }

  resetData() {
    this.total = 0; // ECG frames stored since the view started
    this.slots = []; // per recorder ECG channel, in the recorder's counts
    this.leadRings = new Map(); // lead name → filtered µV
    this.leadFilters = [];
    this.plan = null;
    this.signalCount = 0;
    this.expectedCounter = null;
    this.gaps = 0;
    this.drawnUpTo = -1;
    this.beats = [];
    this.marks = [];
    this.status = new Map(); // lead name → 'no signal' | 'saturated'
    this.statusAt = 0;
    this.needFull = true;
  }

  // ----- what the service tells -----

  // [{Name, Labels, Unit, Lsb}] of "GetSignalRecordingState".
  setLabels(channels) {
    const ecg = (channels || []).find((c) => c && /^ecg$/i.test(c.Name));
    if (ecg && Number.isFinite(ecg.Lsb) && ecg.Lsb > 0) {
      const unit = String(ecg.Unit || 'uV').toLowerCase();
      const factor = unit === 'mv' ? 1000 : unit === 'v' ? 1e6 : unit === 'nv' ? 1e-3 : 1;
      this.setLsb(ecg.Lsb * factor);
    }
    this.aux.setLabels(channels);
    // The examination's own lead list wins where the service offers it.
    if (!this.exam) this.setEcgNames(ecgNamesFromLabels(channels), '');
  }

  // The answer of "GetExaminationInfo" (or null where not offered).
  setExamination(info) {
    this.exam = info && typeof info === 'object' ? info : null;
    if (!this.exam) return;
    this.setEcgNames(ecgNamesFromExamination(info), info.Known && info.LeadSet ? String(info.LeadSet) : '');
  }

  setLsb(uv) {
    if (uv === this.lsbUv) return;
    this.lsbUv = uv;
    this.refilter();
  }

  setEcgNames(names, setName) {
    const same = names.join('|') === this.ecgNames.join('|') && setName === this.leadSetText;
    if (same) return;
    this.ecgNames = names;
    this.leadSetText = setName;
    if (this.signalCount) this.makePlan(this.signalCount);
  }

  makePlan(count) {
    this.plan = leadPlan(this.ecgNames, count);
    this.refilter();
    this.updateTexts();
  }

  // ----- controls -----
  setPaused(p) {
    this.paused = p;
    this.caliper = [];
    this.drawOverlay();
    this.needFull = true;
    this.offerCsv();
    if (p) {
      this.draw();
      this.offerCsv();
      this.updateTexts();
      return;
    }
    // Points skipped while frozen are not lost by the stream: do not count
    // them as gaps, nor the pause as a drop in the rate.
    this.expectedCounter = null;
    this.aux.resume();
    this.rateSamples = [];
    this.updateTexts();
  }
  setSpeed(mmPerS) { this.settings.speed = Number(mmPerS) === 50 ? 50 : 25; this.changed(); }
  setGain(g) { this.settings.gain = g === 'auto' ? 'auto' : Number(g); this.changed(); }
  setLayout(l) { this.settings.layout = ['12x1', '6x2', '3x4'].includes(l) ? l : '3x4'; this.changed(); }
  setFilter(kind, value) {
    this.settings.filters = { ...this.settings.filters, [kind]: Number(value) || 0 };
    this.refilter();
    this.updateTexts();
  }
  setPxPerMm(v) {
    const n = Number(v);
    if (!Number.isFinite(n) || n < 1 || n > 40) return false;
    this.settings.pxPerMm = n;
    localStorage.setItem(PXMM_KEY, String(n));
    this.changed();
    return true;
  }
  changed() {
    this.caliper = [];
    this.drawOverlay();
    this.needFull = true;
    this.updateTexts();
    if (this.paused) this.draw();
  }

  gainInForce() { return this.settings.gain === 'auto' ? this.autoGain : this.settings.gain; }
  // The time base: the recorder's own frame rate where the service tells it
  // ("GetFrequency"). Else the measured arrival rate, snapped to the nearest
  // rate a recorder has: a loaded link delivers fewer frames than the
  // recorder makes, and the paper must not rescale with every wobble.
  displayRate() {
    if (this.nominalRate) return this.nominalRate;
    if (!this.rate) return 500;
    let best = 500;
    for (const r of [250, 500, 1000, 2000]) if (Math.abs(Math.log(r / this.rate)) < Math.abs(Math.log(best / this.rate))) best = r;
    return best;
  }

  setFrequency(hz) {
    const n = Number(hz);
    const before = this.displayRate();
    this.nominalRate = Number.isFinite(n) && n > 0 ? n : null;
    if (this.displayRate() !== before) { this.refilter(); this.updateTexts(); }
  }

  // ----- the stream -----
  handleMessage(msg) {
    if (!msg || msg.type !== 'adc' || !Array.isArray(msg.channels)) return;
    if (this.paused) return;
    const now = performance.now();
    this.lastMessageAt = now;
    this.handleStart = now;
    if (this.lost) { this.lost = false; this.needFull = true; this.updateTexts(); }
    let ecgPoints = 0;
    for (const ch of msg.channels) {
      if (!ch || !ch.signalCount || !Array.isArray(ch.data)) continue;
      if (/^ecg$/i.test(ch.name)) {
        this.pushEcg(ch);
        ecgPoints = Math.floor(ch.data.length / ch.signalCount);
      }
    }
    for (const ch of msg.channels) {
      if (ch && ch.signalCount && Array.isArray(ch.data) && !/^ecg$/i.test(ch.name)) this.aux.push(ch, this.total);
    }
    if (ecgPoints) this.trackRate(ecgPoints);
    this.handleMs += performance.now() - this.handleStart;
  }

  pushEcg(ch) {
    const count = ch.signalCount;
    if (count !== this.signalCount) {
      this.resetData();
      this.signalCount = count;
      this.slots = Array.from({ length: count }, () => new Float32Array(CAP));
      this.makePlan(count);
    }
    const n = Math.floor(ch.data.length / count);
    const counter = Number(ch.pointCounter);
    if (this.expectedCounter !== null && counter !== this.expectedCounter) this.gaps++;
    this.expectedCounter = counter + n;
    const data = ch.data;
    for (let p = 0; p < n; p++) {
      const at = (this.total + p) & MASK;
      const base = p * count;
      for (let s = 0; s < count; s++) this.slots[s][at] = data[base + s];
      this.deriveAt(at);
    }
    this.total += n;
  }

  // The leads of one frame from its channels, through the display filters.
  deriveAt(at) {
    const leads = this.plan.leads;
    const lsb = this.lsbUv;
    for (let i = 0; i < leads.length; i++) {
      const terms = leads[i].terms;
      let v = 0;
      for (let t = 0; t < terms.length; t++) v += this.slots[terms[t][0]][at] * terms[t][1];
      this.leadRingList[i][at] = this.leadFilters[i].step(v * lsb);
    }
  }

  // New filters, lead set or scale: the drawn copy is made again from the
  // channels kept, so the change shows on the whole screen at once.
  refilter() {
    if (!this.plan) return;
    const rate = this.displayRate();
    this.leadFilters = this.plan.leads.map(() => new LeadFilter(this.settings.filters, rate));
    this.leadRingList = this.plan.leads.map((l) => this.leadRings.get(l.name) || new Float32Array(CAP));
    this.leadRings = new Map(this.plan.leads.map((l, i) => [l.name, this.leadRingList[i]]));
    const from = Math.max(0, this.total - CAP);
    for (let k = from; k < this.total && this.slots.length; k++) this.deriveAt(k & MASK);
    this.needFull = true;
    if (this.paused) this.draw();
  }

  trackRate(points) {
    const now = performance.now();
    this.rateSamples.push([now, points]);
    while (this.rateSamples.length && now - this.rateSamples[0][0] > 5000) this.rateSamples.shift();
    const span = now - this.rateSamples[0][0];
    if (span > 1000) {
      let sum = 0;
      for (let i = 1; i < this.rateSamples.length; i++) sum += this.rateSamples[i][1];
      const before = this.displayRate();
      this.rate = (sum * 1000) / span;
      if (this.displayRate() !== before) this.refilter();
    }
  }

  // ----- events -----
  // A message of the event stream: beats, button pushes.
  handleEvent(msg) {
    if (!msg) return;
    const items = msg.type === 'event' ? (Array.isArray(msg.data) ? msg.data : [msg.data]) : [msg];
    for (const ev of items) {
      if (ev && ev.type === 'beat') this.beat(ev);
      if (ev && ev.type === 'examinationInfo') this.onExamination?.();
    }
  }

  beat(ev) {
    const hr = Number(ev.hr);
    this.heartRate = Number.isFinite(hr) && hr > 0 ? Math.round(hr) : this.heartRate;
    this.lastBeatAt = performance.now();
    if (!this.paused && this.total) {
      const rate = this.displayRate();
      const rr = Number(ev.rr);
      const last = this.beats[this.beats.length - 1];
      // The beat's place: one RR after the last tick when that is still on
      // screen, else where the newest second peaks; then to the R peak near it.
      let at = last !== undefined && Number.isFinite(rr) && rr > 0 && this.total - last < 3 * rate
        ? last + Math.round((rr * rate) / 1000) : this.total - Math.round(rate * 0.3);
      at = this.peakNear(at, Math.round(rate * 0.08));
      if (last === undefined || at > last) {
        this.beats.push(at);
        // Its samples are on the paper already: tick it now.
        const row = this.geo && !this.needFull && at <= this.drawnUpTo ? this.tickRow() : null;
        if (row) this.drawTicks(row, at, at, rate, [at], '#000');
      }
      if (this.beats.length > 200) this.beats.shift();
    }
    this.updateHeartRate();
  }

  peakNear(at, half) {
    const ring = this.leadRings.get('II') || this.leadRingList?.[0];
    if (!ring) return at;
    const from = Math.max(at - half, this.total - CAP + 1, 0);
    const to = Math.min(at + half, this.total - 1);
    let mean = 0;
    for (let k = from; k <= to; k++) mean += ring[k & MASK];
    mean /= Math.max(1, to - from + 1);
    let best = at;
    let bestV = -1;
    for (let k = from; k <= to; k++) {
      const d = Math.abs(ring[k & MASK] - mean);
      if (d > bestV) { bestV = d; best = k; }
    }
    return best;
  }

  // The heart rate the service reports ("GetHeartRate"), e.g. on load.
  setHeartRate(a) {
    if (a && Number.isFinite(a.HeartRate) && a.HeartRate > 0) {
      this.heartRate = Math.round(a.HeartRate);
      this.lastBeatAt = performance.now();
    }
    this.updateHeartRate();
  }

  updateHeartRate() {
    const el = document.getElementById('ecg-hr');
    if (!el) return;
    const fresh = this.heartRate !== null && performance.now() - this.lastBeatAt < NO_BEAT_MS && !this.lost;
    const text = fresh ? String(this.heartRate) : '—';
    if (el.textContent !== text) el.textContent = text;
  }

  markButton() {
    const at = this.total - 1;
    this.marks.push(at);
    if (this.marks.length > 100) this.marks.shift();
    if (this.geo && !this.needFull && !this.paused && at >= 0 && at <= this.drawnUpTo) this.drawTicks(null, at, at, this.displayRate(), [at], MARK_COLOR);
  }

  // The row that carries the beat ticks: the rhythm strip, else lead II's row.
  tickRow() {
    return this.geo.rows.find((r) => r.rhythm) || this.geo.rows.find((r) => r.cols.length === 1 && r.cols[0] === 'II') || null;
  }

  reset() {
    this.resetData();
    this.signalCount = 0;
    this.rate = 0;
    this.rateSamples = [];
    this.heartRate = null;
    this.lost = false;
    this.aux.reset();
    this.updateTexts();
    this.needFull = true;
  }

  // The recorder went away: blank traces, "signal lost", no rate.
  signalLost() {
    this.lost = true;
    this.rate = 0;
    this.rateSamples = [];
    this.needFull = true;
    this.aux.blank();
    this.updateTexts();
    this.onStats?.({ rate: 0, channels: [{ gaps: this.gaps }], lost: true });
  }

  // ----- drawing -----
  geometry() {
    const pxmm = this.settings.pxPerMm;
    const widthMm = Math.max(60, (this.wrap.clientWidth - 2) / pxmm);
    const names = this.plan ? this.plan.leads.map((l) => l.name) : [];
    const { rows, rhythm } = layoutRows(this.settings.layout, names);
    const rowHeightMm = Math.max(15, Math.min(60, ({ '12x1': 22, '6x2': 28, '3x4': 32 })[this.settings.layout] * this.gainInForce() / 10));
    return paperGeometry({ widthMm: Math.floor(widthMm), speed: this.settings.speed, rows, rhythm: names.includes('II') ? rhythm : null, rowHeightMm });
  }

  resize() { this.needFull = true; if (this.paused) this.draw(); }

  frame() {
    requestAnimationFrame(() => this.frame());
    const now = performance.now();
    if (!this.paused && !this.lost && this.lastMessageAt && now - this.lastMessageAt > LOST_MS) this.signalLost();
    this.updateHeartRate();
    // A hidden view is not drawn: showing it again draws what came in.
    if (this.container.offsetParent === null || this.paused) return;
    const t0 = performance.now();
    this.draw();
    this.aux.frame(this.displayRate(), this.total);
    this.drawTimes[this.drawCount++ & 4095] = performance.now() - t0;
  }

  draw() {
    if (now() - this.statusAt > 500) this.checkStatus();
    if (this.settings.gain === 'auto' && now() - (this.autoAt || 0) > 1000) this.updateAutoGain();
    if (this.needFull) this.fullDraw();
    else if (!this.lost && this.total - 1 > this.drawnUpTo) this.drawSince(this.drawnUpTo);
    this.onStats?.({ rate: this.lost ? 0 : this.rate, channels: [{ gaps: this.gaps }], lost: this.lost });
    if (this.wrap.dataset.points !== String(this.total)) {
      this.wrap.dataset.points = String(this.total);
      const hint = document.getElementById('no-signal');
      if (hint && hint.hidden !== (this.total > 0 || this.lost)) hint.hidden = this.total > 0 || this.lost;
    }
  }

  fullDraw() {
    this.needFull = false;
    const geo = this.geometry();
    this.geo = geo;
    const dpr = window.devicePixelRatio || 1;
    const scale = this.settings.pxPerMm * dpr;
    this.scale = scale;
    const wpx = Math.ceil(geo.widthMm * scale);
    const hpx = Math.ceil(geo.heightMm * scale);
    for (const c of [this.canvas, this.overlay, this.bg]) {
      if (c.width !== wpx) c.width = wpx;
      if (c.height !== hpx) c.height = hpx;
    }
    for (const c of [this.canvas, this.overlay]) {
      c.style.width = `${wpx / dpr}px`;
      c.style.height = `${hpx / dpr}px`;
    }
    if (!wpx || !hpx) return;
    const bctx = this.bg.getContext('2d');
    drawPaperCanvas(bctx, geo, scale, this.gainInForce(), { autoGain: this.settings.gain === 'auto' });
    this.ctx.drawImage(this.bg, 0, 0);
    this.placeMarks();
    this.wrap.dataset.label = this.plan?.leads[0]?.name ?? '';
    if (this.lost || !this.total) { this.drawnUpTo = this.total - 1; return; }
    const rate = this.displayRate();
    const sweep = Math.floor((geo.traceW / geo.speed) * rate);
    if (this.paused) {
      // Frozen: the last screenful in time order, as it would print.
      this.frozenStart = Math.max(0, this.total - sweep, this.total - CAP + 1);
      this.drawRange(this.frozenStart, this.total - 1, rate);
    } else {
      const from = Math.max(0, this.total - sweep + Math.ceil((ERASE_MM / geo.speed) * rate), this.total - CAP + 1);
      this.drawRange(from, this.total - 1, rate);
    }
    this.drawnUpTo = this.total - 1;
  }

  // Sweep: the newest samples overwrite the oldest, with a gap ahead.
  drawSince(last) {
    const geo = this.geo;
    const rate = this.displayRate();
    const from = Math.max(last, this.total - Math.floor((geo.traceW / geo.speed) * rate) + 1);
    const to = this.total - 1;
    const x0 = this.sweepMm(from, rate);
    const x1 = this.sweepMm(to, rate) + ERASE_MM;
    this.erase(x0, Math.min(x1, x0 + geo.traceW));
    this.drawRange(from, to, rate);
    this.drawnUpTo = to;
  }

  sweepMm(k, rate) { return ((k / rate) * this.geo.speed) % this.geo.traceW; }

  // Restores the paper from trace position a to b (mm, may wrap).
  erase(a, b) {
    const geo = this.geo;
    const s = this.scale;
    const part = (p, q) => {
      const x = Math.floor((geo.calW + p) * s) + 1;
      const w = Math.min(Math.ceil((geo.calW + q) * s) + 1, this.canvas.width) - x;
      if (w > 0) this.ctx.drawImage(this.bg, x, 0, w, this.canvas.height, x, 0, w, this.canvas.height);
    };
    if (b <= geo.traceW) part(a, b);
    else { part(a, geo.traceW); part(0, b - geo.traceW); }
  }

  // The samples k0..k1 of every row, min and max per device pixel column.
  drawRange(from, k1, rate) {
    const k0 = Math.max(0, from);
    if (k1 <= k0) return;
    const geo = this.geo;
    const s = this.scale;
    const frozen = this.paused;
    const mmPerSample = geo.speed / rate;
    const yScale = (this.gainInForce() / 1000) * s; // device px per µV
    const ctx = this.ctx;
    ctx.strokeStyle = INK;
    ctx.lineWidth = Math.max(1, Math.round(s * 0.25));
    ctx.lineJoin = 'round';
    for (const row of geo.rows) {
      const base = row.baseline * s;
      ctx.beginPath();
      let col = -1;
      let ring = null;
      let bx = -1; let mn = 0; let mx = 0; let mnK = 0; let mxK = 0; let last = 0;
      let prevPos = -1;
      const flush = () => {
        if (bx < 0) return;
        if (mnK <= mxK) { ctx.lineTo(bx, base - mn); ctx.lineTo(bx, base - mx); } else { ctx.lineTo(bx, base - mx); ctx.lineTo(bx, base - mn); }
        ctx.lineTo(bx, base - last);
      };
      for (let k = k0; k <= k1; k++) {
        const pos = frozen ? (k - this.frozenStart) * mmPerSample : ((k / rate) * geo.speed) % geo.traceW;
        if (pos >= geo.traceW) break;
        const c = Math.min(row.cols.length - 1, Math.floor(pos / row.colW));
        const x = Math.round((geo.calW + pos) * s);
        if (c !== col || pos < prevPos) {
          flush();
          bx = -1;
          col = c;
          ring = this.leadRings.get(row.cols[c]);
          if (!ring) break;
          const v = ring[k & MASK] * yScale;
          ctx.moveTo(x, base - v);
          bx = x; mn = mx = last = v; mnK = mxK = k;
          prevPos = pos;
          continue;
        }
        prevPos = pos;
        const v = ring[k & MASK] * yScale;
        if (x === bx) {
          if (v < mn) { mn = v; mnK = k; }
          if (v > mx) { mx = v; mxK = k; }
          last = v;
        } else {
          flush();
          bx = x; mn = mx = last = v; mnK = mxK = k;
          ctx.lineTo(x, base - v);
        }
      }
      flush();
      ctx.stroke();
      if (row === this.tickRow()) this.drawTicks(row, k0, k1, rate, this.beats, '#000');
    }
    this.drawTicks(null, k0, k1, rate, this.marks, MARK_COLOR);
  }

  // Beat ticks above a row, or button marks across the whole paper.
  drawTicks(row, k0, k1, rate, list, color) {
    const geo = this.geo;
    const s = this.scale;
    const ctx = this.ctx;
    ctx.strokeStyle = color;
    ctx.lineWidth = Math.max(1, Math.round(s * 0.3));
    ctx.beginPath();
    for (const k of list) {
      if (k < k0 || k > k1) continue;
      const pos = this.paused ? (k - this.frozenStart) * (geo.speed / rate) : ((k / rate) * geo.speed) % geo.traceW;
      if (pos < 0 || pos >= geo.traceW) continue;
      const x = Math.round((geo.calW + pos) * s) + 0.5;
      const top = row ? (row.top + 5) * s : 0;
      const bottom = row ? (row.top + 8) * s : geo.heightMm * s;
      ctx.moveTo(x, top);
      ctx.lineTo(x, bottom);
    }
    ctx.stroke();
  }

  // ----- no signal / saturated -----
  checkStatus() {
    this.statusAt = now();
    const next = new Map();
    if (this.plan && this.total > 0 && !this.lost) {
      const rate = this.displayRate();
      const n = Math.min(this.total, 2 * rate, CAP);
      const slotState = this.slots.map((ring) => {
        let lo = Infinity; let hi = -Infinity; let full = false;
        const lim = FULL_SCALE - 1;
        for (let k = this.total - n; k < this.total; k++) {
          const v = ring[k & MASK];
          if (v < lo) lo = v;
          if (v > hi) hi = v;
          if (v >= lim || v <= -lim) full = true;
        }
        if (full) return 'saturated';
        // Under 10 µV peak to peak for 2 s: no ECG reaches the amplifier.
        return (hi - lo) * this.lsbUv < 10 ? 'no signal' : '';
      });
      for (const lead of this.plan.leads) {
        const states = lead.terms.map(([slot]) => slotState[slot]);
        const st = states.includes('saturated') ? 'saturated' : states.includes('no signal') ? 'no signal' : '';
        if (st) next.set(lead.name, st);
      }
    }
    const same = next.size === this.status.size && [...next].every(([k, v]) => this.status.get(k) === v);
    if (!same) { this.status = next; this.placeMarks(); }
  }

  placeMarks() {
    const holder = document.getElementById('ecg-marks');
    if (!holder || !this.geo) return;
    const pxmm = this.settings.pxPerMm;
    const els = [];
    for (const row of this.geo.rows) {
      row.cols.forEach((lead, c) => {
        const st = this.status.get(lead);
        if (!st) return;
        const el = document.createElement('span');
        el.className = 'lead-mark';
        el.dataset.lead = lead;
        el.dataset.state = st;
        el.textContent = `${lead}: ${st}`;
        el.style.left = `${(this.geo.calW + c * row.colW + 10) * pxmm}px`;
        el.style.top = `${(row.top + 1) * pxmm}px`;
        els.push(el);
      });
    }
    holder.replaceChildren(...els);
  }

  updateAutoGain() {
    this.autoAt = now();
    if (!this.plan || !this.total) return;
    const rate = this.displayRate();
    const n = Math.min(this.total, 5 * rate, CAP);
    let p2p = 0;
    for (const ring of this.leadRingList) {
      let lo = Infinity; let hi = -Infinity;
      for (let k = this.total - n; k < this.total; k++) { const v = ring[k & MASK]; if (v < lo) lo = v; if (v > hi) hi = v; }
      p2p = Math.max(p2p, hi - lo);
    }
    const rowMm = 25;
    const g = p2p > 0 ? Math.max(1, Math.min(40, Math.round((rowMm / (p2p / 1000)) * 2) / 2)) : 10;
    if (Math.abs(g - this.autoGain) / this.autoGain > 0.15) { this.autoGain = g; this.needFull = true; this.updateTexts(); }
  }

  // ----- freeze and caliper -----
  caliperClick(e) {
    if (!this.paused || !this.geo) return;
    const r = this.overlay.getBoundingClientRect();
    const mm = (e.clientX - r.left) / this.settings.pxPerMm;
    if (mm < this.geo.calW) return;
    if (this.caliper.length >= 2) this.caliper = [];
    this.caliper.push(mm);
    this.drawOverlay();
  }

  drawOverlay() {
    if (!this.overlay) return;
    const ctx = this.overlay.getContext('2d');
    ctx.clearRect(0, 0, this.overlay.width, this.overlay.height);
    const out = document.getElementById('ecg-caliper');
    if (!this.caliper.length) { if (out) out.textContent = this.paused ? 'caliper: click two points' : ''; return; }
    const s = this.scale;
    ctx.strokeStyle = '#0a7d32';
    ctx.lineWidth = Math.max(1, Math.round(s * 0.3));
    ctx.beginPath();
    for (const mm of this.caliper) { ctx.moveTo(Math.round(mm * s) + 0.5, 0); ctx.lineTo(Math.round(mm * s) + 0.5, this.overlay.height); }
    ctx.stroke();
    if (this.caliper.length === 2 && out) {
      const ms = (Math.abs(this.caliper[1] - this.caliper[0]) / this.settings.speed) * 1000;
      out.textContent = `caliper: ${Math.round(ms)} ms, ${ms > 0 ? Math.round(60000 / ms) : '—'} /min`;
    }
  }

  // The samples on screen while frozen, as CSV (µV as drawn), for review.
  shownCsv() {
    if (!this.plan || !this.geo) return '';
    const rate = this.displayRate();
    const names = this.plan.leads.map((l) => l.name);
    const from = this.paused ? this.frozenStart : Math.max(0, this.total - Math.floor((this.geo.traceW / this.geo.speed) * rate));
    const lines = [`sample,time_s,${names.join(',')}`];
    const rings = names.map((n) => this.leadRings.get(n));
    for (let k = from; k < this.total; k++) {
      lines.push(`${k},${((k - from) / rate).toFixed(4)},${rings.map((r) => +r[k & MASK].toFixed(3)).join(',')}`);
    }
    return `${lines.join('\n')}\n`;
  }

  // While frozen the shown samples can be saved, as drawn.
  offerCsv() {
    const link = document.getElementById('ecg-csv');
    if (!link) return;
    if (link.href.startsWith('blob:')) URL.revokeObjectURL(link.href);
    link.href = this.paused ? URL.createObjectURL(new Blob([this.shownCsv()], { type: 'text/csv' })) : '#';
    link.hidden = !this.paused;
  }

  // ----- texts -----
  updateTexts() {
    const set = (id, text) => { const el = document.getElementById(id); if (el && el.textContent !== text) el.textContent = text; };
    const g = this.settings.gain === 'auto' ? `auto gain ${this.autoGain} mm/mV` : `${this.settings.gain} mm/mV`;
    set('ecg-scale', `${this.settings.speed} mm/s · ${g} · ${this.settings.pxPerMm.toFixed(2)} px/mm`);
    const ft = filterText(this.settings.filters, this.displayRate());
    set('ecg-filters-on', ft ? `filters: ${ft}` : '');
    const fe = document.getElementById('ecg-filters-on');
    if (fe) fe.hidden = !ft;
    set('ecg-leadset', this.plan ? (this.leadSetText && !this.plan.assumed ? `${this.leadSetText}: ${this.plan.note}` : this.plan.note) : '');
    set('ecg-lead-names', this.plan ? this.plan.leads.map((l) => l.name).join(' ') : '');
    const lost = document.getElementById('ecg-lost');
    if (lost) lost.hidden = !this.lost;
    const hint = document.getElementById('no-signal');
    if (hint) hint.hidden = this.total > 0 || this.lost;
    const frozen = document.getElementById('ecg-frozen');
    if (frozen) frozen.hidden = !this.paused;
    this.drawOverlay();
    // A text alternative of the drawing for assistive technology.
    this.canvas?.setAttribute('aria-label', `ECG, leads ${this.plan ? this.plan.leads.map((l) => l.name).join(', ') : 'none yet'}`);
  }

  // The report page for printing, from what is on screen now.
  report(extra) {
    if (!this.plan) return null;
    return buildReport({
      rings: this.leadRings, total: this.total, rate: this.displayRate(), mask: MASK, cap: CAP,
      leads: this.plan.leads.map((l) => l.name), standard: this.plan.standard,
      leadSet: this.leadSetText ? `${this.leadSetText} (${this.plan.note})` : this.plan.note,
      filters: filterText(this.settings.filters, this.displayRate()) || 'none',
      heartRate: document.getElementById('ecg-hr')?.textContent ?? '—',
      exam: this.exam,
      ...extra,
    });
  }

  // Drawing time per animation frame (ms) recorded so far, newest last.
  drawStats() {
    const n = Math.min(this.drawCount, 4096);
    const out = [];
    for (let i = this.drawCount - n; i < this.drawCount; i++) out.push(this.drawTimes[i & 4095]);
    return { frames: this.drawCount, times: out, total: this.total, gaps: this.gaps, drawn: this.drawnUpTo + 1, handleMs: this.handleMs };
  }
}

const now = () => performance.now();
