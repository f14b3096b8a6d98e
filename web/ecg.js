// Live signal display: one ring buffer per channel, one plot per signal,
// redrawn at most once per animation frame from min/max-decimated data so
// that 2000 points/s stay smooth and memory stays flat.

const MAX_WINDOW_S = 20;
const MAX_RATE = 2000;
const CAPACITY = MAX_WINDOW_S * MAX_RATE + 1000;
const BASE_HALF_SPAN = 2000; // ADC units shown above and below the centre at gain ×1
const MARK_COLOR = '#d33';

class ChannelBuffer {
  constructor(name, signalCount) {
    this.name = name;
    this.signalCount = signalCount;
    this.rings = Array.from({ length: signalCount }, () => new Float32Array(CAPACITY));
    this.total = 0; // points written since the display started
    this.expectedCounter = null;
    this.gaps = 0;
  }
  push(pointCounter, data) {
    const n = Math.floor(data.length / this.signalCount);
    if (this.expectedCounter !== null && pointCounter !== this.expectedCounter) this.gaps++;
    this.expectedCounter = pointCounter + n;
    for (let p = 0; p < n; p++) {
      const at = (this.total + p) % CAPACITY;
      const base = p * this.signalCount;
      for (let s = 0; s < this.signalCount; s++) this.rings[s][at] = data[base + s];
    }
    this.total += n;
  }
}

export class EcgView {
  constructor(container, { onStats } = {}) {
    this.container = container;
    this.onStats = onStats;
    this.channels = new Map();
    this.plots = [];
    this.paused = false;
    this.windowS = 5;
    this.gain = 'auto';
    this.rate = 0;
    this.rateSamples = [];
    this.marks = []; // {channel name → total} snapshots of button pushes
    this.labels = new Map(); // channel name → a label per signal, as recordings name them
    this.dirty = false;
    this.buckets = 0;
    this.x = null;
    this.ys = [];
    requestAnimationFrame(() => this.frame());
    window.addEventListener('resize', () => this.resize());
  }

  // Signal labels per channel name ([{Name, Labels}] of GetSignalRecordingState).
  setLabels(channels) {
    const next = new Map((channels || []).map((c) => [c.Name, c.Labels || []]));
    const same = next.size === this.labels.size
      && [...next].every(([k, v]) => (this.labels.get(k) || []).join('|') === v.join('|'));
    if (same) return;
    this.labels = next;
    if (this.channels.size) this.rebuild();
  }

  setPaused(p) {
    this.paused = p;
    if (p) {
      // Draw now: points that came in since the last animation frame would
      // otherwise appear (and be counted) on the next one, after the press.
      this.draw();
      return;
    }
    // Points skipped while paused are not lost by the stream: do not count
    // them as gaps, nor the pause as a drop in the rate.
    for (const buf of this.channels.values()) buf.expectedCounter = null;
    this.rateSamples = [];
    this.dirty = true;
  }
  setWindow(s) { this.windowS = Math.min(MAX_WINDOW_S, s); this.dirty = true; }
  setGain(g) { this.gain = g; this.dirty = true; }

  // One signal message from the stream.
  handleMessage(msg) {
    if (!msg || msg.type !== 'adc' || !Array.isArray(msg.channels)) return;
    if (this.paused) return;
    let first = null;
    for (const ch of msg.channels) {
      if (!ch || !ch.signalCount || !Array.isArray(ch.data)) continue;
      let buf = this.channels.get(ch.name);
      if (!buf || buf.signalCount !== ch.signalCount) {
        buf = new ChannelBuffer(ch.name, ch.signalCount);
        this.channels.set(ch.name, buf);
        this.rebuild();
      }
      buf.push(Number(ch.pointCounter), ch.data);
      if (!first && ch.blockSize) first = ch;
    }
    if (first) this.trackRate(first.blockSize);
    this.dirty = true;
  }

  // The button marks the point the trace had reached when the event came in.
  markButton() {
    const snap = new Map();
    for (const [name, buf] of this.channels) snap.set(name, buf.total);
    this.marks.push(snap);
    if (this.marks.length > 100) this.marks.shift();
    this.dirty = true;
  }

  reset() {
    this.channels.clear();
    this.marks = [];
    this.rateSamples = [];
    this.rate = 0;
    this.rebuild();
  }

  trackRate(points) {
    const now = performance.now();
    this.rateSamples.push([now, points]);
    while (this.rateSamples.length && now - this.rateSamples[0][0] > 5000) this.rateSamples.shift();
    const span = now - this.rateSamples[0][0];
    if (span > 1000) {
      let sum = 0;
      for (let i = 1; i < this.rateSamples.length; i++) sum += this.rateSamples[i][1];
      this.rate = (sum * 1000) / span;
    }
  }

  displayRate() {
    // The measured arrival rate; snapped to a nominal recorder rate when it is
    // close, so the time axis does not wobble with delivery jitter.
    if (!this.rate) return 500;
    const near = [250, 500, 1000, 2000].find((r) => Math.abs(r - this.rate) < r * 0.25);
    return near || Math.round(this.rate);
  }

  rebuild() {
    for (const p of this.plots) p.plot.destroy();
    this.plots = [];
    this.container.querySelectorAll('.plot-wrap').forEach((e) => e.remove());
    const hint = this.container.querySelector('#no-signal');
    if (hint) hint.hidden = this.channels.size > 0;
    const width = this.plotWidth();
    this.buckets = Math.max(100, Math.floor(width));
    this.x = new Array(this.buckets * 2).fill(0);
    for (const [name, buf] of this.channels) {
      for (let s = 0; s < buf.signalCount; s++) {
        const label = this.labels.get(name)?.[s] ?? (buf.signalCount > 1 ? `${name} ${s + 1}` : name);
        const wrap = document.createElement('div');
        wrap.className = 'plot-wrap';
        wrap.dataset.channel = name;
        wrap.dataset.signal = String(s);
        wrap.dataset.label = label;
        this.container.appendChild(wrap);
        const y = new Array(this.buckets * 2).fill(null);
        const plot = new uPlot({
          width,
          height: buf.signalCount > 4 ? 110 : 160,
          legend: { show: false },
          cursor: { show: false },
          scales: { x: { time: false, auto: false }, y: { auto: false } },
          axes: [
            { stroke: '#888', grid: { stroke: '#eee' }, values: (u, v) => v.map((t) => `${t.toFixed(1)} s`) },
            { stroke: '#888', grid: { stroke: '#eee' }, size: 60, label, labelSize: 18 },
          ],
          series: [{}, { stroke: '#1a5fb4', width: 1, spanGaps: false }],
          hooks: { draw: [(u) => this.drawMarks(u, buf)] },
        }, [this.x, y], wrap);
        this.plots.push({ plot, buf, signal: s, y, wrap });
      }
    }
    this.dirty = true;
  }

  plotWidth() {
    return Math.max(300, this.container.clientWidth - 20);
  }

  resize() {
    const width = this.plotWidth();
    for (const p of this.plots) p.plot.setSize({ width, height: p.plot.height });
    this.dirty = true;
  }

  drawMarks(u, buf) {
    const ctx = u.ctx;
    const rate = this.displayRate();
    ctx.save();
    ctx.strokeStyle = MARK_COLOR;
    ctx.lineWidth = 2;
    for (const snap of this.marks) {
      const at = snap.get(buf.name);
      if (at === undefined) continue;
      const t = (at - buf.total) / rate;
      if (t < -this.windowS) continue;
      const px = u.valToPos(t, 'x', true);
      ctx.beginPath();
      ctx.moveTo(px, u.bbox.top);
      ctx.lineTo(px, u.bbox.top + u.bbox.height);
      ctx.stroke();
    }
    ctx.restore();
  }

  frame() {
    requestAnimationFrame(() => this.frame());
    // A hidden view is not drawn: plotting is most of the page's work, and
    // showing the view again (resize) draws what came in meanwhile.
    if (this.dirty && this.container.offsetParent !== null) this.draw();
  }

  // While paused the buffers do not change, so a redraw (new window, gain or
  // size) shows the same frozen points.
  draw() {
    this.dirty = false;
    const rate = this.displayRate();
    for (const p of this.plots) this.fill(p, rate);
    this.onStats?.({ rate: this.rate, channels: [...this.channels.values()] });
  }

  // Min/max per bucket keeps the spikes of a QRS that plain subsampling loses.
  fill(p, rate) {
    const { buf, signal, y } = p;
    const ring = buf.rings[signal];
    const want = Math.round(this.windowS * rate);
    const n = Math.min(buf.total, want, CAPACITY);
    const B = this.buckets;
    let lo = Infinity, hi = -Infinity, sum = 0;
    for (let b = 0; b < B; b++) {
      const from = Math.floor((b * want) / B);
      const to = Math.floor(((b + 1) * want) / B);
      // Bucket b covers the points [from, to) of the window; the window's
      // last point is the newest one.
      const oldest = want - n; // buckets before this have no data yet
      this.x[2 * b] = (from - want) / rate;
      this.x[2 * b + 1] = (Math.max(from, to - 1) - want) / rate;
      if (to <= oldest) { y[2 * b] = null; y[2 * b + 1] = null; continue; }
      let mn = Infinity, mx = -Infinity, mnAt = 0, mxAt = 0;
      for (let i = Math.max(from, oldest); i < to; i++) {
        const idx = (buf.total - want + i) % CAPACITY;
        const v = ring[idx < 0 ? idx + CAPACITY : idx];
        if (v < mn) { mn = v; mnAt = i; }
        if (v > mx) { mx = v; mxAt = i; }
      }
      if (mn === Infinity) { y[2 * b] = null; y[2 * b + 1] = null; continue; }
      // Keep the time order of the extremes so the line is drawn faithfully.
      y[2 * b] = mnAt <= mxAt ? mn : mx;
      y[2 * b + 1] = mnAt <= mxAt ? mx : mn;
      lo = Math.min(lo, mn); hi = Math.max(hi, mx); sum += mn + mx;
    }
    let range;
    if (lo === Infinity) range = [-1, 1];
    else if (this.gain === 'auto') {
      const pad = Math.max(10, (hi - lo) * 0.1);
      range = [lo - pad, hi + pad];
    } else {
      const mid = (lo + hi) / 2;
      const half = BASE_HALF_SPAN / Number(this.gain);
      range = [mid - half, mid + half];
    }
    p.plot.batch(() => {
      p.plot.setScale('x', { min: -this.windowS, max: 0 });
      p.plot.setScale('y', { min: range[0], max: range[1] });
      p.plot.setData([this.x, y], false);
    });
    p.wrap.dataset.points = String(buf.total);
  }
}
