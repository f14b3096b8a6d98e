// Display filters of the ECG view: baseline (high-pass), mains notch and
// low-pass. They run on the drawn copy of each lead only; the stream, the
// recordings and the beats never see them.

export const FILTER_CHOICES = {
  hp: [0, 0.05, 0.5], // Hz; 0 = off
  notch: [0, 50, 60],
  lp: [0, 40, 150],
};

// The filters that can run at this rate: a low-pass or notch at or above
// the Nyquist frequency would do nothing sensible and is left out.
export function effectiveFilters(settings, rate) {
  const nyquist = rate / 2;
  return {
    hp: settings.hp > 0 ? settings.hp : 0,
    notch: settings.notch > 0 && settings.notch < nyquist * 0.9 ? settings.notch : 0,
    lp: settings.lp > 0 && settings.lp < nyquist * 0.9 ? settings.lp : 0,
  };
}

// What the screen says while filters are on, e.g. "HP 0.5 Hz · notch 50 Hz".
export function filterText(settings, rate) {
  const f = effectiveFilters(settings, rate);
  const parts = [];
  if (f.hp) parts.push(`HP ${f.hp} Hz`);
  if (f.notch) parts.push(`notch ${f.notch} Hz`);
  if (f.lp) parts.push(`LP ${f.lp} Hz`);
  if (settings.lp && !f.lp) parts.push(`LP ${settings.lp} Hz not possible at ${rate}/s`);
  if (settings.notch && !f.notch) parts.push(`notch ${settings.notch} Hz not possible at ${rate}/s`);
  return parts.join(' · ');
}

class Biquad {
  constructor(b0, b1, b2, a1, a2) {
    Object.assign(this, { b0, b1, b2, a1, a2 });
    this.x1 = this.x2 = this.y1 = this.y2 = null;
  }
  step(x) {
    if (this.x1 === null) {
      // Start settled on the first value (both kinds pass DC): no swing-in.
      this.x1 = this.x2 = this.y1 = this.y2 = x;
    }
    const y = this.b0 * x + this.b1 * this.x1 + this.b2 * this.x2 - this.a1 * this.y1 - this.a2 * this.y2;
    this.x2 = this.x1; this.x1 = x;
    this.y2 = this.y1; this.y1 = y;
    return y;
  }
}

function notch(f0, rate, q = 20) {
  const w = (2 * Math.PI * f0) / rate;
  const alpha = Math.sin(w) / (2 * q);
  const c = Math.cos(w);
  const a0 = 1 + alpha;
  return new Biquad(1 / a0, (-2 * c) / a0, 1 / a0, (-2 * c) / a0, (1 - alpha) / a0);
}

function lowPass(fc, rate) {
  const w = (2 * Math.PI * fc) / rate;
  const alpha = Math.sin(w) / (2 * Math.SQRT1_2);
  const c = Math.cos(w);
  const a0 = 1 + alpha;
  return new Biquad((1 - c) / 2 / a0, (1 - c) / a0, (1 - c) / 2 / a0, (-2 * c) / a0, (1 - alpha) / a0);
}

// The single-pole baseline filter of diagnostic ECG (0.05 Hz keeps ST
// levels; 0.5 Hz steadies a wandering baseline).
class HighPass {
  constructor(fc, rate) {
    const rc = 1 / (2 * Math.PI * fc);
    this.a = rc / (rc + 1 / rate);
    this.x1 = null;
    this.y1 = 0;
  }
  step(x) {
    if (this.x1 === null) this.x1 = x; // the electrode offset is not a step
    const y = this.a * (this.y1 + x - this.x1);
    this.x1 = x;
    this.y1 = y;
    return y;
  }
}

// One lead's chain. With every filter off it returns its input unchanged.
export class LeadFilter {
  constructor(settings, rate) {
    const f = effectiveFilters(settings, rate);
    this.stages = [];
    if (f.hp) this.stages.push(new HighPass(f.hp, rate));
    if (f.notch) this.stages.push(notch(f.notch, rate));
    if (f.lp) this.stages.push(lowPass(f.lp, rate));
  }
  step(x) {
    let v = x;
    for (let i = 0; i < this.stages.length; i++) v = this.stages[i].step(v);
    return v;
  }
}
