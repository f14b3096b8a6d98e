// The recorder's other channels (reo, accelerometers, pressure …), one plot
// each, every one on its own time base: a channel's rate is measured against
// the ECG frames it came with, so the cable's 26 Hz accelerometer spans the
// same seconds as a 500 Hz channel beside it.

const WINDOW_S = 10;
const CAP = 65536;
const MASK = CAP - 1;
const DRAW_EVERY_MS = 200;
const COLORS = ['#1a5fb4', '#c01c28', '#26a269', '#986a44'];

class AuxChannel {
  constructor(name, signalCount) {
    this.name = name;
    this.signalCount = signalCount;
    this.rings = Array.from({ length: signalCount }, () => new Float32Array(CAP));
    this.total = 0;
    this.history = []; // [ECG frames so far, this channel's points so far]
  }
  push(data, ecgTotal, keepFrames) {
    const n = Math.floor(data.length / this.signalCount);
    for (let p = 0; p < n; p++) {
      const at = (this.total + p) & MASK;
      for (let s = 0; s < this.signalCount; s++) this.rings[s][at] = data[p * this.signalCount + s];
    }
    this.total += n;
    this.history.push([ecgTotal, this.total]);
    // A recent window only: a cable plugged in a while ago must not count
    // the time it was away.
    while (this.history.length > 2 && ecgTotal - this.history[1][0] > keepFrames) this.history.shift();
  }
  // Points per ECG frame over the history kept.
  ratio() {
    if (this.history.length < 2) return null;
    const [e0, c0] = this.history[0];
    const [e1, c1] = this.history[this.history.length - 1];
    return e1 > e0 ? (c1 - c0) / (e1 - e0) : null;
  }
}

export class AuxPlots {
  constructor(container) {
    this.container = container;
    this.channels = new Map();
    this.plots = new Map();
    this.labels = new Map();
    this.units = new Map();
    this.drawnAt = 0;
    this.blanked = false;
  }

  setLabels(channels) {
    for (const c of channels || []) {
      if (!c || /^ecg$/i.test(c.Name)) continue;
      this.labels.set(c.Name, c.Labels || []);
      this.units.set(c.Name, c.Unit || '');
    }
  }

  push(ch, ecgTotal) {
    if (!this.container) return;
    let c = this.channels.get(ch.name);
    if (!c || c.signalCount !== ch.signalCount) {
      c = new AuxChannel(ch.name, ch.signalCount);
      this.channels.set(ch.name, c);
      this.dropPlot(ch.name);
    }
    c.push(ch.data, ecgTotal, 5 * (this.ecgRate || 500));
    this.blanked = false;
  }

  resume() { for (const c of this.channels.values()) c.history = []; }

  reset() {
    for (const name of [...this.plots.keys()]) this.dropPlot(name);
    this.channels.clear();
  }

  blank() {
    this.blanked = true;
    for (const p of this.plots.values()) p.plot.setData([[], ...p.ys.map(() => [])]);
  }

  dropPlot(name) {
    const p = this.plots.get(name);
    if (!p) return;
    p.plot.destroy();
    p.wrap.remove();
    this.plots.delete(name);
  }

  makePlot(c) {
    const wrap = document.createElement('div');
    wrap.className = 'aux-wrap';
    wrap.dataset.channel = c.name;
    this.container.appendChild(wrap);
    const labels = this.labels.get(c.name) || [];
    const unit = this.units.get(c.name) || '';
    const width = Math.max(300, this.container.clientWidth - 20);
    const series = [{}];
    for (let s = 0; s < c.signalCount; s++) {
      series.push({ label: labels[s] || `${c.name} ${s + 1}`, stroke: COLORS[s % COLORS.length], width: 1 });
    }
    const plot = new uPlot({
      width, height: 120,
      legend: { show: true, live: false },
      cursor: { show: false },
      scales: { x: { time: false, range: () => [-WINDOW_S, 0] }, y: { auto: true } },
      axes: [
        { stroke: '#555', grid: { stroke: '#eee' }, values: (u, v) => v.map((t) => `${+t.toFixed(1)} s`) },
        { stroke: '#555', grid: { stroke: '#eee' }, size: 70, label: `${c.name}${unit ? ` (${unit})` : ''}`, labelSize: 18 },
      ],
      series,
    }, [[], ...Array.from({ length: c.signalCount }, () => [])], wrap);
    const p = { plot, wrap, ys: [] };
    this.plots.set(c.name, p);
    return p;
  }

  // Drawn a few times a second: these channels change slowly, and the ECG
  // paper is what must keep up with every frame.
  frame(ecgRate, ecgTotal) {
    this.ecgRate = ecgRate;
    if (this.blanked || !this.container) return;
    const now = performance.now();
    if (now - this.drawnAt < DRAW_EVERY_MS) return;
    this.drawnAt = now;
    void ecgTotal;
    for (const c of this.channels.values()) {
      const ratio = c.ratio();
      if (!ratio) continue;
      const rate = ratio * ecgRate;
      const p = this.plots.get(c.name) || this.makePlot(c);
      const want = Math.min(c.total, Math.ceil(WINDOW_S * rate), CAP);
      // At most two points per pixel column, min and max.
      const buckets = Math.max(1, Math.min(want, 600));
      const x = new Array(buckets * 2);
      const ys = Array.from({ length: c.signalCount }, () => new Array(buckets * 2));
      for (let b = 0; b < buckets; b++) {
        const from = c.total - want + Math.floor((b * want) / buckets);
        const to = Math.max(from + 1, c.total - want + Math.floor(((b + 1) * want) / buckets));
        x[2 * b] = (from - c.total + 1) / rate;
        x[2 * b + 1] = (to - 1 - c.total + 1) / rate;
        for (let s = 0; s < c.signalCount; s++) {
          let mn = Infinity; let mx = -Infinity;
          for (let k = from; k < to; k++) { const v = c.rings[s][k & MASK]; if (v < mn) mn = v; if (v > mx) mx = v; }
          ys[s][2 * b] = mn;
          ys[s][2 * b + 1] = mx;
        }
      }
      p.ys = ys;
      p.wrap.dataset.rate = rate.toFixed(2);
      p.wrap.dataset.points = String(c.total);
      p.plot.setData([x, ...ys]);
    }
  }
}
