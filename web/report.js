// The printed 12-lead: 3 × 4 with a 10 s rhythm strip of II at 25 mm/s and
// 10 mm/mV, the patient, time, heart rate, filters, recorder and lead set,
// laid out in millimetres so the browser's print puts it on paper at true
// size (A4 or Letter, landscape).

import { layoutRows } from './leads.js';
import { paperGeometry, paperSvg } from './ecgpaper.js';

export const PAPERS = { A4: [297, 210], Letter: [279.4, 215.9] };
const SPEED = 25;
const GAIN = 10;
const SECONDS = 10;

const esc = (s) => String(s ?? '').replace(/[&<>"']/g, (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&#39;' })[c]);

function patientText(exam) {
  if (!exam || exam.Known === false) return { name: 'not entered', id: '—', more: '' };
  const name = [exam.Surname, exam.Name, exam.Patronymic].filter((x) => x).join(' ') || '—';
  const more = [exam.BirthdayDate ? `born ${exam.BirthdayDate}` : '', exam.Sex ? `sex ${exam.Sex}` : ''].filter((x) => x).join(', ');
  return { name, id: exam.PatientId || '—', more };
}

// One lead's stretch k0..k1 as an SVG path in mm, min and max per 0.1 mm.
function tracePath(ring, mask, k0, k1, kStart, rate, x0, baseline) {
  const pts = [];
  const mmPerSample = SPEED / rate;
  const bucketMm = 0.1;
  let bucket = null;
  let mn = 0; let mx = 0; let mnK = 0; let mxK = 0;
  const flush = () => {
    if (bucket === null) return;
    const x = (x0 + bucket * bucketMm).toFixed(2);
    const a = mnK <= mxK ? mn : mx;
    const b = mnK <= mxK ? mx : mn;
    pts.push(`${x} ${(baseline - (a / 1000) * GAIN).toFixed(2)}`);
    if (a !== b) pts.push(`${x} ${(baseline - (b / 1000) * GAIN).toFixed(2)}`);
  };
  for (let k = k0; k <= k1; k++) {
    const v = ring[k & mask];
    const bk = Math.floor(((k - kStart) * mmPerSample) / bucketMm);
    if (bk !== bucket) { flush(); bucket = bk; mn = mx = v; mnK = mxK = k; continue; }
    if (v < mn) { mn = v; mnK = k; }
    if (v > mx) { mx = v; mxK = k; }
  }
  flush();
  return pts.length ? `M${pts.join('L')}` : '';
}

// Fills the report element and sets the printed page size; returns the element.
export function buildReport({ rings, total, rate, mask, cap, leads, leadSet, filters, heartRate, exam, recorder = '', paper = 'A4', when = new Date() }) {
  const el = document.getElementById('ecg-report');
  const [pageW, pageH] = PAPERS[paper] || PAPERS.A4;
  const { rows, rhythm } = layoutRows('3x4', leads);
  const nRows = rows.length + (rhythm ? 1 : 0);
  const rowHeightMm = Math.min(37, Math.floor(148 / Math.max(1, nRows)));
  const geo = paperGeometry({ widthMm: 259, speed: SPEED, rows, rhythm: leads.includes('II') ? rhythm : null, rowHeightMm });
  const want = Math.round(SECONDS * rate);
  const kStart = Math.max(0, total - want, total - cap + 1);
  const traces = [];
  for (const row of geo.rows) {
    row.cols.forEach((lead, c) => {
      const ring = rings.get(lead);
      if (!ring) return;
      const colSamples = want / row.cols.length;
      const k0 = Math.max(kStart, Math.round(kStart + c * colSamples));
      const k1 = Math.min(total - 1, Math.round(kStart + (c + 1) * colSamples) - 1);
      if (k1 > k0) traces.push(tracePath(ring, mask, k0, k1, kStart, rate, geo.calW, row.baseline));
    });
  }
  const p = patientText(exam);
  const stamp = `${when.getFullYear()}-${String(when.getMonth() + 1).padStart(2, '0')}-${String(when.getDate()).padStart(2, '0')} `
    + `${String(when.getHours()).padStart(2, '0')}:${String(when.getMinutes()).padStart(2, '0')}:${String(when.getSeconds()).padStart(2, '0')}`;
  const shown = Math.min(SECONDS, (total - kStart) / rate).toFixed(1);
  el.innerHTML = `
<div class="report-page" style="width:${pageW - 1}mm;height:${pageH - 1}mm">
  <div class="report-head" style="width:${geo.widthMm}mm">
    <div><b>${esc(p.name)}</b> · ID ${esc(p.id)}${p.more ? ` · ${esc(p.more)}` : ''}</div>
    <div>${esc(stamp)} · heart rate <b id="report-hr">${esc(heartRate)}</b> /min · ${SPEED} mm/s · ${GAIN} mm/mV · ${shown} s</div>
    <div>filters: ${esc(filters)} · recorder: ${esc(recorder || '—')} · lead set: ${esc(leadSet)}</div>
  </div>
  <svg id="report-paper" xmlns="http://www.w3.org/2000/svg" width="${geo.widthMm}mm" height="${geo.heightMm}mm" viewBox="0 0 ${geo.widthMm} ${geo.heightMm}">
    ${paperSvg(geo, GAIN)}
    <path d="${traces.join('')}" stroke="#000" stroke-width="0.2" fill="none" stroke-linejoin="round"/>
  </svg>
  <div class="report-foot" style="width:${geo.widthMm}mm">1 small square = 1 mm · 1 large square = 5 mm = 0.2 s = 0.5 mV · print at 100 % (no “fit to page”)</div>
</div>`;
  let style = document.getElementById('ecg-page-style');
  if (!style) {
    style = document.createElement('style');
    style.id = 'ecg-page-style';
    document.head.appendChild(style);
  }
  style.textContent = `@page { size: ${paper === 'Letter' ? 'letter' : 'A4'} landscape; margin: 0; }`;
  el.dataset.paper = paper;
  return el;
}
